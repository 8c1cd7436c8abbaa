#include "warnings.h"

#include "signal_safe.h"

#include <quorvel/exchange_format.h>

#include <iostream>

namespace quorvel_internal {

void warn(std::string_view text) { std::cerr << "Warning:  " << text << std::endl; }

void warn_init(std::string_view text) { std::cerr << "Warning in init:  " << text << std::endl; }

void warn_read_limit() {
    std::cerr << "Warning:  did not reach EOF after " << image_size << " characters.";
}

std::string decimal(long long value) {
    char digits[number_text_size];
    return std::string(integer_text(digits, value));
}

}  // namespace quorvel_internal
