#include "report.h"

#include "text_escape.h"

#include <cstdlib>
#include <map>

namespace {

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

// With --check: the run's score and max_score, and its CPU seconds.
std::string json_grade(const ProgramRun& run, const RunCounts& counts, const ReportContext& context) {
    if (!context.check) {
        return "";
    }
    return ", \"score\": " + points_text(score_hundredths(counts, context)) +
           ", \"max_score\": " + points_text(context.points_hundredths) +
           ", \"cpu_seconds\": " + decimal_seconds(run.result.cpu_seconds);
}

std::string json_program(const ProgramRun& run, const RunCounts& counts, const ReportContext& context) {
    const std::string error = error_text(run, counts) + shortfall_text(run, counts);
    std::string out = "    {\"program\": " + json_string(run.program) + ", \"status\": \"" +
                      status_name(counts.status) + "\", \"exit\": " +
                      std::to_string(exit_value(run.result)) + json_grade(run, counts, context) +
                      ", \"error\": " + json_or_null(error) + json_where(counts) +
                      ",\n     \"stderr\": " + json_string(shown_stderr(run.result)) + ",\n     \"boxes\": [";
    for (std::size_t i = 0; i < run.view.boxes.size(); ++i) {
        out += (i == 0 ? "\n" : ",\n") + json_box(run.view.boxes[i], counts.roles[i]);
    }
    return out + (run.view.boxes.empty() ? "]}" : "\n     ]}");
}

}  // namespace

std::string report_json(const std::vector<ProgramRun>& runs, const ReportContext& context) {
    const std::vector<RunCounts> all = count_all(runs);
    std::string out = "{\"programs\": [";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        out += (i == 0 ? "\n" : ",\n") + json_program(runs[i], all[i], context);
    }
    const Totals totals = totals_of(all);
    return out + (runs.empty() ? "" : "\n  ") + "],\n \"summary\": {\"programs\": " +
           std::to_string(totals.programs) + ", \"checks\": " + std::to_string(totals.checks) +
           ", \"passed\": " + std::to_string(totals.passed) + ", \"failed\": " +
           std::to_string(totals.failed) +
           (context.check ? ", \"incomplete\": " + std::to_string(totals.incomplete) : std::string()) +
           ", \"errors\": " + std::to_string(totals.errors) + "}}\n";
}
