// How the sandbox's helper leaves nothing of one run for the next: every
// other process of the sandbox killed and reaped, the directories a
// program can write emptied and put back as they were, and every System V
// IPC object removed. Part of quorvel-sandbox-helper only.
#ifndef QUORVEL_VIEW_SANDBOX_EMPTYING_H
#define QUORVEL_VIEW_SANDBOX_EMPTYING_H

#include <sys/types.h>

#include <vector>

// A directory emptied between runs, and its mode as the sandbox began.
struct EmptiedDir {
    int fd;
    mode_t mode;
};

// Opens each of paths that exists, and notes its mode now.
std::vector<EmptiedDir> note_dirs(const std::vector<const char*>& paths);

// As the sandbox's PID 1: kills every other process in it and reaps them
// until none is left. The CPU seconds of those reaped.
double kill_the_rest();

// Empties each of dirs (deep trees and directories of mode 000 too), puts
// its mode back, removes its extended attributes, then removes the System V
// IPC objects; 0, or the errno of the first thing that could not be done.
int empty_sandbox(const std::vector<EmptiedDir>& dirs);

#endif
