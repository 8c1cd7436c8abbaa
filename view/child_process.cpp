#include "child_process.h"

#include "fault_point.h"
#include "resource_limits.h"
#include "process_group.h"
#include "program_file.h"
#include "start_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

namespace {

constexpr std::size_t chunk_size = 65536;
constexpr int chunks_per_drain = 16;  // a writer that never pauses cannot keep a drain going
constexpr double kill_wait_seconds = 5;  // for a killed group to be gone (a process stuck in the kernel may not)
constexpr int watch_slice_ms = 20;  // how often a group is looked at while it winds down

void set_non_blocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// A descriptor that is readable once pid exits; -1 where the kernel has
// none (before Linux 5.3), and the run then looks at the child in turns.
int open_pidfd(pid_t pid) {
    QUORVEL_FAULT_POINT("viewer/pidfd_open", ENOSYS, -1);
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

Clock::time_point after(double seconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int milliseconds_until(Clock::time_point at) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 1000000));
}

// One run, from the spawned program to its reaped group.
struct Run {
    const std::string& input;
    const ChildOptions& options;
    ChildResult& result;
    pid_t pid = -1;
    int in = -1;   // its standard input, our writing end
    int out = -1;  // its standard output, our reading end
    int err = -1;  // its standard error, our reading end
    int pidfd = -1;  // readable once it exits; -1 where the kernel has none
    std::size_t written = 0;
    bool limited = false;  // a deadline holds
    Clock::time_point deadline{};
    bool terminated = false;  // the group had SIGTERM for the time limit or a stop
    bool killed = false;      // and SIGKILL after the grace

    // Reads what fd has now (a few chunks at most) into sink, up to limit;
    // the rest is dropped and counted. Closes fd at its end.
    void drain(int& fd, std::string& sink, std::size_t limit, std::size_t& dropped) {
        char buffer[chunk_size];
        for (int chunk = 0; chunk < chunks_per_drain; ++chunk) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                if (n == 0 || errno != EAGAIN) {
                    close_fd(fd);
                }
                return;
            }
            const auto size = static_cast<std::size_t>(n);
            const std::size_t kept = std::min(size, limit - std::min(limit, sink.size()));
            sink.append(buffer, kept);
            dropped += size - kept;
        }
    }

    void drain_outputs() {
        if (out >= 0) {
            drain(out, result.out, options.out_limit, result.out_dropped);
        }
        if (err >= 0) {
            drain(err, result.err, options.err_limit, result.err_dropped);
        }
    }

    void feed() {
        const ssize_t n = write(in, input.data() + written, input.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        }
        if ((n < 0 && errno != EINTR && errno != EAGAIN) || written == input.size()) {
            close_fd(in);
        }
    }

    // Without a pidfd: whether it exited, left unreaped.
    bool exited() {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid;
    }

    // SIGTERM to the group, then SIGKILL once the grace has passed.
    void escalate() {
        if (!terminated) {
            terminated = true;
            kill(-pid, SIGTERM);
            limited = true;
            deadline = after(stop_grace_seconds);
        } else if (!killed) {
            killed = true;
            kill(-pid, SIGKILL);
            limited = false;  // nothing more to send: wait for it to go
        }
    }

    void on_deadline() {
        result.timed_out = result.timed_out || !result.stopped;
        escalate();
    }

    void check_terminate_when() {
        if (!terminated && options.terminate_when && options.terminate_when(result)) {
            terminated = true;  // the caller's own stop: no grace, no time-out
            kill(-pid, SIGTERM);
        }
    }

    // Feeds and drains until the program exits; false when poll fails.
    bool pump() {
        for (;;) {
            check_terminate_when();
            pollfd polls[5] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0},
                               {pidfd, POLLIN, 0}, {options.stop_fd, POLLIN, 0}};
            int wait_ms = limited ? milliseconds_until(deadline) : -1;
            if (pidfd < 0) {
                wait_ms = wait_ms < 0 ? watch_slice_ms : std::min(wait_ms, watch_slice_ms);
            }
            const int ready = poll(polls, 5, wait_ms);
            if (ready < 0 && errno != EINTR) {
                result.start_error = std::string("poll: ") + std::strerror(errno);
                return false;
            }
            if (polls[4].revents != 0 && !result.stopped) {
                result.stopped = true;
                limited = true;
                deadline = Clock::now();
            }
            if (limited && Clock::now() >= deadline) {
                on_deadline();
            }
            drain_outputs();
            if (in >= 0 && polls[2].revents != 0) {
                feed();
            }
            if (pidfd >= 0 ? polls[3].revents != 0 : exited()) {
                return true;
            }
        }
    }

    // What is left of the group once the program exited: SIGTERM, and after
    // the grace SIGKILL, to whatever still lives in it.
    void end_group() {
        if (!group_has_members(pid, pid)) {
            return;
        }
        kill(-pid, SIGTERM);
        const Clock::time_point grace_end = after(stop_grace_seconds);
        while (Clock::now() < grace_end && group_has_members(pid, pid)) {
            poll(nullptr, 0, watch_slice_ms);
            drain_outputs();
        }
        kill(-pid, SIGKILL);
        const Clock::time_point kill_end = after(kill_wait_seconds);
        while (Clock::now() < kill_end && group_has_members(pid, pid)) {
            poll(nullptr, 0, 1);
        }
    }

    void finish() {
        drain_outputs();
        end_group();
        drain_outputs();
        int status = 0;
        rusage usage{};
        result.file_size_limit = soft_limit(pid, RLIMIT_FSIZE);
        result.cpu_time_limit = soft_limit(pid, RLIMIT_CPU);
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        result.cpu_seconds = cpu_seconds_of(usage) + reap_group(pid);
        result.max_rss_kib = usage.ru_maxrss;
        if (WIFEXITED(status)) {
            result.exit_code = result.timed_out || result.stopped ? -1 : WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            result.term_signal = WTERMSIG(status);
        }
    }

    void close_all() {
        close_fd(in);
        close_fd(out);
        close_fd(err);
        close_fd(pidfd);
    }
};

}  // namespace

ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const ChildOptions& options) {
    ChildResult result;
    ProgramFile file;
    result.refused = open_program(program, file, result.exec_error);
    if (!result.refused.empty() || result.exec_error != 0) {
        result.not_started = true;
        return result;
    }
    SandboxRun sandbox;
    std::vector<std::string> command = {program};
    command.insert(command.end(), args.begin(), args.end());
    std::string path = file.path;
    if (options.sandbox != nullptr) {
        if (!sandbox.prepare(*options.sandbox, file, args, result)) {
            return result;
        }
        command = sandbox.command();
        path = command.front();
    }
    StartedProgram started;
    const bool running =
        start_program(path, command, options, options.sandbox != nullptr ? &sandbox : nullptr, started, result);
    if (started.pid < 0) {
        return result;
    }
    Run run{input, options, result};
    run.pid = started.pid;
    run.in = started.in;
    run.out = started.out;
    run.err = started.err;
    run.pidfd = open_pidfd(run.pid);
    set_non_blocking(run.in);
    set_non_blocking(run.out);
    set_non_blocking(run.err);
    if (input.empty()) {
        close_fd(run.in);
    }
    if (options.timeout_seconds > 0) {
        run.limited = true;
        run.deadline = after(options.timeout_seconds);
    }
    if (running && !run.pump()) {
        kill(-run.pid, SIGKILL);
    }
    run.finish();
    run.close_all();
    if (options.sandbox != nullptr && running) {
        sandbox.settle(result);
    }
    return result;
}
