// What a program that quorvel-view runs is given, and what it cannot reach:
// its environment, descriptors and file size by default, and with
// --sandbox another user, no network, no view of the viewer or its files.
#include "child_process.h"
#include "exercise_runner.h"
#include "support/files.h"
#include "support/sandbox.h"
#include "support/sanitizers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string viewer = QUORVEL_VIEW;
const std::string exercise = SCRIPTED_EXERCISE;

// The viewer run as a shell runs it, with descriptor 7 open on /dev/null.
ChildResult view_with_fd7(const std::vector<std::string>& args, const ChildOptions& options = {}) {
    std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" 7</dev/null", viewer};
    shell.insert(shell.end(), args.begin(), args.end());
    return run_child("sh", shell, "", options);
}

bool contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

// The viewer's environment for a run: PATH and a few that the program may
// and may not see.
ChildOptions viewer_environment() {
    ChildOptions options;
    const char* path = std::getenv("PATH");
    options.environment = {std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"), "LC_ALL=C",
                           "CI_JOB_TOKEN=glpat-s3cr3t", "PASSED_ON=yes", "UBSAN_OPTIONS=print_stacktrace=1"};
    const char* asan = std::getenv("ASAN_OPTIONS");
    if (asan != nullptr) {
        options.environment.push_back(std::string("ASAN_OPTIONS=") + asan);
    }
    return options;
}

TEST(Containment, ProgramsGetLittleOfTheViewers) {
    const std::string dir = make_temp_dir();
    const ChildResult env = run_child(
        viewer, {"--run", "--env", "PASSED_ON", "--env", "SET=by the author", "--env", "NOT_THERE", "sh", "-c",
                 "env >&2"},
        "", viewer_environment());
    const struct {
        const char* entry;
        bool seen;
    } variables[] = {{"LC_ALL=C\n", true}, {"UBSAN_OPTIONS=print_stacktrace=1\n", true}, {"PASSED_ON=yes\n", true},
                     {"SET=by the author\n", true}, {"CI_JOB_TOKEN", false}, {"NOT_THERE", false}};
    for (const auto& variable : variables) {
        EXPECT_EQ(contains(env.out, variable.entry), variable.seen) << variable.entry << "\n" << env.out;
    }
    EXPECT_TRUE(contains(env.out, "\nPATH=")) << env.out;
    ChildOptions bare;  // as env -i SECRET=x starts it: not one variable kept
    bare.environment = {"SECRET=x"};
    const ChildResult none = run_child(viewer, {"--run", "--", "/bin/sh", "-c", "env >&2"}, "", bare);
    EXPECT_FALSE(contains(none.out, "SECRET")) << none.out;

    // Only the three pipes reach the program (3 is ls's own directory).
    const ChildResult fds = view_with_fd7({"--run", "--", "sh", "-c", "ls /proc/self/fd >&2"});
    EXPECT_TRUE(contains(fds.out, "standard error of sh:\n0\n1\n2\n3\n")) << fds.out;

    // A file written past --file-size stops the run, at the limit, with
    // every box before it and the library's box for SIGXFSZ.
    ChildOptions in_dir;
    in_dir.caller_environment = true;
    in_dir.cwd = dir;
    const ChildResult big = run_child(
        viewer, {"--run", "--file-size", "1", "--", exercise, "@null", "@null", "int:1:1", "write-file:2048"}, "", in_dir);
    EXPECT_EQ(big.exit_code, 3);
    EXPECT_TRUE(contains(big.err, "was stopped: it wrote a file past the limit of 1 MiB (--file-size)")) << big.err;
    EXPECT_TRUE(contains(big.out, "\"1 == 1\"")) << big.out;
    EXPECT_TRUE(contains(big.out, "\"stopped: file size limit reached (SIGXFSZ)")) << big.out;
    struct stat written {};
    ASSERT_EQ(stat((dir + "/written.dat").c_str(), &written), 0);
    EXPECT_EQ(written.st_size, 1024 * 1024);
}

