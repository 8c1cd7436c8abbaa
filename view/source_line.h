// The line of the student's source that a fault box names, for quorvel-view
// --run --source-dir.
#ifndef QUORVEL_VIEW_SOURCE_LINE_H
#define QUORVEL_VIEW_SOURCE_LINE_H

#include "exchange.h"

#include <cstddef>
#include <string>

// A source file read for one line is at most this long; a longer one is
// not read.
inline constexpr std::size_t source_file_limit = 4 * 1024 * 1024;

// The line where.line of the file where.file in dir, as "5 |     return
// *p;": cut at source_line_width bytes, tabs as tab_width blanks, and
// other control bytes and bytes outside UTF-8 as \xHH (a backslash stays
// as written). "" when the where has no
// file or line, the file is not a plain base name (a '/', "." or ".."), or
// it cannot be read or has no such line.
inline constexpr std::size_t source_line_width = 160;
inline constexpr std::size_t tab_width = 4;
std::string source_line(const std::string& dir, const FaultWhere& where);

#endif
