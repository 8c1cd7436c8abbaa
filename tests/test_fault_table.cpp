// The fault-injection table (a build with QUORVEL_FAULT_POINTS): every
// system call the library makes fails in turn, first its first call, then
// its third, and read and write also return EINTR and short counts, in each
// kind of run. Every cell must end as a host can live with:
//   the whole stream, as without the fault;
//   or a whole stream and a warning on standard error that says what went
//   wrong;
//   or a whole stream whose last box names the failure (std::bad_alloc
//   raised into the student's code), or goes without its where;
//   or, where the stream itself cannot be written, no stream a host could
//   take as whole, and the exit status or signal of the same program without
//   the library.
// A crash of the library's own, a hang, or a stream that looks whole but
// lost boxes fails the cell. The viewer gets a table of its own.
#include "exercise_runner.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/sandbox.h"

#include <glob.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr double cell_timeout = 30;  // past it, the cell hangs
const std::string fault_preload = FIU_PRELOAD;

struct Kind {
    const char* name;
    std::vector<std::string> args;  // the scripted exercise's
};

const Kind kinds[] = {
    {"all green", {"@null", "@null", "int:1:1", "str2:a:a"}},
    {"a red check", {"@null", "@null", "int:1:1", "int:0:1"}},
    {"a crash", {"@null", "@null", "int:1:1", "fault:null"}},
    {"a print loop", {"@null", "@null", "int:1:1", "print-many:2"}},
    {"an archived input", {"store input", "@null", "int:1:1"}},
};

// The library's fault points: libfiu's POSIX preload for the libc calls it
// wraps, the library's own for the rest.
struct Point {
    const char* name;
    bool reads_or_writes;  // also EINTR and a short count
};

const Point points[] = {
    {"posix/io/rw/read", true},    {"posix/io/rw/write", true},   {"posix/io/oc/open", false},
    {"posix/io/oc/close", false},  {"posix/stdio/oc/fopen", false}, {"posix/io/net/poll", false},
    {"libc/mm/malloc", false},     {"posix/proc/sigaction", false}, {"posix/stdio/fflush", false},
    {"quorvel/pipe2", false},      {"quorvel/dup2", false},       {"quorvel/fcntl/dupfd", false},
    {"quorvel/fcntl/setpipe", false}, {"quorvel/fcntl/getpipe", false}, {"quorvel/mkdir", false},
    {"quorvel/stat", false},       {"quorvel/sigaltstack", false}, {"quorvel/on_exit", false},
    {"quorvel/fork", false},       {"quorvel/write/one_byte", false},
};

ChildOptions with_fault(const std::string& fault, const std::string& dir, const std::string& scope = "library") {
    ChildOptions options;
    options.cwd = dir;
    options.timeout_seconds = cell_timeout;
    const char* path = std::getenv("PATH");
    options.environment = {std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"),
                           "LD_PRELOAD=" + fault_preload, "QUORVEL_FAULT_SCOPE=" + scope};
    if (!fault.empty()) {
        options.environment.push_back("QUORVEL_FAULT=" + fault);
    }
    return options;
}

ChildResult run_kind(const Kind& kind, const std::string& fault, bool without_library = false) {
    std::vector<std::string> args = kind.args;
    if (without_library) {
        args.front() = "@noinit";
    }
    return run_child(SCRIPTED_EXERCISE, args, full_stream("message_id: 1", ""),
                     with_fault(fault, make_temp_dir()));
}

std::string ending(const ChildResult& result) {
    return result.term_signal != 0 ? "signal " + std::to_string(result.term_signal)
                                   : "status " + std::to_string(result.exit_code);
}

// The boxes' texts, a fault box's without its where.
std::vector<std::string> box_texts(const HostView& view) {
    std::vector<std::string> texts;
    for (const ViewBox& box : view.boxes) {
        texts.push_back(fault_words(box));
    }
    return texts;
}

bool starts_with(const std::vector<std::string>& all, const std::vector<std::string>& start) {
    return all.size() >= start.size() && std::equal(start.begin(), start.end(), all.begin());
}

