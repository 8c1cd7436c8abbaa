// quorvel-sandbox-helper, the sandbox's helper: a small program installed
// beside quorvel-view, copied into each sandbox and started by bubblewrap as
// the sandbox's PID 1 (so that no program can kill it or outlive it),
// non-dumpable (so that no program can trace it or open its memory and
// forge what it tells: it lives on from run to run). It serves the runs the
// viewer sends over its socket (sandbox_protocol.h), one at a time: it
// starts each program from its sealed memfd in a session of its own, with
// the run's limits, passes on the viewer's signals to its process group,
// reaps every process of the sandbox until the program has ended, and tells
// how it ended. Then it leaves nothing of the run for the next
// (sandbox_emptying.h) and says whether the sandbox is empty. It ends when
// the viewer's end of the socket closes, and the sandbox with it.
#include "resource_limits.h"
#include "sandbox_emptying.h"
#include "sandbox_protocol.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int exit_helper_usage = 2;
constexpr int exit_helper_failed = 1;
constexpr int exec_failed = 127;
constexpr mode_t script_mode = 0500;

void reply(int socket, const HelperReply& message) {
    if (!send_message(socket, &message, sizeof message, {}, nullptr, 0)) {
        _exit(exit_helper_failed);  // the viewer is gone: the sandbox goes with its PID 1
    }
}

// A run as the viewer sent it.
struct Request {
    RunRequest head{};
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    int fds[run_descriptors] = {-1, -1, -1, -1};
};

bool parse(const std::vector<char>& buffer, long size, Request& request) {
    const auto length = static_cast<std::size_t>(size);
    if (size < static_cast<long>(sizeof(RunRequest)) || (length > sizeof(RunRequest) && buffer[length - 1] != '\0')) {
        return false;
    }
    std::memcpy(&request.head, buffer.data(), sizeof(RunRequest));
    for (std::size_t at = sizeof(RunRequest); at < length;) {
        const std::string text(buffer.data() + at);
        (request.arguments.size() < request.head.arguments ? request.arguments : request.environment).push_back(text);
        at += text.size() + 1;
    }
    return true;
}

std::vector<char*> exec_vector(std::vector<std::string>& strings) {
    std::vector<char*> vector;
    for (std::string& text : strings) {
        vector.push_back(text.data());
    }
    vector.push_back(nullptr);
    return vector;
}

bool is_script(int program) {
    char start[2] = {};
    return pread(program, start, sizeof start, 0) == sizeof start && start[0] == '#' && start[1] == '!';
}

// The copy a script runs from; 0, or an errno.
int copy_script(int program) {
    struct stat info {};
    unlink(sandbox_script);
    const int copy = open(sandbox_script, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRWXU);
    if (copy < 0 || fstat(program, &info) != 0) {
        const int error = errno;
        close(copy);
        return error;
    }
    off_t offset = 0;
    while (offset < info.st_size && sendfile(copy, program, &offset, static_cast<std::size_t>(info.st_size - offset)) > 0) {
    }
    const int error = offset == info.st_size && fchmod(copy, script_mode) == 0 ? 0 : errno;
    close(copy);
    return error;
}

// In the program's child: a session of its own, the signals of a fresh
// process, the run's limits, its three descriptors and no other; then the
// program, from its memfd (or a script from its copy).
[[noreturn]] void exec_program(Request& request, bool script, int report) {
    setsid();
    const RunRequest& limits = request.head;
    set_limit(RLIMIT_NPROC, limits.processes);
    start_fresh(limits.data_bytes, limits.file_bytes, limits.cpu_seconds);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        dup2(request.fds[run_stdin + fd], fd);
    }
    close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    const std::vector<char*> argv = exec_vector(request.arguments);
    const std::vector<char*> envp = exec_vector(request.environment);
    if (script) {
        execve(sandbox_script, argv.data(), envp.data());
    } else {
        execveat(request.fds[run_program], "", argv.data(), envp.data(), AT_EMPTY_PATH);
    }
    const int error = errno;
    if (write(report, &error, sizeof error) < 0) {
        _exit(exec_failed);
    }
    _exit(exec_failed);
}

// Reaps what has ended, the program last; true once it has, with its end in ended.
bool reap(pid_t program, HelperReply& ended) {
    for (;;) {
        siginfo_t info{};
        if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) {
            return false;
        }
        if (info.si_pid != program) {
            waitpid(info.si_pid, nullptr, 0);
            continue;
        }
        ended.file_size_limit = soft_limit(program, RLIMIT_FSIZE);
        ended.cpu_time_limit = soft_limit(program, RLIMIT_CPU);
        rusage usage{};
        wait4(program, &ended.value, 0, &usage);
        ended.max_rss_kib = usage.ru_maxrss;
        return true;
    }
}

