// Array display: a spacer box, a header box naming the element type, then
// one bordered cell per element.
#include "boxes.h"
#include "signal_safe.h"

#include <quorvel/quorvel.h>

#include <algorithm>
#include <limits>

using namespace quorvel_internal;

namespace {

constexpr char null_cell[] = "\xE2\x9D\x9A";  // U+275A stands for a NUL byte

template <typename Number>
void show_number_cell(Number value) {
    char digits[number_text_size];
    const std::string_view text = integer_text(digits, value);
    digits[text.size()] = '\0';
    append_box(text, cell_style);
}

}  // namespace

namespace quorvel_detail {

void show_array_header(const char* type_name) {
    append_box("", header_style);
    append_box(type_name, header_style);
}

void show_int_cell(long long value) { show_number_cell(value); }
void show_int_cell(unsigned long long value) { show_number_cell(value); }

}  // namespace quorvel_detail

void show_int_array(const int* values, int count) {
    quorvel_detail::show_array_header("int");
    for (int i = 0; values != nullptr && i < count; ++i) {
        show_number_cell(values[i]);
    }
}

void show_char_array(std::string_view chars) {
    const std::size_t most = static_cast<std::size_t>(std::numeric_limits<int>::max());
    show_char_array(chars.data(), static_cast<int>(std::min(chars.size(), most)));
}

void show_char_array(const std::vector<char>& chars) {
    show_char_array(std::string_view(chars.data(), chars.size()));
}

void show_char_array(const char* chars, int count) {
    quorvel_detail::show_array_header("char");
    for (int i = 0; chars != nullptr && i < count; ++i) {
        const char quoted[] = {'\'', chars[i], '\'', '\0'};
        append_box(chars[i] == '\0' ? std::string_view(null_cell) : std::string_view(quoted, 3),
                   cell_style);
    }
}
