// The zone's side of the where lookup: the child, its pipe, its deadline.
// See where.h.
#include "where.h"

#include "fault_points.h"
#include "signal_safe.h"
#include "text_width.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace quorvel_internal {

namespace {

constexpr long milliseconds_per_second = 1000;
constexpr long nanoseconds_per_millisecond = 1000000;
// A where wider than this, the widest box's text less what the fault's
// first words take, has its function name cut.
constexpr int fault_words_pixels = 200;
constexpr int where_most_pixels = fitted_text_room - fault_words_pixels;
constexpr std::string_view function_cut_mark = ellipsis;

long now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * milliseconds_per_second + now.tv_nsec / nanoseconds_per_millisecond;
}

// size bytes from fd, or false at the deadline or at an end before them.
bool read_whole(int fd, char* bytes, std::size_t size) {
    const long deadline = now_ms() + where_deadline_ms;
    std::size_t got = 0;
    while (got < size) {
        const long left = deadline - now_ms();
        pollfd answer{fd, POLLIN, 0};
        const int ready = left > 0 ? poll(&answer, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t n = read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

#ifdef QUORVEL_COVERAGE_DUMP
constexpr bool writes_coverage_counts = true;
#else
constexpr bool writes_coverage_counts = false;
#endif

std::string_view terminated(char* text, std::size_t size) {
    text[size - 1] = '\0';
    return std::string_view(text, std::strlen(text));
}

std::size_t compose_where(WhereRecord& record, char* out, std::size_t size) {
    const std::string_view file = terminated(record.file, sizeof record.file);
    std::string_view function = terminated(record.function, sizeof record.function);
    Writer where{out, size};
    if (!file.empty()) {
        where.put(" at ").put(file).put(":").number(record.line);
    }
    if (!function.empty()) {
        where.put(" in ");
        const int budget = where_most_pixels - pixels_of(std::string_view(out, where.size));
        if (pixels_of(function) > budget) {
            where.put(cut_to(function, budget - pixels_of(function_cut_mark))).put(function_cut_mark);
        } else {
            where.put(function);
        }
    }
    return where.overflowed ? 0 : where.size;
}

}  // namespace

std::size_t find_where(std::uintptr_t pc, char* out, std::size_t size) {
    int ends[2];
    if (!run_state.where_ready || checked::pipe2(ends, O_CLOEXEC) != 0) {
        return 0;
    }
    const pid_t child = checked::fork_for_lookup();
    if (child == 0) {
        close(ends[0]);
        look_up_where_in_child(pc, ends[1]);
        write_coverage_counts();
        _exit(0);
    }
    close(ends[1]);
    WhereRecord record;
    const bool answered = child > 0 && read_whole(ends[0], reinterpret_cast<char*>(&record), sizeof record);
    if (answered && writes_coverage_counts) {
        char after = 0;
        read_whole(ends[0], &after, 1);  // its end, up to another deadline: the counts whole before it is killed
    }
    close(ends[0]);
    if (child > 0) {
        kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return answered ? compose_where(record, out, size) : 0;
}

}  // namespace quorvel_internal
