// The resource limits a program runs under, as the runner (start_program.cpp)
// and the sandbox's helper set them (with the fresh signal state it starts
// with) and read them back once it has ended, and the CPU time it used.
// Header-only: the helper is a program of its own.
#ifndef QUORVEL_VIEW_RESOURCE_LIMITS_H
#define QUORVEL_VIEW_RESOURCE_LIMITS_H

#include <sys/resource.h>
#include <sys/types.h>

#include <csignal>

// Sets resource's soft and hard limits to value.
inline void set_limit(__rlimit_resource resource, rlim_t value) {
    const rlimit limit{value, value};
    setrlimit(resource, &limit);
}

// A CPU time limit: SIGXCPU at seconds, SIGKILL a second later.
inline void set_cpu_limit(rlim_t seconds) {
    const rlimit limit{seconds, seconds + 1};
    setrlimit(RLIMIT_CPU, &limit);
}

// In a child about to exec: the signal mask and dispositions of a fresh
// process, and a run's limits, each 0 for none.
inline void start_fresh(rlim_t data_bytes, rlim_t file_bytes, rlim_t cpu_seconds) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        std::signal(signal, SIG_DFL);
    }
    if (data_bytes > 0) {
        set_limit(RLIMIT_DATA, data_bytes);
    }
    if (file_bytes > 0) {
        set_limit(RLIMIT_FSIZE, file_bytes);
    }
    if (cpu_seconds > 0) {
        set_cpu_limit(cpu_seconds);
    }
}

// The soft limit of resource that pid has now, read before it is reaped;
// -1 when it cannot be read or there is none.
inline long long soft_limit(pid_t pid, __rlimit_resource resource) {
    rlimit limit{};
    const bool read = prlimit(pid, resource, nullptr, &limit) == 0;
    return read && limit.rlim_cur != RLIM_INFINITY ? static_cast<long long>(limit.rlim_cur) : -1;
}

// The CPU seconds, user and system, of a usage.
inline double cpu_seconds_of(const rusage& usage) {
    constexpr double micro = 1e-6;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * micro;
}

#endif
