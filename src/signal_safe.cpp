// The signal-safe zone; see signal_safe.h for its rule.
#include "signal_safe.h"

#include "fatal_signals.h"
#include "fault_points.h"
#include "text_width.h"
#include "where.h"

#include <quorvel/exchange_format.h>

#include <poll.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#ifdef QUORVEL_COVERAGE_DUMP
// gcov's counts of a process that a signal ends are written here, since the
// process never reaches exit(). GCC's <gcov.h> declares it without C linkage.
extern "C" void __gcov_dump(void);
#endif

namespace quorvel_internal {

RunState run_state;
struct sigaction previous_fatal_actions[fatal_signal_count];

namespace {

constexpr std::size_t fault_box_size = 1024;   // a fault box's elements, with room to spare
constexpr std::size_t fault_text_size = 2048;  // a fault box's text: at most fitted_text_room pixels
constexpr std::size_t where_text_size = where_file_size + where_function_size + 64;
constexpr int stream_wait_slice_ms = 1;        // how often a waiter looks whether the stream is written
constexpr std::size_t copy_chunk_size = 4096;  // kept output is moved in pieces this big
constexpr std::size_t cut_line_size = 128;
constexpr int longest_character = 4;           // bytes of a UTF-8 character
constexpr std::size_t kibibyte = 1024;
constexpr std::size_t mebibyte = kibibyte * kibibyte;

char fault_box[fault_box_size];
char fault_text[fault_text_size];
char where_text[where_text_size];
char copy_chunk[copy_chunk_size];
char cut_line[cut_line_size];

// A piece of a box's YAML whose numbers come from exchange_format.h,
// written in when the library is compiled: one piece to copy per box.
struct StylePiece {
    char text[64] = {};
    std::size_t size = 0;

