#include "report.h"

#include <cstdio>

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

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string decimal_seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string where_words(const RunCounts& counts) { return counts.has_where ? where_words(counts.where) : ""; }
