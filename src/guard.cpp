// The guard: fatal-signal handlers, the terminate and exit hooks, and the
// kept standard output. What a signal handler runs is in the signal-safe
// zone; everything here runs in ordinary context.
#include "guard.h"

#include "boxes.h"
#include "fault_points.h"
#include "fatal_signals.h"
#include "signal_safe.h"
#include "warnings.h"
#include "sanitizers.h"
#include "where.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

using namespace quorvel_internal;

namespace {

constexpr std::size_t alternate_stack_size = 64 * 1024;  // room for a handler after a stack overflow
constexpr std::size_t fault_text_size = 512;
constexpr std::size_t kept_preview_size = 200;  // bytes of kept output shown in its box
constexpr int kept_output_limit = 1024 * 1024;  // what the pipe may hold

alignas(16) char alternate_stack[alternate_stack_size];
stack_t previous_alternate_stack{};
char fault_text[fault_text_size];

bool keeping_output() { return run_state.kept_out >= 0; }

// Gives the host's standard output back to file descriptor 1. Writes that
// failed on the full pipe leave no error behind on stdout or std::cout.
void release_standard_output() {
    if (!keeping_output()) {
        return;
    }
    flush_exercise_output();
    std::setvbuf(stdout, nullptr, run_state.stdout_was_line_buffered ? _IOLBF : _IOFBF, BUFSIZ);
    std::clearerr(stdout);
    std::cout.clear();
    checked::dup2(run_state.host_out, STDOUT_FILENO);
}

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

void stop_guarding() {
    run_state.guarding = false;
    restore_fatal_signal_actions();
    checked::sigaltstack(&previous_alternate_stack, nullptr);
    std::set_terminate(run_state.previous_terminate);
    release_standard_output();
    close_fd(run_state.kept_out);
    close_fd(run_state.kept_in);
}

// The text of the box for std::terminate(): the uncaught exception, or the
// words of the default handler when there is none (std::terminate() called
// directly, or a std::thread destroyed unjoined).
std::string_view terminate_text() {
    Writer w{fault_text, sizeof fault_text};
    if (std::current_exception() == nullptr) {
        w.put("terminate called without an active exception");
        return std::string_view(fault_text, w.size);
    }
    try {
        throw;
    } catch (const std::exception& error) {
        const std::string_view what = error.what();
        w.put("uncaught exception: ").put_cut(what, what.size(), kept_preview_size);
    } catch (...) {
        w.put("uncaught exception that is not a std::exception");
    }
    return std::string_view(fault_text, w.size);
}

// In a forked child report_fault() claims nothing, so writes nothing.
[[noreturn]] void on_terminate() {
    if (run_state.guarding) {
        report_fault(terminate_text(), 0);
    }
    if (run_state.previous_terminate != nullptr) {
        run_state.previous_terminate();
    }
    std::abort();
}

// At exit before quit(): with a non-zero status, the stream with a box that
// names the status and the kept output on standard error; with status 0 no
// stream, and the kept output goes to standard output as if never kept.
void on_exit_status(int status, void* /*unused*/) {
    if (!run_state.guarding || !in_owner()) {
        return;
    }
    flush_exercise_output();
    if (status != 0) {
        Writer w{fault_text, sizeof fault_text};
        w.put("exited with status ").number(status).put(" before the exercise finished");
        report_fault(std::string_view(fault_text, w.size), 0);
    } else if (run_state.stream_claimed) {  // a claimed stream has had the kept output already
        wait_for_stream();
    } else {
        pass_on_kept_output(stream_out(), nullptr, 0);
    }
    stop_guarding();
}

// Sends file descriptor 1 into a pipe that holds at most kept_output_limit
// bytes (less where the system allows less). Both ends are non-blocking:
// printing past the limit fails at once, and nothing waits for a reader. On
// any failure standard output stays as it is.
void keep_standard_output() {
    int ends[2];
    if (run_state.host_out < 0 || checked::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    checked::set_pipe_size(ends[1], kept_output_limit);  // may be refused: the pipe keeps its size
    const int limit = checked::pipe_size(ends[0]);
    if (limit <= 0 || checked::dup2(ends[1], STDOUT_FILENO) < 0) {
        close(ends[0]);
        close(ends[1]);
        return;
    }
    run_state.kept_out = ends[0];
    run_state.kept_in = ends[1];
    run_state.kept_limit = static_cast<std::size_t>(limit);
    // Line by line, as on a terminal: printed lines are kept even when the
    // exercise crashes before its stdio buffer is flushed.
    run_state.stdout_was_line_buffered = __flbf(stdout) != 0;
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void install_signal_handlers() {
    stack_t stack{};
    stack.ss_sp = alternate_stack;
    stack.ss_size = sizeof alternate_stack;
    checked::sigaltstack(&stack, &previous_alternate_stack);
    struct sigaction action {};
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_ONSTACK | SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (const FatalSignal& fatal : fatal_signals) {
        sigaddset(&action.sa_mask, fatal.number);
    }
    for (std::size_t i = 0; i < fatal_signal_count; ++i) {
        const FatalSignal& fatal = fatal_signals[i];
        sigaction(fatal.number, nullptr, &previous_fatal_actions[i]);
        const bool ignored = previous_fatal_actions[i].sa_handler == SIG_IGN;
        if (!(ignored && fatal.may_stay_ignored)) {
            sigaction(fatal.number, &action, nullptr);
        }
    }
}

// With nothing sent the kept output goes to standard output as if it had
// never been kept; otherwise to standard error, and a box shows its first
// bytes.
void settle_kept_output(bool nothing_sent) {
    flush_exercise_output();
    if (nothing_sent) {
        release_standard_output();
        pass_on_kept_output(stream_out(), nullptr, 0);
        return;
    }
    char head[kept_preview_size + 1];
    const KeptOutput kept = pass_on_kept_output(STDERR_FILENO, head, sizeof head);
    if (kept.read_error != 0) {
        warn(std::string("what the exercise printed could not be read back in full: ") +
             std::strerror(kept.read_error) + ".");
    }
    if (kept.total == 0) {
        return;
    }
    char note[fault_text_size];
    Writer cut_note{note, sizeof note};
    if (kept.reached_limit) {
        cut_note.put(", then cut at ").size_text(run_state.kept_limit);
    }
    char text[fault_text_size];
    Writer w{text, sizeof text};
    w.put_cut(std::string_view(head, std::min(kept.total, sizeof head)), kept.total,
              kept_preview_size, std::string_view(note, cut_note.size));
    text[w.size] = '\0';
    append_box(std::string_view(text, w.size), printed_style);
}

}  // namespace

namespace quorvel_internal {

void start_guarding() {
    if (run_state.guarding) {
        return;
    }
    run_state.owner = getpid();
    if (!run_state.exit_hook_installed) {
        run_state.exit_hook_installed = checked::on_exit(on_exit_status, nullptr) == 0;
    }
    Boxes().commit_document();
    run_state.where_ready = prepare_where_lookup();
    watch_sanitizers();
    flush_exercise_output();
    run_state.host_out = checked::duplicate_above(STDOUT_FILENO, STDERR_FILENO + 1);
    keep_standard_output();
    run_state.previous_terminate = std::set_terminate(on_terminate);
    install_signal_handlers();
    run_state.guarding = true;
}

void settle_guard(bool nothing_sent) {
    if (run_state.guarding && in_owner()) {
        settle_kept_output(nothing_sent);
    }
}

void end_guard() {
    if (run_state.guarding && in_owner()) {
        stop_guarding();
    }
}

void flush_exercise_output() {
    std::cout.flush();
    std::fflush(stdout);
}

void close_host_output() { close_fd(run_state.host_out); }

}  // namespace quorvel_internal
