#include "report.h"

#include "text_escape.h"

namespace {

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

}  // namespace

std::string report_tap(const std::vector<ProgramRun>& runs, const ReportContext& /*context*/) {
    const std::vector<RunCounts> all = count_all(runs);
    const Totals totals = totals_of(all);
    std::string out =
        "TAP version 13\n1.." + std::to_string(totals.checks + totals.errors + totals.incomplete) + "\n";
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
        const std::string shortfall = shortfall_text(run, all[i]);
        if (!shortfall.empty()) {
            out += "not ok " + std::to_string(++point) + " - " + program + ": " + shortfall + "\n";
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

