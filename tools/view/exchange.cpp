#include "exchange.h"

#include <yaml.h>

#include <cerrno>
#include <cstdlib>
#include <set>

namespace {

constexpr std::size_t separator_length = quorvel_separator_length;
const std::string view_prefix = quorvel_view_prefix;
const std::string text_prefix = quorvel_text_prefix;

YamlNode convert(yaml_document_t* document, yaml_node_t* node) {
    YamlNode result;
    if (node == nullptr) {
        result.kind = YamlNode::Kind::mapping;
        return result;
    }
    switch (node->type) {
        case YAML_SCALAR_NODE:
            result.scalar.assign(reinterpret_cast<const char*>(node->data.scalar.value),
                                 node->data.scalar.length);
            break;
        case YAML_SEQUENCE_NODE:
            result.kind = YamlNode::Kind::sequence;
            for (yaml_node_item_t* item = node->data.sequence.items.start;
                 item < node->data.sequence.items.top; ++item) {
                result.items.push_back(convert(document, yaml_document_get_node(document, *item)));
            }
            break;
        case YAML_MAPPING_NODE:
            result.kind = YamlNode::Kind::mapping;
            for (yaml_node_pair_t* pair = node->data.mapping.pairs.start;
                 pair < node->data.mapping.pairs.top; ++pair) {
                YamlNode key = convert(document, yaml_document_get_node(document, pair->key));
                result.entries.emplace_back(
                    key.scalar, convert(document, yaml_document_get_node(document, pair->value)));
            }
            break;
        default:
            break;
    }
    return result;
}

std::map<std::string, std::string> scalars_of(const YamlNode* node) {
    std::map<std::string, std::string> result;
    if (node != nullptr) {
        for (const auto& [key, value] : node->entries) {
            result[key] = value.scalar;
        }
    }
    return result;
}

bool to_long(const std::string& text, long& value) {
    if (text.empty() || text.find_first_not_of("0123456789-") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0;
}

// The box number of a key "View_correctness_<digits>", or 0.
int box_number(const std::string& key) {
    if (key.compare(0, view_prefix.size(), view_prefix) != 0) {
        return 0;
    }
    const std::string digits = key.substr(view_prefix.size());
    long number = 0;
    return digits.find('-') == std::string::npos && to_long(digits, number) && number > 0 &&
                   number <= 1000000000L
               ? static_cast<int>(number)
               : 0;
}

bool fail(HostView& view, const std::string& error) {
    view.ok = false;
    view.error = error;
    return false;
}

bool read_box(HostView& view, int number, const std::string& key, const YamlNode& element) {
    ViewBox box;
    box.number = number;
    const std::string text_key = text_prefix + std::to_string(number);
    const YamlNode* text = view.root.find(text_key);
    if (text == nullptr || text->kind != YamlNode::Kind::mapping) {
        return fail(view, key + " has no " + text_key + " element");
    }
    box.style = scalars_of(element.find("style"));
    box.text_style = scalars_of(text->find("style"));
    if (const YamlNode* children = element.find("children")) {
        for (const YamlNode& child : children->items) {
            box.children.push_back(child.scalar);
        }
    }
    const std::string pos = text->text("pos");
    const std::string len = text->text("len");
    if (!to_long(pos, box.pos) || !to_long(len, box.len) || box.pos < 0 || box.len < 0 ||
        static_cast<unsigned long>(box.pos) + static_cast<unsigned long>(box.len) >
            view.memory.size()) {
        return fail(view, text_key + ": pos " + (pos.empty() ? "(none)" : pos) + " and len " +
                              (len.empty() ? "(none)" : len) + " lie outside the memory area");
    }
    box.text = view.memory.substr(static_cast<std::size_t>(box.pos),
                                  static_cast<std::size_t>(box.len));
    view.boxes.push_back(box);
    return true;
}

bool read_entries(HostView& view) {
    std::set<std::string> keys;
    for (const auto& [key, element] : view.root.entries) {
        if (!keys.insert(key).second) {
            return fail(view, "the document repeats the key " + key);
        }
        const int number = box_number(key);
        if (number > 0) {
            if (!read_box(view, number, key, element)) {
                return false;
            }
        } else if (key.compare(0, text_prefix.size(), text_prefix) != 0) {
            view.other.emplace_back(key, &element);
        }
    }
    return true;
}

}  // namespace

const YamlNode* YamlNode::find(const std::string& key) const {
    for (const auto& entry : entries) {
        if (entry.first == key) {
            return &entry.second;
        }
    }
    return nullptr;
}

std::string YamlNode::text(const std::string& key) const {
    const YamlNode* node = find(key);
    return node != nullptr ? node->scalar : std::string();
}

bool parse_yaml(const std::string& text, YamlNode& root, std::string& error) {
    yaml_parser_t parser;
    yaml_document_t document;
    yaml_parser_initialize(&parser);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    if (yaml_parser_load(&parser, &document) == 0) {
        error = parser.problem != nullptr ? parser.problem : "unknown error";
        error += " at line " + std::to_string(parser.problem_mark.line + 1);
        yaml_parser_delete(&parser);
        return false;
    }
    root = convert(&document, yaml_document_get_root_node(&document));
    yaml_document_delete(&document);
    yaml_parser_delete(&parser);
    return true;
}

HostView read_as_host(const std::string& stream) {
    HostView view;
    const std::size_t at = stream.find(quorvel_separator, 0, separator_length);
    if (at == std::string::npos) {
        fail(view, "no separator \"\\n---\\n\" between the document and the memory area");
        return view;
    }
    view.document = stream.substr(0, at);
    view.memory = stream.substr(at + separator_length);
    if (view.memory.size() != exchange_memory_size) {
        fail(view, "the memory area has " + std::to_string(view.memory.size()) + " bytes, not " +
                       std::to_string(exchange_memory_size));
        return view;
    }
    std::string problem;
    if (!parse_yaml(view.document, view.root, problem)) {
        fail(view, "the document is not valid YAML: " + problem);
        return view;
    }
    if (view.root.kind != YamlNode::Kind::mapping) {
        fail(view, "the document is not a YAML mapping");
        return view;
    }
    view.ok = read_entries(view);
    return view;
}

std::string box_layout_problem(const HostView& view) {
    long next_pos = text_origin;
    for (std::size_t i = 0; i < view.boxes.size(); ++i) {
        const ViewBox& box = view.boxes[i];
        const std::string name = view_prefix + std::to_string(box.number);
        const long end = box.pos + box.len;
        if (box.number != static_cast<int>(i) + 1) {
            return name + " is box " + std::to_string(i + 1) + " in document order";
        }
        if (box.children != std::vector<std::string>{text_prefix + std::to_string(box.number)}) {
            return name + " does not have its own text element as its only child";
        }
        if (box.pos != next_pos) {
            return name + ": text at " + std::to_string(box.pos) + ", expected " +
                   std::to_string(next_pos);
        }
        if (end >= static_cast<long>(view.memory.size()) ||
            view.memory[static_cast<std::size_t>(end)] != '\0') {
            return name + ": no NUL after its text";
        }
        next_pos = end + 1;
    }
    return "";
}

BoxKind box_kind(const ViewBox& box) {
    const auto background = box.style.find("backgroundColor");
    if (background == box.style.end()) {
        return BoxKind::display;
    }
    if (background->second == quorvel_pass_colour) {
        return BoxKind::passed;
    }
    return background->second == quorvel_fail_colour ? BoxKind::failed : BoxKind::display;
}

bool has_fault_style(const ViewBox& box) {
    const auto is = [](const std::map<std::string, std::string>& style, const char* key,
                       const std::string& value) {
        const auto found = style.find(key);
        return found != style.end() && found->second == value;
    };
    return is(box.style, "width", std::to_string(quorvel_notice_width)) &&
           is(box.style, "height", std::to_string(quorvel_check_height)) &&
           is(box.style, "backgroundColor", quorvel_fail_colour) &&
           box.style.count("borderColor") == 0 &&
           is(box.text_style, "fontSize", std::to_string(quorvel_text_size)) &&
           is(box.text_style, "color", quorvel_check_text_colour);
}
