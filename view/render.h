// Renders a host view of an exercise's output: as terminal text (plain or
// with 24-bit colours) and as one self-contained HTML page.
#ifndef QUORVEL_VIEW_RENDER_H
#define QUORVEL_VIEW_RENDER_H

#include "exchange.h"
#include "text_escape.h"

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

// Whether fd is a terminal.
bool is_terminal(int fd);

// True for a colour name, #hex (3, 4, 6 or 8 digits) or rgb()/rgba() with
// numbers only.
bool is_css_colour(const std::string& text);

#endif
