// The previewer, run as a host and a user would run it.
#include "child_process.h"
#include "exercise_runner.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/sanitizers.h"
#include "program_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::string viewer = QUORVEL_VIEW;
const std::string golden_dir = GOLDEN_DIR;
constexpr long memory_bound_kib = 64 * 1024;  // what the viewer may take, however hostile the run

std::string view_corpus(const std::string& name) {
    return read_file(std::string(FUZZ_CORPUS_DIR) + "/view/" + name);
}

// True while pid names a process that has not ended.
bool alive(const std::string& pid) {
    const std::string stat = read_file("/proc/" + pid + "/stat");
    const std::size_t after = stat.rfind(')');
    return after != std::string::npos && stat.size() > after + 2 && stat[after + 2] != 'Z';
}

// Compares with a golden file; QUORVEL_UPDATE_GOLDEN=1 rewrites it instead.
void expect_golden(const std::string& actual, const std::string& name) {
    const std::string path = golden_dir + "/" + name;
    if (std::getenv("QUORVEL_UPDATE_GOLDEN") != nullptr) {
        write_file(path, actual);
    }
    bool exists = false;
    const std::string expected = read_file(path, &exists);
    ASSERT_TRUE(exists) << path;
    EXPECT_EQ(actual, expected) << "differs from " << path;
}

// A run of the real library holding every kind of box worth rendering.
std::string sample_stream() {
    const ChildResult run = run_exercise(
        full_stream("message_id: 4\ntitle: Arrays\nsettings: {level: 2}", ""),
        {"@null", "@null", "int:1:1", "int:2:3", "ints:7,-12", "chars:ab:3",
         "str2:caf%C3%A9:caf%C3%A9", "box:<script>alert(1)</script>:white:200:20:18:black:",
         "box:hostile colours:red;background-image%3Aurl(x):200:20:18:expression(alert(1)):"
         "#12345g",
         "box:tabs%09and%1B[31mescapes:%23fc0:200:20:18:rgb(1, 2, 3):"});
    EXPECT_EQ(run.err, "");
    return run.out;
}

TEST(View, RendersPlainTextAndHtml) {
    const std::string dir = make_temp_dir();
    write_file(dir + "/run.stream", sample_stream());
    const ChildResult result =
        run_child(viewer, {"--html", dir + "/page.html", dir + "/run.stream"}, "");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    expect_golden(result.out, "view.txt");
    const std::string page = read_file(dir + "/page.html");
    expect_golden(page, "view.html");
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("expression("), std::string::npos);
    EXPECT_EQ(page.find("url("), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
}

TEST(View, ReadsStandardInputAndNeedsNoColourWithoutATerminal) {
    const std::string stream = sample_stream();
    const ChildResult from_file = run_child(viewer, {}, stream);
    EXPECT_EQ(from_file.exit_code, 0);
    EXPECT_EQ(from_file.out.find('\x1b'), std::string::npos);
    EXPECT_NE(from_file.out.find("15 boxes: 2 green, 1 red\n"), std::string::npos);
}

TEST(View, ReportsMalformedStreams) {
    const std::string memory = memory_area();
    const std::string box = "View_correctness_1:\n  style: {width: 200}\n  children: [Text_correctness_1]\n";
    const struct {
        const char* name;
        std::string stream;
        std::string error;
    } cases[] = {
        {"no separator", "message_id: 1\n", "no separator \"\\n---\\n\" between the document and the memory area"},
        {"truncated memory", full_stream("message_id: 1", memory.substr(0, 500)),
         "the memory area has 500 bytes, not " + std::to_string(memory_bytes)},
        {"invalid YAML", full_stream("a: [1, 2\nb: c", memory),
         "the document is not valid YAML: did not find expected ',' or ']' at line 2"},
        {"not a mapping", full_stream("- 1\n- 2", memory), "the document is not a YAML mapping"},
        {"box without text", full_stream(box, memory),
         "View_correctness_1 has no Text_correctness_1 element"},
        {"text outside memory", full_stream(box + "Text_correctness_1:\n  pos: 9998\n  len: 3", memory),
         "Text_correctness_1: pos 9998 and len 3 lie outside the memory area"},
        {"negative pos", full_stream(box + "Text_correctness_1:\n  pos: -1\n  len: 3", memory),
         "Text_correctness_1: pos -1 and len 3 lie outside the memory area"},
        {"no len", full_stream(box + "Text_correctness_1:\n  pos: 500", memory),
         "Text_correctness_1: pos 500 and len (none) lie outside the memory area"},
        {"huge len", full_stream(box + "Text_correctness_1:\n  pos: 1\n  len: 99999999999999999999", memory),
         "Text_correctness_1: pos 1 and len 99999999999999999999 lie outside the memory area"},
        {"repeated key", full_stream("a: 1\na: 2", memory), "the document repeats the key a"},
        {"40,000 nested [", view_corpus("deep_nesting"),
         "the document is not valid YAML: nesting deeper than 64 levels at line 65"},
        {"an alias in a box", view_corpus("alias_in_box"),
         "View_correctness_1 or Text_correctness_1 uses a YAML alias"},
        {"more than a stream can be", view_corpus("too_long"), "the stream has more than 100004 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ChildResult result = run_child(viewer, {}, c.stream);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "quorvel-view: " + c.error + "\n");
        if (!sanitized_build) {
            EXPECT_LT(result.max_rss_kib, memory_bound_kib);
        }
    }
}

// Eleven levels of aliases in the host's part: shown as written, never
// expanded (once 24 GB and the out-of-memory killer).
TEST(View, HostAliasesAreShownAsWritten) {
    const ChildResult result = run_child(viewer, {}, view_corpus("billion_laughs"));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("  l11: (list of 10 items)\n"), std::string::npos) << result.out;
    if (!sanitized_build) {
        EXPECT_LT(result.max_rss_kib, memory_bound_kib);
    }
}

