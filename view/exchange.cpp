#include "exchange.h"

#include <yaml.h>

#include <cerrno>
#include <cstdlib>
#include <set>

namespace {

constexpr std::size_t separator_length = quorvel_separator_length;
const std::string view_prefix = quorvel_view_prefix;
const std::string text_prefix = quorvel_text_prefix;

// A node being built: a collection whose end has not come yet, and in a
// mapping the key that waits for its value.
struct Frame {
    YamlNode node;
    std::string key;
    bool has_key = false;
};

// Puts a finished node into the collection being built.
void attach(Frame& parent, YamlNode&& child) {
    parent.node.has_alias = parent.node.has_alias || child.has_alias;
    if (parent.node.kind == YamlNode::Kind::sequence) {
        parent.node.items.push_back(std::move(child));
    } else if (!parent.has_key) {
        parent.key = std::move(child.scalar);  // a collection as a key reads as ""
        parent.has_key = true;
    } else {
        parent.node.entries.emplace_back(std::move(parent.key), std::move(child));
        parent.has_key = false;
    }
}

YamlNode leaf(const yaml_event_t& event) {
    YamlNode node;
    if (event.type == YAML_ALIAS_EVENT) {
        node.scalar = std::string("*") + reinterpret_cast<const char*>(event.data.alias.anchor);
        node.alias = node.has_alias = true;
    } else {
        node.scalar.assign(reinterpret_cast<const char*>(event.data.scalar.value),
                           event.data.scalar.length);
    }
    return node;
}

// Builds the tree from one event; false at the end of the first document.
bool build(const yaml_event_t& event, std::vector<Frame>& stack, YamlNode& root,
           std::string& error) {
    switch (event.type) {
        case YAML_SEQUENCE_START_EVENT:
        case YAML_MAPPING_START_EVENT:
            if (stack.size() >= yaml_depth_limit) {
                error = "nesting deeper than " + std::to_string(yaml_depth_limit) + " levels at line " +
                        std::to_string(event.start_mark.line + 1);
                return false;
            }
            stack.emplace_back();
            stack.back().node.kind = event.type == YAML_SEQUENCE_START_EVENT ? YamlNode::Kind::sequence
                                                                             : YamlNode::Kind::mapping;
            return true;
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT: {
            YamlNode done = std::move(stack.back().node);
            stack.pop_back();
            if (stack.empty()) {
                root = std::move(done);
            } else {
                attach(stack.back(), std::move(done));
            }
            return true;
        }
        case YAML_SCALAR_EVENT:
        case YAML_ALIAS_EVENT:
            if (stack.empty()) {
                root = leaf(event);
            } else {
                attach(stack.back(), leaf(event));
            }
            return true;
        case YAML_DOCUMENT_END_EVENT:
        case YAML_STREAM_END_EVENT:
            return false;
        default:
            return true;
    }
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
    if (element.has_alias || text->has_alias) {
        return fail(view, key + " or " + text_key + " uses a YAML alias");
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
    for (std::size_t i = 0; i < view.root.entries.size(); ++i) {
        const auto& [key, element] = view.root.entries[i];
        if (!keys.insert(key).second) {
            return fail(view, "the document repeats the key " + key);
        }
        const int number = box_number(key);
        if (number > 0) {
            if (!read_box(view, number, key, element)) {
                return false;
            }
        } else if (key.compare(0, text_prefix.size(), text_prefix) != 0) {
            view.other.push_back(i);
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
    yaml_parser_initialize(&parser);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    root = YamlNode{};
    root.kind = YamlNode::Kind::mapping;  // what an empty text reads as
    std::vector<Frame> stack;
    error.clear();
    for (bool more = true; more;) {
        yaml_event_t event;
        if (yaml_parser_parse(&parser, &event) == 0) {
            error = parser.problem != nullptr ? parser.problem : "unknown error";
            error += " at line " + std::to_string(parser.problem_mark.line + 1);
            break;
        }
        more = build(event, stack, root, error);
        yaml_event_delete(&event);
    }
    yaml_parser_delete(&parser);
    return error.empty();
}

HostView read_as_host(const std::string& stream) {
    HostView view;
    if (stream.size() > exchange_stream_limit) {
        fail(view, "the stream has " + stream_too_long());
        return view;
    }
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

std::string stream_too_long(const std::string& where) {
    return "more than " + std::to_string(exchange_stream_limit) + " bytes" + (where.empty() ? "" : " " + where);
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

namespace {

bool style_is(const std::map<std::string, std::string>& style, const char* key, const std::string& value) {
    const auto found = style.find(key);
    return found != style.end() && found->second == value;
}

// " at FILE:LINE" at the end of text, into where; false when it is not there.
bool source_at_end(const std::string& text, FaultWhere& where) {
    const std::size_t at = text.rfind(" at ");
    const std::size_t colon = text.rfind(':');
    if (at == std::string::npos || colon == std::string::npos || colon < at + 5 || colon + 1 == text.size() ||
        text.find_first_not_of("0123456789", colon + 1) != std::string::npos || colon + 10 < text.size()) {
        return false;
    }
    where.file = text.substr(at + 4, colon - at - 4);
    where.line = std::stol(text.substr(colon + 1));
    return true;
}

}  // namespace

bool has_fault_style(const ViewBox& box) {
    const std::string height = box.style.count("height") != 0 ? box.style.at("height") : "";
    const bool signed_height =
        height == std::to_string(quorvel_fault_height) || height == std::to_string(quorvel_fault_where_height);
    const bool earlier = height == std::to_string(quorvel_check_height) &&
                         style_is(box.style, "width", std::to_string(quorvel_notice_width));
    return (signed_height || earlier) && style_is(box.style, "backgroundColor", quorvel_fail_colour) &&
           box.style.count("borderColor") == 0 &&
           style_is(box.text_style, "fontSize", std::to_string(quorvel_text_size)) &&
           style_is(box.text_style, "color", quorvel_check_text_colour);
}

bool fault_has_where(const ViewBox& box) {
    return has_fault_style(box) && style_is(box.style, "height", std::to_string(quorvel_fault_where_height));
}

bool fault_where(const ViewBox& box, FaultWhere& where) {
    where = FaultWhere{};
    if (!fault_has_where(box)) {
        return false;
    }
    if (source_at_end(box.text, where)) {
        return true;
    }
    const std::size_t in = box.text.rfind(" in ");
    if (in == std::string::npos || in + 4 == box.text.size()) {
        return false;
    }
    where.function = box.text.substr(in + 4);
    source_at_end(box.text.substr(0, in), where);
    return true;
}

std::string where_words(const FaultWhere& where) {
    return (where.file.empty() ? "" : " at " + where.file + ":" + std::to_string(where.line)) +
           (where.function.empty() ? "" : " in " + where.function);
}
