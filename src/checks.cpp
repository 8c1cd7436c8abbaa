// Correctness checks: each builds one label from both values and the
// verdict, and appends one green or red box.
#include "boxes.h"
#include "signal_safe.h"

#include <quorvel/primitives.h>
#include <quorvel/quorvel.h>

#include <cstring>

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

template <typename Floating>
void append_near_label(Floating a, Floating b, bool agree) {
    Label label;
    label.put(std::to_string(a)).put(agree ? near_text : differ_text).put(std::to_string(b));
    append_box(label.text(), check_style(agree));
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

void append_check_box(bool agree, Label& label) {
    append_box(label.text(), check_style(agree));
}

void append_near_box(double a, double b, bool agree) { append_near_label(a, b, agree); }
void append_near_box(long double a, long double b, bool agree) { append_near_label(a, b, agree); }

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
