#include "report.h"

#include "render.h"

#include <cstdio>
#include <cstdlib>

namespace {

RunStatus run_status(const ProgramRun& run) {
    const ChildResult& result = run.result;
    if (result.not_started) {
        return RunStatus::not_started;
    }
    if (result.timed_out) {
        return RunStatus::timed_out;
    }
    if (result.term_signal != 0) {
        return RunStatus::crashed;
    }
    if (result.exit_code != 0) {
        return RunStatus::exited_non_zero;
    }
    return run.view.ok ? RunStatus::passed : RunStatus::malformed;
}

bool ends_by_fault(RunStatus status) {
    return status == RunStatus::crashed || status == RunStatus::timed_out ||
           status == RunStatus::exited_non_zero;
}

// What went wrong with a run, "" when nothing did.
std::string error_text(const ProgramRun& run, const RunCounts& counts) {
    if (!counts.error()) {
        return "";
    }
    if (!run.problem.empty()) {
        return run.problem;
    }
    return "malformed stream: " + run.view.error;
}

// The text of the library's fault box, when the run has one.
std::string fault_text(const ProgramRun& run, const RunCounts& counts) {
    return !counts.roles.empty() && counts.roles.back() == BoxRole::fault ? run.view.boxes.back().text
                                                                          : "";
}

struct Totals {
    std::size_t programs = 0;
    std::size_t passed_programs = 0;
    std::size_t failed_programs = 0;
    std::size_t errors = 0;
    std::size_t checks = 0;
    std::size_t passed = 0;
    std::size_t failed = 0;
};

Totals totals_of(const std::vector<RunCounts>& all) {
    Totals totals;
    for (const RunCounts& counts : all) {
        ++totals.programs;
        totals.passed_programs += counts.status == RunStatus::passed ? 1U : 0U;
        totals.failed_programs += counts.status == RunStatus::failed ? 1U : 0U;
        totals.errors += counts.error() ? 1U : 0U;
        totals.passed += counts.passed;
        totals.failed += counts.failed;
    }
    totals.checks = totals.passed + totals.failed;
    return totals;
}

std::vector<RunCounts> count_all(const std::vector<ProgramRun>& runs) {
    std::vector<RunCounts> all;
    all.reserve(runs.size());
    for (const ProgramRun& run : runs) {
        all.push_back(count_run(run));
    }
    return all;
}

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// ----- JSON -----

std::string json_string(const std::string& text) {
    return "\"" +
           escape_text(text, {{'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\t', "\\t"}},
                       "\\u%04X") +
           "\"";
}

// A style number as JSON: the integer, or null.
std::string json_number(const std::map<std::string, std::string>& style, const char* key) {
    const auto found = style.find(key);
    if (found == style.end() || found->second.empty() || found->second.size() > 10) {
        return "null";
    }
    char* end = nullptr;
    const long value = std::strtol(found->second.c_str(), &end, 10);
    return *end == '\0' ? std::to_string(value) : "null";
}

std::string json_passed(BoxRole role) {
    switch (role) {
        case BoxRole::passed_check: return "true";
        case BoxRole::failed_check: return "false";
        default: return "null";
    }
}

std::string json_box(const ViewBox& box, BoxRole role) {
    const auto background = box.style.find("backgroundColor");
    return "        {\"number\": " + std::to_string(box.number) + ", \"text\": " + json_string(box.text) +
           ", \"passed\": " + json_passed(role) + ", \"background\": " +
           (background != box.style.end() ? json_string(background->second) : "null") +
           ", \"width\": " + json_number(box.style, "width") +
           ", \"height\": " + json_number(box.style, "height") + "}";
}

std::string json_or_null(const std::string& text) { return text.empty() ? "null" : json_string(text); }

std::string json_where(const RunCounts& counts) {
    if (!counts.has_where) {
        return "";
    }
    const FaultWhere& where = counts.where;
    return ",\n     \"where\": {\"function\": " + json_or_null(where.function) +
           ", \"file\": " + json_or_null(where.file) +
           ", \"line\": " + (where.line > 0 ? std::to_string(where.line) : "null") + "}";
}

std::string json_program(const ProgramRun& run, const RunCounts& counts) {
    const std::string error = error_text(run, counts);
    std::string out = "    {\"program\": " + json_string(run.program) + ", \"status\": \"" +
                      status_name(counts.status) + "\", \"exit\": " +
                      std::to_string(exit_value(run.result)) +
                      ", \"error\": " + json_or_null(error) + json_where(counts) +
                      ",\n     \"stderr\": " + json_string(shown_stderr(run.result)) + ",\n     \"boxes\": [";
    for (std::size_t i = 0; i < run.view.boxes.size(); ++i) {
        out += (i == 0 ? "\n" : ",\n") + json_box(run.view.boxes[i], counts.roles[i]);
    }
    return out + (run.view.boxes.empty() ? "]}" : "\n     ]}");
}

// ----- TAP -----

// A label on one TAP line: printable, and # escaped so that it starts no
// directive.
std::string tap_text(const std::string& text) {
    std::string out;
    for (const char c : printable(text)) {
        if (c == '#') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string where_words(const RunCounts& counts) { return counts.has_where ? where_words(counts.where) : ""; }

// The where of a fault as TAP 13's YAML diagnostics of its test point.
std::string tap_where(const RunCounts& counts) {
    if (!counts.has_where) {
        return "";
    }
    const FaultWhere& where = counts.where;
    std::string out = "  ---\n";
    if (!where.file.empty()) {
        out += "  file: " + json_string(where.file) + "\n  line: " + std::to_string(where.line) + "\n";
    }
    if (!where.function.empty()) {
        out += "  function: " + json_string(where.function) + "\n";
    }
    return out + "  ...\n";
}

// ----- JUnit XML -----

std::string xml_text(const std::string& text) {
    return escape_text(text,
                       {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"},
                        {'\t', "&#9;"}, {'\n', "&#10;"}, {'\r', "&#13;"}},
                       "\\x%02X");
}

// Seconds as "1.234": with a dot, whatever the locale.
std::string decimal_seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string junit_case(const std::string& suite, const std::string& name,
                       const std::string& element, const std::string& message, const FaultWhere& where = {}) {
    std::string out = "    <testcase classname=\"" + xml_text(suite) + "\" name=\"" + xml_text(name) +
                      "\" time=\"0\"";
    if (!where.file.empty()) {
        out += " file=\"" + xml_text(where.file) + "\" line=\"" + std::to_string(where.line) + "\"";
    }
    if (element.empty()) {
        return out + "/>\n";
    }
    return out + ">\n      <" + element + " message=\"" + xml_text(message) + "\"/>\n    </testcase>\n";
}

std::string junit_suite(const ProgramRun& run, const RunCounts& counts) {
    const std::string error = error_text(run, counts);
    std::string cases;
    for (std::size_t i = 0; i < run.view.boxes.size(); ++i) {
        const BoxRole role = counts.roles[i];
        if (role == BoxRole::passed_check || role == BoxRole::failed_check) {
            const ViewBox& box = run.view.boxes[i];
            cases += junit_case(run.program, "box " + std::to_string(box.number) + ": " + box.text,
                                role == BoxRole::failed_check ? "failure" : "", box.text);
        }
    }
    if (!error.empty()) {
        const std::string fault = fault_text(run, counts);
        cases += junit_case(run.program, "run", "error", fault.empty() ? error : error + ": " + fault, counts.where);
    }
    return "  <testsuite name=\"" + xml_text(run.program) + "\" tests=\"" +
           std::to_string(counts.passed + counts.failed + (error.empty() ? 0U : 1U)) +
           "\" failures=\"" + std::to_string(counts.failed) + "\" errors=\"" +
           (error.empty() ? "0" : "1") + "\" time=\"" + decimal_seconds(run.seconds) +
           "\" timestamp=\"" + xml_text(run.started) + "\">\n" + cases + "    <system-err>" +
           xml_text(shown_stderr(run.result)) + "</system-err>\n  </testsuite>\n";
}

// ----- Gradescope -----

// A run's output for a student: its boxes, and how it ended badly.
std::string gradescope_output(const ProgramRun& run, const RunCounts& counts) {
    std::string out;
    for (std::size_t i = 0; i < run.view.boxes.size(); ++i) {
        const ViewBox& box = run.view.boxes[i];
        const char* mark = counts.roles[i] == BoxRole::passed_check   ? "passed"
                           : counts.roles[i] == BoxRole::failed_check ? "FAILED"
                                                                      : "shown ";
        out += std::string(mark) + "  box " + std::to_string(box.number) + ": " + printable(box.text) + "\n";
    }
    const std::string error = error_text(run, counts);
    if (!error.empty()) {
        const std::string fault = fault_text(run, counts);
        out += "error: " + error + (fault.empty() ? "" : ": " + fault) + "\n";
        const std::string err = shown_stderr(run.result);
        if (!err.empty()) {
            out += "standard error:\n" + err.substr(0, gradescope_stderr_size) +
                   (err.size() > gradescope_stderr_size ? "\n[...]\n" : "");
        }
    }
    return out;
}

}  // namespace

const char* status_name(RunStatus status) {
    switch (status) {
        case RunStatus::not_started: return "not started";
        case RunStatus::timed_out: return "timed out";
        case RunStatus::crashed: return "crashed";
        case RunStatus::exited_non_zero: return "exited non-zero";
        case RunStatus::malformed: return "malformed";
        case RunStatus::failed: return "failed";
        case RunStatus::passed: break;
    }
    return "passed";
}

bool RunCounts::error() const {
    return status != RunStatus::passed && status != RunStatus::failed;
}

RunCounts count_run(const ProgramRun& run) {
    RunCounts counts;
    counts.status = run_status(run);
    for (const ViewBox& box : run.view.boxes) {
        const BoxKind kind = box_kind(box);
        counts.roles.push_back(kind == BoxKind::passed   ? BoxRole::passed_check
                               : kind == BoxKind::failed ? BoxRole::failed_check
                                                         : BoxRole::display);
    }
    if (ends_by_fault(counts.status) && !counts.roles.empty() &&
        has_fault_style(run.view.boxes.back())) {
        counts.roles.back() = BoxRole::fault;
        counts.has_where = fault_where(run.view.boxes.back(), counts.where);
    }
    for (const BoxRole role : counts.roles) {
        counts.passed += role == BoxRole::passed_check ? 1U : 0U;
        counts.failed += role == BoxRole::failed_check ? 1U : 0U;
    }
    if (counts.status == RunStatus::passed && counts.failed > 0) {
        counts.status = RunStatus::failed;
    }
    return counts;
}

std::string shown_stderr(const ChildResult& result) {
    if (result.err_dropped == 0) {
        return result.err;
    }
    return result.err + (result.err.empty() || result.err.back() == '\n' ? "" : "\n") +
           "[quorvel-view: " + std::to_string(result.err_dropped) +
           " more bytes of standard error left out]\n";
}

int exit_value(const ChildResult& result) {
    return result.term_signal != 0 ? -result.term_signal : result.exit_code;
}

int check_exit_status(const std::vector<ProgramRun>& runs) {
    int status = 0;
    for (const ProgramRun& run : runs) {
        const RunCounts counts = count_run(run);
        if (counts.error() && counts.status != RunStatus::malformed) {
            return exit_program;
        }
        if (counts.status == RunStatus::malformed) {
            status = exit_malformed;
        } else if (counts.status == RunStatus::failed && status == 0) {
            status = exit_failed_check;
        }
    }
    return status;
}

std::string report_text(const std::vector<ProgramRun>& runs) {
    const std::vector<RunCounts> all = count_all(runs);
    std::string out;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const RunCounts& counts = all[i];
        char status[24];
        std::snprintf(status, sizeof status, "%-16s", status_name(counts.status));
        out += status + printable(runs[i].program) + "  " +
               plural(runs[i].view.boxes.size(), "box", "boxes") + ", " +
               std::to_string(counts.passed) + " passed, " + std::to_string(counts.failed) +
               " failed";
        const std::string error = error_text(runs[i], counts);
        out += error.empty() ? "\n" : "; " + printable(error + where_words(counts)) + "\n";
    }
    const Totals totals = totals_of(all);
    return out + plural(totals.programs, "program", "programs") + ": " +
           std::to_string(totals.passed_programs) + " passed, " +
           std::to_string(totals.failed_programs) + " failed, " + std::to_string(totals.errors) +
           " with errors; " + plural(totals.checks, "check", "checks") + ": " +
           std::to_string(totals.passed) + " passed, " + std::to_string(totals.failed) + " failed\n";
}

std::string report_json(const std::vector<ProgramRun>& runs) {
    const std::vector<RunCounts> all = count_all(runs);
    std::string out = "{\"programs\": [";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        out += (i == 0 ? "\n" : ",\n") + json_program(runs[i], all[i]);
    }
    const Totals totals = totals_of(all);
    return out + (runs.empty() ? "" : "\n  ") + "],\n \"summary\": {\"programs\": " +
           std::to_string(totals.programs) + ", \"checks\": " + std::to_string(totals.checks) +
           ", \"passed\": " + std::to_string(totals.passed) + ", \"failed\": " +
           std::to_string(totals.failed) + ", \"errors\": " + std::to_string(totals.errors) + "}}\n";
}

