// The fault box says where: the student's line and function, for each way
// the student's code can fail, with debug information, without it, and
// stripped.
#include "exercise_runner.h"
#include "exchange.h"
#include "support/bytes.h"
#include "source_line.h"
#include "support/sanitizers.h"

#include "function_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

namespace {

const std::string where_source = std::string(TESTS_DIR) + "/programs/where_exercise.cpp";
const std::string segv = "crashed: invalid memory access (SIGSEGV)";
constexpr bool library_unoptimised = QUORVEL_TESTS_LIBRARY_UNOPTIMISED != 0;

// The line of where_exercise.cpp that carries "// where:STEP".
int marker_line(const std::string& step) { return ::marker_line(where_source, step); }

struct WhereRun {
    ChildResult result;
    HostView view;
};

WhereRun run_where(const std::string& variant, const std::string& step, const std::string& terminate_when = "") {
    WhereRun run;
    run.result = run_child(WHERE_EXERCISE + variant, {step}, full_stream("message_id: 1", ""), "", 60, terminate_when);
    run.view = read_as_host(run.result.out);
    return run;
}

// The fault box's text is text and then where; text may be cut with " …"
// to leave the where room. Two more forms hold: under the sanitizer presets
// UndefinedBehaviorSanitizer reports a fault it catches first (a null
// pointer followed, a division by zero) in its words and at its place,
// ubsan_where; and when the library itself is built -O0 (Debug, coverage),
// GCC 12's libbacktrace misses the debug information of the exercise's
// inline and template functions (addr2line finds it), so the symbol table
// names them: the where's " in FUNCTION" alone.
void expect_fault_box(const WhereRun& run, const std::string& text, const std::string& where,
                      const std::string& ubsan_where = "") {
    ASSERT_TRUE(run.view.ok) << run.view.error << "\n" << run.result.err;
    EXPECT_EQ(box_layout_problem(run.view), "");
    ASSERT_EQ(run.view.boxes.size(), 2U) << run.result.err;
    const ViewBox& box = run.view.boxes.back();
    EXPECT_TRUE(has_fault_style(box));
    const std::string found = where_text(box);
    const bool by_ubsan = sanitized_build && !ubsan_where.empty() && found == ubsan_where;
    const std::size_t in = where.rfind(" in ");
    const bool by_symbol = library_unoptimised && in != std::string::npos && found == where.substr(in);
    EXPECT_EQ(fault_has_where(box), !where.empty() || by_ubsan);
    EXPECT_TRUE(found == where || by_ubsan || by_symbol) << box.text;
    EXPECT_TRUE(same_or_cut(fault_words(box), text) || by_ubsan) << box.text;
}

TEST(Where, TheFaultBoxNamesTheStudentsLine) {
    const struct {
        const char* step;
        std::string text;
        std::string function;  // "": no where
        std::string terminate_when = "";
    } cases[] = {
        {"segv", segv, "second"},
        {"fpe", "crashed: arithmetic error, such as a division by zero (SIGFPE)", "Average::value"},
        {"recurse", segv, "ns::descend"},
        {"lambda", segv, "ns::A::value::{lambda}"},
        {"abort", "crashed: the program aborted (SIGABRT)", "give_up"},
        {"loop", "stopped: the host ended the program (SIGTERM)", "spin", "spinning\n"},
        {"at", "uncaught exception: vector::_M_range_check: __n (which is 2) >= this->size() (which is 2)", "f<int>"},
        {"terminate", "terminate called without an active exception", "stop_here"},
        {"exit", "exited with status 3 before the exercise finished", "leave"},
        {"return", "exited with status 4 before the exercise finished", ""},
        {"thread", segv, "worker"},
        {"imitate", "uncaught exception: looks like a where at x.cpp:3 in f", "imitate"},
    };
    for (const auto& c : cases) {
        const std::string line = std::to_string(marker_line(c.step));
        ASSERT_TRUE(c.function.empty() || line != "0") << c.step;
        const std::string with_source = " at where_exercise.cpp:" + line + " in " + c.function;
        const bool named = where_lookup && !c.function.empty();
        const struct {
            const char* variant;
            std::string where;
        } builds[] = {
            {"debug", named ? with_source : ""},
            {"nodebug", named ? " in " + c.function : ""},
            {"stripped", ""},
        };
        for (const auto& build : builds) {
            SCOPED_TRACE(std::string(c.step) + ", " + build.variant);
            const WhereRun run = run_where(build.variant, c.step, c.terminate_when);
            expect_fault_box(run, c.text, build.where, " at where_exercise.cpp:" + line);
            if (std::string(c.step) == "at") {
                // The terminate handler before the library's still speaks.
                EXPECT_NE(run.result.err.find("terminate called after throwing an instance of 'std::out_of_range'"),
                          std::string::npos)
                    << run.result.err;
            }
        }
    }
}

// A thread crashes while main calls quit(): whichever claims the stream
// first writes it whole, and the other waits for it.
TEST(Where, ACrashDuringQuitLeavesAWholeStream) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        SCOPED_TRACE(attempt);
        const WhereRun run = run_where("debug", "race");
        ASSERT_TRUE(run.view.ok) << run.view.error;
        EXPECT_EQ(box_layout_problem(run.view), "");
        ASSERT_GE(run.view.boxes.size(), 1U);
        if (run.view.boxes.size() == 2 && where_lookup) {
            EXPECT_TRUE(fault_has_where(run.view.boxes.back()));
            EXPECT_NE(run.view.boxes.back().text.find(" in crash_once_quitting"), std::string::npos);
        }
    }
}