TEST(View, PlaysTheHost) {
    const ChildResult example = run_child(viewer, {"--run", "--", HELLO_EXERCISE}, "");
    EXPECT_EQ(example.exit_code, 0);
    EXPECT_EQ(example.err, "");
    EXPECT_NE(example.out.find("  message_id: 0\n"), std::string::npos);
    EXPECT_NE(example.out.find("9 boxes: 3 green, 1 red\n"), std::string::npos);

    const ChildResult with_id = run_child(
        viewer, {"--run", "--message-id", "-3", "--", SCRIPTED_EXERCISE, "@null", "@null", "id"}, "");
    EXPECT_EQ(with_id.exit_code, 0);
    EXPECT_EQ(with_id.out.rfind("standard error of " + std::string(SCRIPTED_EXERCISE) +
                                    ":\nWarning in init:  invalid message id -3\nid=-3 starting=0\n",
                                0),
              0U);

    const std::string dir = make_temp_dir();
    write_file(dir + "/archived.txt", full_stream("message_id: 12", "host"));
    const ChildResult with_input =
        run_child(viewer, {"--run", "--input", dir + "/archived.txt", "--", SCRIPTED_EXERCISE,
                           "@null", "@null", "int:5:5"}, "");
    EXPECT_EQ(with_input.exit_code, 0);
    EXPECT_NE(with_input.out.find("  message_id: 12\n"), std::string::npos);
    EXPECT_NE(with_input.out.find("\"5 == 5\""), std::string::npos);
}

TEST(View, ReportsProgramsThatFail) {
    const std::string exercise = SCRIPTED_EXERCISE;
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string error;
        std::string shown;  // a box the viewer still shows
    } cases[] = {
        {"crash", {"--run", "--", "sh", "-c", "kill -SEGV $$"},
         "sh crashed: signal 11 (Segmentation fault)", ""},
        {"never exits", {"--run", "--timeout", "0.3", "--", "sleep", "30"},
         "sleep did not finish within 0.3 s and was killed", ""},
        {"exits non-zero", {"--run", "--", "sh", "-c", "exit 4"}, "sh exited with status 4", ""},
        {"the first word starts the command", {"--run", "--timeout", "5", "sh", "-c", "exit 4", "--bogus"},
         "sh exited with status 4", ""},
        {"not found", {"--run", "--", "/nonexistent/exercise"},
         "cannot run /nonexistent/exercise: No such file or directory", ""},
        {"exits 127, as a shell's missing command does", {"--run", "--", "sh", "-c", "exit 127"},
         "sh exited with status 127", ""},
        {"its own file size limit", {"--run", "--", "sh", "-c", "ulimit -f 1; exec head -c 5000 /dev/zero >f"},
         "sh was stopped: a file size limit (SIGXFSZ)", ""},
        {"the exercise's own file size limit", {"--run", "--", exercise, "@null", "@null", "int:1:1", "file-limit:10",
                                                "write-file:2048"},
         exercise + " was stopped: a file size limit (SIGXFSZ)", "\"stopped: file size limit reached (SIGXFSZ)"},
        {"prints more than a stream can be", {"--run", "--", "sh", "-c", "head -c 200000 /dev/zero; exit 5"},
         "sh exited with status 5\nquorvel-view: more than 100004 bytes on standard output", ""},
        {"stopped at the time limit",
         {"--run", "--timeout", "0.5", "--", exercise, "@null", "@null", "int:1:1", "await-term"},
         exercise + " did not finish within 0.5 s and was killed",
         std::string("\"stopped: the host ended the program (SIGTERM)") +
             (where_lookup ? " at scripted_exercise.cpp:" : "\"")},
    };
    const std::string dir = make_temp_dir();  // for the files they write
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ChildResult result = run_child(viewer, c.args, "", dir);
        EXPECT_EQ(result.exit_code, 3);
        EXPECT_EQ(result.err, "quorvel-view: " + c.error + "\n");
        if (!c.shown.empty()) {
            EXPECT_NE(result.out.find(c.shown), std::string::npos) << result.out;
            EXPECT_NE(result.out.find("\"1 == 1\""), std::string::npos);
        }
    }
    // With four file descriptors to spare, the viewer (and a sanitizer's
    // runtime) can start, but not make the six ends of its three pipes.
    const std::string spare_one =
        "for fd in /proc/$$/fd/*; do n=${fd##*/}; [ \"$n\" -gt 2 ] && eval \"exec $n>&-\"; done; "
        "ulimit -n 7 && exec \"$0\" --run -- true";
    const ChildResult no_pipes = run_child("bash", {"-c", spare_one, viewer}, "");
    EXPECT_EQ(no_pipes.exit_code, 3);
    EXPECT_EQ(no_pipes.err, "quorvel-view: cannot start true: pipe: Too many open files\n");
}

