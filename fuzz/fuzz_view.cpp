// The viewer's stream reader and every view and report of what it read, on
// arbitrary bytes. The input is the stream; its first line (cut to 64 bytes)
// is also the program's name, its last 300 bytes the program's standard
// error, and its last byte picks how the run ended.
//
// Oracles: nothing crashes or grows without bound (run with -rss_limit_mb
// and -timeout); the JSON report parses (nlohmann::json), the JUnit report
// is well-formed XML (libxml2), the TAP report is TAP with as many test
// points as its plan, the HTML page's tags nest and its text is escaped, and
// every text output is valid UTF-8 without control bytes.
#include "exchange.h"
#include "render.h"
#include "report.h"

#include <libxml/parser.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t name_size = 64;
constexpr std::size_t stderr_size = 300;

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// Valid UTF-8 (no overlong forms, no surrogates) with no control byte but a
// newline, and with escape only as a colour sequence "\x1b[...m" when allowed.
bool clean_text(const std::string& text, bool colour_escapes = false) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0x1B && colour_escapes && i + 1 < text.size() && text[i + 1] == '[') {
            const std::size_t end = text.find('m', i);
            if (end == std::string::npos ||
                text.find_first_not_of("0123456789;", i + 2) != end) {
                return false;
            }
            i = end + 1;
            continue;
        }
        if ((c < 0x20 && c != '\n') || c == 0x7F) {
            return false;
        }
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        std::uint32_t point = length == 1 ? c : c & (0x7FU >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0U) != 0x80U) {
                return false;
            }
            point = (point << 6) | (next & 0x3FU);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < least[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool is_xml(const std::string& text) {
    xmlDocPtr document = xmlReadMemory(text.data(), static_cast<int>(text.size()), "report.xml",
                                       nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlFreeDoc(document);
    return document != nullptr;
}

// TAP version 13: the plan, then numbered test points and comments only.
bool is_tap(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            return false;  // every line ends
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.size() < 2 || lines[0] != "TAP version 13" || lines[1].rfind("1..", 0) != 0) {
        return false;
    }
    const std::string plan = lines[1].substr(3);
    std::size_t point = 0;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::string number = std::to_string(point + 1) + " - ";
        if (line.rfind("ok " + number, 0) == 0 || line.rfind("not ok " + number, 0) == 0) {
            ++point;
        } else if (line.rfind("# ", 0) != 0) {
            return false;
        }
    }
    return plan == std::to_string(point);
}

// The page's tags nest, its only void tag is meta, its attributes are
// quoted, and between tags "<" never and "&" only as an entity.
bool is_html(const std::string& page) {
    std::vector<std::string> open;
    for (std::size_t i = 0; i < page.size();) {
        if (page[i] == '&') {
            const std::size_t end = page.find(';', i);
            const std::string name = end == std::string::npos ? "" : page.substr(i + 1, end - i - 1);
            if (name != "amp" && name != "lt" && name != "gt" && name != "quot" && name != "#39") {
                return false;
            }
            i = end + 1;
            continue;
        }
        if (page[i] != '<') {
            ++i;
            continue;
        }
        const std::size_t end = page.find('>', i);
        if (end == std::string::npos) {
            return false;
        }
        const std::string tag = page.substr(i + 1, end - i - 1);
        i = end + 1;
        if (tag.find('<') != std::string::npos || std::count(tag.begin(), tag.end(), '"') % 2 != 0) {
            return false;
        }
        const std::string name = tag.substr(0, tag.find(' '));
        if (name == "!DOCTYPE" || name == "meta") {
            continue;
        }
        if (name[0] == '/') {
            if (open.empty() || open.back() != name.substr(1)) {
                return false;
            }
            open.pop_back();
        } else {
            open.push_back(name);
        }
    }
    return open.empty();
}

// How the run ended, from one byte: clean, a non-zero exit, a signal, a
// time-out, not started, or a limit's stop; then the classifier's words.
void end_run(ProgramRun& run, unsigned char how) {
    run.result.exit_code = 0;
    switch (how % 6) {
        case 1: run.result.exit_code = 3; break;
        case 2: run.result.exit_code = -1; run.result.term_signal = 11; break;
        case 3: run.result.exit_code = -1; run.result.timed_out = true; break;
        case 4: run.result.exit_code = -1; run.result.not_started = true; run.result.exec_error = ENOENT; break;
        case 5: run.result.exit_code = -1; run.result.term_signal = SIGXFSZ; break;
        default: break;
    }
    run.result.err_dropped = how;
    classify_run(run, {1, 1, 1, static_cast<std::size_t>(how % 3)});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string stream(reinterpret_cast<const char*>(data), size);
    ProgramRun run;
    run.program = stream.substr(0, std::min({stream.find('\n'), name_size, stream.size()}));
    run.result.err = stream.substr(stream.size() - std::min(stream.size(), stderr_size));
    run.result.out = stream;
    run.view = read_as_host(stream);
    end_run(run, size > 0 ? data[size - 1] : 0);
    const std::vector<ProgramRun> runs = {run, run};
    ReportContext context;
    context.check = size % 2 == 0;
    context.checks = size % 3;
    context.partial_credit = context.checks > 0;

    require(nlohmann::json::accept(report_json(runs, context)));
    require(is_xml(report_junit(runs, context)));
    require(is_tap(report_tap(runs, context)) && clean_text(report_tap(runs, context)));
    require(clean_text(report_text(runs, context)));
    require(nlohmann::json::accept(report_gradescope(runs, context)));
    if (run.view.ok) {
        require(clean_text(render_terminal(run.view, false)));
        require(clean_text(render_terminal(run.view, true), true));
        const std::string page = render_html(run.view, "quorvel preview");
        require(clean_text(page) && is_html(page));
    }
    return 0;
}