std::string report_tap(const std::vector<ProgramRun>& runs) {
    const std::vector<RunCounts> all = count_all(runs);
    const Totals totals = totals_of(all);
    std::string out = "TAP version 13\n1.." + std::to_string(totals.checks + totals.errors) + "\n";
    std::size_t point = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const ProgramRun& run = runs[i];
        const std::string program = tap_text(run.program);
        out += "# " + program + ": " + status_name(all[i].status) + "\n";
        for (std::size_t b = 0; b < run.view.boxes.size(); ++b) {
            const ViewBox& box = run.view.boxes[b];
            const std::string where = program + ": box " + std::to_string(box.number);
            switch (all[i].roles[b]) {
                case BoxRole::passed_check:
                case BoxRole::failed_check:
                    out += std::string(all[i].roles[b] == BoxRole::passed_check ? "ok " : "not ok ") +
                           std::to_string(++point) + " - " + where + ": " + tap_text(box.text) + "\n";
                    break;
                default:
                    out += "# " + where + ": " + tap_text(box.text) + "\n";
            }
        }
        const std::string error = error_text(run, all[i]);
        if (!error.empty()) {
            const std::string fault = fault_text(run, all[i]);
            out += "not ok " + std::to_string(++point) + " - " + tap_text(error) +
                   (fault.empty() ? "" : ": " + tap_text(fault)) + "\n" + tap_where(all[i]);
        }
    }
    return out;
}

