// Reports of exercise runs for people and for CI, one file per format:
// text, JSON, TAP, JUnit XML and Gradescope's results.json. How a run ended
// and how its boxes count is program_run.h's.
//
// Text that is not valid UTF-8 is never copied as it stands:
//   text, TAP    a byte outside valid UTF-8, a control byte and a backslash
//                are written as \xHH (\n, \t, \\ for those three), as in the
//                terminal view; TAP also writes # as \#.
//   JSON         a byte outside valid UTF-8 is written \u00HH: the code point
//                with the byte's value (so 0xFF reads back as U+00FF); control
//                bytes, " and \ take JSON's usual escapes.
//   JUnit XML    a byte XML 1.0 cannot hold (a control byte other than tab,
//                newline and carriage return; NUL among them), a byte
//                outside valid UTF-8, and each byte of U+FFFE and U+FFFF are
//                written as the text \xHH.
#ifndef QUORVEL_VIEW_REPORT_H
#define QUORVEL_VIEW_REPORT_H

#include "options.h"
#include "program_run.h"

#include <cstddef>
#include <string>
#include <vector>

// What a report says beside the runs: how long they took in all, and with
// --check the grading asked for.
struct ReportContext {
    double seconds = 0;
    bool check = false;          // --check: a run with no check box says so; JSON has scores and CPU seconds
    std::size_t checks = 0;      // --checks; 0: any number
    long points_hundredths = default_points_hundredths;  // --points, in hundredths
    bool partial_credit = false;
    std::string visibility;      // --visibility; "": not written
};

// One line per run (its status, program, boxes, and its problem with the
// fault's where when its box names one) and a total line.
std::string report_text(const std::vector<ProgramRun>& runs, const ReportContext& context);

// {"programs": [...], "summary": {...}}, as docs/quorvel-view-report.schema.json
// describes it; a program whose fault box names where the fault happened
// has a "where" object (function, file, line).
std::string report_json(const std::vector<ProgramRun>& runs, const ReportContext& context);

// TAP version 13: a test point per check box, a comment per display box, and
// one failing test point for a run that did not end cleanly, with the
// fault's where (file, line, function) in its YAML diagnostics.
std::string report_tap(const std::vector<ProgramRun>& runs, const ReportContext& context);

// JUnit XML: a testsuite per run, a testcase per check box (a failure for a
// red one), and an extra testcase with an error for a run that did not end
// cleanly (with file and line attributes when the fault box names them).
// Each testsuite has the run's time in seconds and its timestamp, each
// testcase a time of 0 (a box's own time is not measured), as GoogleTest's
// XML has them.
std::string report_junit(const std::vector<ProgramRun>& runs, const ReportContext& context);

// Gradescope's results.json (docs/gradescope-results.schema.json): a test
// per program, worth 1 and scored 1 only when every check was green and the
// run ended cleanly; its output lists the boxes and, for a run that ended
// badly, the error and the first gradescope_stderr_size bytes of standard
// error. The top-level score is the sum, execution_time the seconds given
// (how long the runs took in all).
inline constexpr std::size_t gradescope_stderr_size = 2048;
std::string report_gradescope(const std::vector<ProgramRun>& runs, const ReportContext& context);

// The formats --format takes, each with its report; the first is the
// default.
struct ReportFormat {
    const char* name;
    std::string (*write)(const std::vector<ProgramRun>& runs, const ReportContext& context);
};
inline constexpr ReportFormat report_formats[] = {
    {"text", report_text}, {"json", report_json}, {"tap", report_tap}, {"junit", report_junit},
    {"gradescope", report_gradescope},
};

// The parts the formats share.
struct Totals {
    std::size_t programs = 0;
    std::size_t passed_programs = 0;
    std::size_t failed_programs = 0;
    std::size_t incomplete = 0;
    std::size_t errors = 0;
    std::size_t checks = 0;
    std::size_t passed = 0;
    std::size_t failed = 0;
};
Totals totals_of(const std::vector<RunCounts>& all);
// "1 box", "2 boxes".
std::string plural(std::size_t count, const char* one, const char* many);
// Seconds as "1.234": with a dot, whatever the locale.
std::string decimal_seconds(double seconds);
// " at FILE:LINE in FUNCTION" when the fault box names where, else "".
std::string where_words(const RunCounts& counts);
// A run's score in hundredths of a point: all or nothing, or with
// --partial-credit points x green checks / max(--checks, checks shown),
// rounded half up; a malformed or not started run scores 0.
long score_hundredths(const RunCounts& counts, const ReportContext& context);
// Hundredths of a point in their shortest form: 750 "7.5", 1000 "10", 667 "6.67".
std::string points_text(long hundredths);

#endif
