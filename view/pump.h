// The middle of a run: feeding a program its standard input, reading its
// standard output and error without blocking, and its deadline, whatever
// the program runs under: a child of the viewer's own (child_process.cpp)
// or a sandbox's helper (sandbox_run.cpp).
#ifndef QUORVEL_VIEW_PUMP_H
#define QUORVEL_VIEW_PUMP_H

#include "child_process.h"

#include <string>

// The program as the pump sees it.
class Watched {
public:
    virtual ~Watched() = default;
    // Readable once the program may have ended; -1: it is looked at in turns.
    virtual int fd() const = 0;
    // Whether it has ended, once fd() is readable (or at each turn).
    virtual bool ended() = 0;
    // Sends signal to its process group.
    virtual void signal(int signal) = 0;
    // The grace after SIGKILL has passed and it has not ended: true ends the
    // pump all the same (a sandbox's helper that no longer answers).
    virtual bool give_up() = 0;
};

// How long Clock::now() is from at, in whole milliseconds, 0 when past.
int milliseconds_until(Clock::time_point at);
Clock::time_point after(double seconds);

// A program's end as its raw wait status tells it: its exit status (-1
// once a time-out or stop was decided, however it then ended) or the
// signal that ended it.
void take_wait_status(ChildResult& result, int status);

struct Pump {
    const std::string& input;
    const ChildOptions& options;
    ChildResult& result;
    Watched& program;
    int in = -1;   // its standard input, our writing end
    int out = -1;  // its standard output, our reading end
    int err = -1;  // its standard error, our reading end
    std::size_t written = 0;
    bool limited = false;  // a deadline holds
    Clock::time_point deadline{};
    bool terminated = false;  // the group had SIGTERM for the time limit or a stop
    bool killed = false;      // and SIGKILL after the grace

    // Takes the three pipes (made non-blocking; in closed at once when there
    // is no input) and starts the time limit.
    void start(int stdin_fd, int stdout_fd, int stderr_fd);
    // Feeds and drains until the program ends; false when poll fails.
    bool pump();
    // Reads what the pipes have now (a few chunks at most); each closes at its end.
    void drain_outputs();
    void close_pipes();

private:
    void drain(int& fd, std::string& sink, std::size_t limit, std::size_t& dropped);
    void feed();
    void escalate();
    bool on_deadline();
    void check_terminate_when();
};

#endif
