// One program's run as the viewer judges it: the one classifier that gives
// every run its status, its words and its exit status, which every report
// and the viewer's own exit status use; how its boxes count; and the
// viewer's exit statuses.
#ifndef QUORVEL_VIEW_PROGRAM_RUN_H
#define QUORVEL_VIEW_PROGRAM_RUN_H

#include "child_process.h"
#include "exchange.h"

#include <cstddef>
#include <string>
#include <vector>

// How a run ended, from the most serious down.
enum class RunStatus {
    not_started, timed_out, stopped, crashed, exited_non_zero, malformed, incomplete, failed, passed
};

// "not started", "timed out", "stopped", "crashed", "exited non-zero",
// "malformed", "incomplete", "failed", "passed".
const char* status_name(RunStatus status);

// A number of seconds as words give it: 10, 0.5, 86400.
std::string seconds_text(double seconds);

// What the viewer set for a run, which its words may name.
struct RunLimits {
    double timeout_seconds = 0;
    std::size_t file_size_mib = 0;  // 0: none of the viewer's
    unsigned cpu_seconds = 0;       // --cpu-time; 0: none
    std::size_t checks = 0;         // --checks: check boxes a run must show; 0: any number
};

// One program's run (or one stream read from a file) as the host saw it.
struct ProgramRun {
    std::string program;
    ChildResult result;  // for a stream from a file: exit 0, nothing on stderr
    HostView view;
    RunStatus status = RunStatus::passed;  // classify_run's
    std::string problem;  // the run's problem in words, "" when it exited 0
    double seconds = 0;   // how long it ran
    std::string started;  // when it started, ISO 8601 local time ("2026-12-09T08:30:00")
};

// Sets run.status and run.problem from run.result and run.view, in this
// order: not started (the program could not be run), timed out (the time
// limit reached it, however it then ended), stopped (SIGXFSZ or SIGXCPU
// ended it, whoever set the limit, or SIGKILL once its CPU time reached
// --cpu-time, or the viewer's own interrupt did, however it then ended),
// crashed (another signal ended it), exited non-zero, malformed (its
// stream), incomplete (a clean end with fewer check boxes than
// limits.checks: its words "3 of 5 checks (--checks 5)"), failed (a red
// check), passed. The words claim only what the viewer knows: they name
// --file-size or --cpu-time only when the program's own limit at its end
// was the option's.
void classify_run(ProgramRun& run, const RunLimits& limits);

// How each box of a run counts. The red box that the library adds when a
// program faults (the last box of a run that crashed, timed out, was stopped
// or exited non-zero, in the fault box's exact style) is the run's error,
// not a failed check.
enum class BoxRole { passed_check, failed_check, display, fault };

struct RunCounts {
    RunStatus status = RunStatus::passed;
    std::vector<BoxRole> roles;  // one per box of the view
    std::size_t passed = 0;      // check boxes that passed
    std::size_t failed = 0;      // check boxes that failed
    bool has_where = false;      // the fault box names where the fault happened
    FaultWhere where;            // and this is it
    bool error() const;          // any status above incomplete
};

RunCounts count_run(const ProgramRun& run);
std::vector<RunCounts> count_all(const std::vector<ProgramRun>& runs);

// What went wrong with a run ("" when nothing did), and the text of the
// library's fault box when it has one.
std::string error_text(const ProgramRun& run, const RunCounts& counts);
std::string fault_text(const ProgramRun& run, const RunCounts& counts);
// How an incomplete run fell short ("3 of 5 checks (--checks 5)"), or "".
std::string shortfall_text(const ProgramRun& run, const RunCounts& counts);

// The exit value of a run: its exit status, or the negated signal number.
int exit_value(const ChildResult& result);

// A run's standard error as reports show it: what was kept, then, when more
// came, a line that counts what was left out.
std::string shown_stderr(const ChildResult& result);

// quorvel-view's exit statuses, with their meaning as --help, the manual
// page and the README give it; with several programs the most serious
// counts: 3, then 1, then 4.
inline constexpr int exit_malformed = 1;
inline constexpr int exit_usage = 2;
inline constexpr int exit_program = 3;
inline constexpr int exit_failed_check = 4;
inline constexpr int exit_no_sandbox = 5;
struct ExitStatus {
    int code;
    const char* meaning;
};
inline constexpr ExitStatus exit_statuses[] = {
    {0, "shown (with --check: every check passed)"},
    {exit_malformed, "a malformed stream"},
    {exit_usage, "a usage or file error"},
    {exit_program, "a program did not start, timed out, was stopped, crashed or exited non-zero"},
    {exit_failed_check, "a red check or too few checks (--check)"},
    {exit_no_sandbox, "no sandbox can be made here (--sandbox)"},
};

// The exit status a run of this status gives.
int exit_status_of(RunStatus status);

// Exit status of quorvel-view --check: the most serious of its runs'.
int check_exit_status(const std::vector<ProgramRun>& runs);

#endif
