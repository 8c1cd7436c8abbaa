// quorvel-sandbox-helper, the sandbox's helper: a small program installed
// beside quorvel-view, copied into each sandbox and started by bubblewrap as
// the sandbox's PID 1 (so that the program can neither kill it nor outlive it),
// non-dumpable (so that the program can neither trace it nor open its memory
// and forge the status it tells). It sets the process and file size limits, starts the program with
// SIGTERM's default action back (bubblewrap and the helper run with SIGTERM
// ignored, so that the viewer's SIGTERM at a time-out reaches only the
// program, whose stream then still goes out), reaps every process of the
// sandbox until the program has ended, and writes the program's raw wait
// status, or exec's errno, to its status descriptor.
#include "resource_limits.h"
#include "sandbox.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int exit_helper_usage = 2;
constexpr int exit_helper_failed = 1;

void tell(int fd, int kind, int value, long long file_size_limit = -1, long long cpu_time_limit = -1) {
    const HelperRecord record{kind, value, file_size_limit, cpu_time_limit};
    if (write(fd, &record, sizeof record) != static_cast<ssize_t>(sizeof record)) {
        _exit(exit_helper_failed);
    }
}

struct EndLimits {
    long long file_size = -1;
    long long cpu_time = -1;
};

// Waits for the program, reaping any orphan of the sandbox meanwhile; the
// program's wait status, and the limits it ended with in limits.
int wait_for(pid_t program, EndLimits& limits) {
    for (;;) {
        siginfo_t ended{};
        if (waitid(P_ALL, 0, &ended, WEXITED | WNOWAIT) != 0) {
            if (errno == EINTR) {
                continue;
            }
            return 0;
        }
        if (ended.si_pid == program) {
            limits = {soft_limit(program, RLIMIT_FSIZE), soft_limit(program, RLIMIT_CPU)};
        }
        int status = 0;
        if (waitpid(ended.si_pid, &status, 0) == program) {
            return status;
        }
    }
}

}  // namespace

// argv: quorvel-sandbox-helper STATUS_FD PROCESSES FILE_BYTES CPU_SECONDS -- PROGRAM [ARGS...]
int main(int argc, char** argv) {
    constexpr int program_at = 6;
    if (argc <= program_at || std::strcmp(argv[program_at - 1], "--") != 0) {
        return exit_helper_usage;
    }
    if (prctl(PR_SET_DUMPABLE, 0) != 0) {
        return exit_helper_failed;
    }
    const int status_fd = std::atoi(argv[1]);
    set_limit(RLIMIT_NPROC, std::strtoull(argv[2], nullptr, 10));
    set_limit(RLIMIT_FSIZE, std::strtoull(argv[3], nullptr, 10));
    const rlim_t cpu_seconds = std::strtoull(argv[4], nullptr, 10);
    if (cpu_seconds > 0) {
        set_cpu_limit(cpu_seconds);
    }
    int exec_report[2];
    if (pipe2(exec_report, O_CLOEXEC) != 0) {
        return exit_helper_failed;
    }
    const pid_t program = fork();
    if (program < 0) {
        tell(status_fd, helper_exec_failed, errno);
        return 0;
    }
    if (program == 0) {
        close(exec_report[0]);
        close(status_fd);
        std::signal(SIGTERM, SIG_DFL);
        execv(argv[program_at], argv + program_at);
        const int error = errno;
        if (write(exec_report[1], &error, sizeof error) < 0) {
            _exit(exit_helper_failed);
        }
        _exit(exit_helper_failed);
    }
    close(exec_report[1]);
    int exec_error = 0;
    const bool refused = read(exec_report[0], &exec_error, sizeof exec_error) == sizeof exec_error;
    EndLimits limits;
    const int status = wait_for(program, limits);
    tell(status_fd, refused ? helper_exec_failed : helper_waited, refused ? exec_error : status, limits.file_size,
         limits.cpu_time);
    return 0;
}
