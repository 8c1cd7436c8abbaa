// The run's private state: every variable the library keeps between calls,
// apart from the public globals of quorvel.h and the random state. One
// object, constant-initialised, so it is ready before any static constructor
// of the exercise runs. init() does not reset it: box numbers never restart
// within a process.
#ifndef QUORVEL_SRC_RUN_STATE_H
#define QUORVEL_SRC_RUN_STATE_H

#include <quorvel/exchange_format.h>

#include <atomic>
#include <cstddef>
#include <exception>

namespace quorvel_internal {

// The document and the boxes as they stood after the last whole box.
struct Commit {
    std::size_t length = 0;      // of the document
    int boxes = 0;               // boxes appended so far: the next is number boxes + 1
    int text_pos = text_origin;  // where the next box text goes in the memory area
};

struct RunState {
    // The image init() framed, which the library owns until quit(), and
    // writes after a fault whatever the exercise did to mem and yaml.
    char* image = nullptr;
    char* document = nullptr;

    // Where the box writer last found the end of the document.
    const char* known_document = nullptr;
    std::size_t known_length = 0;

    // The last commit, in two slots: a signal can interrupt a commit, so
    // commit_index names the slot that is whole.
    Commit commits[2];
    std::atomic<int> commit_index{0};

    // The guard, between init() and quit().
    bool guarding = false;
    std::atomic<bool> stream_claimed{false};  // the stream is written at most once
    int host_out = -1;  // the host's standard output, while the exercise's is kept
    int kept_out = -1;  // what keeps the exercise's standard output
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
// Fuzzing runs many exchanges in one process; this restarts box numbers and
// text positions for the next one. Fuzzing builds only.
void quorvel_fuzz_restart_boxes();
#endif

#endif
