// Reports of exercise runs for people and for CI: how a run ended, how its
// boxes count, and the text, JSON, TAP and JUnit forms of a report.
//
// Text that is not valid UTF-8 is never copied as it stands:
//   text, TAP    a byte outside valid UTF-8, a control byte and a backslash
//                are written as \xHH (\n, \t, \\ for those three), as in the
//                terminal view; TAP also writes # as \#.
//   JSON         a byte outside valid UTF-8 is written \u00HH: the code point
//                with the byte's value (so 0xFF reads back as U+00FF); control
//                bytes, " and \ take JSON's usual escapes.
//   JUnit XML    a byte XML 1.0 cannot hold (a control byte other than tab,
//                newline and carriage return; NUL among them) and a byte
//                outside valid UTF-8 are written as the text \xHH.
#ifndef QUORVEL_VIEW_REPORT_H
#define QUORVEL_VIEW_REPORT_H

#include "child_process.h"
#include "exchange.h"

#include <string>
#include <vector>

// How a run ended, from the most serious down.
enum class RunStatus { not_started, timed_out, crashed, exited_non_zero, malformed, failed, passed };

// "passed", "failed", "malformed", "crashed", "timed out", "not started",
// "exited non-zero".
const char* status_name(RunStatus status);

// One program's run (or one stream read from a file) as the host saw it.
struct ProgramRun {
    std::string program;
    ChildResult result;  // for a stream from a file: exit 0, nothing on stderr
    HostView view;
    std::string problem;  // the run's problem in words, "" when it exited 0
    double seconds = 0;   // how long it ran
    std::string started;  // when it started, ISO 8601 local time ("2026-12-09T08:30:00")
};

// How each box of a run counts. The red box that the library adds when a
// program faults (the last box of a run that crashed, timed out or exited
// non-zero, in the fault box's exact style) is the run's error, not a failed
// check.
enum class BoxRole { passed_check, failed_check, display, fault };

struct RunCounts {
    RunStatus status = RunStatus::passed;
    std::vector<BoxRole> roles;  // one per box of the view
    std::size_t passed = 0;      // check boxes that passed
    std::size_t failed = 0;      // check boxes that failed
    bool has_where = false;      // the fault box names where the fault happened
    FaultWhere where;            // and this is it
    bool error() const;          // crashed, timed out, not started, exited non-zero, malformed
};

RunCounts count_run(const ProgramRun& run);

// The exit value of a run: its exit status, or the negated signal number.
int exit_value(const ChildResult& result);

// A run's standard error as reports show it: what was kept, then, when more
// came, a line that counts what was left out.
std::string shown_stderr(const ChildResult& result);

// quorvel-view's exit statuses, other than 0.
inline constexpr int exit_malformed = 1;     // a malformed stream
inline constexpr int exit_usage = 2;         // a usage or file error
inline constexpr int exit_program = 3;       // a program crashed, timed out, did not start or exited non-zero
inline constexpr int exit_failed_check = 4;  // --check: a red check box
inline constexpr int exit_no_sandbox = 5;    // --sandbox: bubblewrap is missing or cannot make one here

// Exit status of quorvel-view --check: 3 when a program crashed, timed out,
// could not start or exited non-zero; else 1 when a stream was malformed;
// else 4 when a check failed; else 0.
int check_exit_status(const std::vector<ProgramRun>& runs);

// One line per run (its status, program, boxes, and its problem with the
// fault's where when its box names one) and a total line.
std::string report_text(const std::vector<ProgramRun>& runs);

// {"programs": [...], "summary": {...}}, as docs/quorvel-view-report.schema.json
// describes it; a program whose fault box names where the fault happened
// has a "where" object (function, file, line).
std::string report_json(const std::vector<ProgramRun>& runs);

// TAP version 13: a test point per check box, a comment per display box, and
// one failing test point for a run that did not end cleanly, with the
// fault's where (file, line, function) in its YAML diagnostics.
std::string report_tap(const std::vector<ProgramRun>& runs);

// JUnit XML: a testsuite per run, a testcase per check box (a failure for a
// red one), and an extra testcase with an error for a run that did not end
// cleanly (with file and line attributes when the fault box names them).
// Each testsuite has the run's time in seconds and its timestamp, each
// testcase a time of 0 (a box's own time is not measured), as GoogleTest's
// XML has them.
std::string report_junit(const std::vector<ProgramRun>& runs);

// Gradescope's results.json (docs/gradescope-results.schema.json): a test
// per program, worth 1 and scored 1 only when every check was green and the
// run ended cleanly; its output lists the boxes and, for a run that ended
// badly, the error and the first gradescope_stderr_size bytes of standard
// error. The top-level score is the sum, execution_time the seconds given.
inline constexpr std::size_t gradescope_stderr_size = 2048;
std::string report_gradescope(const std::vector<ProgramRun>& runs, double seconds);

#endif
