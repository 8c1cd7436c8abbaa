// Appending boxes to the document: the one writer of view elements and box
// texts.
#ifndef QUORVEL_SRC_BOXES_H
#define QUORVEL_SRC_BOXES_H

#include "box_styles.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string_view>

namespace quorvel_internal {

// The lock around appending boxes: held for one box (or one array display),
// a microsecond or so, so a waiting thread spins, yielding, instead of
// sleeping; taking it free costs one atomic exchange.
class BoxLock {
public:
    void lock();
    void unlock() { locked_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> locked_{false};
};

// Holds the box lock while it lives: boxes appended through it are whole,
// take consecutive numbers, and stay together however many threads append.
// A signal handler never takes the lock; it reads the last commit.
class Boxes {
public:
    Boxes();

    // Appends one box with text (whose next byte is a NUL, as in a
    // std::string) in style, and commits it; leaves it out whole when it
    // does not fit, with the one warning of the process.
    void append(std::string_view text, const BoxStyle& style);

    // Commits the document as it stands (init(), before any box).
    void commit_document();

private:
    std::lock_guard<BoxLock> lock_;
};

// One box, under the lock.
void append_box(std::string_view text, const BoxStyle& style);

// Forgets where the document ended: an image was framed or released.
void forget_document_end();

}  // namespace quorvel_internal

#endif
