// The width estimate of box texts; see text_width.h. In the signal-safe zone.
#include "text_width.h"

#include <algorithm>

namespace quorvel_internal {

namespace {

// Pixel widths of characters at the 18 px text: the widths of a common
// sans-serif face (DejaVu Sans) rounded up by a pixel or more, in classes.
// Bytes in no class take default_pixels (digits among them); a character of
// more than one byte takes a whole em, as wide glyphs (CJK) do.
struct PixelClass {
    std::string_view characters;
    int pixels;
};
constexpr PixelClass pixel_classes[] = {
    {" 'ijlIJ,.|/:;\\f-", 7}, {"()[]tr!", 8}, {"\"*_`szc?LFkvxyTP", 11},
    {"KVXZBRCA", 13}, {"UNHDG&OQ", 15}, {"w~#+<=>^M", 16}, {"%mW@", 18},
};
constexpr int default_pixels = 12;
constexpr int multibyte_pixels = 18;

int character_pixels(std::string_view character) {
    if (character.size() > 1) {
        return multibyte_pixels;
    }
    for (const PixelClass& pixel_class : pixel_classes) {
        if (pixel_class.characters.find(character[0]) != std::string_view::npos) {
            return pixel_class.pixels;
        }
    }
    return default_pixels;
}

// Calls each(character) for the UTF-8 characters of text, in order, while
// it returns true.
template <typename Each>
void for_each_character(std::string_view text, Each each) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = std::min(character_length(text[at]), text.size() - at);
        if (!each(std::string_view(text.data() + at, length))) {
            return;
        }
        at += length;
    }
}

}  // namespace

std::size_t character_length(char lead) {
    const auto byte = static_cast<unsigned char>(lead);
    return byte >= 0xF0U && byte <= 0xF4U ? 4 : byte >= 0xE0U ? 3 : byte >= 0xC2U && byte < 0xE0U ? 2 : 1;
}

int pixels_of(std::string_view text) {
    int pixels = 0;
    for_each_character(text, [&](std::string_view character) {
        pixels += character_pixels(character);
        return true;
    });
    return pixels;
}

std::string_view cut_to(std::string_view text, int budget) {
    std::size_t kept = 0;
    for_each_character(text, [&](std::string_view character) {
        budget -= character_pixels(character);
        kept += budget >= 0 ? character.size() : 0;
        return budget >= 0;
    });
    return std::string_view(text.data(), kept);
}

int fitted_width(std::string_view text) {
    return std::clamp(pixels_of(text) + text_margins, fitted_least_width, fitted_most_width);
}

}  // namespace quorvel_internal
