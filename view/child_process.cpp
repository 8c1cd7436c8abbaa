#include "child_process.h"

#include "fault_point.h"
#include "resource_limits.h"
#include "process_group.h"
#include "program_file.h"
#include "pump.h"
#include "sandbox.h"
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

constexpr double kill_wait_seconds = 5;  // for a killed group to be gone (a process stuck in the kernel may not)
constexpr int watch_slice_ms = 20;  // how often a group is looked at while it winds down

// A descriptor that is readable once pid exits; -1 where the kernel has
// none (before Linux 5.3), and the run then looks at the child in turns.
int open_pidfd(pid_t pid) {
    QUORVEL_FAULT_POINT("viewer/pidfd_open", ENOSYS, -1);
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// A child of the viewer's own, from its exec to its reaped group.
class LocalProgram : public Watched {
public:
    explicit LocalProgram(pid_t pid) : pid_(pid), pidfd_(open_pidfd(pid)) {}
    ~LocalProgram() override { close_fd(pidfd_); }

    int fd() const override { return pidfd_; }
    bool ended() override {
        if (pidfd_ >= 0) {
            return true;
        }
        siginfo_t info{};  // whether it exited, left unreaped
        return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid_;
    }
    void signal(int signal) override { kill(-pid_, signal); }
    bool give_up() override { return false; }

    // What is left of the group once the program exited: SIGTERM, and after
    // the grace SIGKILL, to whatever still lives in it.
    void end_group(Pump& pump) {
        if (!group_has_members(pid_, pid_)) {
            return;
        }
        kill(-pid_, SIGTERM);
        const Clock::time_point grace_end = after(stop_grace_seconds);
        while (Clock::now() < grace_end && group_has_members(pid_, pid_)) {
            poll(nullptr, 0, watch_slice_ms);
            pump.drain_outputs();
        }
        kill(-pid_, SIGKILL);
        const Clock::time_point kill_end = after(kill_wait_seconds);
        while (Clock::now() < kill_end && group_has_members(pid_, pid_)) {
            poll(nullptr, 0, 1);
        }
    }

    void finish(Pump& pump, ChildResult& result) {
        pump.drain_outputs();
        end_group(pump);
        pump.drain_outputs();
        int status = 0;
        rusage usage{};
        result.file_size_limit = soft_limit(pid_, RLIMIT_FSIZE);
        result.cpu_time_limit = soft_limit(pid_, RLIMIT_CPU);
        while (wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        result.cpu_seconds = cpu_seconds_of(usage) + reap_group(pid_);
        result.max_rss_kib = usage.ru_maxrss;
        take_wait_status(result, status);
    }

private:
    pid_t pid_;
    int pidfd_;
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
    if (options.sandbox != nullptr) {
        return options.sandbox->run(file, args, input, options);
    }
    std::vector<std::string> command = {program};
    command.insert(command.end(), args.begin(), args.end());
    StartedProgram started;
    const bool running = start_program(file.path, command, options, {}, started, result);
    if (started.pid < 0) {
        return result;
    }
    LocalProgram child(started.pid);
    Pump pump{input, options, result, child};
    pump.start(started.in, started.out, started.err);
    if (running && !pump.pump()) {
        kill(-started.pid, SIGKILL);
    }
    child.finish(pump, result);
    pump.close_pipes();
    return result;
}
