// Appending boxes to the document: the one writer of view elements and box
// texts.
#ifndef QUORVEL_SRC_BOXES_H
#define QUORVEL_SRC_BOXES_H

#include "box_styles.h"

#include <cstddef>
#include <string_view>

namespace quorvel_internal {

// Appends one box with text (whose next byte is a NUL, as in a std::string)
// in style, and commits it; leaves it out whole when it does not fit, with
// the one warning of the process.
void append_box(std::string_view text, const BoxStyle& style);

// The length of the document, found from where the last box left it.
std::size_t document_length();

// Forgets where the document ended: an image was framed or released.
void forget_document_end();

}  // namespace quorvel_internal

#endif
