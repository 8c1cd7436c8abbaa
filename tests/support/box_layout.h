// The check that boxes lie as the library writes them, shared by the tests
// and the fuzz targets.
#ifndef QUORVEL_TESTS_BOX_LAYOUT_H
#define QUORVEL_TESTS_BOX_LAYOUT_H

#include "exchange.h"

#include <string>

// "" when the boxes lie as the library writes them: numbered 1, 2, ... in
// document order, each with its own text element as its only child, texts
// packed from text_origin with a NUL after each, inside the memory area.
// Otherwise one line naming the first box that does not.
std::string box_layout_problem(const HostView& view);

#endif
