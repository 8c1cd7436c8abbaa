// End-to-end: an exercise whose student code crashes, throws, exits early,
// is stopped, or prints on standard output still gives the host its results.
// These exercises fault on purpose (CTest label "faults": not under memcheck).
#include "exercise_runner.h"
#include "exchange.h"
#include "support/bytes.h"
#include "support/sanitizers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> checks = {"int:1:1", "str2:a:b"};
const std::string prints[] = {"print:printf:A", "print:cout:B", "print:write:C"};
const std::string printed = "CAB";  // stdio's buffer reaches the file after write(2)'s bytes
const std::string long_print = std::string(199, 'x') + "\xC3\xA9" + std::string(50, 'y');
// A 4-byte character across the 200-byte cut, and a run of stray continuation bytes there.
const std::string four_byte_print = std::string(197, 'x') + "\xF0\x9F\x92\xA5" + std::string(50, 'y');
const std::string stray_print = std::string(196, 'x') + std::string(5, '\x80') + std::string(50, 'y');

// What the run sends beside the boxes of the same run without its faults.
enum class Added {
    fault_box,       // one red box
    fault_box_last,  // its own boxes, whole and in order, then one red box (threads)
    print_box,       // one box of printed output
    no_box,          // out, then the stream of the run without faults
    nothing,         // out, and no stream
};

struct FaultCase {
    const char* name;
    std::vector<std::string> steps;  // after the two checks
    std::string quit_mode;
    Added added;
    std::string box_text;  // of the added box
    std::string out;       // standard output before the stream, or all of it without one
    std::string err;       // standard error, when checked ("*": not checked)
    std::string terminate_when = "";
    std::string init_mode = "@null";
    std::string err_tail = "";  // with err "*": how standard error ends
    bool host_ignores_xfsz = false;  // SIGXFSZ ignored before init(), with and without the library
};

// Kept output is bounded by the pipe that keeps it: 1 MiB on Linux by
// default; the cut line follows it.
constexpr std::size_t kept_limit = 1024 * 1024;
const std::string cut_line =
    "quorvel: the printed output reached its limit of 1 MiB; what followed was left out\n";

// A fault after the checks, under quit(nullptr), that adds a red box with text.
FaultCase fault(const char* name, const std::string& step, const std::string& text,
                const std::string& err = "*") {
    return {name, {step}, "@null", Added::fault_box, text, "", err};
}

std::vector<std::string> with_step(std::vector<std::string> steps, const std::string& step) {
    steps.push_back(step);
    return steps;
}

