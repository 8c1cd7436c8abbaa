// The fatal signals the guard handles, and what handled them before. Only the
// guard (which installs and restores the handlers) and the signal-safe zone
// (whose handler restores them before raising the signal again) include it.
#ifndef QUORVEL_SRC_FATAL_SIGNALS_H
#define QUORVEL_SRC_FATAL_SIGNALS_H

#include <csignal>
#include <cstddef>

namespace quorvel_internal {

inline constexpr int fatal_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGXCPU, SIGXFSZ};

// The signals a host may ignore on purpose (a write past the file size
// limit then fails with EFBIG instead): left ignored, they get no handler.
constexpr bool may_stay_ignored(int signal) {
    return signal == SIGTERM || signal == SIGXCPU || signal == SIGXFSZ;
}
inline constexpr std::size_t fatal_signal_count = sizeof fatal_signals / sizeof fatal_signals[0];

// The dispositions the guard replaced, in the order of fatal_signals.
extern struct sigaction previous_fatal_actions[fatal_signal_count];

// The handler: writes the stream with a box that names the signal, puts the
// previous dispositions back and raises the signal again.
void on_fatal_signal(int signal, siginfo_t* info, void* context);

void restore_fatal_signal_actions();

}  // namespace quorvel_internal

#endif
