#include "report.h"

#include "text_escape.h"

namespace {

// What follows a run's counts: its error with the fault's where, how it
// fell short of --checks, or with --check and no --checks, that it showed no
// check box at all.
std::string run_note(const ProgramRun& run, const RunCounts& counts, const ReportContext& context) {
    const std::string error = error_text(run, counts);
    if (!error.empty()) {
        return "; " + printable(error + where_words(counts));
    }
    const std::string shortfall = shortfall_text(run, counts);
    if (!shortfall.empty()) {
        return "; " + shortfall;
    }
    return context.check && context.checks == 0 && counts.passed + counts.failed == 0 ? "; no check box" : "";
}

}  // namespace

std::string report_text(const std::vector<ProgramRun>& runs, const ReportContext& context) {
    const std::vector<RunCounts> all = count_all(runs);
    std::string out;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const RunCounts& counts = all[i];
        char status[24];
        std::snprintf(status, sizeof status, "%-16s", status_name(counts.status));
        out += status + printable(runs[i].program) + "  " +
               plural(runs[i].view.boxes.size(), "box", "boxes") + ", " +
               std::to_string(counts.passed) + " passed, " + std::to_string(counts.failed) +
               " failed" + run_note(runs[i], counts, context) + "\n";
    }
    const Totals totals = totals_of(all);
    const std::string incomplete = context.checks > 0 ? std::to_string(totals.incomplete) + " incomplete, " : "";
    return out + plural(totals.programs, "program", "programs") + ": " +
           std::to_string(totals.passed_programs) + " passed, " +
           std::to_string(totals.failed_programs) + " failed, " + incomplete + std::to_string(totals.errors) +
           " with errors; " + plural(totals.checks, "check", "checks") + ": " +
           std::to_string(totals.passed) + " passed, " + std::to_string(totals.failed) + " failed\n";
}
