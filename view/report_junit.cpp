#include "report.h"

#include "text_escape.h"

namespace {

std::string xml_text(const std::string& text) {
    return escape_text(text,
                       {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"},
                        {'\t', "&#9;"}, {'\n', "&#10;"}, {'\r', "&#13;"}},
                       "\\x%02X", Noncharacters::escaped);
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
    const std::string shortfall = shortfall_text(run, counts);
    if (!shortfall.empty()) {
        cases += junit_case(run.program, "checks", "failure", shortfall);
    }
    if (!error.empty()) {
        const std::string fault = fault_text(run, counts);
        cases += junit_case(run.program, "run", "error", fault.empty() ? error : error + ": " + fault, counts.where);
    }
    const std::size_t short_of = shortfall.empty() ? 0U : 1U;
    return "  <testsuite name=\"" + xml_text(run.program) + "\" tests=\"" +
           std::to_string(counts.passed + counts.failed + short_of + (error.empty() ? 0U : 1U)) +
           "\" failures=\"" + std::to_string(counts.failed + short_of) + "\" errors=\"" +
           (error.empty() ? "0" : "1") + "\" time=\"" + decimal_seconds(run.seconds) +
           "\" timestamp=\"" + xml_text(run.started) + "\">\n" + cases + "    <system-err>" +
           xml_text(shown_stderr(run.result)) + "</system-err>\n  </testsuite>\n";
}

}  // namespace

std::string report_junit(const std::vector<ProgramRun>& runs, const ReportContext& /*context*/) {
    const std::vector<RunCounts> all = count_all(runs);
    const Totals totals = totals_of(all);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"quorvel-view\" tests=\"" +
                      std::to_string(totals.checks + totals.errors + totals.incomplete) + "\" failures=\"" +
                      std::to_string(totals.failed + totals.incomplete) + "\" errors=\"" + std::to_string(totals.errors) +
                      "\">\n";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        out += junit_suite(runs[i], all[i]);
    }
    return out + "</testsuites>\n";
}

