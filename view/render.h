// Renders a host view of an exercise's output: as terminal text (plain or
// with 24-bit colours) and as one self-contained HTML page.
#ifndef QUORVEL_VIEW_RENDER_H
#define QUORVEL_VIEW_RENDER_H

#include "exchange.h"

#include <initializer_list>
#include <string>

// The host's own keys, every box in document order, and the summary line;
// source, when not empty, is the student's line that the last box (a fault
// box) names, shown under it.
std::string render_terminal(const HostView& view, bool colour, const std::string& source = "");

// A page that lays the boxes out by their styles. Labels are escaped; a colour
// that is not a plain CSS colour token is replaced by a neutral one. source
// as above, under the boxes.
std::string render_html(const HostView& view, const std::string& title, const std::string& source = "");

// "N boxes: G green, R red".
std::string summary_line(const HostView& view);

// True for a colour name, #hex (3, 4, 6 or 8 digits) or rgb()/rgba() with
// numbers only.
bool is_css_colour(const std::string& text);

// The length of the well-formed UTF-8 sequence that starts at text[at]
// (1 for ASCII), or 0 when the byte there does not start one.
std::size_t utf8_sequence(const std::string& text, std::size_t at);

// A byte and the text that stands for it in an escaped text.
struct ByteName {
    char byte;
    const char* text;
};

// The text with its well-formed multi-byte UTF-8 sequences as they stand; a
// byte listed in names becomes its text, any other control byte or byte
// outside valid UTF-8 becomes printf's hex_pattern of it (such as "\\x%02X"),
// and the rest stay.
std::string escape_text(const std::string& text, std::initializer_list<ByteName> names,
                        const char* hex_pattern);

// The text with control bytes, backslashes and invalid UTF-8 written as \xHH
// (and \n, \t, \\), so that it cannot steer a terminal or break a line.
std::string printable(const std::string& text);

#endif
