// quorvel-view --sandbox: how programs end in it, one run after another in
// a worker's warm sandbox as well as alone, what one run leaves for the
// next (nothing), and the limits each run has of its own.
#include "child_process.h"
#include "support/child.h"
#include "support/files.h"
#include "support/sandbox.h"
#include "support/sanitizers.h"

#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::string viewer = QUORVEL_VIEW;
const std::string exercise = SCRIPTED_EXERCISE;

bool contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// A program that --check can run without arguments: a copy of the scripted
// exercise with its steps appended, or a shell script of command.
void write_program(const std::string& path, const std::vector<std::string>& command) {
    std::string text = "#!/bin/sh\nexec";
    for (const std::string& arg : command) {
        text += " '" + replaced(arg, "'", "'\\''") + "'";
    }
    if (command.front().rfind("/nonexistent", 0) == 0) {
        return;  // missing here too
    }
    if (command.front() != "sh") {
        text = read_file(exercise) + "\n#steps:";
        for (std::size_t i = 1; i < command.size(); ++i) {
            text += " " + command[i];
        }
    }
    write_file(path, text);
    chmod(path.c_str(), 0755);
}

// The entry of program in a JSON report of --check.
std::string entry_of(const std::string& report, const std::string& program) {
    const std::size_t at = report.find("{\"program\": \"" + program + "\"");
    return at == std::string::npos ? "" : report.substr(at, report.find("{\"program\": ", at + 1) - at);
}

// How programs end in the sandbox means what it means without one, run
// alone (--run) and one after another in one warm sandbox (--check -j 1).
TEST(Sandbox, StatusesStayTrue) {
    SKIP_WITHOUT_SANDBOX();
    const std::string hidden = make_temp_dir();  // 0700, as mkdtemp makes it
    const std::string copy = hidden + "/exercise";
    ASSERT_EQ(std::system(("cp " + exercise + " " + copy).c_str()), 0);
    const struct {
        std::vector<std::string> command;
        int status;
        std::string error;  // standard error, %s standing for the program
        std::string shown;  // in the boxes shown, or on the program's standard error
    } cases[] = {
        {{copy, "@null", "@null", "int:1:1"}, 0, "", "\"1 == 1\""},
        {{copy, "@null", "@null", "int:1:1", "denied"}, 0, "",
         "TIOCSTI: Operation not permitted\nTIOCSTI high: Operation not permitted\nkeyctl: Operation not permitted\n"
         "perf_event_open: Operation not permitted\nunshare: No space left on device\nptrace: Operation not permitted\n"},
        // A child writes through /proc/self/exe once the program has ended.
        {{copy, "@null", "@null", "int:1:1", "exe-write"}, 0, "", "\"1 == 1\""},
        {{"sh", "-c", "kill -SEGV $$"}, 3, "%s crashed: signal 11 (Segmentation fault)", ""},
        {{"sh", "-c", "exit 139"}, 3, "%s exited with status 139", ""},
        {{"/nonexistent/exercise"}, 3, "cannot run %s: No such file or directory", ""},
        {{copy, "@null", "@null", "int:1:1", "await-term"}, 3, "%s did not finish within 1 s and was killed",
         "\"stopped: the host ended the program (SIGTERM)"},
    };
    std::vector<std::string> warm = {"--check", "-j", "1", "--sandbox", "--timeout", "1", "--format", "json"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.command.back());
        std::vector<std::string> args = {"--timeout", "1", "--"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        const ChildResult result = run_child(viewer, sandboxed(args), "");
        EXPECT_EQ(result.exit_code, c.status) << result.err;
        const std::string name = c.command.front();
        EXPECT_EQ(result.err, c.error.empty() ? "" : "quorvel-view: " + replaced(c.error, "%s", name) + "\n");
        EXPECT_TRUE(contains(result.out, c.shown)) << result.out;
        EXPECT_TRUE(c.shown.empty() || contains(result.out, "\"1 == 1\"")) << result.out;
        warm.push_back("./r" + std::to_string(i));
        write_program(hidden + "/" + warm.back(), c.command);
    }
    EXPECT_EQ(read_file(copy), read_file(exercise));
    const ChildResult together = run_child(viewer, warm, "", hidden);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string program = "./r" + std::to_string(i);
        const std::string entry = entry_of(together.out, program);
        SCOPED_TRACE(program + "\n" + entry);
        EXPECT_TRUE(contains(entry, replaced(cases[i].shown, "\n", "\\n")));
        EXPECT_TRUE(cases[i].error.empty() || contains(entry, "\"error\": \"" + replaced(cases[i].error, "%s", program)));
        EXPECT_EQ(contains(entry, "\"status\": \"passed\""), cases[i].status == 0);
    }
    const std::string written = read_file(hidden + "/r2");
    EXPECT_EQ(written.substr(written.size() - 10), " exe-write");  // with nothing appended
}

