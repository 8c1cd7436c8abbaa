#include "report.h"

#include "text_escape.h"

std::string report_text(const std::vector<ProgramRun>& runs, double /*seconds*/) {
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

