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
    const std::string shortfall = shortfall_text(run, counts);
    if (!shortfall.empty()) {
        out += "incomplete: " + shortfall + "\n";
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

std::string report_gradescope(const std::vector<ProgramRun>& runs, const ReportContext& context) {
    const std::vector<RunCounts> all = count_all(runs);
    const std::string visibility =
        context.visibility.empty() ? "" : ", \"visibility\": " + json_string(context.visibility);
    long score = 0;
    std::string tests;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const long scored = score_hundredths(all[i], context);
        score += scored;
        tests += std::string(i == 0 ? "\n" : ",\n") + "    {\"name\": " + json_string(runs[i].program) +
                 ", \"score\": " + points_text(scored) + ", \"max_score\": " + points_text(context.points_hundredths) +
                 ", \"status\": \"" + (all[i].status == RunStatus::passed ? "passed" : "failed") + "\"" + visibility +
                 ",\n     \"output\": " + json_string(gradescope_output(runs[i], all[i])) + "}";
    }
    return "{\"score\": " + points_text(score) + ", \"execution_time\": " + decimal_seconds(context.seconds) +
           visibility + ",\n \"output\": " + json_string(report_text(runs, context)) + ",\n \"tests\": [" + tests +
           (runs.empty() ? "" : "\n  ") + "]}\n";
}