// What a program leaves in a worker's warm sandbox (LEAVE) the next one
// (FIND) does not find, in the same PID namespace; a tree too big to empty
// in time makes the worker replace its sandbox, and the next run passes.
TEST(Sandbox, EachRunFindsNothingOfTheOneBefore) {
    SKIP_WITHOUT_SANDBOX();
    const struct {
        const char* what;
        const char* leave;  // a Python expression, true once left
        const char* find;   // true when found
    } rows[] = {
        {"a file in /work", "open('/work/left', 'w')", "os.path.exists('/work/left')"},
        {"a file in /dev/shm", "open('/dev/shm/left', 'w')", "os.path.exists('/dev/shm/left')"},
        {"a daemon", "daemon()", "len([p for p in os.listdir('/proc') if p.isdigit()]) > 2"},
        {"a System V segment", "libc.shmget(0x5eed, 4096, 0o1600) >= 0", "libc.shmget(0x5eed, 0, 0) >= 0"},
        {"a message queue", "libc.mq_open(b'/left', os.O_CREAT | os.O_RDWR, 0o600, None) >= 0",
         "os.path.exists('/dev/mqueue/left')"},
        {"an abstract socket", "daemon(listen)", "'@left' in open('/proc/net/unix').read()"},
        {"a tree", "tree(1000)", "os.path.exists('/work/tree')"},
        // A script runs from a copy, with no descriptor of it left open (3 is listdir's).
        {"a descriptor past 2", "True", "sorted(os.listdir('/proc/self/fd')) != ['0', '1', '2', '3']"},
        {"/work at 0500 with an attribute", "not os.setxattr('/work', 'user.left', b'1') and not os.chmod('/work', 0o500)",
         "os.stat('/work').st_mode & 0o200 == 0 or os.listxattr('/work')"},
    };
    const std::string stream = run_child(exercise, {"@null", "@null", "int:1:1"}, "").out;
    const std::string green = "sys.stdout.buffer.write(base64.b64decode('" + run_child("base64", {"-w0"}, stream).out + "'))\n";
    const std::string preamble = std::string("#!") + SYSTEM_PYTHON + R"(
import base64, ctypes, os, socket, sys
libc = ctypes.CDLL(None)
def daemon(body=lambda: None):
    if os.fork() == 0:
        os.setsid()
        if os.fork() == 0:
            body()
            os.read(os.pipe()[0], 1)
        os._exit(0)
    return os.wait()
def listen():
    global held
    held = socket.socket(socket.AF_UNIX)
    held.bind('\0left')
    held.listen()
def tree(files):
    os.makedirs('/work/tree/locked/in')
    for i in range(files):
        os.makedirs(f'/work/tree/{i % 10}', exist_ok=True)
        open(f'/work/tree/{i % 10}/{i}', 'w').close()
    return not os.chmod('/work/tree/locked', 0)
print(os.readlink('/proc/self/ns/pid'), file=sys.stderr)
)";
    std::string leave = preamble;
    std::string find = preamble;
    for (const auto& row : rows) {
        leave += "if " + std::string(row.leave) + ": print('left:', '" + row.what + "', file=sys.stderr)\n";
        find += "if " + std::string(row.find) + ": print('found:', '" + row.what + "', file=sys.stderr)\n";
    }
    const std::string dir = make_temp_dir();
    for (const auto& [name, text] : {std::pair{"leave", leave}, {"find", find}, {"big", preamble + "tree(100000)\n"}}) {
        write_file(dir + "/" + name, text + green);
        chmod((dir + "/" + name).c_str(), 0755);
    }
    const ChildResult run = run_child(
        viewer, {"--check", "-j", "1", "--sandbox", "--format", "json", "./leave", "./find", "./big", "./find"}, "", dir);
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    for (const auto& row : rows) {
        EXPECT_TRUE(contains(run.out, std::string("left: ") + row.what)) << row.what;
        EXPECT_FALSE(contains(run.out, std::string("found: ") + row.what)) << row.what;
    }
    std::vector<std::string> namespaces;
    const std::regex pid_namespace("pid:\\[[0-9]+\\]");
    for (std::sregex_iterator at(run.out.begin(), run.out.end(), pid_namespace), end; at != end; ++at) {
        namespaces.push_back(at->str());
    }
    ASSERT_EQ(namespaces.size(), 4U) << run.out;
    EXPECT_EQ(namespaces[0], namespaces[1]);  // one worker, one sandbox
    EXPECT_EQ(namespaces[1], namespaces[2]);
    EXPECT_NE(namespaces[2], namespaces[3]);  // after the tree of 100,000 files, another
}
// --processes limits each run on its own: 200 forks stop short of 50, and
// two runs side by side each get their 50.
TEST(Sandbox, EachRunHasItsOwnProcessLimit) {
    SKIP_WITHOUT_SANDBOX();
    // LeakSanitizer's check at exit needs a thread of its own, past the limit.
    ChildOptions no_leak_check;
    no_leak_check.caller_environment = !sanitized_build;
    if (sanitized_build) {
        no_leak_check.environment = {"PATH=" + std::string(std::getenv("PATH")), "ASAN_OPTIONS=detect_leaks=0"};
    }
    const ChildResult one = run_child(
        viewer, sandboxed({"--processes", "50", "--", exercise, "@null", "@null", "int:1:1", "fork-many:200:0"}), "",
        no_leak_check);
    EXPECT_EQ(one.exit_code, 0) << one.err;
    EXPECT_TRUE(contains(one.out, "\"1 == 1\"")) << one.out;
    int forked = 0;
    ASSERT_EQ(std::sscanf(one.out.substr(one.out.find("forked ")).c_str(), "forked %d", &forked), 1);
    EXPECT_GT(forked, 40);
    EXPECT_LT(forked, 50);

    utsname system{};
    uname(&system);
    int major = 0;
    int minor = 0;
    std::sscanf(system.release, "%d.%d", &major, &minor);
    if (major < 5 || (major == 5 && minor < 14)) {
        GTEST_SKIP() << "Linux " << system.release << " counts processes per user, not per user namespace";
    }
    const std::string dir = make_temp_dir();
    // Each forks what it can and holds on to its children while the other does.
    const std::string forks =
        "#!/usr/bin/python3\nimport os, sys, time\nforked = 0\nfor _ in range(60):\n"
        "    try:\n        child = os.fork()\n    except OSError:\n        break\n"
        "    if child == 0:\n        time.sleep(60)\n        os._exit(0)\n    forked += 1\n"
        "print('forked', forked, file=sys.stderr)\ntime.sleep(1.5)\n";
    for (const char* name : {"a", "b"}) {
        write_file(dir + "/" + name, forks);
        chmod((dir + "/" + name).c_str(), 0755);
    }
    const ChildResult both = run_child(
        viewer, {"--check", "--sandbox", "--processes", "50", "-j", "2", "--format", "json", dir + "/a", dir + "/b"}, "");
    EXPECT_EQ(both.exit_code, 1) << both.out;  // no stream from either: malformed
    for (std::size_t at = both.out.find("forked "), runs = 0; runs < 2; at = both.out.find("forked ", at + 1), ++runs) {
        ASSERT_NE(at, std::string::npos) << both.out;
        EXPECT_EQ(std::sscanf(both.out.substr(at).c_str(), "forked %d", &forked), 1);
        EXPECT_GT(forked, 40) << both.out;
    }
}

// Without bubblewrap the viewer says so and runs nothing unsandboxed.
TEST(Sandbox, RefusesToRunWithoutBubblewrap) {
    const std::string dir = make_temp_dir();
    ChildOptions no_bwrap;
    no_bwrap.environment = {"PATH=" + dir};
    const ChildResult result =
        run_child(viewer, {"--run", "--sandbox", "--", "/bin/sh", "-c", "touch " + dir + "/ran"}, "", no_bwrap);
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_TRUE(contains(result.err, "no bwrap on PATH")) << result.err;
    bool ran = true;
    read_file(dir + "/ran", &ran);
    EXPECT_FALSE(ran);
}

}  // namespace
