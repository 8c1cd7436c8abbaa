#include "exchange.h"

#include <yaml.h>

#include <cerrno>
#include <cstdlib>
#include <set>

namespace {

constexpr char separator[] = "\n---\n";
constexpr std::size_t separator_length = 5;
const std::string view_prefix = "View_correctness_";
const std::string text_prefix = "Text_correctness_";

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
    const std::size_t at = stream.find(separator, 0, separator_length);
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
