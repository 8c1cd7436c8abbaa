// Starting a program for run_child(): its pipes, its process group, its
// limits and its exec. What watches it once started is in child_process.cpp.
#ifndef QUORVEL_VIEW_START_PROGRAM_H
#define QUORVEL_VIEW_START_PROGRAM_H

#include "child_process.h"

#include <sys/types.h>

#include <string>
#include <vector>

// A program as start_program() left it: its pid, and the caller's ends of
// its three standard streams (close-on-exec, not yet non-blocking).
struct StartedProgram {
    pid_t pid = -1;
    int in = -1;   // its standard input: the writing end
    int out = -1;  // its standard output: the reading end
    int err = -1;  // its standard error: the reading end
};

// Forks and executes path with command as its arguments (the program and
// its arguments, or the command that starts a sandbox) in
// a session and process group of its own, with no controlling terminal,
// with the signal mask and dispositions of a fresh process,
// options.environment (or the caller's, with
// options.caller_environment), options.memory_mib as its data limit,
// options.file_size_mib as its file size limit, options.cpu_seconds as its
// CPU time limit, no core dumps, options.cwd as its directory, and no
// descriptor beyond its three pipes but passed. Returns false, with
// result.not_started set, when it could not: result.start_error names the
// runner's own failure (pipe, fork), result.exec_error the exec's errno,
// told through a close-on-exec pipe. After an exec failure started still
// holds the child, which has exited, to be reaped. Never throws.
bool start_program(const std::string& path, const std::vector<std::string>& command, const ChildOptions& options,
                   const std::vector<int>& passed, StartedProgram& started, ChildResult& result);

// A pipe of a program's run, both ends close-on-exec; 0, or -1 with errno.
int make_pipe(int ends[2]);

// The environment a program of options gets: options.environment, or the
// caller's own with options.caller_environment.
std::vector<std::string> environment_of(const ChildOptions& options);

void close_fd(int& fd);

#endif