std::string report_junit(const std::vector<ProgramRun>& runs) {
    const std::vector<RunCounts> all = count_all(runs);
    const Totals totals = totals_of(all);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"quorvel-view\" tests=\"" +
                      std::to_string(totals.checks + totals.errors) + "\" failures=\"" +
                      std::to_string(totals.failed) + "\" errors=\"" + std::to_string(totals.errors) +
                      "\">\n";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        out += junit_suite(runs[i], all[i]);
    }
    return out + "</testsuites>\n";
}

std::string report_gradescope(const std::vector<ProgramRun>& runs, double seconds) {
    const std::vector<RunCounts> all = count_all(runs);
    std::size_t score = 0;
    std::string tests;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const bool passed = all[i].status == RunStatus::passed;
        score += passed ? 1U : 0U;
        tests += std::string(i == 0 ? "\n" : ",\n") + "    {\"name\": " + json_string(runs[i].program) +
                 ", \"score\": " + (passed ? "1" : "0") + ", \"max_score\": 1, \"status\": \"" +
                 (passed ? "passed" : "failed") + "\",\n     \"output\": " +
                 json_string(gradescope_output(runs[i], all[i])) + "}";
    }
    return "{\"score\": " + std::to_string(score) + ", \"execution_time\": " + decimal_seconds(seconds) +
           ",\n \"output\": " + json_string(report_text(runs)) + ",\n \"tests\": [" + tests +
           (runs.empty() ? "" : "\n  ") + "]}\n";
}