std::vector<FaultCase> fault_cases() {
    const std::vector<std::string> all_prints(std::begin(prints), std::end(prints));
    const std::string segv = "crashed: invalid memory access (SIGSEGV)";
    const std::string aborted = "crashed: the program aborted (SIGABRT)";
    const std::string print_box_text =
        "line 0 of a loop that prints\nline 1 of a loop that prints\nline 2 of a loop that "
        "prints\nline 3 of a loop that prints\nline 4 of a loop that prints\nline 5 of a loop "
        "that prints\nline 6 of a loop that prin \xE2\x80\xA6 (1047594 more bytes, then cut at 1 MiB)";
    const std::string no_exception = "terminate called without an active exception";
    FaultCase term = fault("SIGTERM from outside", "await-term",
                           "stopped: the host ended the program (SIGTERM)", "checks done\n");
    term.terminate_when = "checks done\n";
    FaultCase print_loop = fault("a print loop the host stops", "print-loop",
                                 "stopped: the host ended the program (SIGTERM)");
    print_loop.terminate_when = "printed\n";
    print_loop.err_tail = "prints\n" + cut_line;
    FaultCase no_pipe{"kept output cannot be set up", {"print:write:C"}, "@null", Added::no_box,
                      "", "C", ""};
    no_pipe.init_mode = "@nofiles";
    // Descriptor 2 is free: the stream keeps off it, so a warning cannot land inside.
    FaultCase no_stderr{"the host closed standard error", {"label:0:20000"}, "@null",
                        Added::no_box, "", "", ""};
    no_stderr.init_mode = "@nostderr";
    // Box texts up to offset 9,992: 8 bytes left, too few for the fault's text;
    // and up to 9,962: 38 left, the text's length, one byte short of its NUL.
    const std::vector<std::string> memory_then_abort = {"label:1:3000", "label:1:3000",
                                                        "label:1:3000", "label:1:470", "fault:abort"};
    const std::vector<std::string> one_byte_short = {"label:1:3000", "label:1:3000", "label:1:3000",
                                                     "label:1:440", "fault:abort"};
    FaultCase efbig{"a file past its size limit, SIGXFSZ ignored", {"file-limit:1024", "write-file:2048"}, "@null",
                    Added::no_box, "", "", "write: File too large\n"};
    efbig.host_ignores_xfsz = true;
    std::vector<FaultCase> cases = {
        fault("null write", "fault:null", segv),
        fault("infinite recursion", "fault:recurse", segv),
        fault("division by zero", "fault:divzero",
              "crashed: arithmetic error, such as a division by zero (SIGFPE)"),
        fault("abort", "fault:abort", "crashed: the program aborted (SIGABRT)"),
        fault("illegal instruction", "fault:trap", "crashed: illegal instruction (SIGILL)"),
        fault("bus error", "fault:bus", "crashed: invalid memory access (SIGBUS)"),
        fault("uncaught std::runtime_error", "fault:throw", "uncaught exception: boom"),
        fault("throw 42", "fault:throw42", "uncaught exception that is not a std::exception"),
        fault("exit(3)", "exit:3", "exited with status 3 before the exercise finished", ""),
        {"exit(0)", {"exit:0"}, "@null", Added::nothing, "", "", ""},
        term,
        fault("CPU time limit", "cpu-limit", "stopped: CPU time limit reached (SIGXCPU)", ""),
        {"a file past its size limit", {"file-limit:1024", "write-file:2048"}, "@null", Added::fault_box,
         "stopped: file size limit reached (SIGXFSZ)", "", ""},
        efbig,
        {"prints, full stream", all_prints, "@null", Added::print_box, printed, "", printed},
        {"prints, none", all_prints, "none", Added::nothing, "", printed, ""},
        {"prints, just yaml", all_prints, "just yaml", Added::print_box, printed, "", printed},
        {"prints, just mem", all_prints, "just mem", Added::print_box, printed, "", printed},
        {"prints, exit 0 without quit", all_prints, "@noquit", Added::nothing, "", printed, ""},
        {"prints, terminate() of the run's image", with_step(all_prints, "terminate:run"), "@null",
         Added::print_box, printed, "", printed},
        {"long print is cut at a character", {"print:write:" + long_print}, "@null",
         Added::print_box, std::string(199, 'x') + " \xE2\x80\xA6 (52 more bytes)", "", long_print},
        {"long print is cut before a 4-byte character", {"print:write:" + four_byte_print}, "@null",
         Added::print_box, std::string(197, 'x') + " \xE2\x80\xA6 (54 more bytes)", "", four_byte_print},
        {"long print backs up 3 stray bytes at most", {"print:write:" + stray_print}, "@null",
         Added::print_box, std::string(196, 'x') + "\x80 \xE2\x80\xA6 (54 more bytes)", "", stray_print},
        {"prints, then a crash", {"print:write:C", "fault:abort"}, "@null", Added::fault_box,
         "crashed: the program aborted (SIGABRT)", "", "C"},
        {"a printed line survives a crash", {"print:printf:line%0A", "fault:null"}, "@null",
         Added::fault_box, segv, "", "*"},
        print_loop,
        {"printing past the limit", {"print-many:20"}, "@null", Added::print_box, print_box_text,
         "", "*", "", "@null", "prints\n" + cut_line},
        // A std::cout that failed on the full pipe does not stop the stream.
        {"printing past the limit with std::cout", {"print-many:20:cout"}, "@null",
         Added::print_box, print_box_text, "", "*", "", "@null", "prints\n" + cut_line},
        fault("std::terminate()", "std-terminate", no_exception),
        fault("a std::thread never joined", "forget-join", no_exception),
        {"a fault while threads append", {"threads-fault:3"}, "@null", Added::fault_box_last,
         aborted, "", "*"},
        {"a forked child exits 3", {"fork:exit3"}, "@null", Added::no_box, "", "", "child: exited 3\n"},
        {"a forked child prints, exits 0", {"fork:print0"}, "@null", Added::print_box,
         "hi from the child\n", "", "child: exited 0\nhi from the child\n"},
        {"a forked child crashes", {"fork:crash"}, "@null", Added::no_box, "", "", "*"},
        {"a forked child quits", {"fork:quit"}, "@null", Added::no_box, "", "", "child: exited 0\n"},
        // Standard output is given back buffered as it was: a pipe's lines
        // still in the buffer are lost in a crash, as without the library.
        {"a line printed after quit(\"none\"), then a crash", {"quit:none", "print:printf:x%0A", "fault:abort"},
         "@noquit", Added::nothing, "", "", "*"},
        {"no room for the fault box in the memory area", memory_then_abort, "@null", Added::no_box,
         "", "", "*"},
        {"room for the fault's text but not its NUL", one_byte_short, "@null", Added::no_box, "", "", "*"},
        {"no room for the fault box in the document", {"repeat:2000", "fault:abort"}, "@null",
         Added::no_box, "", "", "*"},
        no_stderr,
    };
    // UBSan's checks make a pipe of their own, which the tight limit denies too.
    if (!sanitized_build) {
        cases.push_back(no_pipe);
    }
    return cases;
}