// "" when the cell ends as a host can live with; else what is wrong. A
// call that is only interrupted or short (whole) is no failure: the stream
// must be whole.
std::string judge(const ChildResult& cell, const ChildResult& clean, const ChildResult& without_library,
                  bool whole = false) {
    if (cell.timed_out) {
        return "it hangs";
    }
    if (whole) {
        const HostView view = read_as_host(cell.out);
        return view.ok && box_texts(view) == box_texts(read_as_host(clean.out)) && ending(cell) == ending(clean)
                   ? ""
                   : "an interrupted or short call lost the whole stream (" + ending(cell) + ")";
    }
    const bool bad_alloc = cell.err.find("bad_alloc") != std::string::npos;
    const std::string end = ending(cell);
    if (end != ending(clean) && end != ending(without_library) && !(bad_alloc && cell.term_signal == SIGABRT)) {
        return "it ends by " + end + ", not as the program does (" + ending(clean) + ")";
    }
    const HostView view = read_as_host(cell.out);
    if (!view.ok) {
        // No stream a host takes as whole: the program's own ending is all.
        return end == ending(without_library) || end == ending(clean) || bad_alloc ? "" : "a cut stream and " + end;
    }
    if (!box_layout_problem(view).empty()) {
        return "a stream of broken boxes: " + box_layout_problem(view);
    }
    const HostView expected = read_as_host(clean.out);
    const std::vector<std::string> got = box_texts(view);
    const std::vector<std::string> wanted = box_texts(expected);
    const bool warned = cell.err.find("Warning") != std::string::npos;
    if (got == wanted || warned) {
        return "";
    }
    // The same checks, and a display box of what was printed that differs:
    // the pipe that keeps it may hold less (its size refused).
    if (got.size() == wanted.size()) {
        bool same_checks = true;
        for (std::size_t i = 0; i < got.size(); ++i) {
            same_checks = same_checks && (box_kind(view.boxes[i]) == BoxKind::display || got[i] == wanted[i]);
        }
        if (same_checks) {
            return "";
        }
    }
    // Boxes made before the failure, then a box that names it.
    std::vector<std::string> before(got.begin(), got.end() - (got.empty() ? 0 : 1));
    if (!got.empty() && has_fault_style(view.boxes.back()) && starts_with(wanted, before)) {
        return "";
    }
    return "a whole stream of " + std::to_string(got.size()) + " boxes, not the run's " +
           std::to_string(wanted.size()) + ", and no warning";
}

TEST(FaultTable, EveryFailingCallEndsAsAHostCanLiveWith) {
    std::map<std::string, ChildResult> clean;
    std::map<std::string, ChildResult> without_library;
    for (const Kind& kind : kinds) {
        clean[kind.name] = run_kind(kind, "");
        without_library[kind.name] = run_kind(kind, "", true);
        ASSERT_TRUE(read_as_host(clean[kind.name].out).ok) << kind.name << ": " << clean[kind.name].err;
    }
    int cells = 0;
    for (const Point& point : points) {
        std::vector<std::string> faults = {std::string(point.name) + ":1", std::string(point.name) + ":3"};
        if (point.reads_or_writes) {
            faults.push_back(std::string(point.name) + ":1:" + std::to_string(EINTR));
            faults.push_back(std::string(point.name) + ":1:short");
        }
        for (const std::string& fault : faults) {
            const bool whole = fault.find(":1:") != std::string::npos || fault.rfind("quorvel/write/one_byte", 0) == 0;
            for (const Kind& kind : kinds) {
                ++cells;
                const ChildResult cell = run_kind(kind, fault);
                const std::string wrong = judge(cell, clean[kind.name], without_library[kind.name], whole);
                EXPECT_EQ(wrong, "") << fault << " in " << kind.name << "\nstandard error:\n"
                                     << cell.err.substr(0, 2000);
            }
        }
    }
    std::cout << "[ fault table ] " << cells << " cells: " << std::size(points) << " fault points, "
              << std::size(kinds) << " kinds of run\n";
}

