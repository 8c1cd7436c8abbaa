// The zone's stream: writing it whole or not at all, the claim that lets
// one thread write it, and passing on what the exercise printed.
#include "signal_safe.h"

#include "fault_points.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quorvel_internal {

RunState run_state;

namespace {

constexpr int stream_wait_slice_ms = 1;        // how often a waiter looks whether the stream is written
constexpr std::size_t copy_chunk_size = 4096;  // kept output is moved in pieces this big
constexpr std::size_t cut_line_size = 128;

char copy_chunk[copy_chunk_size];
char cut_line[cut_line_size];

}  // namespace

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, checked::write_size(size));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking descriptor that is full: wait, as a blocking
            // write would, for as long as the reader takes.
            pollfd room{fd, POLLOUT, 0};
            if (poll(&room, 1, -1) < 0 && errno != EINTR) {
                return false;
            }
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void write_stream_part(const char* data, std::size_t size) {
    if (run_state.stream_error != 0) {
        return;  // the stream is cut: the host must not find a whole one
    }
    if (!write_all(stream_out(), data, size)) {
        run_state.stream_error = errno != 0 ? errno : EIO;
    }
}

bool in_owner() { return run_state.owner == 0 || run_state.owner == getpid(); }

bool claim_stream() {
    if (!in_owner() || run_state.stream_claimed.exchange(true)) {
        wait_for_stream();
        return false;
    }
    run_state.stream_claimer = pthread_self();
    return true;
}

void finish_stream() { run_state.stream_done.store(true, std::memory_order_release); }

void wait_for_stream() {
    if (!in_owner() || !run_state.stream_claimed || run_state.stream_claimer.load() == pthread_self()) {
        return;
    }
    while (!run_state.stream_done.load(std::memory_order_acquire)) {
        poll(nullptr, 0, stream_wait_slice_ms);
    }
}

int stream_out() { return run_state.host_out >= 0 ? run_state.host_out : STDOUT_FILENO; }

KeptOutput pass_on_kept_output(int fd, char* head, std::size_t head_size) {
    KeptOutput kept;
    if (run_state.kept_out < 0) {
        return kept;
    }
    // Full now: the exercise's writes past the limit failed.
    pollfd room{run_state.kept_in, POLLOUT, 0};
    kept.reached_limit = poll(&room, 1, 0) == 0;
    char last = '\n';
    for (;;) {
        const ssize_t n = read(run_state.kept_out, copy_chunk, sizeof copy_chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            kept.read_error = errno;  // what is left in the pipe is lost
        }
        if (n <= 0) {
            break;
        }
        const auto size = static_cast<std::size_t>(n);
        if (kept.total < head_size) {
            std::memcpy(head + kept.total, copy_chunk, std::min(size, head_size - kept.total));
        }
        write_all(fd, copy_chunk, size);
        kept.total += size;
        last = copy_chunk[size - 1];
    }
    // A pipe that held all it can was full, whatever poll said.
    kept.reached_limit = kept.reached_limit || kept.total >= run_state.kept_limit;
    if (kept.reached_limit) {
        Writer line{cut_line, sizeof cut_line};
        line.put(last == '\n' ? "" : "\n");
        line.put("quorvel: the printed output reached its limit of ").size_text(run_state.kept_limit);
        line.put("; what followed was left out\n");
        write_all(fd, cut_line, line.size);
    }
    return kept;
}

}  // namespace quorvel_internal