    constexpr StylePiece& put(std::string_view piece) {
        for (const char c : piece) {
            text[size++] = c;
        }
        return *this;
    }
    constexpr StylePiece& put_number(int value) {
        char digits[number_text_size] = {};
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (count > 0) {
            text[size++] = digits[--count];
        }
        return *this;
    }
    constexpr std::string_view view() const { return {text, size}; }
};

// The view's style from its height on, up to its colour.
constexpr StylePiece view_margin =
    StylePiece().put("\n    marginLeft: ").put_number(quorvel_margin_left).put("\n    backgroundColor: ");
constexpr StylePiece border_width = StylePiece().put("\n    borderWidth: ").put_number(quorvel_border_width).put("\n");
constexpr StylePiece margin_top = StylePiece().put("\n    marginTop: ").put_number(quorvel_margin_top).put("\n");
// The text element's style up to its colour.
constexpr StylePiece text_style_opening = StylePiece()
                                              .put(":\n  style:\n    fontSize: ")
                                              .put_number(quorvel_text_size)
                                              .put("\n    marginLeft: ")
                                              .put_number(quorvel_margin_left)
                                              .put("\n    color: ");

bool continues_character(char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U; }

// The fault box's text: the fault's text and its where, the former cut with
// " …" when both are wider than the widest box, so that the where shows.
std::string_view fault_box_text(std::string_view text, std::string_view where) {
    Writer w{fault_text, sizeof fault_text};
    const int where_pixels = pixels_of(where);
    if (pixels_of(text) + where_pixels > fitted_text_room) {
        std::string_view kept = cut_to(text, fitted_text_room - where_pixels - pixels_of(cut_mark));
        while (!kept.empty() && kept.back() == ' ') {
            kept.remove_suffix(1);
        }
        w.put(kept).put(cut_mark);
    } else {
        w.put(text);
    }
    w.put(where);
    return w.overflowed ? std::string_view() : std::string_view(fault_text, w.size);
}

// Composes the fault box after the last whole box into fault_box; its size,
// or 0 when it does not fit.
std::size_t compose_fault_box(std::string_view text, bool with_where, const Commit& done) {
    const char* const document = run_state.document;
    const bool text_fits = run_state.image != nullptr &&
                           text.size() < static_cast<std::size_t>(quorvel_memory_size - done.text_pos);
    if (document == nullptr || !text_fits || done.length > static_cast<std::size_t>(document_capacity)) {
        return 0;
    }
    const BoxFields fields{done.boxes + 1, fault_style(fitted_width(text), with_where), done.text_pos, text.size()};
    const std::size_t room = static_cast<std::size_t>(document_capacity) + 1 - done.length;
    return compose_box(fault_box, std::min(room, sizeof fault_box), fields);
}

// Writes the exchange stream as quit(nullptr) would, from the last whole
// box on, with one more box holding text and its where when they fit, or
// text alone when only that fits.
void write_fault_stream(std::string_view text, std::string_view where) {
    const char* const image = run_state.image;
    const char* const document = run_state.document;
    const Commit done = last_commit();
    std::string_view box_text = where.empty() ? std::string_view() : fault_box_text(text, where);
    std::size_t box_size = box_text.empty() ? 0 : compose_fault_box(box_text, true, done);
    if (box_size == 0) {
        box_text = text;
        box_size = compose_fault_box(box_text, false, done);
    }
    if (document != nullptr) {
        write_stream_part(document, done.length);
        write_stream_part(fault_box, box_size);
    }
    write_stream_part(quorvel_separator, quorvel_separator_length);
    if (image == nullptr) {
        return;
    }
    if (box_size == 0) {
        write_stream_part(image, static_cast<std::size_t>(quorvel_memory_size));
        return;
    }
    const auto at = static_cast<std::size_t>(done.text_pos);
    write_stream_part(image, at);
    write_stream_part(box_text.data(), box_text.size());
    write_stream_part("", 1);
    const std::size_t after = at + box_text.size() + 1;
    write_stream_part(image + after, static_cast<std::size_t>(quorvel_memory_size) - after);
}

char signal_box_text[fault_text_size];

// The box's words for signal, from the table: "crashed: invalid memory
// access (SIGSEGV)".
std::string_view signal_text(int signal) {
    for (const FatalSignal& fatal : fatal_signals) {
        if (fatal.number == signal) {
            Writer w{signal_box_text, sizeof signal_box_text};
            w.put(fatal.words).put(" (").put(fatal.name).put(")");
            return std::string_view(signal_box_text, w.size);
        }
    }
    return "crashed";
}

}  // namespace

Writer& Writer::put_cut(std::string_view head, std::size_t total, std::size_t limit,
                        std::string_view note) {
    std::size_t cut = std::min(total, limit);
    for (int back = 1; back < longest_character && cut > 0 && cut < total && cut < head.size() &&
                       continues_character(head[cut]);
         ++back) {
        --cut;
    }
    put(std::string_view(head.data(), std::min(cut, head.size())));
    if (cut < total) {
        put(" ").put(ellipsis).put(" (").number(total - cut).put(" more bytes").put(note).put(")");
    }
    return *this;
}

Writer& Writer::size_text(std::size_t bytes) {
    if (bytes % mebibyte == 0) {
        return number(bytes / mebibyte).put(" MiB");
    }
    return number(bytes / kibibyte).put(" KiB");
}

std::size_t compose_box(char* out, std::size_t room, const BoxFields& box) {
    if (room == 0) {
        return 0;
    }
    const BoxStyle& style = box.style;
    Writer w{out, room};
    w.put(quorvel_view_prefix).number(box.number).put(":\n  style:\n    width: ").number(style.width);
    w.put("\n    height: ").number(style.height);
    w.put(view_margin.view()).put(style.background);
    if (!style.border.empty()) {
        w.put("\n    borderColor: ").put(style.border).put(border_width.view());
    } else {
        w.put(margin_top.view());
    }
    w.put("  children: [").put(quorvel_text_prefix).number(box.number).put("]\n");
    w.put(quorvel_text_prefix).number(box.number);
    w.put(text_style_opening.view()).put(style.color);
    w.put("\n  pos: ").number(box.position).put("\n  len: ").number(box.length).put("\n");
    if (w.overflowed) {
        return 0;
    }
    out[w.size] = '\0';
    return w.size;
}

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

namespace {

// For the one that claimed the stream: writes it with the fault's box, then
// the kept output.
void send_fault_stream(std::string_view text, std::string_view where) {
    write_fault_stream(text, where);
    pass_on_kept_output(STDERR_FILENO, nullptr, 0);
    finish_stream();
}

}  // namespace

void report_fault(std::string_view text, std::uintptr_t pc) {
    if (claim_stream()) {
        const std::size_t where_size = find_where(pc, where_text, sizeof where_text);
        send_fault_stream(text, std::string_view(where_text, where_size));
    }
}

void report_fault_at(std::string_view text, std::string_view where) {
    if (claim_stream()) {
        send_fault_stream(text, where);
    }
}

void restore_fatal_signal_actions() {
    for (std::size_t i = 0; i < fatal_signal_count; ++i) {
        sigaction(fatal_signals[i].number, &previous_fatal_actions[i], nullptr);
    }
}

namespace {

// The program counter where a signal interrupted the thread, or 0.
std::uintptr_t interrupted_pc(void* context) {
    const auto* state = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(state->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(state->uc_mcontext.pc);
#else
    (void)state;
    return 0;
#endif
}

}  // namespace

// Writes the stream, puts back what handled the signal before init() (the
// default action or a sanitizer's handler) and raises it again: it is
// delivered when the handler returns, so the process ends as it would have.
// The other fatal signals are blocked meanwhile; a fault in here ends the
// process by the default action.
void on_fatal_signal(int signal, siginfo_t* /*info*/, void* context) {
    const int saved_errno = errno;
    report_fault(signal_text(signal), interrupted_pc(context));
    restore_fatal_signal_actions();
    raise(signal);
    errno = saved_errno;
#ifdef QUORVEL_COVERAGE_DUMP
    __gcov_dump();  // the raised signal waits until the handler returns
#endif
}

}  // namespace quorvel_internal
