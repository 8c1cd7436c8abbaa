#include "render.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <regex>

#include <unistd.h>

namespace {

const std::string neutral_colour = "gray";
constexpr std::size_t pixels_per_column = 8;
constexpr std::size_t host_value_width = 60;
constexpr std::size_t source_indent = 8;  // under a box's label, past its number

using Rgb = std::array<int, 3>;

const std::map<std::string, Rgb>& named_colours() {
    static const std::map<std::string, Rgb> names = {
        {"black", {0, 0, 0}},        {"white", {255, 255, 255}}, {"red", {255, 0, 0}},
        {"green", {0, 128, 0}},      {"lime", {0, 255, 0}},      {"blue", {0, 0, 255}},
        {"yellow", {255, 255, 0}},   {"orange", {255, 165, 0}},  {"gray", {128, 128, 128}},
        {"grey", {128, 128, 128}},   {"purple", {128, 0, 128}},  {"cyan", {0, 255, 255}},
        {"magenta", {255, 0, 255}},  {"silver", {192, 192, 192}}, {"navy", {0, 0, 128}},
        {"pink", {255, 192, 203}},   {"brown", {165, 42, 42}},   {"transparent", {255, 255, 255}},
    };
    return names;
}

// The RGB value of a colour the terminal can show; false for others.
bool colour_value(const std::string& text, Rgb& rgb) {
    if (!is_css_colour(text)) {
        return false;
    }
    const auto named = named_colours().find(text);
    if (named != named_colours().end()) {
        rgb = named->second;
        return true;
    }
    if (text[0] == '#' && (text.size() == 7 || text.size() == 9)) {
        for (std::size_t i = 0; i < 3; ++i) {
            rgb[i] = std::stoi(text.substr(1 + 2 * i, 2), nullptr, 16);
        }
        return true;
    }
    if (text[0] == '#') {
        for (std::size_t i = 0; i < 3; ++i) {
            rgb[i] = 17 * std::stoi(text.substr(1 + i, 1), nullptr, 16);
        }
        return true;
    }
    std::smatch match;
    static const std::regex numbers(R"(\(\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+))");
    if (std::regex_search(text, match, numbers)) {
        for (std::size_t i = 0; i < 3; ++i) {
            rgb[i] = std::min(255, std::stoi(match[i + 1].str()));
        }
        return true;
    }
    return false;
}

std::string ansi(const char* layer, const std::string& colour) {
    Rgb rgb{};
    if (!colour_value(colour, rgb)) {
        return "";
    }
    return std::string("\x1b[") + layer + ";2;" + std::to_string(rgb[0]) + ";" +
           std::to_string(rgb[1]) + ";" + std::to_string(rgb[2]) + "m";
}

const char* reset = "\x1b[0m";

// Columns a UTF-8 text takes (one per character).
std::size_t columns(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}

std::string style_value(const std::map<std::string, std::string>& style, const std::string& key) {
    const auto found = style.find(key);
    return found != style.end() ? found->second : std::string();
}

std::size_t box_columns(const ViewBox& box) {
    const std::string width = style_value(box.style, "width");
    const std::size_t pixels =
        width.find_first_not_of("0123456789") == std::string::npos && !width.empty() && width.size() < 6
            ? std::stoul(width)
            : 0;
    return pixels / pixels_per_column;
}

std::string host_value(const YamlNode& node) {
    switch (node.kind) {
        case YamlNode::Kind::mapping:
            return "(mapping of " + std::to_string(node.entries.size()) + " keys)";
        case YamlNode::Kind::sequence:
            return "(list of " + std::to_string(node.items.size()) + " items)";
        default:
            break;
    }
    std::string value = printable(node.scalar);
    if (value.size() > host_value_width) {
        value = value.substr(0, host_value_width - 3) + "...";
    }
    return value;
}

// The box's number, left-aligned in a fixed column.
std::string number_column(const ViewBox& box) {
    char column[16];
    std::snprintf(column, sizeof column, "  #%-4d ", box.number);
    return column;
}

std::string plain_box(const ViewBox& box) {
    std::string colours = printable(style_value(box.style, "backgroundColor"));
    const std::string border = style_value(box.style, "borderColor");
    if (!border.empty()) {
        colours += ", border " + printable(border);
    }
    std::string out = number_column(box) + colours;
    out.append(colours.size() < 30 ? 30 - colours.size() : 1, ' ');
    const std::string size =
        style_value(box.style, "width") + "x" + style_value(box.style, "height");
    out += printable(size);
    out.append(size.size() < 8 ? 8 - size.size() : 1, ' ');
    return out + "\"" + printable(box.text) + "\"\n";
}

std::string coloured_box(const ViewBox& box) {
    const std::string label = printable(box.text);
    const std::size_t width = std::max(box_columns(box), columns(label) + 2);
    const std::string border = style_value(box.style, "borderColor");
    std::string out = number_column(box);
    const std::string edge = border.empty() ? " " : ansi("38", border) + "\xE2\x96\x95";
    out += edge + reset;
    out += ansi("48", style_value(box.style, "backgroundColor")) +
           ansi("38", style_value(box.text_style, "color")) + " " + label;
    out.append(width - columns(label) - 1, ' ');
    out += reset;
    out += (border.empty() ? std::string(" ") : ansi("38", border) + "\xE2\x96\x8F") + reset + "\n";
    return out;
}

std::string html_escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

// A CSS length in pixels from a style number, or "" when it is not one.
std::string pixels(const std::map<std::string, std::string>& style, const std::string& key) {
    const std::string value = style_value(style, key);
    if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos) {
        return "";
    }
    return value + "px";
}

