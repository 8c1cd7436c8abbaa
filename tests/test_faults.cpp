// End-to-end: an exercise whose student code crashes, throws, exits early,
// is stopped, or prints on standard output still gives the host its results.
// These exercises fault on purpose (CTest label "faults": not under memcheck).
#include "exercise_runner.h"
#include "exchange.h"
#include "support/bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> checks = {"int:1:1", "str2:a:b"};
const std::string prints[] = {"print:printf:A", "print:cout:B", "print:write:C"};
const std::string printed = "CAB";  // stdio's buffer reaches the file after write(2)'s bytes
const std::string long_print = std::string(199, 'x') + "\xC3\xA9" + std::string(50, 'y');

enum class Added { fault_box, print_box, nothing };

struct FaultCase {
    const char* name;
    std::vector<std::string> steps;  // after the two checks
    std::string quit_mode;
    Added added;
    std::string box_text;  // of the added box
    std::string out;       // standard output, when no stream is expected
    std::string err;       // standard error, when checked ("*": not checked)
    std::string terminate_when = "";
};

// A fault after the checks, under quit(nullptr), that adds a red box with text.
FaultCase fault(const char* name, const std::string& step, const std::string& text,
                const std::string& err = "*") {
    return {name, {step}, "@null", Added::fault_box, text, "", err};
}

std::vector<FaultCase> fault_cases() {
    const std::vector<std::string> all_prints(std::begin(prints), std::end(prints));
    const std::string segv = "crashed: invalid memory access (SIGSEGV)";
    FaultCase term = fault("SIGTERM from outside", "await-term",
                           "stopped: the host ended the program (SIGTERM)", "checks done\n");
    term.terminate_when = "checks done\n";
    return {
        fault("null write", "fault:null", segv),
        fault("infinite recursion", "fault:recurse", segv),
        fault("division by zero", "fault:divzero",
              "crashed: arithmetic error, such as a division by zero (SIGFPE)"),
        fault("abort", "fault:abort", "crashed: the program aborted (SIGABRT)"),
        fault("uncaught std::runtime_error", "fault:throw", "uncaught exception: boom"),
        fault("throw 42", "fault:throw42", "uncaught exception that is not a std::exception"),
        fault("exit(3)", "exit:3", "exited with status 3 before the exercise finished", ""),
        {"exit(0)", {"exit:0"}, "@null", Added::nothing, "", "", ""},
        term,
        fault("CPU time limit", "cpu-limit", "stopped: CPU time limit reached (SIGXCPU)", ""),
        {"prints, full stream", all_prints, "@null", Added::print_box, printed, "", printed},
        {"prints, none", all_prints, "none", Added::nothing, "", printed, ""},
        {"prints, just yaml", all_prints, "just yaml", Added::print_box, printed, "", printed},
        {"prints, just mem", all_prints, "just mem", Added::print_box, printed, "", printed},
        {"prints, exit 0 without quit", all_prints, "@noquit", Added::nothing, "", printed, ""},
        {"long print is cut at a character", {"print:write:" + long_print}, "@null",
         Added::print_box, std::string(199, 'x') + " \xE2\x80\xA6 (52 more bytes)", "", long_print},
        {"prints, then a crash", {"print:write:C", "fault:abort"}, "@null", Added::fault_box,
         "crashed: the program aborted (SIGABRT)", "", "C"},
        {"a printed line survives a crash", {"print:printf:line%0A", "fault:null"}, "@null",
         Added::fault_box, segv, "", "*"},
    };
}

ChildResult run(const std::string& init_mode, const FaultCase& c, bool with_fault = true) {
    std::vector<std::string> args = {init_mode, c.quit_mode};
    args.insert(args.end(), checks.begin(), checks.end());
    if (with_fault) {
        args.insert(args.end(), c.steps.begin(), c.steps.end());
    }
    return run_child(SCRIPTED_EXERCISE, args, full_stream("message_id: 1", ""), "", 60,
                     c.terminate_when);
}

// The answer with the fault: the clean run's boxes byte for byte, and one more.
void expect_one_box_added(const FaultCase& c, const ChildResult& result) {
    FaultCase clean_case = c;
    clean_case.quit_mode = c.quit_mode == "just yaml" ? c.quit_mode : "@null";
    const ChildResult clean_run = run("@null", clean_case, false);
    std::string stream = result.out;
    std::string clean = clean_run.out;
    if (c.quit_mode == "just yaml") {  // the document alone: add an empty memory area to read it
        stream += full_stream("", memory_area());
        clean += full_stream("", memory_area());
    }
    const HostView view = read_as_host(stream);
    const HostView expected = read_as_host(clean);
    ASSERT_TRUE(view.ok) << view.error;
    ASSERT_TRUE(expected.ok) << expected.error;
    ASSERT_EQ(view.boxes.size(), expected.boxes.size() + 1);
    EXPECT_TRUE(same_bytes(view.document.substr(0, expected.document.size()), expected.document));
    const ViewBox& added = view.boxes.back();
    if (c.quit_mode != "just yaml") {
        EXPECT_EQ(box_layout_problem(view), "");
        EXPECT_TRUE(same_bytes(view.memory.substr(0, static_cast<std::size_t>(added.pos)),
                               expected.memory.substr(0, static_cast<std::size_t>(added.pos))));
        EXPECT_TRUE(same_bytes(added.text, c.box_text));
    }
    const bool fault = c.added == Added::fault_box;
    EXPECT_EQ(added.style.at("backgroundColor"), fault ? quorvel_fail_colour : "white");
    EXPECT_EQ(added.text_style.at("color"), fault ? "white" : "black");
    EXPECT_EQ(added.style.count("borderColor"), 0U);
    EXPECT_EQ(added.style.at("width"), "500");
}

TEST(Faults, ResultsReachTheHost) {
    for (const FaultCase& c : fault_cases()) {
        SCOPED_TRACE(c.name);
        // The same steps without init(): how the process ends without the library's handling.
        const ChildResult baseline = run("@noinit", c);
        const ChildResult result = run("@null", c);
        EXPECT_EQ(result.exit_code, baseline.exit_code);
        EXPECT_EQ(result.term_signal, baseline.term_signal);
        EXPECT_FALSE(result.timed_out);
        if (baseline.err.find("runtime error:") != std::string::npos) {
            // A sanitizer caught the fault before any signal and ended the process itself.
            EXPECT_EQ(result.out, "");
            continue;
        }
        if (c.err != "*") {
            EXPECT_TRUE(same_bytes(result.err, c.err));
        } else if (c.steps.front().rfind("print:", 0) == 0) {
            const std::string kept = c.steps.front() == "print:write:C" ? "C" : "line\n";
            EXPECT_EQ(result.err.rfind(kept, 0), 0U) << result.err;  // a sanitizer's report may follow
        }
        if (c.added == Added::nothing) {
            EXPECT_TRUE(same_bytes(result.out, c.out));
        } else if (c.quit_mode == "just mem") {
            EXPECT_EQ(result.out.size(), memory_bytes);
            EXPECT_NE(result.out.find(c.box_text + '\0'), std::string::npos);
        } else {
            expect_one_box_added(c, result);
        }
    }
}

}  // namespace
