#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char temporary_suffix[] = ".quorvel-XXXXXX";
constexpr mode_t new_file_mode = 0666;

Error failure(const std::string& path, int error) {
    return {Problem::file, "cannot write " + path + ": " + std::strerror(error)};
}

// Writes text into fd and closes it; 0 or an errno.
int write_and_close(int fd, const std::string& text) {
    const int error = write_all(fd, text);
    return close(fd) != 0 && error == 0 ? errno : error;
}

Error write_in_place(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, new_file_mode);
    if (fd < 0) {
        return failure(path, errno);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int error = write_and_close(fd, text);
    return error == 0 ? Error{} : failure(path, error);
}

mode_t umask_now() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// A new file beside path that takes old's place once text is in it whole.
Error write_beside(const std::string& path, const struct stat* old, const std::string& text) {
    std::string temporary = path + temporary_suffix;
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return write_in_place(path, text);  // a directory the viewer cannot write in
    }
    int error = fchmod(fd, old != nullptr ? old->st_mode & 07777 : new_file_mode & ~umask_now()) != 0 ? errno : 0;
    if (error == 0 && old != nullptr && geteuid() == 0 && fchown(fd, old->st_uid, old->st_gid) != 0) {
        error = errno;
    }
    error = error == 0 ? write_and_close(fd, text) : (close(fd), error);
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
        return failure(path, error);
    }
    return {};
}

}  // namespace

int write_all(int fd, const std::string& text) {
    for (std::size_t written = 0; written < text.size();) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

Error write_output_file(const std::string& path, const std::string& text) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? write_beside(path, nullptr, text) : failure(path, errno);
    }
    return S_ISREG(info.st_mode) ? write_beside(path, &info, text) : write_in_place(path, text);
}
