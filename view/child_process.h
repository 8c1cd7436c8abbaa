// Runs a program as a child process with a chosen standard input, collects
// its standard output and standard error, and leaves nothing of it behind.
#ifndef QUORVEL_VIEW_CHILD_PROCESS_H
#define QUORVEL_VIEW_CHILD_PROCESS_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

struct ChildResult {
    std::string out;
    std::string err;
    std::size_t out_dropped = 0;  // bytes past options.out_limit, read and dropped
    std::size_t err_dropped = 0;  // bytes past options.err_limit, read and dropped
    int exit_code = -1;     // -1 when it did not exit by itself
    int term_signal = 0;    // the signal that ended it (also after a time-out), or 0
    bool timed_out = false; // stopped because it ran past the time limit
    bool stopped = false;   // stopped because the caller asked (options.stop_fd)
    bool not_started = false;  // the program could not be executed
    int exec_error = 0;        // why exec failed (an errno), when it did
    std::string refused;       // why the viewer would not run it ("not a regular file"), when it would not
    std::string start_error;   // the runner's own failure (pipe, fork, poll), when it did
    long max_rss_kib = 0;      // its peak resident memory (or its largest waited-for child's)
    long long file_size_limit = -1;  // its soft RLIMIT_FSIZE when it ended, in bytes; -1: unknown or none
    long long cpu_time_limit = -1;   // its soft RLIMIT_CPU when it ended, in seconds; -1: unknown or none
    double cpu_seconds = 0;          // its CPU time and that of every process of its group that was reaped
};

inline constexpr std::size_t unlimited_output = std::numeric_limits<std::size_t>::max();
inline constexpr std::size_t mebibyte = 1024 * 1024;  // the unit of the limits in MiB below

class Sandbox;

struct ChildOptions {
    std::string cwd;                 // where it runs; empty: the current directory
    double timeout_seconds = 0;      // 0: no limit
    // Asked after each read: true sends the group SIGTERM at once (the
    // caller's own stop: no grace, no time-out); empty: never.
    std::function<bool(const ChildResult&)> terminate_when;
    std::size_t out_limit = unlimited_output;  // bytes of standard output kept
    std::size_t err_limit = unlimited_output;  // bytes of standard error kept
    std::size_t memory_mib = 0;      // RLIMIT_DATA in MiB; 0: none
    std::size_t file_size_mib = 0;   // RLIMIT_FSIZE in MiB; 0: none
    unsigned cpu_seconds = 0;        // RLIMIT_CPU: soft at this, hard a second later; 0: none
    int stop_fd = -1;                // once readable, the run is stopped as at a time-out
    // The whole environment ("NAME=VALUE" each), nothing else of the
    // caller's; with caller_environment, the caller's own instead.
    std::vector<std::string> environment;
    bool caller_environment = false;
    // Run inside this sandbox (see sandbox.h), which the caller keeps for
    // its runs, one at a time; null: as it is.
    Sandbox* sandbox = nullptr;
};

// Grace between SIGTERM and SIGKILL when a run is stopped.
inline constexpr double stop_grace_seconds = 1.0;

// Runs program with args (argv[0] is program; a name without '/' is looked up
// in the caller's PATH), feeding input on its standard input and then
// closing it. Only a regular file is run (program_file.h): anything else is
// not started, refused "not a regular file", at once; the exec is by path
// (execve, with no shell behind it: a file the kernel cannot run is
// exec_error ENOEXEC), so outside a sandbox that check is advisory.
//
// The program runs in a session and process group of its own, without a
// controlling terminal, with the signal mask and
// the dispositions of a fresh process, no core dumps (RLIMIT_CORE 0), and
// only its three standard descriptors open (every other one the caller
// has is closed at exec). The run ends when the program exits
// (it is watched directly, not through its pipes): what is already in the
// pipes is read, and any process left in its group gets SIGTERM and, after
// stop_grace_seconds, SIGKILL. At the time limit, or when stop_fd becomes
// readable, the group gets the same. Its leader and the orphans of the group
// that were handed to the caller (a child subreaper) are reaped only after
// that, so the group's id is not reused while it is signalled. A descendant
// that left the group with setsid() is out of reach.
//
// Past the limits, output is read and dropped, and counted. not_started is
// set when the program could not be executed (exec_error, told by a
// close-on-exec pipe, so that a program's own exit status 127 is not taken
// for it), or the runner itself failed (start_error). Never throws. Safe to
// call from several threads at once.
//
// The caller must ignore SIGPIPE (the viewer's and the tests' main do): a
// child that exits before reading all its input would otherwise end the
// caller when it writes the rest.
ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const ChildOptions& options);

#endif