// Executable scripts in dir, each a name and its lines after "#!/bin/sh".
void write_scripts(const std::string& dir, std::initializer_list<std::pair<const char*, std::string>> scripts) {
    for (const auto& [name, body] : scripts) {
        write_file(dir + "/" + name, "#!/bin/sh\n" + body + "\n");
        chmod((dir + "/" + name).c_str(), 0755);
    }
}

// The line that runs the scripted exercise with steps.
std::string exercise(const std::string& steps) { return std::string("exec ") + SCRIPTED_EXERCISE + " @null @null " + steps; }

// Exercises for --check, each a script in dir that runs the scripted exercise.
void write_exercises(const std::string& dir) {
    write_scripts(dir, {{"green", exercise("int:1:1 str2:a:a")},
                        {"red", exercise("int:1:1 int:0:1")},
                        {"crash", exercise("int:1:1 ints:7 fault:abort")},  // no sanitizer reports an abort first
                        {"hostile", exercise("'box:<b>\"x\"</b> # a%0Ab %00 %FF %E0%97:red:200:20:18:white:'")},
                        {"redexit", exercise("int:0:1 quit:@null exit:1")},  // a real failed check, then exit 1
                        {"malformed", "echo not a stream"}});
}

// A report with its times and timestamps blanked, to compare two runs.
std::string without_times(const std::string& report) {
    static const std::regex times(R"re((time|timestamp)="[^"]*"|"(execution_time|cpu_seconds)": [0-9.]+)re");
    return std::regex_replace(report, times, "$1");
}

ChildResult check(const std::string& dir, std::vector<std::string> args) {
    args.insert(args.begin(), "--check");
    return run_child(viewer, args, "", dir);
}

TEST(ViewCheck, ExitStatusIsTheMostSerious) {
    const std::string dir = make_temp_dir();
    write_exercises(dir);
    const struct {
        std::vector<std::string> programs;
        int status;
    } cases[] = {
        {{"./green"}, 0},
        {{"./green", "./red"}, 4},
        {{"./malformed", "./red"}, 1},
        {{"./red", "./crash", "./malformed"}, 3},
        {{"./green", "./nonexistent"}, 3},
        {{"./green", "-j", "1", "./red", "--timeout", "20"}, 4},  // options among the programs
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.programs.back());
        EXPECT_EQ(check(dir, c.programs).exit_code, c.status);
    }
    // --run keeps its statuses: a red box is shown, not an error.
    EXPECT_EQ(run_child(viewer, {"--run", "--", "./red"}, "", dir).exit_code, 0);
    EXPECT_EQ(run_child(viewer, {"--run", "--format", "json", "--", "./red"}, "", dir).exit_code, 0);
}

