#include "sandbox_protocol.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t most_fds = run_descriptors;

}  // namespace

bool send_message(int socket, const void* head, std::size_t head_size, const std::vector<std::string>& strings,
                  const int* fds, std::size_t fd_count) {
    std::string body(static_cast<const char*>(head), head_size);
    for (const std::string& text : strings) {
        body.append(text.c_str(), text.size() + 1);
    }
    if (body.size() > head_size + most_request_bytes || fd_count > most_fds) {
        errno = E2BIG;
        return false;
    }
    iovec part{body.data(), body.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * most_fds)] = {};
    if (fd_count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * fd_count);
        cmsghdr* rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int) * fd_count);
        std::memcpy(CMSG_DATA(rights), fds, sizeof(int) * fd_count);
    }
    ssize_t sent = -1;
    do {
        sent = sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(body.size());
}

long receive_message(int socket, std::vector<char>& buffer, std::size_t most, int* fds, std::size_t& fd_count) {
    buffer.resize(most);
    iovec part{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * most_fds)] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got = -1;
    do {
        got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    const std::size_t room = fd_count;
    fd_count = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); got >= 0 && c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) {
            continue;
        }
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            if (fd_count < room) {
                fds[fd_count++] = fd;
            } else {
                close(fd);
            }
        }
    }
    if (got > 0 && (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
        for (std::size_t i = 0; i < fd_count; ++i) {
            close(fds[i]);
        }
        fd_count = 0;
        errno = EMSGSIZE;
        return -1;
    }
    return static_cast<long>(got);
}
