#include "report.h"

#include <algorithm>
#include <cstdio>

Totals totals_of(const std::vector<RunCounts>& all) {
    Totals totals;
    for (const RunCounts& counts : all) {
        ++totals.programs;
        totals.passed_programs += counts.status == RunStatus::passed ? 1U : 0U;
        totals.failed_programs += counts.status == RunStatus::failed ? 1U : 0U;
        totals.incomplete += counts.status == RunStatus::incomplete ? 1U : 0U;
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

long score_hundredths(const RunCounts& counts, const ReportContext& context) {
    const long points = context.points_hundredths;
    if (!context.partial_credit) {
        return counts.status == RunStatus::passed ? points : 0;
    }
    if (counts.status == RunStatus::malformed || counts.status == RunStatus::not_started) {
        return 0;
    }
    const long shown = static_cast<long>(counts.passed + counts.failed);
    const long out_of = std::max(static_cast<long>(context.checks), shown);
    const long green = static_cast<long>(counts.passed);
    return out_of == 0 ? 0 : (2 * points * green + out_of) / (2 * out_of);
}

std::string points_text(long hundredths) {
    std::string text = std::to_string(hundredths / 100);
    const long cents = hundredths % 100;
    if (cents != 0) {
        text += "." + std::to_string(cents / 10) + (cents % 10 != 0 ? std::to_string(cents % 10) : "");
    }
    return text;
}
