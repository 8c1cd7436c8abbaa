#include "sandbox_emptying.h"

#include "resource_limits.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr mode_t owner_all = S_IRWXU;
constexpr std::size_t xattr_list_size = 64 * 1024;  // the most a file's names of attributes take

void keep_first(int& error, int now) {
    if (error == 0) {
        error = now;
    }
}

int open_dir_at(int parent, const char* name) {
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Removes all that the directory dir holds. A directory in it is opened
// after it is given its owner's rights (it may have none), one descriptor
// a level: a tree deeper than the descriptors allow fails with EMFILE.
int remove_contents(int dir) {
    if (fchmod(dir, owner_all) != 0) {
        return errno;
    }
    const int listed = open_dir_at(dir, ".");
    DIR* entries = listed < 0 ? nullptr : fdopendir(listed);
    if (entries == nullptr) {
        const int error = errno;
        if (listed >= 0) {
            close(listed);
        }
        return error;
    }
    int error = 0;
    while (const dirent* entry = readdir(entries)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || unlinkat(dir, name, 0) == 0 ||
            errno == ENOENT) {
            continue;
        }
        if (errno != EISDIR) {
            keep_first(error, errno);
            continue;
        }
        int sub = open_dir_at(dir, name);
        if (sub < 0 && errno == EACCES && fchmodat(dir, name, owner_all, 0) == 0) {
            sub = open_dir_at(dir, name);
        }
        keep_first(error, sub < 0 ? errno : remove_contents(sub));
        if (sub >= 0) {
            close(sub);
        }
        if (unlinkat(dir, name, AT_REMOVEDIR) != 0) {
            keep_first(error, errno);
        }
    }
    closedir(entries);
    return error;
}

int remove_attributes(int dir) {
    std::string names(xattr_list_size, '\0');
    const ssize_t size = flistxattr(dir, names.data(), names.size());
    if (size < 0) {
        return errno == ENOTSUP ? 0 : errno;
    }
    int error = 0;
    for (std::size_t at = 0; at < static_cast<std::size_t>(size); at += std::strlen(names.c_str() + at) + 1) {
        if (fremovexattr(dir, names.c_str() + at) != 0) {
            keep_first(error, errno);
        }
    }
    return error;
}

// The ids in the second column of a table of /proc/sysvipc, under its heading.
std::vector<int> ipc_ids(const char* table) {
    std::ifstream file(std::string("/proc/sysvipc/") + table);
    std::string line;
    std::getline(file, line);
    std::vector<int> ids;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        long long key = 0;
        int id = -1;
        if (fields >> key >> id) {
            ids.push_back(id);
        }
    }
    return ids;
}

int remove_ipc() {
    int error = 0;
    for (const int id : ipc_ids("shm")) {
        keep_first(error, shmctl(id, IPC_RMID, nullptr) == 0 ? 0 : errno);
    }
    for (const int id : ipc_ids("msg")) {
        keep_first(error, msgctl(id, IPC_RMID, nullptr) == 0 ? 0 : errno);
    }
    for (const int id : ipc_ids("sem")) {
        keep_first(error, semctl(id, 0, IPC_RMID) == 0 ? 0 : errno);
    }
    return error;
}

}  // namespace

std::vector<EmptiedDir> note_dirs(const std::vector<const char*>& paths) {
    std::vector<EmptiedDir> dirs;
    for (const char* path : paths) {
        const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && fstat(fd, &info) == 0) {
            dirs.push_back({fd, static_cast<mode_t>(info.st_mode & 07777)});
        } else if (fd >= 0) {
            close(fd);
        }
    }
    return dirs;
}

double kill_the_rest() {
    double seconds = 0;
    for (;;) {
        kill(-1, SIGKILL);  // again after each reaping: a fork may have raced the one before
        rusage usage{};
        if (wait4(-1, nullptr, 0, &usage) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return seconds;  // ECHILD: none is left
        }
        seconds += cpu_seconds_of(usage);
    }
}

int empty_sandbox(const std::vector<EmptiedDir>& dirs) {
    int error = 0;
    for (const EmptiedDir& dir : dirs) {
        keep_first(error, remove_contents(dir.fd));
        keep_first(error, fchmod(dir.fd, dir.mode) == 0 ? 0 : errno);
        keep_first(error, remove_attributes(dir.fd));
    }
    keep_first(error, remove_ipc());
    return error;
}
