#include "process_group.h"

#include "resource_limits.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t stat_line_size = 1024;  // /proc/PID/stat: well under this

// The state and process group of pid from /proc/PID/stat; false when it is gone.
bool read_stat(const char* pid, char& state, long& group) {
    const std::string path = std::string("/proc/") + pid + "/stat";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char line[stat_line_size];
    const ssize_t n = read(fd, line, sizeof line - 1);
    close(fd);
    if (n <= 0) {
        return false;
    }
    line[n] = '\0';
    // "pid (comm) state ppid pgrp ...": comm may hold anything, so the fields
    // are read from after its last ')'.
    const char* after = std::strrchr(line, ')');
    long parent = 0;
    return after != nullptr && std::sscanf(after + 1, " %c %ld %ld", &state, &parent, &group) == 3;
}

bool is_number(const char* name) {
    for (const char* c = name; *c != '\0'; ++c) {
        if (std::isdigit(static_cast<unsigned char>(*c)) == 0) {
            return false;
        }
    }
    return *name != '\0';
}

}  // namespace

bool group_has_members(pid_t group, pid_t except) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return kill(-group, 0) == 0;  // without /proc, zombies count as members
    }
    bool found = false;
    while (const dirent* entry = readdir(proc)) {
        char state = 0;
        long entry_group = 0;
        if (is_number(entry->d_name) && std::atol(entry->d_name) != except &&
            read_stat(entry->d_name, state, entry_group) && entry_group == group && state != 'Z' &&
            state != 'X') {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

double reap_group(pid_t group) {
    double seconds = 0;
    for (;;) {
        rusage usage{};
        if (wait4(-group, nullptr, WNOHANG, &usage) <= 0) {
            return seconds;
        }
        seconds += cpu_seconds_of(usage);
    }
}
