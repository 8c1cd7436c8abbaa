#include "start_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr int exec_failed = 127;
constexpr std::size_t mebibyte = 1024 * 1024;

// The argument vector of an exec, made before fork: between fork and exec
// the child only makes async-signal-safe calls, since other threads of the
// caller may hold the allocator's lock.
std::vector<char*> argument_vector(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// In the child: a fresh signal state, as a newly started process has.
void reset_signals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        std::signal(signal, SIG_DFL);
    }
}

void set_limit(int resource, rlim_t value) {
    const rlimit limit{value, value};
    setrlimit(resource, &limit);
}

// In the child: a process group of its own, a fresh signal state, the
// limits, the three pipes and the directory; then the program. When exec
// fails, its errno goes back through report_fd.
[[noreturn]] void exec_child(char* const* argv, const char* cwd, const int fds[3], int report_fd,
                             std::size_t memory_mib) {
    setpgid(0, 0);
    reset_signals();
    if (memory_mib > 0) {
        set_limit(RLIMIT_DATA, static_cast<rlim_t>(memory_mib) * mebibyte);
    }
    dup2(fds[0], STDIN_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[2], STDERR_FILENO);
    if (cwd[0] == '\0' || chdir(cwd) == 0) {
        execvp(argv[0], argv);
    }
    const int error = errno;
    if (write(report_fd, &error, sizeof error) < 0) {
        _exit(exec_failed);
    }
    _exit(exec_failed);
}

// A start that failed at call; closes the pipes made so far.
bool not_started(ChildResult& result, const char* call, int error, std::initializer_list<int*> pipes) {
    result.not_started = true;
    result.start_error = std::string(call) + ": " + std::strerror(error);
    for (int* ends : pipes) {
        close_fd(ends[0]);
        close_fd(ends[1]);
    }
    return false;
}

}  // namespace

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

bool start_program(const std::string& program, const std::vector<std::string>& args,
                   const ChildOptions& options, StartedProgram& started, ChildResult& result) {
    int in_pipe[2] = {-1, -1};
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    int report[2] = {-1, -1};
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
        pipe2(err_pipe, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) {
        return not_started(result, "pipe", errno, {in_pipe, out_pipe, err_pipe, report});
    }
    const std::vector<char*> argv = argument_vector(program, args);
    const pid_t pid = fork();
    if (pid < 0) {
        return not_started(result, "fork", errno, {in_pipe, out_pipe, err_pipe, report});
    }
    if (pid == 0) {
        const int fds[3] = {in_pipe[0], out_pipe[1], err_pipe[1]};
        exec_child(argv.data(), options.cwd.c_str(), fds, report[1], options.memory_mib);
    }
    setpgid(pid, pid);  // as the child does: whichever comes first
    close_fd(in_pipe[0]);
    close_fd(out_pipe[1]);
    close_fd(err_pipe[1]);
    close_fd(report[1]);
    started = StartedProgram{pid, in_pipe[1], out_pipe[0], err_pipe[0]};
    int exec_error = 0;
    const bool exec_refused = read(report[0], &exec_error, sizeof exec_error) == sizeof exec_error;
    close_fd(report[0]);
    if (exec_refused) {
        result.not_started = true;
        result.exec_error = exec_error;
    }
    return !exec_refused;
}
