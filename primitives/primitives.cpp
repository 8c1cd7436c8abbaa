// The stand-in buffer primitives. Every scan goes through the C library's
// string routines (strlen, strstr, memchr, memcpy), never a byte loop.
#include <quorvel/primitives.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t number_text_size = 24;  // "-9223372036854775808" and a NUL

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// One line of the document: [begin, end) without its newline.
struct Span {
    const char* begin;
    const char* end;
};

// The line that starts with key at column 0, or {nullptr, nullptr}.
Span find_key_line(const char* document, const char* key) {
    const std::size_t key_length = std::strlen(key);
    const bool has_colon = key_length > 0 && key[key_length - 1] == ':';
    for (const char* at = std::strstr(document, key); at != nullptr;
         at = std::strstr(at + 1, key)) {
        const bool line_start = at == document || at[-1] == '\n';
        const char* after = at + key_length;
        if (!line_start || (!has_colon && *after != ':')) {
            continue;
        }
        if (!has_colon) {
            ++after;
        }
        const char* newline = std::strchr(after, '\n');
        return {after, newline != nullptr ? newline : after + std::strlen(after)};
    }
    return {nullptr, nullptr};
}

Span trim_value(Span value) {
    if (value.end > value.begin && value.end[-1] == '\r') {
        --value.end;
    }
    while (value.begin < value.end && is_blank(*value.begin)) {
        ++value.begin;
    }
    // A comment starts with '#' after a blank (or at the very start).
    for (const char* c = value.begin; c < value.end; ++c) {
        if (*c == '#' && (c == value.begin || is_blank(c[-1]))) {
            value.end = c;
            break;
        }
    }
    while (value.end > value.begin && is_blank(value.end[-1])) {
        --value.end;
    }
    const std::ptrdiff_t length = value.end - value.begin;
    if (length >= 2 && (*value.begin == '"' || *value.begin == '\'') &&
        value.end[-1] == *value.begin) {
        ++value.begin;
        --value.end;
    }
    return value;
}

// The decimal integer that fills [begin, end) exactly, if it fits an int.
bool parse_int(const char* begin, const char* end, int& out) {
    const std::size_t length = static_cast<std::size_t>(end - begin);
    if (length == 0 || length >= number_text_size) {
        return false;
    }
    char text[number_text_size];
    std::memcpy(text, begin, length);
    text[length] = '\0';
    const char* digits = text + ((text[0] == '-' || text[0] == '+') ? 1 : 0);
    if (*digits == '\0' || std::strspn(digits, "0123456789") != std::strlen(digits)) {
        return false;
    }
    errno = 0;
    char* stop = nullptr;
    const long long value = std::strtoll(text, &stop, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

// Copies text (null: nothing) to at without its NUL; returns the new end.
char* put_text(char* at, const char* text) {
    if (text == nullptr) {
        return at;
    }
    const std::size_t length = std::strlen(text);
    std::memcpy(at, text, length);
    return at + length;
}

void append_parts(char* dest, const char* prefix, const char* digits, const char* suffix) {
    if (dest == nullptr) {
        return;
    }
    char* end = put_text(dest + std::strlen(dest), prefix);
    end = put_text(end, digits);
    end = put_text(end, suffix);
    *end = '\0';
}

}  // namespace

int index_of(const char* text, const char* pattern) {
    if (text == nullptr || pattern == nullptr) {
        return -1;
    }
    const char* found = std::strstr(text, pattern);
    return found == nullptr ? -1 : static_cast<int>(found - text);
}

int length_of(const char* text, int start) {
    if (text == nullptr || start < 0) {
        return 0;
    }
    return static_cast<int>(std::strlen(text + start));
}

Range find_value(const char* document, const char* key, bool numeric) {
    if (document == nullptr || key == nullptr || *key == '\0') {
        return make_range(0, 0);
    }
    const Span line = find_key_line(document, key);
    if (line.begin == nullptr) {
        return make_range(0, 0);
    }
    const Span value = trim_value(line);
    int unused = 0;
    if (value.end <= value.begin || (numeric && !parse_int(value.begin, value.end, unused))) {
        return make_range(0, 0);  // an empty value, as the header says, or not a number
    }
    return make_range(static_cast<std::int32_t>(value.begin - document),
                      static_cast<std::int32_t>(value.end - value.begin));
}

int as_integer(const char* document, Range range) {
    const std::int32_t first = range_first(range);
    const std::int32_t length = range_second(range);
    if (document == nullptr || first < 0 || length <= 0) {
        return invalid_integer;
    }
    // The range must lie inside the text: no NUL before its end.
    const char* begin = document + first;
    if (std::memchr(document, '\0', static_cast<std::size_t>(first) + static_cast<std::size_t>(length)) != nullptr) {
        return invalid_integer;
    }
    int value = 0;
    return parse_int(begin, begin + length, value) ? value : invalid_integer;
}

void append(char* dest, const char* text) {
    append_parts(dest, text, nullptr, nullptr);
}

void append(char* dest, const char* prefix, int number, const char* suffix) {
    char digits[number_text_size];
    std::snprintf(digits, sizeof digits, "%d", number);
    append_parts(dest, prefix, digits, suffix);
}

void append(char* dest, const char* prefix, std::uint64_t number, const char* suffix) {
    char digits[number_text_size];
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(number));
    append_parts(dest, prefix, digits, suffix);
}

void write_at(char* buffer, int offset, const char* text) {
    if (buffer == nullptr || text == nullptr || offset < 0) {
        return;
    }
    std::memcpy(buffer + offset, text, std::strlen(text) + 1);
}
