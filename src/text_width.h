// How wide a text is at the boxes' 18 px text, estimated per character, and
// where to cut it to fit: the one estimate behind fitted check boxes and the
// fault box. Part of the signal-safe zone: no allocation, nothing that
// throws.
#ifndef QUORVEL_SRC_TEXT_WIDTH_H
#define QUORVEL_SRC_TEXT_WIDTH_H

#include <quorvel/exchange_format.h>

#include <cstddef>
#include <string_view>

namespace quorvel_internal {

// Boxes fitted to their text: as wide as the text, plus its margins,
// between these.
inline constexpr int fitted_least_width = quorvel_check_width;
inline constexpr int fitted_most_width = quorvel_widest_box;
inline constexpr int text_margins = 2 * quorvel_margin_left;  // the text's marginLeft, and as much again on its right
inline constexpr int fitted_text_room = fitted_most_width - text_margins;

// Where a text too wide for its box is cut: " …".
inline constexpr std::string_view cut_mark = " \xE2\x80\xA6";
// The ellipsis alone, U+2026.
inline constexpr std::string_view ellipsis = cut_mark.substr(1);

// The bytes of the UTF-8 character that starts with lead (1 for a byte
// that starts none).
std::size_t character_length(char lead);

// The estimated width of text in pixels: each character by its class (the
// widths of a common sans-serif face rounded up), a character of more than
// one byte a whole em.
int pixels_of(std::string_view text);

// The longest start of text, cut between characters, within budget pixels.
std::string_view cut_to(std::string_view text, int budget);

// The width of a box that shows text whole: pixels_of(text) and the
// margins, from fitted_least_width to fitted_most_width.
int fitted_width(std::string_view text);

}  // namespace quorvel_internal

#endif
