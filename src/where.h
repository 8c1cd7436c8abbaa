// Where a fault happened: the innermost frame of the exercise's own code, as
// " at FILE:LINE in FUNCTION" (" in FUNCTION" without debug information).
//
// Reading debug information is not async-signal-safe, can take a tenth of a
// second and allocates, so it never runs where the fault is reported: the
// signal-safe zone forks a child with _Fork(), which looks the where up and
// answers through a pipe, and gives up on it at where_deadline_ms.
#ifndef QUORVEL_SRC_WHERE_H
#define QUORVEL_SRC_WHERE_H

#include <cstddef>
#include <cstdint>

#ifndef QUORVEL_WHERE_DEADLINE_MS
#define QUORVEL_WHERE_DEADLINE_MS 300
#endif

namespace quorvel_internal {

// How long a fault's stream may wait for its where.
inline constexpr int where_deadline_ms = QUORVEL_WHERE_DEADLINE_MS;
static_assert(where_deadline_ms > 0);

inline constexpr std::size_t where_file_size = 256;
inline constexpr std::size_t where_function_size = 512;

// What the lookup answers, in one write to its pipe (less than PIPE_BUF).
struct WhereRecord {
    char file[where_file_size];          // the source's base name; "" without debug information
    char function[where_function_size];  // demangled, without return type or parameters
    unsigned line;                       // 0 without debug information
};

// At init(): makes the lookup's state, once per process. False when this
// build has no lookup (QUORVEL_BACKTRACE off) or the state cannot be made.
bool prepare_where_lookup();

// Run only in the lookup's child, never in the process it was forked from:
// finds the innermost frame of the exercise's own code on the current stack,
// from the frame of pc on when pc is one of them (pc: a signal context's
// program counter, or 0), and writes its record to fd; nothing when there is
// none. Frames of the library, of shared objects, of a sanitizer's runtime,
// of the start-up code and, by their source, of system headers are passed
// over; without debug information so are std:: and __gnu_cxx:: names.
void look_up_where_in_child(std::uintptr_t pc, int fd);

// In the signal-safe zone: the where of a fault at pc (as above), as
// " at FILE:LINE in FUNCTION" (" in FUNCTION" without debug information; in
// a where wider than the widest box less 200 px, the function name cut
// with "…"), written into out;
// returns its length, 0 when there is none or no answer came in time. Forks
// the lookup's child with _Fork(), waits for its answer with poll() until
// where_deadline_ms have passed, then kills and reaps it.
std::size_t find_where(std::uintptr_t pc, char* out, std::size_t size);

}  // namespace quorvel_internal

#endif
