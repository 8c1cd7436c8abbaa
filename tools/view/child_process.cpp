#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <initializer_list>

namespace {

constexpr std::size_t chunk_size = 65536;
constexpr int exec_failed = 127;
constexpr int chdir_failed = 126;
constexpr double grace_seconds = 1.0;  // between SIGTERM and SIGKILL at the time limit

using Clock = std::chrono::steady_clock;

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

[[noreturn]] void exec_child(char* const* argv, const char* cwd, const int fds[3]) {
    dup2(fds[0], STDIN_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[2], STDERR_FILENO);
    if (cwd[0] != '\0' && chdir(cwd) != 0) {
        _exit(chdir_failed);
    }
    execvp(argv[0], argv);
    _exit(exec_failed);
}

struct Pipes {
    int in = -1;   // the child's standard input, our writing end
    int out = -1;  // its standard output, our reading end
    int err = -1;  // its standard error, our reading end
};

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// When the child must have finished; limited is false when it may run on.
struct Deadline {
    bool limited = false;
    Clock::time_point at;
};

Deadline deadline_after(double seconds) {
    if (seconds <= 0) {
        return {};
    }
    return {true, Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(seconds))};
}

// Milliseconds left before the deadline; -1 for none.
int poll_timeout(const Deadline& deadline) {
    if (!deadline.limited) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline.at - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void drain(int& fd, std::string& sink) {
    char buffer[chunk_size];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        sink.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        close_fd(fd);
    }
}

void feed(int& fd, const std::string& input, std::size_t& written, short revents) {
    const ssize_t n = (revents & POLLOUT) != 0
                          ? write(fd, input.data() + written, input.size() - written)
                          : -1;
    if (n > 0) {
        written += static_cast<std::size_t>(n);
    }
    if ((n < 0 && errno != EINTR && errno != EAGAIN) || written == input.size()) {
        close_fd(fd);
    }
}

// How a run is being stopped: the deadline moves on to the end of the grace
// period once SIGTERM has been sent for the time limit.
struct Stop {
    pid_t pid;
    const std::string& terminate_when;
    Deadline deadline;
    bool terminated = false;  // SIGTERM sent, for the time limit or terminate_when
};

// Sends SIGTERM once standard error holds terminate_when.
void terminate_on_request(Stop& stop, const ChildResult& result) {
    if (!stop.terminated && !stop.terminate_when.empty() &&
        result.err.find(stop.terminate_when) != std::string::npos) {
        kill(stop.pid, SIGTERM);
        stop.terminated = true;
    }
}

// At the deadline: SIGTERM and a grace period the first time, SIGKILL after
// it. Returns false when the child has been killed.
bool on_deadline(Stop& stop, ChildResult& result) {
    if (result.timed_out) {
        kill(stop.pid, SIGKILL);
        return false;
    }
    result.timed_out = true;
    stop.terminated = true;
    kill(stop.pid, SIGTERM);
    stop.deadline = deadline_after(grace_seconds);
    return true;
}

// Feeds input and drains both outputs until the child closes them or it has
// been killed; returns false then, or when poll fails.
bool pump(const std::string& input, Pipes& pipes, ChildResult& result, Stop& stop) {
    std::size_t written = 0;
    if (input.empty()) {
        close_fd(pipes.in);
    }
    while (pipes.out >= 0 || pipes.err >= 0) {
        terminate_on_request(stop, result);
        pollfd polls[3] = {{pipes.out, POLLIN, 0}, {pipes.err, POLLIN, 0}, {pipes.in, POLLOUT, 0}};
        const int ready = poll(polls, 3, poll_timeout(stop.deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            result.start_error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (ready == 0) {
            if (!on_deadline(stop, result)) {
                return false;
            }
            continue;
        }
        if (polls[0].revents != 0) {
            drain(pipes.out, result.out);
        }
        if (polls[1].revents != 0) {
            drain(pipes.err, result.err);
        }
        if (pipes.in >= 0 && polls[2].revents != 0) {
            feed(pipes.in, input, written, polls[2].revents);
        }
    }
    close_fd(pipes.in);
    return true;
}

// Waits for the child, up to the deadline when there is one (and through
// the grace period when the deadline passes meanwhile).
bool wait_child(int& status, Stop& stop, ChildResult& result) {
    for (;;) {
        if (!stop.deadline.limited) {
            return waitpid(stop.pid, &status, 0) == stop.pid;
        }
        while (Clock::now() < stop.deadline.at) {
            if (waitpid(stop.pid, &status, WNOHANG) == stop.pid) {
                return true;
            }
            usleep(1000);
        }
        if (!on_deadline(stop, result)) {
            return false;
        }
    }
}

// The result of a run that could not start because call failed; closes the
// pipes made so far.
ChildResult not_started(ChildResult& result, const char* call,
                        std::initializer_list<int*> pipes) {
    result.not_started = true;
    result.start_error = std::string(call) + ": " + std::strerror(errno);
    for (int* ends : pipes) {
        close_fd(ends[0]);
        close_fd(ends[1]);
    }
    return result;
}

}  // namespace

ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::string& cwd, double timeout_seconds,
                      const std::string& terminate_when) {
    ChildResult result;
    int in_pipe[2] = {-1, -1};
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
        pipe2(err_pipe, O_CLOEXEC) != 0) {
        return not_started(result, "pipe", {in_pipe, out_pipe, err_pipe});
    }
    const Deadline deadline = deadline_after(timeout_seconds);
    const std::vector<char*> argv = argument_vector(program, args);
    const pid_t pid = fork();
    if (pid < 0) {
        return not_started(result, "fork", {in_pipe, out_pipe, err_pipe});
    }
    if (pid == 0) {
        const int fds[3] = {in_pipe[0], out_pipe[1], err_pipe[1]};
        exec_child(argv.data(), cwd.c_str(), fds);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    Pipes pipes{in_pipe[1], out_pipe[0], err_pipe[0]};
    Stop stop{pid, terminate_when, deadline};
    int status = 0;
    const bool finished = pump(input, pipes, result, stop) && wait_child(status, stop, result);
    if (!finished) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close_fd(pipes.in);
    close_fd(pipes.out);
    close_fd(pipes.err);
    if (WIFEXITED(status)) {
        result.exit_code = result.timed_out ? -1 : WEXITSTATUS(status);
        result.not_started = result.exit_code == exec_failed && result.out.empty();
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}
