#include "bytes.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t context = 24;  // bytes shown before and after the difference

std::string escaped_window(const std::string& bytes, std::size_t at) {
    const std::size_t from = at > context ? at - context : 0;
    const std::size_t to = std::min(bytes.size(), at + context);
    std::string out = from > 0 ? "..." : "";
    for (std::size_t i = from; i < to; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + (to < bytes.size() ? "..." : "");
}

}  // namespace

::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const auto at = static_cast<std::size_t>(mismatch.first - actual.begin());
    return ::testing::AssertionFailure()
           << "the bytes differ at offset " << at << " (actual " << actual.size()
           << " bytes, expected " << expected.size() << ")\n  actual:   "
           << escaped_window(actual, at) << "\n  expected: " << escaped_window(expected, at);
}

std::size_t count_of(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}