// Every format of one --check over a green, a red, a crashing and a hostile
// exercise, as a real consumer of the format reads it; -j 2 reports as -j 1.
TEST(ViewCheck, ReportsAsTheirReadersSeeThem) {
    const std::string dir = make_temp_dir();
    write_exercises(dir);
    const std::string python = SYSTEM_PYTHON;
    const std::string readers = std::string(TESTS_DIR) + "/support/report_readers.py";
    const std::vector<std::string> every = {"./green", "./red", "./crash", "./hostile", "./redexit"};
    // Where the crash happened, as the fault box names it in a build with the lookup.
    const std::string abort_line =
        std::to_string(marker_line(std::string(TESTS_DIR) + "/programs/scripted_exercise.cpp", "fault-abort"));
    const std::string where = where_lookup ? " at scripted_exercise.cpp:" + abort_line + " in fault" : "";
    const std::string json_where = where_lookup ? "  where scripted_exercise.cpp " + abort_line + " fault" : "valid";
    const std::string junit_where = where_lookup ? "    at scripted_exercise.cpp " + abort_line : "./crash 2 0 1";
    const struct {
        std::string format;
        std::vector<std::string> reader;  // run in dir on the file "report"; empty: none
        std::vector<std::string> seen;     // lines the reader (or the report) must hold
        std::vector<std::string> programs;
    } cases[] = {
        {"text", {}, {"passed          ./green  2 boxes, 2 passed, 0 failed",
                      "failed          ./red  2 boxes, 1 passed, 1 failed",
                      "crashed         ./crash  5 boxes, 1 passed, 0 failed; ./crash crashed: "
                      "signal 6 (Aborted)" + where,
                      "failed          ./hostile  1 box, 0 passed, 1 failed",
                      "exited non-zero ./redexit  1 box, 0 passed, 1 failed; ./redexit exited with "
                      "status 1",
                      "5 programs: 1 passed, 2 failed, 2 with errors; 7 checks: 4 passed, 3 failed"},
         every},
        {"json", {python, readers, "json", SCHEMA_FILE, "report"},
         {"valid", "./red failed 0", "  2 false \"0 != 1\"", "./crash crashed -6",
          json_where, "  5 null \"crashed: the program aborted (SIGABRT)" + where + "\"",
          "  1 false \"<b>\\\"x\\\"</b> # a\\nb \\u0000 \\u00ff \\u00e0\\u0097\"",
          "./redexit exited non-zero 1",
          "  1 false \"0 != 1\"", "summary 5 7 4 3 2"},
         every},
        {"tap", {"prove", "--exec", "cat", "report"},
         {"Failed 5/9 subtests ", "report (Wstat: 0 Tests: 9 Failed: 5)", "  Failed tests:  4, 6-9"},
         every},
        {"junit", {python, readers, "junit", "report"},
         {"./red 2 1 0", "  \"box 2: 0 != 1\" failure", "./crash 2 0 1", "  \"run\" error",
          junit_where,
          "./hostile 1 1 0",
          "  \"box 1: <b>\\\"x\\\"</b> # a\\nb \\\\x00 \\\\xFF \\\\xE0\\\\x97\" failure",
          "./redexit 2 1 1", "  \"box 1: 0 != 1\" failure"},
         every},
        {"junit", {python, readers, "junit", "report"},
         {"./green 2 0 0", "  time set cases 0.0", "./crash 2 0 1", "  time set cases 0.0"},
         {"./green", "./crash"}},
        {"gradescope", {python, readers, "gradescope", GRADESCOPE_SCHEMA_FILE, "report"},
         {"valid", "./green passed 1 of 1", "./red failed 0 of 1", "./crash failed 0 of 1", "score 1 of 3"},
         {"./green", "./red", "./crash"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        std::vector<std::string> args = {"--format", c.format, "-j", "1"};
        args.insert(args.end(), c.programs.begin(), c.programs.end());
        const ChildResult one = check(dir, args);
        args[3] = "2";
        const ChildResult two = check(dir, args);
        EXPECT_EQ(one.exit_code, 3);
        EXPECT_TRUE(same_bytes(without_times(two.out), without_times(one.out)));
        write_file(dir + "/report", one.out);
        const std::string seen =
            c.reader.empty() ? one.out
                             : run_child(c.reader.front(), {c.reader.begin() + 1, c.reader.end()}, "", dir).out;
        EXPECT_EQ(seen.find("Parse errors"), std::string::npos) << seen;  // prove's word for bad TAP
        for (const std::string& line : c.seen) {
            EXPECT_NE(("\n" + seen).find("\n" + line + "\n"), std::string::npos) << line << "\nin:\n" << seen;
        }
    }
}

// --checks, --points, --partial-credit and --visibility: how each run is
// graded, in the reports that carry it.
// How each run ends and is graded, in the reports that carry it: a limit or
// the viewer's interrupt stops a run; --checks, --points, --partial-credit
// and --visibility grade it; --cpu-time judges the program, not the machine.
TEST(ViewCheck, ReportsStopsAndGrades) {
    const std::string dir = make_temp_dir();
    write_scripts(dir, {{"three", exercise("int:1:1 int:2:2 int:3:3")}, {"threered", exercise("int:1:1 int:0:1 int:3:3")},
                        {"five", exercise("int:1:1 int:2:2 int:3:3 int:4:4 int:5:5")}, {"none", exercise("")},
                        {"red", exercise("int:1:1 int:2:2 int:3:3 int:0:1")}, {"crash", exercise("int:1:1 int:2:2 fault:abort")},
                        {"two", exercise("int:1:1 int:2:2")}, {"fsz", exercise("int:1:1 write-file:2048")},
                        {"busy", exercise("int:1:1 spin:100000")}, {"sleeper", "sleep 2\n" + exercise("int:1:1")},
                        {"hog", exercise("int:1:1 hog:40")}, {"victim", exercise("spin:700 int:1:1")},
                        {"trap", "trap 'exit 0' TERM\nsleep 30 & wait"}, {"die", "sleep 30"}});
    const std::string short_of = "3 of 5 checks (--checks 5)";
    const std::string limit = "./fsz was stopped: it wrote a file past the limit of 1 MiB (--file-size)";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string seen;  // pieces, each somewhere in the report, split by " | "
    } cases[] = {
        {{"--file-size", "1", "./fsz"}, 3, "stopped         ./fsz  2 boxes, 1 passed, 0 failed; " + limit},
        {{"--file-size", "1", "--format", "json", "./fsz"}, 3, "\"status\": \"stopped\", \"exit\": -25, "},
        {{"--file-size", "1", "--format", "tap", "./fsz"}, 3, "# ./fsz: stopped\n"},
        {{"--file-size", "1", "--format", "junit", "./fsz"}, 3, "<error message=\"" + limit + ": stopped: file size limit reached (SIGXFSZ)"},
        {{"--file-size", "1", "--format", "gradescope", "./fsz"}, 3, "\"status\": \"failed\",\n     \"output\": \"passed  box 1: 1 == 1\\nshown   box 2: stopped: "},
        {{"--checks", "5", "./three"}, 4, "incomplete      ./three  3 boxes, 3 passed, 0 failed; " + short_of + "\n | 1 program: 0 passed, 0 failed, 1 incomplete, 0 with errors;"},
        {{"--checks", "5", "--format", "json", "./three"}, 4, "\"status\": \"incomplete\", \"exit\": 0, \"score\": 0 | \"error\": \"" + short_of + "\""},
        {{"--checks", "5", "--format", "tap", "./three"}, 4, "1..4\n | not ok 4 - ./three: " + short_of + "\n"},
        {{"--checks", "5", "--format", "junit", "./three"}, 4, "name=\"checks\" time=\"0\">\n      <failure message=\"" + short_of},
        {{"--checks", "5", "--format", "gradescope", "./three"}, 4, "\"status\": \"failed\",\n     \"output\": \"passed  box 1: 1 == 1\\npassed  box 2: 2 == 2\\npassed  box 3: 3 == 3\\nincomplete: " + short_of},
        {{"--checks", "5", "./threered"}, 4, "incomplete      ./threered"},
        {{"--checks", "5", "./five"}, 0, "passed          ./five"},
        {{"--checks", "1", "./none"}, 4, "incomplete      ./none  0 boxes, 0 passed, 0 failed; 0 of 1 checks (--checks 1)"},
        {{"./none"}, 0, "passed          ./none  0 boxes, 0 passed, 0 failed; no check box\n"},
        {{"--partial-credit", "--points", "10", "--checks", "4", "--format", "gradescope", "./red", "./crash", "./two", "./gone"},
         3, "\"./red\", \"score\": 7.5, | \"./crash\", \"score\": 5, | \"./two\", \"score\": 5, | \"./gone\", \"score\": 0, "},
        {{"--points", "10", "--checks", "4", "--format", "gradescope", "./red", "./crash", "./two", "./gone", "./five"},
         3, "\"./red\", \"score\": 0, | \"./crash\", \"score\": 0, | \"./two\", \"score\": 0, | \"./gone\", \"score\": 0, | \"./five\", \"score\": 10, "},
        {{"--points", "10", "--partial-credit", "--checks", "3", "--format", "gradescope", "./two"}, 4, "{\"score\": 6.67, "},
        {{"--visibility", "after_due_date", "--format", "gradescope", "./five"}, 0,
         "\"visibility\": \"after_due_date\",\n | \"status\": \"passed\", \"visibility\": \"after_due_date\",\n"},
        {{"--cpu-time", "1", "--timeout", "5", "--format", "json", "./busy", "./sleeper"}, 3,
         "\"./busy was stopped: it used more than 1 s of CPU time (--cpu-time)\" | \"text\": \"stopped: CPU time limit reached (SIGXCPU) | \"./sleeper\", \"status\": \"passed\""},
    };
    for (const auto& c : cases) {
        const ChildResult result = check(dir, c.args);
        EXPECT_EQ(result.exit_code, c.status) << c.args.front() << "\n" << result.out;
        for (std::size_t at = 0, bar = 0; bar != std::string::npos; at = bar + 3) {
            bar = c.seen.find(" | ", at);
            EXPECT_NE(result.out.find(c.seen.substr(at, bar - at)), std::string::npos) << c.seen << "\n" << result.out;
        }
    }
    write_file(dir + "/report", check(dir, {"--visibility", "after_due_date", "--format", "gradescope", "./five"}).out);
    EXPECT_EQ(run_child(SYSTEM_PYTHON, {std::string(TESTS_DIR) + "/support/report_readers.py", "gradescope",
                                        GRADESCOPE_SCHEMA_FILE, "report"}, "", dir).out.rfind("valid\n", 0), 0U);
    const std::string busy = check(dir, {"--cpu-time", "1", "--format", "json", "./busy"}).out;
    double cpu = 0;
    ASSERT_EQ(std::sscanf(busy.substr(busy.find("\"cpu_seconds\": ")).c_str(), "\"cpu_seconds\": %lf", &cpu), 1);
    EXPECT_TRUE(cpu > 0.5 && cpu < 2) << cpu;  // about 1.1; once, under a loaded machine, 0.82
    // A hog of 40 threads beside the program on one CPU: without --cpu-time the program needs about 29 s.
    const ChildResult neighbours = run_child(
        "taskset", {"-c", "0", viewer, "--check", "-j", "2", "--cpu-time", "1", "--timeout", "6", "./hog", "./victim"}, "", dir);
    EXPECT_NE(neighbours.out.find("stopped         ./hog"), std::string::npos) << neighbours.out;
    EXPECT_NE(neighbours.out.find("passed          ./victim"), std::string::npos) << neighbours.out;
    // The viewer's SIGINT stops a program that traps SIGTERM and exits 0, and one that dies by it.
    const std::string interrupt = "\"$0\" --check -j 2 --format json --output report ./trap ./die & sleep 1; kill -INT $!; wait $!";
    EXPECT_EQ(run_child("sh", {"-c", interrupt, viewer}, "", dir).exit_code, 128 + SIGINT);
    const std::string report = read_file(dir + "/report");
    for (const char* name : {"./trap", "./die"}) {
        EXPECT_NE(report.find(std::string("\"") + name + "\", \"status\": \"stopped\", \"exit\": -" +
                              (name[2] == 't' ? "1" : "15")), std::string::npos) << report;
        EXPECT_NE(report.find(std::string("\"error\": \"") + name + " was stopped: quorvel-view was interrupted\""),
                  std::string::npos) << report;
    }
}

TEST(View, RejectsBadUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {"--run"},
        {"--bogus"},
        {"a", "b"},
        {"--message-id", "4"},
        {"--run", "--message-id", "x", "--", "true"},
        {"--run", "--message-id", "1", "--input", "f", "--", "true"},
        {"--run", "--timeout", "0", "--", "true"},
        {"--html"},
        {"--check"},
        {"--check", "-j", "0", "./x"},
        {"--check", "--format", "xml", "./x"},
        {"--run", "--check", "--", "true"},
        {"-j", "2", "stream"},
        {"--check", "-j", "99999999999", "./x"},
        {"--check", "-j", "1025", "./x"},
        {"--check", "-j", "2x", "./x"},
        {"--check", "-j", "0x10", "./x"},   // decimal only: not 16
        {"--check", "-j", "+3", "./x"},
        {"--check", "-j", "01025", "./x"},  // not 533, as octal would be
        {"--check", "-j"},
        {"--run", "--bogus", "--", "true"},
        {"--check", "--timeout", "86401", "./x"},
        {"--check", "--memory", "0", "./x"},
        {"--check", "--memory", "1048577", "./x"},
        {"--check", "--memory", "lots", "./x"},
        {"--memory", "64", "stream"},
        {"--check", "--shard", "4/3", "./x"},
        {"--check", "--shard", "0/3", "./x"},
        {"--check", "--shard", "1/0", "./x"},
        {"--check", "--shard", "1", "./x"},
        {"--shard", "1/2", "stream"},
        {"--check", "--source-dir", ".", "./x"},
        {"--source-dir", ".", "stream"},
        {"--check", "--partial-credit", "./x"},
        {"--run", "--checks", "1", "--", "true"},
        {"--run", "--points", "2", "--", "true"},
        {"--run", "--partial-credit", "--", "true"},
        {"--run", "--visibility", "hidden", "--", "true"},
        {"--run", "--cpu-time", "1", "--", "true"},
        {"--check", "--points", "0", "./x"},
        {"--check", "--points", "1e3", "./x"},
        {"--check", "--points", "1.234", "./x"},
        {"--check", "--visibility", "sometimes", "./x"},
        {"--check", "--cpu-time", "0", "./x"},
    };
    for (const auto& args : cases) {
        const ChildResult result = run_child(viewer, args, "");
        EXPECT_EQ(result.exit_code, 2) << args[0];
        EXPECT_NE(result.err.find("usage: quorvel-view"), std::string::npos);
    }
    EXPECT_EQ(run_child(viewer, {"/nonexistent/stream"}, "").exit_code, 2);
}