double children_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return cpu_seconds_of(usage);
}

// Until the program has ended: the viewer's signals go to its group.
void serve_run(int socket, int children, Request& request) {
    const double cpu_before = children_cpu_seconds();
    const bool script = is_script(request.fds[run_program]);
    int exec_error = script ? copy_script(request.fds[run_program]) : 0;
    int report[2] = {-1, -1};
    pid_t program = -1;
    if (exec_error == 0 && pipe2(report, O_CLOEXEC) != 0) {
        exec_error = errno;
    }
    if (exec_error == 0 && (program = fork()) < 0) {
        exec_error = errno;
    }
    if (program == 0) {
        exec_program(request, script, report[1]);
    }
    for (int& fd : request.fds) {
        close(fd);
    }
    close(report[1]);
    if (program > 0 && read(report[0], &exec_error, sizeof exec_error) == sizeof exec_error) {
        waitpid(program, nullptr, 0);
    }
    close(report[0]);
    HelperReply ended{ReplyKind::ended, 0, -1, -1, 0, 0};
    if (exec_error != 0) {
        reply(socket, {ReplyKind::exec_failed, exec_error, -1, -1, 0, 0});
        return;
    }
    for (bool done = false; !done;) {
        pollfd polls[2] = {{socket, POLLIN, 0}, {children, POLLIN, 0}};
        if (poll(polls, 2, -1) < 0) {
            continue;
        }
        if (polls[1].revents != 0) {
            signalfd_siginfo info{};
            while (read(children, &info, sizeof info) == sizeof info) {
            }
            done = reap(program, ended);
        }
        if (polls[0].revents != 0 && !done) {
            std::vector<char> buffer;
            std::size_t no_fds = 0;
            RunRequest signal{};
            const long size = receive_message(socket, buffer, sizeof signal, nullptr, no_fds);
            if (size == 0 || (size < 0 && errno != EMSGSIZE)) {
                _exit(0);  // the viewer is gone, and the sandbox with its PID 1
            }
            std::memcpy(&signal, buffer.data(), sizeof signal);
            if (size == sizeof signal && signal.kind == RequestKind::signal) {
                kill(-program, signal.signal);
            }
        }
    }
    ended.cpu_seconds = children_cpu_seconds() - cpu_before;
    reply(socket, ended);
}

}  // namespace

// argv: quorvel-sandbox-helper SOCKET_FD
int main(int argc, char** argv) {
    if (argc != 2) {
        return exit_helper_usage;
    }
    if (prctl(PR_SET_DUMPABLE, 0) != 0) {
        return exit_helper_failed;
    }
    const int socket = std::atoi(argv[1]);
    sigset_t child_ended;
    sigemptyset(&child_ended);
    sigaddset(&child_ended, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child_ended, nullptr);
    const int children = signalfd(-1, &child_ended, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fcntl(socket, F_SETFD, FD_CLOEXEC) != 0 || children < 0) {
        return exit_helper_failed;
    }
    const std::vector<EmptiedDir> dirs =
        note_dirs({sandbox_work_dir, sandbox_shm_dir, sandbox_mqueue_dir, sandbox_script_dir});
    reply(socket, {ReplyKind::ready, 0, -1, -1, 0, 0});
    for (;;) {
        std::vector<char> buffer;
        Request request;
        std::size_t fd_count = run_descriptors;
        const long size =
            receive_message(socket, buffer, sizeof(RunRequest) + most_request_bytes, request.fds, fd_count);
        if (size == 0 || (size < 0 && errno != EMSGSIZE)) {
            return 0;
        }
        if (size < 0 || !parse(buffer, size, request) || request.head.kind != RequestKind::run ||
            request.arguments.empty() || fd_count != run_descriptors) {
            for (std::size_t i = 0; i < fd_count; ++i) {
                close(request.fds[i]);
            }
            continue;  // a stray signal, after its program ended
        }
        serve_run(socket, children, request);
        kill_the_rest();
        const int error = empty_sandbox(dirs);
        reply(socket, {error == 0 ? ReplyKind::empty : ReplyKind::not_empty, error, -1, -1, 0, 0});
    }
}