// When the kept output's pipe cannot go onto standard output, both its ends
// are closed again: no descriptor is left over, as when no pipe can be made.
TEST(FaultTable, NoDescriptorIsLeftOver) {
    const Kind counting{"descriptors", {"@null", "@null", "int:1:1", "descriptors"}};
    const ChildResult no_dup2 = run_kind(counting, "quorvel/dup2:1");
    const ChildResult no_pipe = run_kind(counting, "quorvel/pipe2:1");
    EXPECT_NE(no_dup2.err.find("descriptors: "), std::string::npos) << no_dup2.err;
    EXPECT_EQ(no_dup2.err, no_pipe.err);
}

// The viewer's own calls failing, one at a time: a program it cannot start
// is "not started" and the others run; a fallback still reports truly; a
// report it cannot write in full ends it with a message and a non-zero
// status.
TEST(FaultTable, TheViewerReportsTruly) {
    const std::string dir = make_temp_dir();
    for (const char* name : {"g1", "g2"}) {
        write_file(dir + "/" + name, std::string("#!/bin/sh\nexec ") + SCRIPTED_EXERCISE + " @null @null int:1:1\n");
        chmod((dir + "/" + name).c_str(), 0755);
    }
    for (const char* name : {"s1", "s2"}) {  // the same, whole in itself, for a sandbox
        write_file(dir + "/" + name, read_file(SCRIPTED_EXERCISE) + "\n#steps:@null @null int:1:1");
        chmod((dir + "/" + name).c_str(), 0755);
    }
    const bool sandbox = sandbox_refused().empty();
    const std::vector<std::string> warm = {"--check", "-j", "1", "--sandbox", "./s1", "./s2"};
    const std::string lost = "cannot start ./s1: the sandbox failed\n";
    const std::string report = dir + "/report";
    const struct {
        std::string fault;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> seen;  // in standard output and standard error
    } cases[] = {
        {"posix/proc/fork:1", {"--check", "-j", "1", "./g1", "./g2"}, 3,
         {"not started     ./g1", "cannot start ./g1: fork: ", "passed          ./g2"}},
        {"viewer/pipe2:1", {"--check", "-j", "1", "./g1", "./g2"}, 3,
         {"not started     ./g1", "cannot start ./g1: pipe: Too many open files", "passed          ./g2"}},
        {"viewer/pidfd_open:1", {"--check", "./g1", "./g2"}, 0, {"passed          ./g1", "passed          ./g2"}},
        {"viewer/prctl:1", {"--run", "--", "./g1"}, 0, {"1 box: 1 green, 0 red"}},
        // The helper's socket: its first reply is the main thread's probe's
        // "ready", then the worker's, then "ended", then "empty".
        {"viewer/sendmsg:1", warm, 3, {"not started     ./s1", "./s1: the sandbox failed: Broken pipe", "passed          ./s2"}},
        {"viewer/recvmsg:3", warm, 3, {"not started     ./s1", lost, "passed          ./s2"}},
        {"viewer/recvmsg:4", warm, 0, {"passed          ./s1", "passed          ./s2"}},
        {"viewer/helper_killed:1", warm, 3, {"not started     ./s1", lost, "passed          ./s2"}},
        // The viewer's first write feeds the program its message; the second is the report.
        {"posix/io/rw/write:2", {"--check", "--format", "json", "./g1"}, 2,
         {"quorvel-view: cannot write standard output: "}},
        {"posix/io/rw/write:2", {"--check", "--output", report, "./g1"}, 2,
         {"quorvel-view: cannot write " + report + ": Input/output error\n"}},
    };
    write_file(report, "the old report\n");
    for (const auto& c : cases) {
        if (c.args == warm && !sandbox) {
            continue;
        }
        SCOPED_TRACE(c.fault + " " + c.args.front());
        const ChildResult result = run_child(QUORVEL_VIEW, c.args, "", with_fault(c.fault, dir, "program"));
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_code, c.status) << result.out << result.err;
        for (const std::string& line : c.seen) {
            EXPECT_NE((result.out + result.err).find(line), std::string::npos) << line << "\n" << result.out << result.err;
        }
    }
    // The report that could not be written left the old one, and no new file beside it.
    EXPECT_EQ(read_file(report), "the old report\n");
    glob_t beside{};
    EXPECT_EQ(glob((report + ".*").c_str(), 0, nullptr, &beside), GLOB_NOMATCH);
    globfree(&beside);
}

}  // namespace
