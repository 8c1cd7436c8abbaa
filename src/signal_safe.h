// The signal-safe zone: the code a fatal-signal handler runs. It composes
// boxes, writes the exchange stream after a fault, and keeps the commits
// that say which boxes are whole.
//
// The rule, for everything declared here and everything it calls: no
// allocation, no stdio, no locks, nothing that can throw (no std::string, no
// substr, no new), and no function outside the list POSIX gives as
// async-signal-safe. The zone builds as an object of its own, and the test
// zone.symbols fails on any symbol that object uses outside that list
// (tests/zone/allowed_symbols.txt).
//
// Ordinary code uses the zone too: every box is composed by compose_box(),
// and check labels of integers are written by integer_text().
#ifndef QUORVEL_SRC_SIGNAL_SAFE_H
#define QUORVEL_SRC_SIGNAL_SAFE_H

#include "box_styles.h"
#include "run_state.h"
#include "text_width.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quorvel_internal {

inline constexpr std::size_t number_text_size = 24;  // the longest 64-bit number and a sign

// The one integer formatter: value in decimal, as printf "%d" or "%llu"
// writes it, in digits; the byte after the text is free for a NUL. Inlined
// even where the compiler would not, since every box number takes it.
template <typename Number>
[[gnu::always_inline]] inline std::string_view integer_text(char (&digits)[number_text_size],
                                                            Number value) {
    const std::to_chars_result written = std::to_chars(digits, digits + number_text_size - 1, value);
    return {digits, static_cast<std::size_t>(written.ptr - digits)};
}

// A bounded writer into a caller's buffer: pieces that do not fit leave it
// marked as overflowed.
struct Writer {
    char* out;
    std::size_t room;  // bytes that may be written, the final NUL included
    std::size_t size = 0;
    bool overflowed = false;

    Writer& put(std::string_view piece) {
        if (overflowed || piece.size() >= room - size) {
            overflowed = true;
        } else {
            std::memcpy(out + size, piece.data(), piece.size());
            size += piece.size();
        }
        return *this;
    }

    template <typename Number>
    Writer& number(Number value) {
        char digits[number_text_size];
        return put(integer_text(digits, value));
    }

    // The first bytes of a text of total bytes, cut to at most limit bytes
    // at a UTF-8 character boundary, then " … (N more bytes)" when cut, with
    // note before the closing parenthesis. head holds the text's first bytes,
    // at least limit + 1 of them when the text is longer than limit.
    Writer& put_cut(std::string_view head, std::size_t total, std::size_t limit,
                    std::string_view note = "");

    // A size in bytes as "N MiB" when it is a whole number of MiB, else "N KiB".
    Writer& size_text(std::size_t bytes);
};

// What a box is made of, apart from its text.
struct BoxFields {
    int number;
    BoxStyle style;
    int position;
    std::size_t length;
};

// Writes the two elements of a box and a NUL into out, which has room bytes;
// returns their length, or 0 when they do not fit. The one place that knows
// the layout of a box.
std::size_t compose_box(char* out, std::size_t room, const BoxFields& box);

// write(2) until all is written or it fails for good (false, errno set).
// A descriptor that is non-blocking and full is waited for with poll(), as
// a blocking write would wait; EINTR is tried again.
bool write_all(int fd, const char* data, std::size_t size);

// One piece of the exchange stream, to the host's standard output. Once a
// piece could not be written in full, nothing more is: the host then finds
// the stream cut, never a shorter one that looks whole.
void write_stream_part(const char* data, std::size_t size);

// Publishes the state after a whole box, after its bytes: a thread or a
// signal handler that reads the commit sees them too.
inline void commit_boxes(const Commit& commit) {
    run_state.commit.store(pack_commit(commit), std::memory_order_release);
}

inline Commit last_commit() {
    return unpack_commit(run_state.commit.load(std::memory_order_acquire));
}

// True in the process that called init() (or in any, before it).
bool in_owner();

// True for the first caller in that process only: that one writes the
// stream, then calls finish_stream(). Any other caller waits as
// wait_for_stream() does, then gets false: a fault's stream still reads the
// image and the kept output, which it must not find freed or taken.
bool claim_stream();
void finish_stream();

// In the process that called init(), when another thread claimed the
// stream: waits until it is written (its where is looked up under a
// deadline). Returns at once when the stream is unclaimed, or claimed by the
// calling thread (a signal that interrupted the writing).
void wait_for_stream();

// Where the stream goes: the host's standard output, as init() saved it.
int stream_out();

// What pass_on_kept_output() found: the bytes kept, and whether the pipe was
// full, so that what was printed past its limit was left out.
struct KeptOutput {
    std::size_t total = 0;
    bool reached_limit = false;
    int read_error = 0;  // why the pipe could not be read to its end, or 0
};

// Moves what the exercise printed so far to fd; its first head_size bytes
// are also copied to head. When the limit was reached, one more line on fd
// says so.
KeptOutput pass_on_kept_output(int fd, char* head, std::size_t head_size);

// For the first claim only: the stream as quit(nullptr) would write it, with
// a box that holds text and where the fault happened (from the frame of pc
// when not 0, see where.h) when they fit, then the kept output on standard
// error. Another caller waits until that stream is written.
void report_fault(std::string_view text, std::uintptr_t pc);

// The same with a where already known (" at FILE:LINE ..."), looked up in
// nothing.
void report_fault_at(std::string_view text, std::string_view where);

// In a coverage build, writes gcov's counts now: a process that a signal,
// a sanitizer or _exit ends never reaches exit(). Elsewhere it does nothing.
void write_coverage_counts();

}  // namespace quorvel_internal

#endif
