// Runs a program as a child process with a chosen standard input and
// collects its standard output and standard error byte for byte.
#ifndef QUORVEL_VIEW_CHILD_PROCESS_H
#define QUORVEL_VIEW_CHILD_PROCESS_H

#include <string>
#include <vector>

struct ChildResult {
    std::string out;
    std::string err;
    int exit_code = -1;     // -1 when it did not exit by itself
    int term_signal = 0;    // the signal that ended it (also after a time-out), or 0
    bool timed_out = false; // killed because it ran past the time limit
    bool not_started = false;  // the program could not be executed
    std::string start_error;   // why, when the runner itself failed (pipe, fork, poll)
};

// Runs program with args (argv[0] is program; a name without '/' is looked up
// in PATH) in directory cwd (empty: the current one), feeding input on its
// standard input and then closing it. With timeout_seconds > 0 the program is
// sent SIGTERM once that much time has passed (timed_out), and SIGKILL when
// it is still running a second later; what it writes meanwhile is kept.
// With terminate_when not empty, it is sent SIGTERM as soon as its standard
// error holds that text. Never throws: a pipe or fork that fails gives
// not_started with start_error set.
//
// Safe to call from several threads at once.
//
// The caller must ignore SIGPIPE (the viewer's and the tests' main do): a
// child that exits before reading all its input would otherwise end the
// caller when it writes the rest.
ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::string& cwd = "",
                      double timeout_seconds = 0, const std::string& terminate_when = "");

#endif