// AddressSanitizer and UndefinedBehaviorSanitizer end the process
// themselves; their death callback sends the stream first.
// The exercise is sanitized in the sanitizer presets, and a coverage build
// has a sanitized variant of its own.
TEST(Where, SanitizerReportsKeepTheStream) {
    const char* variant = QUORVEL_TESTS_SANITIZED_WHERE ? "sanitized" : "debug";
    if (!sanitized_build && !QUORVEL_TESTS_SANITIZED_WHERE) {
        GTEST_SKIP() << "the sanitizer presets and the coverage build run these";
    }
    const struct {
        const char* step;
        std::string text;
        std::string where;
        const char* report;  // how the sanitizer's own report on standard error starts
    } cases[] = {
        {"asan", "heap-buffer-overflow: read of 4 bytes",
         where_lookup ? " at where_exercise.cpp:" + std::to_string(marker_line("asan")) + " in sum" : "",
         "ERROR: AddressSanitizer"},
        {"ubsan", "Signed integer overflow: 2000000001 + 2000000001 cannot be represented in type 'int'",
         " at where_exercise.cpp:" + std::to_string(marker_line("ubsan")), "runtime error: signed integer overflow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        const WhereRun run = run_where(variant, c.step);
        EXPECT_NE(run.result.exit_code, 0);
        expect_fault_box(run, c.text, c.where);
        EXPECT_NE(run.result.err.find(c.report), std::string::npos) << run.result.err;
    }
    // A leak that LeakSanitizer finds at exit, after quit: the stream stays as quit wrote it.
    const WhereRun leak = run_where(variant, "leak");
    EXPECT_NE(leak.result.err.find("ERROR: LeakSanitizer"), std::string::npos) << leak.result.err;
    EXPECT_TRUE(leak.view.ok && leak.view.boxes.size() == 1) << leak.result.out;
}

// Only the fault box's signature says it has a where: a student's text that
// imitates one is read as text, and the real where is read from the right.
TEST(Where, TheViewerReadsTheWhereFromTheRight) {
    const struct {
        const char* text;
        int height;
        bool read;
        FaultWhere where;
    } cases[] = {
        {"uncaught exception: boom at x.cpp:3 in f", quorvel_fault_height, false, {}},
        {"uncaught exception: at x.cpp:3 in f at real.cpp:5 in g", quorvel_fault_where_height, true, {"real.cpp", 5, "g"}},
        {"crashed (SIGSEGV) at x.cpp:3 in ns::A::value::{lambda}", quorvel_fault_where_height, true,
         {"x.cpp", 3, "ns::A::value::{lambda}"}},
        {"crashed (SIGSEGV) in f<int>", quorvel_fault_where_height, true, {"", 0, "f<int>"}},
        {"Signed integer overflow: 1 + 1 at in.cpp:4", quorvel_fault_where_height, true, {"in.cpp", 4, ""}},
        {"crashed (SIGSEGV) at x.cpp:3 in f", quorvel_check_height, false, {}},  // a red check's height
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ViewBox box;
        box.text = c.text;
        box.style = {{"width", "600"}, {"height", std::to_string(c.height)}, {"backgroundColor", "red"}};
        box.text_style = {{"fontSize", "18"}, {"color", "white"}};
        FaultWhere where;
        EXPECT_EQ(fault_where(box, where), c.read);
        EXPECT_EQ(where.file, c.where.file);
        EXPECT_EQ(where.line, c.where.line);
        EXPECT_EQ(where.function, c.where.function);
    }
}

// --run --source-dir shows the student's line under the fault box.
TEST(Where, TheViewerShowsTheSourceLine) {
    if (!where_lookup) {
        GTEST_SKIP() << "built without the where's lookup (QUORVEL_BACKTRACE off)";
    }
    const std::string line = std::to_string(marker_line("segv"));
    const ChildResult run = run_child(QUORVEL_VIEW, {"--run", "--source-dir", std::string(TESTS_DIR) + "/programs", "--",
                                                     WHERE_EXERCISE + std::string("debug"), "segv"}, "");
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_NE(run.out.find("\n        " + line + " |     return *p;  // where:segv\n"), std::string::npos) << run.out;
    // Only a plain base name in the directory given is read.
    const std::string dir = std::string(TESTS_DIR) + "/programs";
    const long number = marker_line("segv");
    EXPECT_EQ(source_line(dir, {"../programs/where_exercise.cpp", number, ""}), "");
    EXPECT_EQ(source_line(dir, {"..", 1, ""}), "");
    EXPECT_EQ(source_line(dir, {"where_exercise.cpp", 100000, ""}), "");
    EXPECT_EQ(source_line(dir, {"", number, "second"}), "");
}

TEST(Where, FunctionNamesAsAStudentReadsThem) {
    const struct {
        const char* demangled;
        const char* shown;
    } cases[] = {
        {"second(int const*)", "second"},
        {"Average::value() const", "Average::value"},
        {"ns::f(int)", "ns::f"},
        {"int f<int>(std::vector<int, std::allocator<int> > const&)", "f<int>"},
        {"ns::A::value() const::{lambda()#1}::operator()() const", "ns::A::value::{lambda}"},
        {"ns::A::value(std::vector<int, std::allocator<int> >&)::{lambda(int)#1}::operator()(int) const",
         "ns::A::value::{lambda}"},
        {"main", "main"},
        {"(anonymous namespace)::fault(std::__cxx11::basic_string<char, std::char_traits<char>, "
         "std::allocator<char> > const&)",
         "fault"},
        {"name[abi:cxx11]()", "name"},
        {"(anonymous namespace)::fault(int) [clone .cold]", "fault"},
        {"sum(int const*, int) [clone .isra.0] [clone .cold]", "sum"},
        {"Functor::operator()(int)", "Functor::operator()"},
        {"std::vector<int, std::allocator<int> > make<std::vector<int, std::allocator<int> > >(int)",
         "make<std::vector<int, std::allocator<int> > >"},
        {"apply<void (*)(int)>(void (*)(int))", "apply<void (*)(int)>"},
        {"{lambda(int)#1}::operator()(int) const", "{lambda}"},
        {"Cache[abi:cxx11]::get() const", "Cache::get"},
        {"ns::f()::{lambda()#1} ns::g<ns::f()::{lambda()#1}>()", "ns::g<ns::f()::{lambda}>"},
        {"f<std::array<int, 3> >(int (*) [3])", "f<std::array<int, 3> >"},
        {"bool operator< <int>(A<int> const&, A<int> const&)", "operator< <int>"},
        {"A::operator[](unsigned long) &&", "A::operator[]"},
        {"void h<{lambda()#1}>({lambda()#1}) volatile noexcept", "h<{lambda}>"},
        {"operator new(unsigned long)", "operator new"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quorvel_internal::function_name(c.demangled), c.shown) << c.demangled;
    }
}

}  // namespace
