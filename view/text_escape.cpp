#include "text_escape.h"

#include <algorithm>
#include <cstdio>

std::size_t utf8_sequence(const std::string& text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t length = byte < 0x80U ? 1 : byte >= 0xC2U && byte <= 0xDFU ? 2
                             : byte >= 0xE0U && byte <= 0xEFU ? 3 : byte >= 0xF0U && byte <= 0xF4U ? 4 : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    // The second byte's range leaves out overlong forms (after E0, F0),
    // surrogates (after ED) and code points past U+10FFFF (after F4).
    const auto second = static_cast<unsigned char>(text[at + 1 < text.size() ? at + 1 : at]);
    const unsigned char low = byte == 0xE0U ? 0xA0U : byte == 0xF0U ? 0x90U : 0x80U;
    const unsigned char high = byte == 0xEDU ? 0x9FU : byte == 0xF4U ? 0x8FU : 0xBFU;
    bool valid = length == 1 || (second >= low && second <= high);
    for (std::size_t k = 2; valid && k < length; ++k) {
        valid = (static_cast<unsigned char>(text[at + k]) & 0xC0U) == 0x80U;
    }
    return valid ? length : 0;
}

namespace {

// U+FFFE or U+FFFF, EF BF BE or EF BF BF, at text[at].
bool is_noncharacter(const std::string& text, std::size_t at) {
    return text.compare(at, 2, "\xEF\xBF") == 0 && at + 2 < text.size() &&
           (text[at + 2] == '\xBE' || text[at + 2] == '\xBF');
}

}  // namespace

std::string escape_text(const std::string& text, std::initializer_list<ByteName> names, const char* hex_pattern,
                        Noncharacters noncharacters) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const bool escaped_whole = noncharacters == Noncharacters::escaped && is_noncharacter(text, i);
        const std::size_t length = escaped_whole ? 0 : utf8_sequence(text, i);
        const char c = text[i];
        const auto named = std::find_if(names.begin(), names.end(),
                                        [c](const ByteName& name) { return name.byte == c; });
        const auto byte = static_cast<unsigned char>(c);
        if (length > 1) {
            out.append(text, i, length);
        } else if (named != names.end()) {
            out += named->text;
        } else if (byte < 0x20U || byte >= 0x7FU) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, hex_pattern, byte);
            out += escaped;
        } else {
            out += c;
        }
        i += length > 1 ? length : 1;
    }
    return out;
}

std::string printable(const std::string& text) {
    return escape_text(text, {{'\n', "\\n"}, {'\t', "\\t"}, {'\\', "\\\\"}}, "\\x%02X");
}


std::string json_string(const std::string& text) {
    return "\"" + escape_text(text, {{'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\t', "\\t"}}, "\\u%04X") + "\"";
}
