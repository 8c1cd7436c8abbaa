// The run's private state: every variable the library keeps between calls,
// apart from the public globals of quorvel.h and the random state. One
// object, constant-initialised, so it is ready before any static constructor
// of the exercise runs. init() does not reset it: box numbers never restart
// within a process.
#ifndef QUORVEL_SRC_RUN_STATE_H
#define QUORVEL_SRC_RUN_STATE_H

#include <quorvel/exchange_format.h>

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>

namespace quorvel_internal {

// The document and the boxes as they stood after the last whole box.
struct Commit {
    std::size_t length = 0;      // of the document
    int boxes = 0;               // boxes appended so far: the next is number boxes + 1
    int text_pos = text_origin;  // where the next box text goes in the memory area
};

// A commit packed in one word, so that any thread, and a signal handler that
// interrupted the commit, reads it whole: the document length in the low
// bits, the text position above it, the box count in the 33 bits on top.
inline constexpr int commit_length_bits = 17;
inline constexpr int commit_text_bits = 14;
static_assert(document_capacity < (1 << commit_length_bits));
static_assert(quorvel_memory_size < (1 << commit_text_bits));

constexpr std::uint64_t pack_commit(const Commit& commit) {
    return static_cast<std::uint64_t>(commit.length) |
           (static_cast<std::uint64_t>(commit.text_pos) << commit_length_bits) |
           (static_cast<std::uint64_t>(commit.boxes) << (commit_length_bits + commit_text_bits));
}

constexpr Commit unpack_commit(std::uint64_t word) {
    constexpr std::uint64_t length_mask = (std::uint64_t{1} << commit_length_bits) - 1;
    constexpr std::uint64_t text_mask = (std::uint64_t{1} << commit_text_bits) - 1;
    return Commit{static_cast<std::size_t>(word & length_mask),
                  static_cast<int>(word >> (commit_length_bits + commit_text_bits)),
                  static_cast<int>((word >> commit_length_bits) & text_mask)};
}

struct RunState {
    // The image init() framed, which the library owns until quit(), and
    // writes after a fault whatever the exercise did to mem and yaml.
    char* image = nullptr;
    char* document = nullptr;

    // Where the box writer last found the end of the document (under the
    // box lock).
    const char* known_document = nullptr;
    std::size_t known_length = 0;

    // The last commit, published with release and read with acquire.
    std::atomic<std::uint64_t> commit{pack_commit(Commit{})};

    // The process that called init(): the only one that writes a stream or
    // passes kept output on. 0 before init(): any process may.
    int owner = 0;

    // The guard, between init() and quit().
    std::atomic<bool> guarding{false};
    std::atomic<bool> stream_claimed{false};  // the stream is written at most once
    std::atomic<pthread_t> stream_claimer{};  // the thread that claimed it
    std::atomic<bool> stream_done{false};     // and has written it (or had nothing to write)
    bool where_ready = false;                 // the fault's where can be looked up
    int stream_error = 0;                     // why the stream could not be written in full, or 0
    bool output_silenced = false;  // terminate() of a null document: nothing more is written
    int host_out = -1;             // the host's standard output, saved by init()
    int kept_out = -1;             // the pipe that keeps the exercise's output: reading end
    int kept_in = -1;              // and a writing end of it, to tell when it is full
    std::size_t kept_limit = 0;    // what the pipe holds
    bool stdout_was_line_buffered = false;
    std::terminate_handler previous_terminate = nullptr;

    // Once per process.
    bool box_left_out_warned = false;
    bool exit_hook_installed = false;
};

// Defined in the signal-safe zone, whose handler reads it.
extern RunState run_state;

}  // namespace quorvel_internal

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// Fuzzing runs many exchanges in one process; this restarts box numbers,
// text positions and the claim on the stream for the next one. Fuzzing
// builds only.
void quorvel_fuzz_restart();
#endif

#endif