ChildResult run(const std::string& init_mode, const FaultCase& c, bool with_fault = true) {
    // The steps that fill the image before a fault are part of the clean run.
    const bool fills = c.added == Added::no_box && c.steps.size() > 1;
    std::vector<std::string> args = {(c.host_ignores_xfsz ? "@ignore-xfsz/" : "") + init_mode, c.quit_mode};
    args.insert(args.end(), checks.begin(), checks.end());
    if (with_fault) {
        args.insert(args.end(), c.steps.begin(), c.steps.end());
    } else if (fills) {
        args.insert(args.end(), c.steps.begin(), c.steps.end() - 1);
    }
    return run_child(SCRIPTED_EXERCISE, args, full_stream("message_id: 1", ""), "", 60,
                     c.terminate_when);
}

// The same run without its fault: the two checks, and the steps that only
// fill the image before it.
ChildResult clean_run(const FaultCase& c) {
    FaultCase clean_case = c;
    clean_case.quit_mode = c.quit_mode == "just yaml" ? c.quit_mode : "@null";
    return run("@null", clean_case, false);
}

// The answer with the fault: the clean run's boxes byte for byte, and one more.
void expect_one_box_added(const FaultCase& c, const ChildResult& result) {
    std::string stream = result.out;
    std::string clean = clean_run(c).out;
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
    }
    const bool fault = c.added == Added::fault_box;
    if (c.quit_mode != "just yaml" && fault) {
        // The fault box ends with where the fault happened; the where table pins it.
        EXPECT_EQ(where_text(added).rfind(" at scripted_exercise.cpp:", 0) == 0, where_lookup) << added.text;
        EXPECT_TRUE(same_or_cut(fault_words(added), c.box_text)) << added.text;
    } else if (c.quit_mode != "just yaml") {
        EXPECT_TRUE(same_bytes(added.text, c.box_text));
    }
    EXPECT_EQ(fault, has_fault_style(added));
    EXPECT_EQ(added.style.at("backgroundColor"), fault ? quorvel_fail_colour : "white");
    EXPECT_EQ(added.text_style.at("color"), fault ? "white" : "black");
    EXPECT_EQ(added.style.count("borderColor"), 0U);
    if (fault) {  // as wide as its text: neither the printed box's width nor a cut of the text
        const int width = std::stoi(added.style.at("width"));
        EXPECT_TRUE(width >= quorvel_check_width && width <= 1000) << width;
    } else {
        EXPECT_EQ(added.style.at("width"), "500");
    }
}

