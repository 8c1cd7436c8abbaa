#include "interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

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

}  // namespace

void watch_interrupts() {
    const sigset_t set = interrupts();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0 || pipe2(stop_pipe, O_CLOEXEC) != 0) {
        return;
    }
    std::thread([set] {
        int signal = 0;
        if (sigwait(&set, &signal) == 0) {
            received = signal;
            if (write(stop_pipe[1], "!", 1) < 0) {
                received = signal;  // nothing else to do: the runs then stop at their limits
            }
        }
    }).detach();
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
