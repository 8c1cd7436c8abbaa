// The viewer's own SIGINT and SIGTERM, while programs run: blocked in every
// thread and taken by one, which makes stop_fd() readable so that each run
// stops its program's group as at a time-out. Then main raises the signal
// again, and the viewer ends by it.
#ifndef QUORVEL_VIEW_INTERRUPT_H
#define QUORVEL_VIEW_INTERRUPT_H

// Blocks SIGINT and SIGTERM in the calling thread (and so in every thread
// started after it) and starts the thread that waits for them. Call before
// any other thread starts.
void watch_interrupts();

// Readable once SIGINT or SIGTERM came; -1 before watch_interrupts().
int interrupt_fd();

// When one came, ends the process by it, as without the watch.
void raise_interrupt_if_any();

#endif
