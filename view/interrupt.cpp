#include "interrupt.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace {

int stop_pipe[2] = {-1, -1};
std::atomic<int> received{0};

sigset_t interrupts() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// The one thread that takes SIGINT and SIGTERM. A plain pthread: it may still
// be starting when the viewer exits, with nothing of it to destroy.
void* await_interrupt(void*) {
    const sigset_t set = interrupts();
    int signal = 0;
    if (sigwait(&set, &signal) == 0) {
        received = signal;
        if (write(stop_pipe[1], "!", 1) < 0) {
            received = signal;  // nothing else to do: the runs then stop at their limits
        }
    }
    return nullptr;
}

}  // namespace

void watch_interrupts() {
    const sigset_t set = interrupts();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0 || pipe2(stop_pipe, O_CLOEXEC) != 0) {
        return;
    }
    pthread_t watcher;
    if (pthread_create(&watcher, nullptr, await_interrupt, nullptr) != 0) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // no watcher: the signals end the viewer as before
        return;
    }
    pthread_detach(watcher);
}

int interrupt_fd() { return stop_pipe[0]; }

void raise_interrupt_if_any() {
    const int signal = received;
    if (signal == 0) {
        return;
    }
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    raise(signal);  // pending while blocked, then delivered
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