// --shard K/N: the programs sorted by name, every N-th from the K-th on, so
// that N jobs cover each once whatever order they are given in.
TEST(ViewCheck, ShardsCoverEveryProgramOnce) {
    const std::string dir = make_temp_dir();
    const std::vector<std::string> seven = {"./p4", "./p1", "./p7", "./p2", "./p6", "./p3", "./p5"};
    for (const std::string& program : seven) {
        write_file(dir + "/" + program, std::string("#!/bin/sh\nexec ") + SCRIPTED_EXERCISE + " @null @null int:1:1\n");
        chmod((dir + "/" + program).c_str(), 0755);
    }
    std::vector<std::string> covered;
    for (int shard = 1; shard <= 3; ++shard) {
        std::vector<std::string> args = {"--shard", std::to_string(shard) + "/3"};
        args.insert(args.end(), seven.begin(), seven.end());
        const ChildResult result = check(dir, args);
        EXPECT_EQ(result.exit_code, 0);
        for (const std::string& program : seven) {
            if (result.out.find("passed          " + program + "  ") != std::string::npos) {
                covered.push_back(program);
            }
        }
    }
    std::sort(covered.begin(), covered.end());
    EXPECT_EQ(covered, (std::vector<std::string>{"./p1", "./p2", "./p3", "./p4", "./p5", "./p6", "./p7"}));
    const ChildResult empty = check(dir, {"--shard", "3/3", "./p1", "./p2"});
    EXPECT_EQ(empty.exit_code, 0);
    EXPECT_EQ(empty.out, "0 programs: 0 passed, 0 failed, 0 with errors; 0 checks: 0 passed, 0 failed\n");
}

