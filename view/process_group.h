// What is left of a program's process group once the program has exited,
// and how it is ended.
#ifndef QUORVEL_VIEW_PROCESS_GROUP_H
#define QUORVEL_VIEW_PROCESS_GROUP_H

#include <sys/types.h>

// True when group holds a process that is still alive (not a zombie), other
// than except.
bool group_has_members(pid_t group, pid_t except);

// Reaps the zombies of group that are this process's children (its own, and
// the orphans a child subreaper is handed) with wait4, so that their usage
// counts; never waits. Returns the CPU seconds they used.
double reap_group(pid_t group);

#endif
