#include "report.h"

#include "text_escape.h"

namespace {

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
           ",\n \"output\": " + json_string(report_text(runs, seconds)) + ",\n \"tests\": [" + tests +
           (runs.empty() ? "" : "\n  ") + "]}\n";
}
