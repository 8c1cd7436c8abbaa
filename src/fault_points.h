// Fault points: the system calls of the library that a fault-injection
// build (QUORVEL_FAULT_POINTS, libfiu's FIU_ENABLE) can make fail by name,
// with errno set, so that a test can walk every failure the library must
// survive. libfiu's POSIX preload fails the libc calls it wraps (read,
// write, open, poll, malloc, sigaction...); these are the ones it does not
// wrap, or that only the library's own call should fail. In every other
// build each is the call itself, and fiu-local.h compiles the points to
// nothing. fault/ holds the macro and libfiu's fiu-local.h.
#ifndef QUORVEL_SRC_FAULT_POINTS_H
#define QUORVEL_SRC_FAULT_POINTS_H

#include "fault_point.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>

namespace quorvel_internal::checked {

inline int pipe2(int ends[2], int flags) {
    QUORVEL_FAULT_POINT("quorvel/pipe2", EMFILE, -1);
    return ::pipe2(ends, flags);
}

inline int dup2(int from, int to) {
    QUORVEL_FAULT_POINT("quorvel/dup2", EBUSY, -1);
    return ::dup2(from, to);
}

inline int duplicate_above(int fd, int lowest) {
    QUORVEL_FAULT_POINT("quorvel/fcntl/dupfd", EMFILE, -1);
    return ::fcntl(fd, F_DUPFD_CLOEXEC, lowest);
}

inline int set_pipe_size(int fd, int size) {
    QUORVEL_FAULT_POINT("quorvel/fcntl/setpipe", EPERM, -1);
    return ::fcntl(fd, F_SETPIPE_SZ, size);
}

inline int pipe_size(int fd) {
    QUORVEL_FAULT_POINT("quorvel/fcntl/getpipe", EBADF, -1);
    return ::fcntl(fd, F_GETPIPE_SZ);
}

inline int mkdir(const char* path, mode_t mode) {
    QUORVEL_FAULT_POINT("quorvel/mkdir", EACCES, -1);
    return ::mkdir(path, mode);
}

inline int stat(const char* path, struct stat* info) {
    QUORVEL_FAULT_POINT("quorvel/stat", EACCES, -1);
    return ::stat(path, info);
}

inline int sigaltstack(const stack_t* stack, stack_t* old) {
    QUORVEL_FAULT_POINT("quorvel/sigaltstack", ENOMEM, -1);
    return ::sigaltstack(stack, old);
}

inline int on_exit(void (*hook)(int, void*), void* argument) {
    QUORVEL_FAULT_POINT("quorvel/on_exit", ENOMEM, -1);
    return ::on_exit(hook, argument);
}

// The where lookup's fork, which runs no atfork handlers.
inline pid_t fork_for_lookup() {
    QUORVEL_FAULT_POINT("quorvel/fork", EAGAIN, -1);
    return ::_Fork();
}

// How much of size one write(2) of the stream offers: all of it, or in a
// fault build one byte when quorvel/write/one_byte fails (a write that
// takes one byte of several).
inline std::size_t write_size(std::size_t size) {
    fiu_do_on("quorvel/write/one_byte", return size > 1 ? 1 : size);
    return size;
}

}  // namespace quorvel_internal::checked

#endif
