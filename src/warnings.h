// Warnings on standard error. Each starts with "Warning:  " (in init():
// "Warning in init:  ") and ends with a newline and a flush, except the
// read-limit warning, which has no newline.
#ifndef QUORVEL_SRC_WARNINGS_H
#define QUORVEL_SRC_WARNINGS_H

#include <string>
#include <string_view>

namespace quorvel_internal {

void warn(std::string_view text);
void warn_init(std::string_view text);
void warn_read_limit();

// A number in decimal, for the text of a warning.
std::string decimal(long long value);

}  // namespace quorvel_internal

#endif
