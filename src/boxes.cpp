// View boxes: each box is two YAML elements appended to the document and a
// text stored in the memory area, committed once whole.
#include "boxes.h"

#include "signal_safe.h"
#include "warnings.h"

#include <quorvel/primitives.h>
#include <quorvel/quorvel.h>

#include <cstring>
#include <thread>

using namespace quorvel_internal;

namespace {

// Where a box's elements are composed: a whole document area.
char box_buffer[document_capacity + 1];

// The text's bytes at offset, then a NUL; text.data()[text.size()] is a NUL.
// write_at stops at a NUL, so a text holding one is copied as it stands.
void store_text(int offset, std::string_view text) {
    if (text.find('\0') == std::string_view::npos) {
        write_at(mem, offset, text.data());
    } else {
        std::memcpy(mem + offset, text.data(), text.size());
        mem[offset + static_cast<std::ptrdiff_t>(text.size())] = '\0';
    }
}

void warn_box_left_out() {
    if (!run_state.box_left_out_warned) {
        run_state.box_left_out_warned = true;
        warn("view box left out: the exchange image is full (or not set up).");
    }
}

}  // namespace

namespace quorvel_internal {

namespace {

BoxLock box_lock;

// The document only grows between boxes, so the scan starts where the last
// one ended. Bounded by the document area.
std::size_t document_length() {
    if (run_state.known_document != yaml) {
        run_state.known_document = yaml;
        run_state.known_length = 0;
    }
    const std::size_t area = static_cast<std::size_t>(document_capacity) + 1;
    const std::size_t known = run_state.known_length;
    const void* end = std::memchr(yaml + known, '\0', area - known);
    run_state.known_length =
        end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - yaml) : area;
    return run_state.known_length;
}

}  // namespace

void BoxLock::lock() {
    while (locked_.exchange(true, std::memory_order_acquire)) {
        while (locked_.load(std::memory_order_relaxed)) {
            std::this_thread::yield();
        }
    }
}

Boxes::Boxes() : lock_(box_lock) {}

void Boxes::append(std::string_view text, const BoxStyle& style) {
    const Commit before = last_commit();
    const std::size_t text_room = static_cast<std::size_t>(quorvel_memory_size - before.text_pos);
    if (mem == nullptr || yaml == nullptr || text.size() >= text_room) {
        warn_box_left_out();
        return;
    }
    const std::size_t length = document_length();
    const std::size_t document_room = static_cast<std::size_t>(document_capacity) + 1 - length;
    const BoxFields fields{before.boxes + 1, style, before.text_pos, text.size()};
    const std::size_t box_size = compose_box(box_buffer, document_room, fields);
    if (box_size == 0) {
        warn_box_left_out();
        return;
    }
    ::append(yaml + length, box_buffer);
    store_text(before.text_pos, text);
    commit_boxes(Commit{length + box_size, fields.number,
                        before.text_pos + static_cast<int>(text.size()) + 1});
}

void Boxes::commit_document() {
    Commit now = last_commit();
    now.length = yaml != nullptr ? document_length() : 0;
    commit_boxes(now);
}

void append_box(std::string_view text, const BoxStyle& style) { Boxes().append(text, style); }

void forget_document_end() {
    const Boxes lock;
    run_state.known_document = nullptr;
    run_state.known_length = 0;
}

}  // namespace quorvel_internal

void text_in_box(std::string text, std::string background, int width, int height,
                 int /*font_size*/, std::string color, std::string border) {
    append_box(text, BoxStyle{background, width, height, color, border});
}

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
void quorvel_fuzz_restart() {
    forget_document_end();
    commit_boxes(Commit{});
    run_state.stream_claimed = false;
    run_state.stream_done = false;
}
#endif