// The HTML preview as a browser lays it out: the text of no check box runs
// past its box, however long its label. Skipped without Chromium
// (tools/install-deps.sh ci brings it).
TEST(View, LabelsFitTheirBoxesInChromium) {
    const std::string dir = make_temp_dir();
    const std::string twelve = "1,1,1,1,1,1,1,1,1,1,1,";
    const ChildResult checks = run_exercise(
        full_stream("message_id: 1", ""),
        {"@null", "@null", "list:int:1,2,3,4,5:int:1,2,3,4,6",
         "text:string:the quick brown fox:string:the quick brown fix",
         "list:int:" + twelve + "1:int:" + twelve + "2", "typed:double:3.14159265358979:double:3.1415926535",
         "text:string:the quick brown fox:string:the quick brown fox", "nested:other",
         "text:string:" + std::string(40, 'W') + ":string:" + std::string(40, 'M'),
         "text:string:" + std::string(300, 'm') + "x:string:" + std::string(300, 'm') + "y",
         "text:string:%E6%BC%A2%E5%AD%97%E2%80%A6:string:%E6%BC%A2%E5%AD%97", "int:12345:54321"});
    // Fault boxes: the longest signal text, a long exception text, a long where.
    std::vector<std::string> streams = {checks.out};
    for (const char* step : {"fpe", "at", "long", "segv"}) {
        streams.push_back(run_child(WHERE_EXERCISE + std::string("debug"), {step}, full_stream("message_id: 1", "")).out);
    }
    // Each box whose text ends past its right edge, by its number.
    const std::string measure =
        "<script>const boxes = [...document.querySelectorAll('.box')];"
        "const over = boxes.filter(b => b.firstElementChild.getBoundingClientRect().right >"
        " b.getBoundingClientRect().right).map(b => b.id);"
        "const p = document.createElement('pre'); p.id = 'fit';"
        "p.textContent = boxes.length + ' boxes, past their edge: ' + over.join(' ');"
        "document.body.appendChild(p);</script>";
    for (std::size_t i = 0; i < streams.size(); ++i) {
        SCOPED_TRACE(i);
        write_file(dir + "/run.stream", streams[i]);
        ASSERT_EQ(run_child(viewer, {"--html", dir + "/page.html", dir + "/run.stream"}, "").exit_code, 0);
        std::string page = read_file(dir + "/page.html");
        page.insert(page.rfind("</body>"), measure);
        write_file(dir + "/page.html", page);
        const ChildResult dom = run_child(
            "bash", {std::string(TOOLS_DIR) + "/headless-chromium.sh", "--dump-dom", "file://" + dir + "/page.html"}, "");
        if (dom.exit_code == 77) {
            GTEST_SKIP() << dom.err;
        }
        const std::string fit = std::to_string(i == 0 ? 10 : 2) + " boxes, past their edge: </pre>";
        EXPECT_NE(dom.out.find("<pre id=\"fit\">" + fit), std::string::npos)
            << dom.out.substr(dom.out.find("<pre id=\"fit\">"));
    }
}

