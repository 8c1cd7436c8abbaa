// The fatal signals the guard handles, and what handled them before. Only the
// guard (which installs and restores the handlers) and the signal-safe zone
// (whose handler restores them before raising the signal again) include it.
#ifndef QUORVEL_SRC_FATAL_SIGNALS_H
#define QUORVEL_SRC_FATAL_SIGNALS_H

#include <csignal>
#include <cstddef>

namespace quorvel_internal {

// A fatal signal: its number, its name, the words of the box that names it
// ("crashed: invalid memory access (SIGSEGV)" is words and name), and
// whether a host may leave it ignored on purpose (a write past the file
// size limit then fails with EFBIG instead): left ignored, it gets no
// handler.
struct FatalSignal {
    int number;
    const char* name;
    const char* words;
    bool may_stay_ignored;
};

inline constexpr FatalSignal fatal_signals[] = {
    {SIGSEGV, "SIGSEGV", "crashed: invalid memory access", false},
    {SIGBUS, "SIGBUS", "crashed: invalid memory access", false},
    {SIGFPE, "SIGFPE", "crashed: arithmetic error, such as a division by zero", false},
    {SIGILL, "SIGILL", "crashed: illegal instruction", false},
    {SIGABRT, "SIGABRT", "crashed: the program aborted", false},
    {SIGTERM, "SIGTERM", "stopped: the host ended the program", true},
    {SIGXCPU, "SIGXCPU", "stopped: CPU time limit reached", true},
    {SIGXFSZ, "SIGXFSZ", "stopped: file size limit reached", true},
};
inline constexpr std::size_t fatal_signal_count = sizeof fatal_signals / sizeof fatal_signals[0];

// The dispositions the guard replaced, in the order of fatal_signals.
extern struct sigaction previous_fatal_actions[fatal_signal_count];

// The handler: writes the stream with a box that names the signal, puts the
// previous dispositions back and raises the signal again.
void on_fatal_signal(int signal, siginfo_t* info, void* context);

void restore_fatal_signal_actions();

}  // namespace quorvel_internal

#endif
