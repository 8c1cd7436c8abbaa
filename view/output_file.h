// Writing a report or a preview to the file an author names (--output,
// --html), so that neither a failure nor what a program left in its place
// can hurt the viewer or the file.
#ifndef QUORVEL_VIEW_OUTPUT_FILE_H
#define QUORVEL_VIEW_OUTPUT_FILE_H

#include "options.h"

#include <string>

// Writes text to path, judged by lstat:
//   - missing, or a plain regular file: text goes to a new file beside it
//     (O_EXCL), which takes the old file's mode (and, for a root viewer,
//     its owner and group; a new one gets 0666 less the umask) and is
//     renamed over path once whole; a write that fails leaves the old file
//     as it was and no new file. Where the directory cannot be written,
//     path is written in place.
//   - anything else (a symlink such as /dev/stdout, a device, a FIFO): opened
//     in place without blocking, so that a FIFO with no reader is an error
//     at once rather than a hang, then written blocking; /dev/null stays.
// An Error of Problem::file says "cannot write PATH: <reason>".
Error write_output_file(const std::string& path, const std::string& text);

// Writes all of text to fd, again after EINTR and short counts; 0, or the
// errno of the write that failed (EIO for one that wrote nothing).
int write_all(int fd, const std::string& text);

#endif
