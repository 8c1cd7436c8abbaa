// Correctness checks: each builds one label from both values and the
// verdict, and appends one green or red box.
#include "boxes.h"
#include "signal_safe.h"
#include "text_width.h"

#include <quorvel/primitives.h>
#include <quorvel/quorvel.h>

#include <algorithm>
#include <cstring>
#include <string>

using namespace quorvel_internal;
using quorvel_detail::Label;

namespace {

constexpr std::string_view agree_text = " == ";
constexpr std::string_view differ_text = " != ";
constexpr std::string_view near_text = " ~ ";
constexpr std::size_t shortest_text_size = 64;  // a long double's shortest text, exponent and all

const char* bool_text(bool value) { return value ? "true" : "false"; }

// The string at a + pos, or null when a is null or pos lies outside it.
const char* string_at(const char* a, int pos) {
    if (a == nullptr || pos < 0 || std::memchr(a, '\0', static_cast<std::size_t>(pos)) != nullptr) {
        return nullptr;
    }
    return a + pos;
}

bool same_string(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    const int la = length_of(a, 0);
    if (la != length_of(b, 0)) {
        return false;
    }
    return la <= 0 || std::memcmp(a, b, static_cast<std::size_t>(la)) == 0;
}

void put_c_string(Label& label, const char* text) {
    quorvel_detail::put_text(label, text, text != nullptr ? std::strlen(text) : 0);
}

template <typename Number>
void put_integer_text(Label& label, Number value) {
    char digits[number_text_size];
    label.put(integer_text(digits, value));
}

template <typename Floating>
void put_shortest(Label& label, Floating value) {
    char text[shortest_text_size];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    label.put(std::string_view(text, static_cast<std::size_t>(written.ptr - text)));
}

// The box of a check: "<a> == <b>" or "<a> != <b>", each value as put writes it.
template <typename Value, typename Put>
void append_pair_check(bool agree, Value a, Value b, Put put) {
    Label label;
    put(label, a);
    quorvel_detail::put_verdict(label, agree);
    put(label, b);
    append_box(label.text(), check_style(agree));
}

// " at [i]" (with the elements there when with_elements), or
// " (lengths m and n)", or nothing.
std::string marker(const quorvel_detail::Difference& difference, bool with_elements) {
    using Kind = quorvel_detail::Difference::Kind;
    char digits[number_text_size];
    std::string text;
    if (difference.kind == Kind::at) {
        text.append(" at [").append(integer_text(digits, difference.index)).append("]");
        if (with_elements) {
            text.append(": ").append(difference.left).append(differ_text).append(difference.right);
        }
    } else if (difference.kind == Kind::lengths) {
        text.append(" (lengths ").append(integer_text(digits, difference.left_size));
        text.append(" and ").append(integer_text(digits, difference.right_size)).append(")");
    }
    return text;
}

// A check's style, as wide as text needs (never the fault box's width, so
// that a red check is never taken for it).
BoxStyle fitted_style(bool agree, std::string_view text) {
    BoxStyle style = check_style(agree);
    style.width = fitted_width(text);
    style.width += style.width == quorvel_notice_width ? 1 : 0;
    return style;
}

template <typename Floating>
void append_near_label(Floating a, Floating b, bool agree, bool fitted) {
    Label label;
    label.put(std::to_string(a)).put(agree ? near_text : differ_text).put(std::to_string(b));
    if (fitted) {
        quorvel_detail::append_fitted_check(agree, label, quorvel_detail::Difference{});
    } else {
        append_box(label.text(), check_style(agree));
    }
}

}  // namespace

namespace quorvel_detail {

void Label::put_on_heap(std::string_view text) {
    if (heap_.empty()) {
        heap_.assign(local_, size_);
    }
    heap_.append(text.data(), text.size());
}

void put_verdict(Label& label, bool agree) { label.put(agree ? agree_text : differ_text); }
void put_integer(Label& label, long long value) { put_integer_text(label, value); }
void put_integer(Label& label, unsigned long long value) { put_integer_text(label, value); }
void put_floating(Label& label, float value) { put_shortest(label, value); }
void put_floating(Label& label, double value) { put_shortest(label, value); }
void put_floating(Label& label, long double value) { put_shortest(label, value); }

void put_text(Label& label, const char* text, std::size_t size) {
    if (text == nullptr) {
        label.put("null");
        return;
    }
    label.put("\"").put(std::string_view(text, size)).put("\"");
}

void put_list_rest(Label& label, std::size_t more) {
    label.put(", ").put(ellipsis).put(" (");
    put_integer_text(label, more);
    label.put(" more)");
}

Difference text_difference(const char* a, std::size_t a_size, const char* b, std::size_t b_size) {
    Difference difference;
    if (a == nullptr || b == nullptr) {
        return difference;
    }
    const std::string_view left(a, a_size);
    const std::string_view right(b, b_size);
    const auto first = std::mismatch(left.begin(), left.begin() + std::min(a_size, b_size), right.begin());
    const auto index = static_cast<std::size_t>(first.first - left.begin());
    if (index == std::min(a_size, b_size)) {
        difference.kind = a_size != b_size ? Difference::Kind::lengths : Difference::Kind::none;
        difference.left_size = a_size;
        difference.right_size = b_size;
        return difference;
    }
    // The characters there, each from its first byte.
    const auto character = [index](std::string_view text) {
        std::size_t start = index;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0U) == 0x80U &&
               index - start < 3) {
            --start;
        }
        return "'" + std::string(text.substr(start, character_length(text[start]))) + "'";
    };
    difference.kind = Difference::Kind::at;
    difference.index = index;
    difference.left = character(left);
    difference.right = character(right);
    return difference;
}

void append_fitted_check(bool agree, Label& label, const Difference& difference) {
    std::string text(label.text());
    std::string suffix = marker(difference, !difference.shown);
    const int room = fitted_text_room;
    if (pixels_of(text) + pixels_of(suffix) > room) {
        suffix = marker(difference, true);  // the cut may hide where they differ
        text = std::string(cut_to(text, room - pixels_of(suffix) - pixels_of(cut_mark))) + std::string(cut_mark);
    }
    text += suffix;
    append_box(text, fitted_style(agree, text));
}

void append_near_box(double a, double b, bool agree, bool fitted) {
    append_near_label(a, b, agree, fitted);
}

void append_near_box(long double a, long double b, bool agree, bool fitted) {
    append_near_label(a, b, agree, fitted);
}

}  // namespace quorvel_detail

void show_correctness_box(bool ok, std::string label) { append_box(label, check_style(ok)); }

void check_equal(bool a, bool b) {
    append_pair_check(a == b, a, b, [](Label& label, bool value) { label.put(bool_text(value)); });
}

void check_equal(char a, char b) {
    append_pair_check(a == b, a, b,
                      [](Label& label, char byte) { label.put(std::string_view(&byte, 1)); });
}

// The hot path of most exercises: written out, so that both numbers are
// formatted in place.
void check_equal(int a, int b) {
    Label label;
    char digits[number_text_size];
    label.put(integer_text(digits, a));
    quorvel_detail::put_verdict(label, a == b);
    label.put(integer_text(digits, b));
    append_box(label.text(), check_style(a == b));
}

void check_equal(const char* a, int pos, const char* b) {
    const char* left = string_at(a, pos);
    append_pair_check(same_string(left, b), left, b, put_c_string);
}

void check_equal(const char* a, const char* b) { check_equal(a, 0, b); }
