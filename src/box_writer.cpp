// The zone's box writer: Writer's longer pieces and compose_box, which
// composes every box the library makes.
#include "signal_safe.h"

#include <quorvel/exchange_format.h>

namespace quorvel_internal {

namespace {

constexpr int longest_character = 4;  // bytes of a UTF-8 character
constexpr std::size_t kibibyte = 1024;
constexpr std::size_t mebibyte = kibibyte * kibibyte;

// A piece of a box's YAML whose numbers come from exchange_format.h,
// written in when the library is compiled: one piece to copy per box.
struct StylePiece {
    char text[64] = {};
    std::size_t size = 0;

    constexpr StylePiece& put(std::string_view piece) {
        for (const char c : piece) {
            text[size++] = c;
        }
        return *this;
    }
    constexpr StylePiece& put_number(int value) {
        char digits[number_text_size] = {};
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (count > 0) {
            text[size++] = digits[--count];
        }
        return *this;
    }
    constexpr std::string_view view() const { return {text, size}; }
};

// The view's style from its height on, up to its colour.
constexpr StylePiece view_margin =
    StylePiece().put("\n    marginLeft: ").put_number(quorvel_margin_left).put("\n    backgroundColor: ");
constexpr StylePiece border_width = StylePiece().put("\n    borderWidth: ").put_number(quorvel_border_width).put("\n");
constexpr StylePiece margin_top = StylePiece().put("\n    marginTop: ").put_number(quorvel_margin_top).put("\n");
// The text element's style up to its colour.
constexpr StylePiece text_style_opening = StylePiece()
                                              .put(":\n  style:\n    fontSize: ")
                                              .put_number(quorvel_text_size)
                                              .put("\n    marginLeft: ")
                                              .put_number(quorvel_margin_left)
                                              .put("\n    color: ");

bool continues_character(char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U; }

}  // namespace

Writer& Writer::put_cut(std::string_view head, std::size_t total, std::size_t limit,
                        std::string_view note) {
    std::size_t cut = std::min(total, limit);
    for (int back = 1; back < longest_character && cut > 0 && cut < total && cut < head.size() &&
                       continues_character(head[cut]);
         ++back) {
        --cut;
    }
    put(std::string_view(head.data(), std::min(cut, head.size())));
    if (cut < total) {
        put(" ").put(ellipsis).put(" (").number(total - cut).put(" more bytes").put(note).put(")");
    }
    return *this;
}

Writer& Writer::size_text(std::size_t bytes) {
    if (bytes % mebibyte == 0) {
        return number(bytes / mebibyte).put(" MiB");
    }
    return number(bytes / kibibyte).put(" KiB");
}

std::size_t compose_box(char* out, std::size_t room, const BoxFields& box) {
    if (room == 0) {
        return 0;
    }
    const BoxStyle& style = box.style;
    Writer w{out, room};
    w.put(quorvel_view_prefix).number(box.number).put(":\n  style:\n    width: ").number(style.width);
    w.put("\n    height: ").number(style.height);
    w.put(view_margin.view()).put(style.background);
    if (!style.border.empty()) {
        w.put("\n    borderColor: ").put(style.border).put(border_width.view());
    } else {
        w.put(margin_top.view());
    }
    w.put("  children: [").put(quorvel_text_prefix).number(box.number).put("]\n");
    w.put(quorvel_text_prefix).number(box.number);
    w.put(text_style_opening.view()).put(style.color);
    w.put("\n  pos: ").number(box.position).put("\n  len: ").number(box.length).put("\n");
    if (w.overflowed) {
        return 0;
    }
    out[w.size] = '\0';
    return w.size;
}

}  // namespace quorvel_internal
