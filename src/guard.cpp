// The guard: fatal-signal handlers, the terminate and exit hooks, and the
// kept standard output. What a signal handler runs is in the signal-safe
// zone; everything here runs in ordinary context.
#include "guard.h"

#include "boxes.h"
#include "fatal_signals.h"
#include "signal_safe.h"

#include <quorvel/quorvel.h>

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

using namespace quorvel_internal;

namespace {

constexpr std::size_t alternate_stack_size = 64 * 1024;  // room for a handler after a stack overflow
constexpr std::size_t fault_text_size = 512;
constexpr std::size_t kept_preview_size = 200;  // bytes of kept output shown in its box

alignas(16) char alternate_stack[alternate_stack_size];
stack_t previous_alternate_stack{};
char fault_text[fault_text_size];

void flush_exercise_output() {
    std::cout.flush();
    std::fflush(stdout);
}

// Gives the host's standard output back to file descriptor 1.
void release_standard_output() {
    if (run_state.host_out >= 0) {
        flush_exercise_output();
        std::setvbuf(stdout, nullptr, run_state.stdout_was_line_buffered ? _IOLBF : _IOFBF, BUFSIZ);
        dup2(run_state.host_out, STDOUT_FILENO);
        close(run_state.host_out);
        run_state.host_out = -1;
    }
}

void stop_guarding() {
    if (!run_state.guarding) {
        return;
    }
    run_state.guarding = false;
    restore_fatal_signal_actions();
    sigaltstack(&previous_alternate_stack, nullptr);
    std::set_terminate(run_state.previous_terminate);
    release_standard_output();
    if (run_state.kept_out >= 0) {
        close(run_state.kept_out);
        run_state.kept_out = -1;
    }
}

[[noreturn]] void on_terminate() {
    if (run_state.guarding) {
        Writer w{fault_text, sizeof fault_text};
        try {
            throw;
        } catch (const std::exception& error) {
            const std::string_view what = error.what();
            w.put("uncaught exception: ").put_cut(what, what.size(), kept_preview_size);
        } catch (...) {
            w.put("uncaught exception that is not a std::exception");
        }
        report_fault(std::string_view(fault_text, w.size));
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
    if (!run_state.guarding) {
        return;
    }
    flush_exercise_output();
    if (status != 0) {
        Writer w{fault_text, sizeof fault_text};
        w.put("exited with status ").number(status).put(" before the exercise finished");
        report_fault(std::string_view(fault_text, w.size));
    } else if (!run_state.stream_claimed) {  // a claimed stream has had the kept output already
        copy_kept_output(stream_out());
    }
    stop_guarding();
}

// An unlinked file in TMPDIR (or /tmp) for the exercise's standard output.
int open_kept_file() {
    const char* dir = std::getenv("TMPDIR");
    const std::string base = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    int fd = open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string pattern = base + "/quorvel-output-XXXXXX";
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0) {
            unlink(pattern.c_str());
        }
    }
    return fd;
}

// Sends file descriptor 1 to the kept file; on any failure standard output
// stays as it is.
void keep_standard_output() {
    flush_exercise_output();
    run_state.kept_out = open_kept_file();
    if (run_state.kept_out < 0) {
        return;
    }
    run_state.host_out = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (run_state.host_out < 0 || dup2(run_state.kept_out, STDOUT_FILENO) < 0) {
        if (run_state.host_out >= 0) {
            close(run_state.host_out);
            run_state.host_out = -1;
        }
        close(run_state.kept_out);
        run_state.kept_out = -1;
        return;
    }
    // Line by line, as on a terminal: printed lines are kept even when the
    // exercise crashes before its stdio buffer is flushed.
    run_state.stdout_was_line_buffered = __flbf(stdout) != 0;
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void install_signal_handlers() {
    stack_t stack{};
    stack.ss_sp = alternate_stack;
    stack.ss_size = sizeof alternate_stack;
    sigaltstack(&stack, &previous_alternate_stack);
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : fatal_signals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (std::size_t i = 0; i < fatal_signal_count; ++i) {
        sigaction(fatal_signals[i], &action, &previous_fatal_actions[i]);
    }
}

// The text of the box that shows the kept output: its first bytes, cut as
// Writer::put_cut() does; empty when nothing was printed.
std::string kept_output_preview() {
    const off_t size = run_state.kept_out >= 0 ? lseek(run_state.kept_out, 0, SEEK_END) : 0;
    if (size <= 0) {
        return "";
    }
    char head[kept_preview_size + 1];
    const ssize_t n = pread(run_state.kept_out, head, sizeof head, 0);
    char text[fault_text_size];
    Writer w{text, sizeof text};
    w.put_cut(std::string_view(head, n > 0 ? static_cast<std::size_t>(n) : 0),
              static_cast<std::size_t>(size), kept_preview_size);
    return std::string(text, w.size);
}

// With nothing sent the kept output goes to standard output as if it had
// never been kept; otherwise to standard error, whole, and a box shows its
// first bytes.
void settle_kept_output(bool nothing_sent) {
    flush_exercise_output();
    const std::string preview = kept_output_preview();
    if (preview.empty()) {
        return;
    }
    if (nothing_sent) {
        release_standard_output();
        copy_kept_output(STDOUT_FILENO);
        return;
    }
    copy_kept_output(STDERR_FILENO);
    append_box(preview, printed_style);
}

}  // namespace

namespace quorvel_internal {

void start_guarding() {
    if (run_state.guarding) {
        return;
    }
    if (!run_state.exit_hook_installed) {
        run_state.exit_hook_installed = on_exit(on_exit_status, nullptr) == 0;
    }
    Commit now = last_commit();
    now.length = yaml != nullptr ? document_length() : 0;
    commit_boxes(now);
    keep_standard_output();
    run_state.previous_terminate = std::set_terminate(on_terminate);
    install_signal_handlers();
    run_state.guarding = true;
}

void end_guard(bool nothing_sent) {
    if (run_state.guarding) {
        claim_stream();
        settle_kept_output(nothing_sent);
        stop_guarding();
    }
}

HostOutput::HostOutput() : active_(run_state.host_out >= 0 && run_state.kept_out >= 0) {
    if (active_) {
        flush_exercise_output();
        dup2(run_state.host_out, STDOUT_FILENO);
    }
}

HostOutput::~HostOutput() {
    if (active_) {
        flush_exercise_output();
        dup2(run_state.kept_out, STDOUT_FILENO);
    }
}

}  // namespace quorvel_internal
