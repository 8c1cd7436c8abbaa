// Array display: a spacer box, a header box naming the element type, then
// one bordered cell per element, all appended under one hold of the box lock
// so that they stay together.
#include "boxes.h"
#include "signal_safe.h"

#include <quorvel/quorvel.h>

#include <algorithm>
#include <limits>

using namespace quorvel_internal;

namespace {

constexpr char null_cell[] = "\xE2\x9D\x9A";  // U+275A stands for a NUL byte

template <typename Number>
void show_numbers(const Number* values, std::size_t count) {
    Boxes boxes;
    boxes.append("", header_style);
    boxes.append("int", header_style);
    for (std::size_t i = 0; values != nullptr && i < count; ++i) {
        char digits[number_text_size];
        const std::string_view text = integer_text(digits, values[i]);
        digits[text.size()] = '\0';
        boxes.append(text, cell_style);
    }
}

}  // namespace

void quorvel_detail::show_int_cells(const long long* values, std::size_t count) {
    show_numbers(values, count);
}

void quorvel_detail::show_int_cells(const unsigned long long* values, std::size_t count) {
    show_numbers(values, count);
}

void show_int_array(const int* values, int count) {
    show_numbers(values, static_cast<std::size_t>(std::max(count, 0)));
}

void show_char_array(std::string_view chars) {
    const std::size_t most = static_cast<std::size_t>(std::numeric_limits<int>::max());
    show_char_array(chars.data(), static_cast<int>(std::min(chars.size(), most)));
}

void show_char_array(const std::vector<char>& chars) {
    show_char_array(std::string_view(chars.data(), chars.size()));
}

void show_char_array(const char* chars, int count) {
    Boxes boxes;
    boxes.append("", header_style);
    boxes.append("char", header_style);
    for (int i = 0; chars != nullptr && i < count; ++i) {
        const char quoted[] = {'\'', chars[i], '\'', '\0'};
        boxes.append(chars[i] == '\0' ? std::string_view(null_cell) : std::string_view(quoted, 3),
                     cell_style);
    }
}