std::string safe_colour(const std::string& colour) {
    return is_css_colour(colour) ? colour : neutral_colour;
}

void add_css(std::string& css, const char* property, const std::string& value) {
    if (!value.empty()) {
        css += std::string(property) + ":" + value + ";";
    }
}

std::string html_box(const ViewBox& box) {
    std::string outer;
    add_css(outer, "width", pixels(box.style, "width"));
    add_css(outer, "height", pixels(box.style, "height"));
    add_css(outer, "margin-left", pixels(box.style, "marginLeft"));
    add_css(outer, "margin-top", pixels(box.style, "marginTop"));
    add_css(outer, "background-color", safe_colour(style_value(box.style, "backgroundColor")));
    if (box.style.count("borderColor") != 0) {
        const std::string width = pixels(box.style, "borderWidth");
        add_css(outer, "border", (width.empty() ? "1px" : width) + " solid " +
                                     safe_colour(style_value(box.style, "borderColor")));
    }
    std::string inner;
    add_css(inner, "font-size", pixels(box.text_style, "fontSize"));
    add_css(inner, "margin-left", pixels(box.text_style, "marginLeft"));
    add_css(inner, "color", safe_colour(style_value(box.text_style, "color")));
    return "<div class=\"box\" id=\"box-" + std::to_string(box.number) + "\" title=\"" + quorvel_view_prefix +
           std::to_string(box.number) + "\" style=\"" + html_escape(outer) + "\"><span style=\"" +
           html_escape(inner) + "\">" + html_escape(printable(box.text)) + "</span></div>\n";
}

const char* page_style =
    "body{font-family:system-ui,sans-serif;margin:24px;background:#f4f5f7;color:#222}\n"
    "h1{font-size:20px;margin:0 0 12px}\n"
    "table.host{border-collapse:collapse;margin-bottom:16px;font-size:14px}\n"
    "table.host th,table.host td{text-align:left;padding:2px 12px 2px 0;vertical-align:top}\n"
    "table.host th{color:#555;font-weight:600}\n"
    ".boxes{background:#fff;border:1px solid #d0d4da;padding:8px 10px 10px 0;display:inline-block;min-width:240px}\n"
    ".box{box-sizing:border-box;display:flex;align-items:center;overflow:hidden;white-space:pre;"
    "line-height:1}\n"
    ".summary{font-size:14px;color:#444;margin-top:12px}\n";

}  // namespace

bool is_css_colour(const std::string& text) {
    static const std::regex token(
        R"(^([A-Za-z]{1,30}|#([0-9A-Fa-f]{3}|[0-9A-Fa-f]{4}|[0-9A-Fa-f]{6}|[0-9A-Fa-f]{8})|)"
        R"(rgba?\( *[0-9]{1,3} *, *[0-9]{1,3} *, *[0-9]{1,3} *(, *(0|1|0?\.[0-9]{1,3}) *)?\))$)");
    return text.size() <= 40 && std::regex_match(text, token);
}

bool is_terminal(int fd) { return isatty(fd) == 1; }

std::string summary_line(const HostView& view) {
    std::size_t green = 0;
    std::size_t red = 0;
    for (const ViewBox& box : view.boxes) {
        green += box_kind(box) == BoxKind::passed ? 1U : 0U;
        red += box_kind(box) == BoxKind::failed ? 1U : 0U;
    }
    return std::to_string(view.boxes.size()) + (view.boxes.size() == 1 ? " box: " : " boxes: ") +
           std::to_string(green) + " green, " + std::to_string(red) + " red";
}

std::string render_terminal(const HostView& view, bool colour, const std::string& source) {
    std::string out = "host document:\n";
    if (view.other.empty()) {
        out += "  (empty)\n";
    }
    for (const std::size_t i : view.other) {
        const auto& [key, node] = view.root.entries[i];
        out += "  " + printable(key) + ": " + host_value(node) + "\n";
    }
    out += "boxes:\n";
    for (const ViewBox& box : view.boxes) {
        out += colour ? coloured_box(box) : plain_box(box);
    }
    if (!source.empty()) {
        out += std::string(source_indent, ' ') + source + "\n";
    }
    return out + summary_line(view) + "\n";
}

std::string render_html(const HostView& view, const std::string& title, const std::string& source) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                      html_escape(title) + "</title>\n<style>\n" + page_style + "</style>\n</head>\n<body>\n";
    out += "<h1>" + html_escape(title) + "</h1>\n<table class=\"host\">\n";
    for (const std::size_t i : view.other) {
        const auto& [key, node] = view.root.entries[i];
        out += "<tr><th>" + html_escape(printable(key)) + "</th><td>" +
               html_escape(host_value(node)) + "</td></tr>\n";
    }
    out += "</table>\n<div class=\"boxes\">\n";
    for (const ViewBox& box : view.boxes) {
        out += html_box(box);
    }
    if (!source.empty()) {
        out += "<pre class=\"source\" style=\"font-size:14px;margin:6px 0 0 10px\">" + html_escape(source) +
               "</pre>\n";
    }
    return out + "</div>\n<p class=\"summary\">" + html_escape(summary_line(view)) +
           "</p>\n</body>\n</html>\n";
}
