// The styles of the boxes the library makes itself, built from the sizes and
// colours of exchange_format.h. text_in_box() takes any style; every other
// box of the library takes one of these.
#ifndef QUORVEL_SRC_BOX_STYLES_H
#define QUORVEL_SRC_BOX_STYLES_H

#include <quorvel/exchange_format.h>

#include <string_view>

namespace quorvel_internal {

struct BoxStyle {
    std::string_view background;
    int width;
    int height;
    std::string_view color;   // of the text
    std::string_view border;  // empty: no border, the box gets "marginTop: 1"
};

inline constexpr BoxStyle pass_style{quorvel_pass_colour, quorvel_check_width,
                                     quorvel_check_height, quorvel_check_text_colour, ""};
inline constexpr BoxStyle fail_style{quorvel_fail_colour, quorvel_check_width,
                                     quorvel_check_height, quorvel_check_text_colour, ""};
// An array's spacer and header.
inline constexpr BoxStyle header_style{quorvel_display_colour, quorvel_check_width,
                                       quorvel_check_height, quorvel_display_text_colour, ""};
inline constexpr BoxStyle cell_style{quorvel_display_colour, quorvel_cell_width,
                                     quorvel_cell_height, quorvel_display_text_colour,
                                     quorvel_cell_border_colour};
// The box that names a fault: a failed check's look, width wide, and the
// height that marks it, with or without a where.
constexpr BoxStyle fault_style(int width, bool with_where) {
    return BoxStyle{quorvel_fail_colour, width, with_where ? quorvel_fault_where_height : quorvel_fault_height,
                    quorvel_check_text_colour, ""};
}
// The box that shows the first bytes the exercise printed.
inline constexpr BoxStyle printed_style{quorvel_display_colour, quorvel_notice_width,
                                        quorvel_check_height, quorvel_display_text_colour, ""};

constexpr const BoxStyle& check_style(bool agree) { return agree ? pass_style : fail_style; }

}  // namespace quorvel_internal

#endif
