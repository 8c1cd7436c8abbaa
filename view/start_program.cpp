#include "start_program.h"

#include "fault_point.h"
#include "resource_limits.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr int exec_failed = 127;

// A null-ended vector of an exec (its arguments or its environment), made
// before fork: between fork and exec the child only makes
// async-signal-safe calls, since other threads of the caller may hold the
// allocator's lock.
std::vector<char*> exec_vector(const std::vector<std::string>& strings) {
    std::vector<char*> vector;
    for (const std::string& text : strings) {
        vector.push_back(const_cast<char*>(text.c_str()));
    }
    vector.push_back(nullptr);
    return vector;
}

// Everything the child needs, made before fork.
struct Launch {
    const char* path;
    std::vector<char*> argv;
    std::vector<char*> envp;  // null-ended
    const char* cwd;
    int fds[3];
    int report_fd;
    rlim_t data_bytes;  // 0: no limit
    rlim_t file_bytes;  // 0: no limit
    rlim_t cpu_seconds; // 0: no limit
    const std::vector<int>* passed;  // descriptors left open across exec
};

// In the child: a session of its own, which leaves the caller's
// controlling terminal behind (its process group is the session's, so the
// caller signals the group as before), a fresh signal state, the
// limits, the three pipes and no other descriptor (but those passed on),
// the directory; then the program. When exec fails, its errno goes back
// through report_fd, which closes at exec.
[[noreturn]] void exec_child(const Launch& launch) {
    setsid();
    set_limit(RLIMIT_CORE, 0);
    start_fresh(launch.data_bytes, launch.file_bytes, launch.cpu_seconds);
    dup2(launch.fds[0], STDIN_FILENO);
    dup2(launch.fds[1], STDOUT_FILENO);
    dup2(launch.fds[2], STDERR_FILENO);
    close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    for (const int fd : *launch.passed) {
        fcntl(fd, F_SETFD, 0);
    }
    if (launch.cwd[0] == '\0' || chdir(launch.cwd) == 0) {
        execve(launch.path, launch.argv.data(), launch.envp.data());
    }
    const int error = errno;
    if (write(launch.report_fd, &error, sizeof error) < 0) {
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

int make_pipe(int ends[2]) {
    QUORVEL_FAULT_POINT("viewer/pipe2", EMFILE, -1);
    return pipe2(ends, O_CLOEXEC);
}

std::vector<std::string> environment_of(const ChildOptions& options) {
    if (!options.caller_environment) {
        return options.environment;
    }
    std::vector<std::string> caller;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        caller.emplace_back(*entry);
    }
    return caller;
}

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

bool start_program(const std::string& path, const std::vector<std::string>& command, const ChildOptions& options,
                   const std::vector<int>& passed, StartedProgram& started, ChildResult& result) {
    int in_pipe[2] = {-1, -1};
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    int report[2] = {-1, -1};
    if (make_pipe(in_pipe) != 0 || make_pipe(out_pipe) != 0 || make_pipe(err_pipe) != 0 || make_pipe(report) != 0) {
        return not_started(result, "pipe", errno, {in_pipe, out_pipe, err_pipe, report});
    }
    const std::vector<std::string> environment = environment_of(options);
    const Launch launch{path.c_str(), exec_vector(command),
                        exec_vector(environment), options.cwd.c_str(),
                        {in_pipe[0], out_pipe[1], err_pipe[1]}, report[1],
                        static_cast<rlim_t>(options.memory_mib * mebibyte),
                        static_cast<rlim_t>(options.file_size_mib * mebibyte),
                        static_cast<rlim_t>(options.cpu_seconds), &passed};
    const pid_t pid = fork();
    if (pid < 0) {
        return not_started(result, "fork", errno, {in_pipe, out_pipe, err_pipe, report});
    }
    if (pid == 0) {
        exec_child(launch);
    }
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
