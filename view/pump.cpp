#include "pump.h"

#include "start_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr std::size_t chunk_size = 65536;
constexpr int chunks_per_drain = 16;  // a writer that never pauses cannot keep a drain going
constexpr int watch_slice_ms = 20;    // how often a program without a descriptor to watch is looked at

void set_non_blocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

Clock::time_point after(double seconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int milliseconds_until(Clock::time_point at) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 1000000));
}

void take_wait_status(ChildResult& result, int status) {
    if (WIFEXITED(status)) {
        result.exit_code = result.timed_out || result.stopped ? -1 : WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
}

void Pump::start(int stdin_fd, int stdout_fd, int stderr_fd) {
    in = stdin_fd;
    out = stdout_fd;
    err = stderr_fd;
    set_non_blocking(in);
    set_non_blocking(out);
    set_non_blocking(err);
    if (input.empty()) {
        close_fd(in);
    }
    if (options.timeout_seconds > 0) {
        limited = true;
        deadline = after(options.timeout_seconds);
    }
}

void Pump::drain(int& fd, std::string& sink, std::size_t limit, std::size_t& dropped) {
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

void Pump::drain_outputs() {
    if (out >= 0) {
        drain(out, result.out, options.out_limit, result.out_dropped);
    }
    if (err >= 0) {
        drain(err, result.err, options.err_limit, result.err_dropped);
    }
}

void Pump::feed() {
    const ssize_t n = write(in, input.data() + written, input.size() - written);
    if (n > 0) {
        written += static_cast<std::size_t>(n);
    }
    if ((n < 0 && errno != EINTR && errno != EAGAIN) || written == input.size()) {
        close_fd(in);
    }
}

// SIGTERM to the group, then SIGKILL once the grace has passed, then a
// last grace for it to go.
void Pump::escalate() {
    if (!terminated) {
        terminated = true;
        program.signal(SIGTERM);
    } else {
        killed = true;
        program.signal(SIGKILL);
    }
    limited = true;
    deadline = after(stop_grace_seconds);
}

// True when the pump is to end here.
bool Pump::on_deadline() {
    result.timed_out = result.timed_out || !result.stopped;
    if (killed) {
        limited = false;  // nothing more to send: wait for it to go, or give it up
        return program.give_up();
    }
    escalate();
    return false;
}

void Pump::check_terminate_when() {
    if (!terminated && options.terminate_when && options.terminate_when(result)) {
        terminated = true;  // the caller's own stop: no grace, no time-out
        program.signal(SIGTERM);
    }
}

bool Pump::pump() {
    for (;;) {
        check_terminate_when();
        const int watched = program.fd();
        pollfd polls[5] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0},
                           {watched, POLLIN, 0}, {options.stop_fd, POLLIN, 0}};
        int wait_ms = limited ? milliseconds_until(deadline) : -1;
        if (watched < 0) {
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
        if (limited && Clock::now() >= deadline && on_deadline()) {
            return true;
        }
        drain_outputs();
        if (in >= 0 && polls[2].revents != 0) {
            feed();
        }
        if ((watched < 0 || polls[3].revents != 0) && program.ended()) {
            return true;
        }
    }
}

void Pump::close_pipes() {
    close_fd(in);
    close_fd(out);
    close_fd(err);
}