// A report that cannot be written in full, here to a full disk, is an
// error with a message, in every format.
TEST(View, SaysWhenStandardOutputFails) {
    for (const char* format : {"text", "json", "tap", "junit", "gradescope"}) {
        SCOPED_TRACE(format);
        const ChildResult result = run_child(
            "sh", {"-c", "exec \"$0\" --check --format \"$1\" -- \"$2\" >/dev/full", viewer, format, HELLO_EXERCISE}, "");
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_EQ(result.err, "quorvel-view: cannot write standard output: No space left on device\n");
    }
}

TEST(View, TellsItsVersionAndHelp) {
    const ChildResult result = run_child(viewer, {"--version"}, "");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, std::string("quorvel-view ") + QUORVEL_VERSION + "\n");
    const ChildResult help = run_child(viewer, {"--help"}, "");
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("usage: quorvel-view", 0), 0U);
    for (const char* line : {"\n--run and --check:\n", "\n--check:\n", "\n  -j N ", "\n  --shard K/N "}) {
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
    }
    // Every exit status, as its table gives it, in --help, the manual page and the README.
    std::string unwrapped = help.out;
    std::replace(unwrapped.begin(), unwrapped.end(), '\n', ' ');
    const std::string page = std::regex_replace(read_file(TESTS_DIR "/../docs/quorvel-view.1.in"), std::regex(R"(\\-)"), "-");
    const std::string readme = read_file(TESTS_DIR "/../README.md");
    for (const ExitStatus& status : exit_statuses) {
        const std::string code = std::to_string(status.code);
        EXPECT_NE(unwrapped.find(" " + code + " " + status.meaning), std::string::npos) << code;
        EXPECT_NE(page.find(".B " + code + "\n" + status.meaning), std::string::npos) << code;
        EXPECT_NE(readme.find("\n- " + code + ": " + status.meaning + "\n"), std::string::npos) << code;
    }
}