// Boxes from several threads, whatever their number: whole, in order, every
// one a passing check, and the fault box last.
void expect_fault_box_last(const FaultCase& c, const ChildResult& result) {
    const HostView view = read_as_host(result.out);
    ASSERT_TRUE(view.ok) << view.error;
    EXPECT_EQ(box_layout_problem(view), "");
    ASSERT_GT(view.boxes.size(), checks.size() + 1);
    for (std::size_t i = checks.size(); i + 1 < view.boxes.size(); ++i) {
        EXPECT_EQ(box_kind(view.boxes[i]), BoxKind::passed) << view.boxes[i].text;
    }
    EXPECT_TRUE(has_fault_style(view.boxes.back()));
    EXPECT_TRUE(same_or_cut(fault_words(view.boxes.back()), c.box_text)) << view.boxes.back().text;
}

void expect_err(const FaultCase& c, const ChildResult& result) {
    if (c.err != "*") {
        EXPECT_TRUE(same_bytes(result.err, c.err));
    } else if (!c.err_tail.empty()) {
        // At most what the pipe holds, and the line that says the rest was left out.
        EXPECT_LE(result.err.size(), std::string("printed\n").size() + kept_limit + c.err_tail.size());
        EXPECT_GE(result.err.size(), c.err_tail.size());
        EXPECT_TRUE(same_bytes(result.err.substr(result.err.size() - c.err_tail.size()), c.err_tail));
    } else if (c.steps.front().rfind("print:", 0) == 0) {
        const std::string kept = c.steps.front() == "print:write:C" ? "C" : "line\n";
        EXPECT_EQ(result.err.rfind(kept, 0), 0U) << result.err;  // a sanitizer's report may follow
    }
}

void expect_answer(const FaultCase& c, const ChildResult& result) {
    switch (c.added) {
        case Added::nothing:
            EXPECT_TRUE(same_bytes(result.out, c.out));
            break;
        case Added::no_box:
            EXPECT_TRUE(same_bytes(result.out, c.out + clean_run(c).out));
            break;
        case Added::fault_box_last:
            expect_fault_box_last(c, result);
            break;
        default:
            if (c.quit_mode == "just mem") {
                EXPECT_EQ(result.out.size(), memory_bytes);
                EXPECT_NE(result.out.find(c.box_text + '\0'), std::string::npos);
            } else {
                expect_one_box_added(c, result);
            }
    }
}

TEST(Faults, ResultsReachTheHost) {
    for (const FaultCase& c : fault_cases()) {
        SCOPED_TRACE(c.name);
        // The same steps without init(): how the process ends without the library's handling.
        const ChildResult baseline = run("@noinit", c);
        // Without init() the library writes no stream of its own, whatever befalls the program.
        EXPECT_EQ(baseline.out.find(quorvel_separator), std::string::npos);
        const ChildResult result = run(c.init_mode, c);
        EXPECT_EQ(result.exit_code, baseline.exit_code);
        EXPECT_EQ(result.term_signal, baseline.term_signal);
        EXPECT_FALSE(result.timed_out);
        if (baseline.exit_code != 0 && baseline.err.find("runtime error:") != std::string::npos) {
            // A sanitizer caught the fault before any signal and ended the
            // process itself; its death callback sent the stream, with a box
            // in its words and at its place.
            const HostView view = read_as_host(result.out);
            ASSERT_TRUE(view.ok) << view.error;
            EXPECT_EQ(box_layout_problem(view), "");
            ASSERT_FALSE(view.boxes.empty());
            EXPECT_TRUE(fault_has_where(view.boxes.back()));
            EXPECT_EQ(where_text(view.boxes.back()).rfind(" at scripted_exercise.cpp:", 0), 0U) << view.boxes.back().text;
            continue;
        }
        expect_err(c, result);
        expect_answer(c, result);
    }
}

