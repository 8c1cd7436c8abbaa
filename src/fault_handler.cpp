// The zone's fault handler: the fatal-signal handler, the fault box and
// the stream written with it, from the table of fatal signals.
#include "signal_safe.h"

#include "fatal_signals.h"
#include "text_width.h"
#include "where.h"

#include <quorvel/exchange_format.h>

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

struct sigaction previous_fatal_actions[fatal_signal_count];

namespace {

constexpr std::size_t fault_box_size = 1024;   // a fault box's elements, with room to spare
constexpr std::size_t fault_text_size = 2048;  // a fault box's text: at most fitted_text_room pixels
constexpr std::size_t where_text_size = where_file_size + where_function_size + 64;

char fault_box[fault_box_size];
char fault_text[fault_text_size];
char where_text[where_text_size];

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
    write_coverage_counts();  // the raised signal waits until the handler returns
}

void write_coverage_counts() {
#ifdef QUORVEL_COVERAGE_DUMP
    __gcov_dump();
#endif
}

}  // namespace quorvel_internal