// Programs that print without end, on standard output or standard error:
// the viewer's memory and the report stay small.
TEST(ViewCheck, PrintLoopsStayBounded) {
    const std::string dir = make_temp_dir();
    std::vector<std::string> args = {"--check", "-j", "2", "--timeout", "1", "--format", "junit"};
    for (const char* stream : {"out", "err"}) {
        for (int i = 0; i < 4; ++i) {
            const std::string name = std::string(stream) + std::to_string(i);
            write_file(dir + "/" + name, std::string("#!/bin/sh\nexec yes") + (stream[0] == 'e' ? " >&2\n" : "\n"));
            chmod((dir + "/" + name).c_str(), 0755);
            args.push_back("./" + name);
        }
    }
    const ChildResult result = run_child(viewer, args, "", dir);
    EXPECT_EQ(result.exit_code, 3);
    if (!sanitized_build) {
        EXPECT_LT(result.max_rss_kib, memory_bound_kib);
    }
    // Each of 8 programs: at most 64 KiB of "y\n", written "y&#10;" in XML.
    EXPECT_LT(result.out.size(), 8U * 3 * 64 * 1024 + 8 * 1024);
    EXPECT_EQ(count_of(result.out, "more bytes of standard error left out"), 4U);
    EXPECT_EQ(count_of(result.out, "did not finish within 1 s"), 8U);
}

// A run ends when its program does: a child it leaves behind is stopped
// with its group, and so are the programs of a viewer that is interrupted.
TEST(View, NothingOutlivesItsRun) {
    const std::string dir = make_temp_dir();
    write_file(dir + "/leaves_a_child", std::string("#!/bin/sh\nsleep 300 &\necho $! > sleeper\nexec ") +
                                            SCRIPTED_EXERCISE + " @null @null int:1:1\n");
    chmod((dir + "/leaves_a_child").c_str(), 0755);
    const ChildResult left = run_child(viewer, {"--check", "--timeout", "60", "./leaves_a_child"}, "", dir);
    EXPECT_EQ(left.exit_code, 0) << left.out;
    EXPECT_FALSE(alive(read_file(dir + "/sleeper").substr(0, read_file(dir + "/sleeper").find('\n'))));

    // SIGTERM to the viewer (at the test's time limit): it stops its
    // program's group, then ends by that signal.
    const ChildResult stopped = run_child(
        viewer, {"--run", "--timeout", "60", "--", "sh", "-c", "sleep 300 & echo $! > sleeper; sleep 300"},
        "", dir, 1.0);
    EXPECT_EQ(stopped.term_signal, SIGTERM);
    const std::string sleeper = read_file(dir + "/sleeper");
    EXPECT_FALSE(alive(sleeper.substr(0, sleeper.find('\n'))));
}

// --memory limits each program's data: past it, the library's box names the
// std::bad_alloc; a program of four threads well under it still runs. Not
// under sanitizers, whose runtime reserves more than any such limit.
TEST(View, MemoryLimit) {
    if (sanitized_build) {
        GTEST_SKIP() << "a sanitizer's runtime does not start under a data limit";
    }
    const std::string exercise = SCRIPTED_EXERCISE;
    const ChildResult over = run_child(
        viewer, {"--run", "--memory", "64", "--", exercise, "@null", "@null", "int:1:1", "alloc:128"}, "");
    EXPECT_EQ(over.exit_code, 3);
    EXPECT_NE(over.out.find(std::string("\"uncaught exception: std::bad_alloc") +
                            (where_lookup ? " at scripted_exercise.cpp:" : "\"")),
              std::string::npos)
        << over.out;
    const ChildResult under =
        run_child(viewer, {"--run", "--memory", "100", "--", exercise, "@null", "@null", "threads:4:10"}, "");
    EXPECT_EQ(under.exit_code, 0) << under.err;
    EXPECT_NE(under.out.find("60 boxes: 40 green, 0 red"), std::string::npos) << under.out;
}

}  // namespace
