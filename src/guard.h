// The guard: between init() and quit() it keeps the exercise's standard
// output and stands ready to send the results made so far when the exercise
// crashes, throws, exits early or is stopped.
#ifndef QUORVEL_SRC_GUARD_H
#define QUORVEL_SRC_GUARD_H

namespace quorvel_internal {

// init(), last: saves the host's standard output, installs the fatal-signal
// handlers, the terminate handler and the exit hook, and keeps standard
// output. The calling process becomes the one that writes the stream.
void start_guarding();

// quit(), and terminate() of the run's image, in the process that called
// init(), before the stream is written: settles the kept output (to
// standard output when nothing is sent, else to standard error with a box
// that shows its first bytes). In a forked child it does nothing.
void settle_guard(bool nothing_sent);

// The same, once the stream is written: puts everything back. Until then a
// fault in another thread finds the handlers in place, and waits for the
// stream.
void end_guard();

// Flushes std::cout and C stdio's stdout, so that what the exercise printed
// goes before the library's own writes.
void flush_exercise_output();

// Closes the host's saved standard output once the stream is written.
void close_host_output();

}  // namespace quorvel_internal

#endif
