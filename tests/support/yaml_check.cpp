#include "yaml_check.h"

#include <yaml.h>

#include <cstdlib>
#include <memory>
#include <set>

namespace {

constexpr char separator[] = "\n---\n";
constexpr std::size_t separator_length = 5;

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
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0';
}

bool fail(HostView& view, const std::string& error) {
    view.ok = false;
    view.error = error;
    return false;
}

bool read_box(HostView& view, const std::string& key, const YamlNode& element) {
    ViewBox box;
    box.number = std::atoi(key.c_str() + std::string("View_correctness_").size());
    const std::string text_key = "Text_correctness_" + std::to_string(box.number);
    const YamlNode* text = view.root.find(text_key);
    if (text == nullptr) {
        return fail(view, key + " has no " + text_key);
    }
    box.style = scalars_of(element.find("style"));
    box.text_style = scalars_of(text->find("style"));
    if (const YamlNode* children = element.find("children")) {
        for (const YamlNode& child : children->items) {
            box.children.push_back(child.scalar);
        }
    }
    if (!to_long(text->text("pos"), box.pos) || !to_long(text->text("len"), box.len) ||
        box.pos < 0 || box.len < 0 ||
        static_cast<std::size_t>(box.pos + box.len) > view.memory.size()) {
        return fail(view, text_key + " points outside the memory area");
    }
    box.text = view.memory.substr(static_cast<std::size_t>(box.pos),
                                  static_cast<std::size_t>(box.len));
    view.boxes.push_back(box);
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
    const bool loaded = yaml_parser_load(&parser, &document) != 0;
    if (!loaded) {
        error = parser.problem != nullptr ? parser.problem : "unknown libyaml error";
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
        fail(view, "no separator");
        return view;
    }
    view.document = stream.substr(0, at);
    view.memory = stream.substr(at + separator_length);
    if (!parse_yaml(view.document, view.root, view.error)) {
        return view;
    }
    view.ok = true;
    const std::string prefix = "View_correctness_";
    std::set<std::string> keys;
    for (const auto& [key, element] : view.root.entries) {
        if (!keys.insert(key).second) {
            fail(view, "duplicate key " + key);
            break;
        }
        if (key.compare(0, prefix.size(), prefix) == 0 && !read_box(view, key, element)) {
            break;
        }
    }
    return view;
}
