// The guard: between init() and quit() it keeps the exercise's standard
// output and stands ready to send the results made so far when the exercise
// crashes, throws, exits early or is stopped.
#ifndef QUORVEL_SRC_GUARD_H
#define QUORVEL_SRC_GUARD_H

namespace quorvel_internal {

// init(), last: installs the fatal-signal handlers, the terminate handler and
// the exit hook, and keeps standard output.
void start_guarding();

// quit(), and terminate() of the run's image: claims the stream, settles the
// kept output (to standard output when nothing is sent, else to standard
// error with a box that shows its first bytes) and puts everything back.
void end_guard(bool nothing_sent);

// While the guard keeps standard output, the library's own writes to it
// (terminate() of an image of the exercise's) go to the host: for the
// lifetime of this object, file descriptor 1 is the host's again.
class HostOutput {
public:
    HostOutput();
    ~HostOutput();
    HostOutput(const HostOutput&) = delete;
    HostOutput& operator=(const HostOutput&) = delete;

private:
    bool active_;
};

}  // namespace quorvel_internal

#endif
