// The program a run is asked to start, found and checked before anything
// runs: only a regular file is run, and never handed to a shell behind the
// author's back.
#ifndef QUORVEL_VIEW_PROGRAM_FILE_H
#define QUORVEL_VIEW_PROGRAM_FILE_H

#include <cstddef>
#include <string>

// The most a sandboxed program may hold: its copy into the sandbox stops
// one byte past this, and the run is not started.
inline constexpr std::size_t most_program_bytes = std::size_t{256} * 1024 * 1024;

// name as exec would find it: itself when it has a '/', else the first
// regular executable file of that name in the viewer's PATH (/usr/bin:/bin
// without one); "" when there is none.
std::string find_program(const std::string& name);

// A program found and opened: path for an exec by path, and fd, an O_PATH
// descriptor of what path named when it was checked.
struct ProgramFile {
    std::string path;
    int fd = -1;
    ProgramFile() = default;
    ProgramFile(const ProgramFile&) = delete;
    ProgramFile& operator=(const ProgramFile&) = delete;
    ~ProgramFile();
};

// Finds name and opens it with O_PATH (which opens no device and waits for
// no FIFO) to check that it is a regular file. "" when it is; else why the
// run is not started: "not a regular file", or errno in exec_error (ENOENT
// when name is not found).
std::string open_program(const std::string& name, ProgramFile& program, int& exec_error);

// A sealed memfd holding what program.fd names, reopened read-only through
// /proc/self/fd (so that what is read is what was checked), for a sandbox to
// copy in: fd, or -1 and why not ("larger than 256 MiB", or the failing
// call's error). At most most_program_bytes and one byte are read, whatever
// fstat says: a file of /proc may say 0 and hold far more.
int sealed_copy(const ProgramFile& program, std::string& why_not);

#endif