// Nothing of the machine but /usr, and nothing of the viewer.
TEST(Sandbox, ReachesNothingItWasNotGiven) {
    SKIP_WITHOUT_SANDBOX();
    const std::string dir = make_temp_dir();
    write_file(dir + "/answers.txt", "the reference answers\n");
    ChildOptions in_dir;
    in_dir.caller_environment = true;
    in_dir.cwd = dir;

    // A socket the test listens on, which the program tries to reach.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));

    // All it prints goes to its standard error, which the JSON report holds.
    const std::string script =
        "exec >&2; ls /proc/self/fd; cat /etc/shadow " + dir + "/answers.txt ../answers.txt; "
        "exec 3<>/dev/tcp/127.0.0.1/" + port + " && echo connected; "
        "kill -KILL $PPID; echo written > " + dir + "/report; ls -A; touch leftover; sleep 3000.25 & exit 0";
    const ChildResult first = view_with_fd7(
        sandboxed({"--format", "json", "--output", dir + "/report", "--", "bash", "-c", script}), in_dir);
    EXPECT_EQ(first.exit_code, 1);  // the viewer lived to report a run that sent no stream
    const std::string seen = read_file(dir + "/report");
    EXPECT_TRUE(contains(seen, "\"stderr\": \"0\\n1\\n2\\n3\\n")) << seen;  // no descriptor 7
    for (const char* absent : {"the reference answers", "connected", "leftover", "written"}) {
        EXPECT_FALSE(contains(seen, absent)) << absent << "\n" << seen;
    }
    EXPECT_TRUE(contains(seen, "/etc/shadow: No such file or directory")) << seen;
    pollfd incoming{listener, POLLIN, 0};
    EXPECT_EQ(poll(&incoming, 1, 0), 0);  // nothing came
    close(listener);

    // The working directory is empty for the next run: the first's is gone.
    // HOME and TMPDIR name it, in place of the viewer's (as exec gave them).
    // It writes only there and to a small /dev/shm; /tmp is its directory.
    const std::string look = "ls -A >&2; pwd >&2; tr '\\0' '\\n' </proc/$$/environ | grep -E '^(HOME|TMPDIR)=' | sort >&2;"
                             "for f in /f /etc/f /dev/f; do echo >$f; done; head -c 17M /dev/zero >/dev/shm/f; echo t >/tmp/t;"
                             "cat /work/t >&2";
    const ChildResult second = run_child(viewer, sandboxed({"--", "sh", "-c", look}), "", in_dir);
    EXPECT_TRUE(contains(second.out, "standard error of sh:\n/work\nHOME=/work\nTMPDIR=/work\n")) << second.out;
    for (const char* refusal : {"/f: Read-only file system\n", "/etc/f: Read-only file system\n",
                                "/dev/f: Read-only file system\n", "No space left on device\nt\n"}) {
        EXPECT_TRUE(contains(second.out, refusal)) << refusal << "\n" << second.out;
    }

    // No process of the first run is left: not the sleep it left behind.
    DIR* proc = opendir("/proc");
    for (const dirent* entry = readdir(proc); entry != nullptr; entry = readdir(proc)) {
        EXPECT_FALSE(contains(read_file(std::string("/proc/") + entry->d_name + "/cmdline"), "3000.25"));
    }
    closedir(proc);
}

// With a pty as the grader's terminal (the viewer's controlling terminal),
// a program neither types into it (TIOCSTI) nor writes on its screen.
TEST(Containment, ProgramsHaveNoTerminal) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
        GTEST_SKIP() << "no pseudo-terminal can be made here (a chroot without /dev/pts)";
    }
    const std::string attack = "import fcntl, os, termios\nfd = os.open('/dev/tty', os.O_RDWR)\nos.write(fd, b'SCREEN')\n"
                               "for c in b'echo INJECTED\\n': fcntl.ioctl(fd, termios.TIOCSTI, bytes([c]))\n";
    for (const bool sandbox : {false, sandbox_refused().empty()}) {
        // The shell, a session leader, takes the pty as its terminal, and
        // reads what was typed into it once the viewer is done.
        std::vector<std::string> args = {"-c", "exec 3<>\"$0\"; \"$@\"; read -t 1 -r line <&3 && echo \"typed: $line\"",
                                         ptsname(terminal), viewer, "--run"};
        if (sandbox) {
            args.push_back("--sandbox");
        }
        args.insert(args.end(), {"--", SYSTEM_PYTHON, "-c", attack});
        const ChildResult run = run_child("bash", args, "");
        EXPECT_TRUE(contains(run.out, "No such device or address: '/dev/tty'")) << run.out;
        EXPECT_FALSE(contains(run.out, "typed:")) << run.out;
        char screen[64];
        EXPECT_LT(read(terminal, screen, sizeof screen), 0);
    }
    close(terminal);
}

