// Escaping the bytes a program sends, so that no label can steer a terminal,
// break a line of a report or a document that names it: shared by the views
// and the reports.
#ifndef QUORVEL_VIEW_TEXT_ESCAPE_H
#define QUORVEL_VIEW_TEXT_ESCAPE_H

#include <cstddef>
#include <initializer_list>
#include <string>

// The length of the well-formed UTF-8 sequence that starts at text[at]
// (1 for ASCII), or 0 when the byte there does not start one.
std::size_t utf8_sequence(const std::string& text, std::size_t at);

// A byte and the text that stands for it in an escaped text.
struct ByteName {
    char byte;
    const char* text;
};

// Whether U+FFFE and U+FFFF, well-formed UTF-8 that XML 1.0 cannot hold,
// stay as they are or are escaped byte by byte.
enum class Noncharacters { kept, escaped };

// The text with its well-formed multi-byte UTF-8 sequences as they stand; a
// byte listed in names becomes its text, any other control byte or byte
// outside valid UTF-8 (and each byte of U+FFFE and U+FFFF when escaped)
// becomes printf's hex_pattern of it (such as "\\x%02X"), and the rest stay.
std::string escape_text(const std::string& text, std::initializer_list<ByteName> names, const char* hex_pattern,
                        Noncharacters noncharacters = Noncharacters::kept);

// The text with control bytes, backslashes and invalid UTF-8 written as \xHH
// (and \n, \t, \\), so that it cannot steer a terminal or break a line.
std::string printable(const std::string& text);

// The text as a JSON string, quotes included: a byte outside valid UTF-8 is
// \u00HH, control bytes, " and \ take JSON's usual escapes.
std::string json_string(const std::string& text);

#endif