// A host that hands the exercise a non-blocking pipe, and reads it slowly:
// the stream (a full document, about 100,000 bytes, far more than the pipe
// holds) still arrives whole, as through a blocking one.
TEST(Faults, ANonBlockingHostGetsTheWholeStream) {
    constexpr int pipe_bytes = 4096;
    constexpr int checks_made = 400;
    int in[2];
    int out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    fcntl(out[1], F_SETPIPE_SZ, pipe_bytes);
    ASSERT_EQ(fcntl(out[1], F_SETFL, O_NONBLOCK), 0);
    const std::string exercise = SCRIPTED_EXERCISE;
    const std::string repeat = "repeat:" + std::to_string(checks_made);
    char* const argv[] = {const_cast<char*>(exercise.c_str()), const_cast<char*>("@null"),
                          const_cast<char*>("@null"), const_cast<char*>(repeat.c_str()), nullptr};
    const pid_t child = fork();
    if (child == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    const std::string message = full_stream("message_id: 1", "");
    ASSERT_EQ(write(in[1], message.data(), message.size()), static_cast<ssize_t>(message.size()));
    close(in[1]);
    std::string stream;
    char chunk[pipe_bytes];
    for (ssize_t n = 0; (n = read(out[0], chunk, sizeof chunk)) != 0;) {
        if (n > 0) {
            stream.append(chunk, static_cast<std::size_t>(n));
        }
        usleep(1000);  // a slow reader: the exercise finds the pipe full again and again
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const ChildResult blocking = run_exercise(message, {"@null", "@null", repeat});
    EXPECT_GT(stream.size(), 16U * pipe_bytes);
    EXPECT_TRUE(same_bytes(stream, blocking.out));
}

// Checks and array displays from several threads make whole boxes with
// consecutive numbers, and each display's boxes stay together. The
// ThreadSanitizer preset runs these rows (and no fault row).
TEST(Threads, ChecksFromSeveralThreadsMakeWholeBoxes) {
    const struct {
        int threads;
        int checks;
    } cases[] = {{4, 50}, {8, 10}};
    constexpr int repeats = 5;  // a torn stream showed in 2 runs of 20 without the lock
    for (const auto& c : cases) {
        for (int repeat = 0; repeat < repeats; ++repeat) {
            SCOPED_TRACE(std::to_string(c.threads) + " threads, run " + std::to_string(repeat));
            const ChildResult result = run_exercise(
                full_stream("message_id: 1", ""),
                {"@null", "@null", "threads:" + std::to_string(c.threads) + ":" + std::to_string(c.checks)});
            EXPECT_EQ(result.exit_code, 0);
            EXPECT_EQ(result.err, "");
            const HostView view = read_as_host(result.out);
            ASSERT_TRUE(view.ok) << view.error;
            EXPECT_EQ(box_layout_problem(view), "");
            ASSERT_EQ(view.boxes.size(), static_cast<std::size_t>(c.threads * (c.checks + 5)));
            int displays = 0;
            for (std::size_t i = 1; i + 3 < view.boxes.size(); ++i) {
                if (view.boxes[i].text != "int") {
                    continue;
                }
                ++displays;
                EXPECT_EQ(view.boxes[i - 1].text, "");
                const int first = std::stoi(view.boxes[i + 1].text);
                EXPECT_EQ(first % 1000, 0);
                EXPECT_EQ(view.boxes[i + 2].text, std::to_string(first + 1));
                EXPECT_EQ(view.boxes[i + 3].text, std::to_string(first + 2));
            }
            EXPECT_EQ(displays, c.threads);
        }
    }
}

}  // namespace