// Only a regular file is run: anything else is not started at once, and
// the other programs of the check still run.
TEST(Containment, RunsOnlyRegularFiles) {
    const std::string dir = make_temp_dir();
    ASSERT_EQ(symlink("/dev/zero", (dir + "/zero").c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/pagemap", (dir + "/pagemap").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/directory").c_str(), 0755), 0);
    ASSERT_EQ(truncate((write_file(dir + "/sparse", ""), dir + "/sparse").c_str(), 300 << 20), 0);
    write_file(dir + "/good", "#!/bin/sh\necho ran >&2\n");
    chmod((dir + "/sparse").c_str(), 0755);
    chmod((dir + "/good").c_str(), 0755);
    ChildOptions in_dir;
    in_dir.caller_environment = true;
    in_dir.cwd = dir;
    in_dir.timeout_seconds = 20;  // a hang fails the row, rather than the suite
    for (const bool sandbox : {false, sandbox_refused().empty()}) {
        std::vector<std::string> args = {"--check", "-j", "1", "./zero", "./fifo", "./directory", "./sparse", "./good"};
        if (sandbox) {
            args.insert(args.end(), {"--sandbox", "./pagemap"});
        }
        const ChildResult run = run_child(viewer, args, "", in_dir);
        for (const char* name : {"zero", "fifo", "directory"}) {
            EXPECT_TRUE(contains(run.out, "cannot run ./" + std::string(name) + ": not a regular file")) << run.out;
        }
        EXPECT_TRUE(contains(run.out, sandbox ? "./sparse: larger than 256 MiB" : "./sparse: not an executable"))
            << run.out;
        EXPECT_TRUE(!sandbox || contains(run.out, "./pagemap: larger than 256 MiB")) << run.out;
        EXPECT_TRUE(contains(run.out, "malformed       ./good")) << run.out;  // it ran, and sent no stream
    }
    // Nor does a report go to what is not a file: a FIFO with no reader is
    // an error at once, and /dev/null stays a device.
    const ChildResult fifo = run_child(viewer, {"--check", "--output", "fifo", "./good"}, "", in_dir);
    EXPECT_EQ(fifo.exit_code, 2);
    EXPECT_EQ(fifo.err, "quorvel-view: cannot write fifo: No such device or address\n");
    EXPECT_EQ(run_child(viewer, {"--check", "--output", "/dev/null", "./good"}, "", in_dir).exit_code, 1);
    struct stat null {};
    EXPECT_TRUE(stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode));
}

// Who the program is, and what it reaches of an unprivileged viewer.
TEST(Containment, ProgramsRunAsAnotherUser) {
    const bool sandbox = sandbox_refused().empty();
    const std::string reach =
        "id -u >&2; for f in environ mem; do head -c0 /proc/$PPID/$f 2>/dev/null && echo $f opened || echo $f refused;"
        "done | tr '\\n' ' ' >&2";
    const struct {
        bool unprivileged;
        bool sandboxed;
        const char* seen;
    } cases[] = {
        {false, true, "\n65534\n"},
        {true, true, "\n65534\n"},
        {true, false, "\n12345\nenviron refused mem refused "},
        {false, false, "\n0\nenviron opened mem opened "},  // a root viewer's programs open both
    };
    for (const auto& c : cases) {
        if (c.sandboxed && !sandbox) {
            continue;
        }
        std::vector<std::string> args = {viewer, "--run", "--", "sh", "-c", reach};  // setpriv alone changes nothing
        if (c.sandboxed) {
            args.insert(args.begin() + 2, "--sandbox");
        }
        if (c.unprivileged) {
            args.insert(args.begin(), {"--reuid=12345", "--regid=12345", "--clear-groups"});
        }
        const ChildResult run = run_child("setpriv", args, "");
        EXPECT_TRUE(contains(run.out, c.seen)) << c.seen << "\n" << run.out;
    }
}

}  // namespace
