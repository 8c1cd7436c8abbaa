#include "program_file.h"

#include "fault_point.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr char default_path[] = "/usr/bin:/bin";
constexpr std::size_t copy_chunk = 1024 * 1024;
constexpr unsigned all_seals = F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;

// The directories of PATH, in order; an empty one is the current directory.
std::vector<std::string> path_directories() {
    std::vector<std::string> directories;
    const char* path = std::getenv("PATH");
    const std::string rest = path != nullptr ? path : default_path;
    for (std::size_t at = 0; at <= rest.size();) {
        const std::size_t colon = std::min(rest.find(':', at), rest.size());
        directories.push_back(colon == at ? "." : rest.substr(at, colon - at));
        at = colon + 1;
    }
    return directories;
}

int sealable_memfd() {
    QUORVEL_FAULT_POINT("viewer/memfd_create", EMFILE, -1);
    return memfd_create("program", MFD_CLOEXEC | MFD_ALLOW_SEALING);
}

std::string error_text(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

// Copies from into to until more than limit bytes came (whole chunks: a
// file of /proc may refuse reads of other sizes); the count copied, or -1.
long long copy_bounded(int from, int to, std::size_t limit) {
    std::vector<char> buffer(copy_chunk);
    std::size_t copied = 0;
    while (copied <= limit) {
        const ssize_t n = read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? static_cast<long long>(copied) : -1;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = write(to, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (written < 0 && errno != EINTR) {
                return -1;
            }
            done += std::max<ssize_t>(written, 0);
        }
        copied += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(copied);
}

}  // namespace

std::string find_program(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    for (const std::string& directory : path_directories()) {
        const std::string candidate = directory + "/" + name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

ProgramFile::~ProgramFile() {
    if (fd >= 0) {
        close(fd);
    }
}

std::string open_program(const std::string& name, ProgramFile& program, int& exec_error) {
    program.path = find_program(name);
    if (program.path.empty()) {
        exec_error = ENOENT;
        return "";
    }
    program.fd = open(program.path.c_str(), O_PATH | O_CLOEXEC);
    struct stat info {};
    if (program.fd < 0 || fstat(program.fd, &info) != 0) {
        exec_error = errno;
        return "";
    }
    return S_ISREG(info.st_mode) ? "" : "not a regular file";
}

int sealed_copy(const ProgramFile& program, std::string& why_not) {
    const std::string reopen = "/proc/self/fd/" + std::to_string(program.fd);
    const int from = open(reopen.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) {
        why_not = error_text("open");
        return -1;
    }
    const int copy = sealable_memfd();
    const long long copied = copy < 0 ? -1 : copy_bounded(from, copy, most_program_bytes);
    why_not = copied < 0 ? error_text("copy") : "";
    close(from);
    if (copied > static_cast<long long>(most_program_bytes)) {
        why_not = "larger than " + std::to_string(most_program_bytes / (1024 * 1024)) + " MiB";
    } else if (copied >= 0 && (fcntl(copy, F_ADD_SEALS, all_seals) != 0 || lseek(copy, 0, SEEK_SET) != 0)) {
        why_not = error_text("seal");
    }
    if (!why_not.empty()) {
        if (copy >= 0) {
            close(copy);
        }
        return -1;
    }
    return copy;
}
