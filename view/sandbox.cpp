#include "sandbox.h"

#include "child_process.h"
#include "fault_point.h"
#include "program_file.h"
#include "pump.h"
#include "seccomp_filter.h"
#include "start_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

namespace {

constexpr std::size_t tmpfs_per_file_size = 4;  // the working directory holds four of the largest file
constexpr std::size_t error_text_limit = 4096;  // of bubblewrap's words on why it could not

const char* const passwd_data = "sandbox:x:65534:65534:quorvel-view sandbox:/work:/usr/sbin/nologin\n";
const char* const group_data = "sandbox:x:65534:\n";

// A descriptor of an anonymous file that holds text, read from its start.
int data_file(const char* name, const std::string& data) {
    QUORVEL_FAULT_POINT("viewer/memfd_create", EMFILE, -1);
    const int fd = memfd_create(name, MFD_CLOEXEC);
    const std::size_t size = data.size();
    if (fd >= 0 && (write(fd, data.data(), size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string number(int fd) { return std::to_string(fd); }

// The descriptors bubblewrap reads, by what they hold.
struct BubblewrapFiles {
    int helper, passwd, group, seccomp;
};

// setpriv's drop to the sandbox's user when the viewer is root, then
// bubblewrap with every option of the sandbox, up to the helper's command.
// Its root, /dev and /etc are read-only; /work, /dev/shm, /dev/mqueue and
// /run are the only places a program can write, each of a size.
std::vector<std::string> bubblewrap_command(const SandboxOptions& options, const BubblewrapFiles& files) {
    std::vector<std::string> command;
    const std::string user = std::to_string(sandbox_user);
    if (!options.setpriv.empty()) {
        command = {options.setpriv, "--reuid=" + user, "--regid=" + user, "--clear-groups"};
    }
    const std::vector<std::string> sandbox = {
        options.bwrap, "--unshare-all", "--unshare-user", "--disable-userns", "--uid", user, "--gid", user,
        "--die-with-parent", "--as-pid-1", "--cap-drop", "ALL", "--seccomp", number(files.seccomp),
        "--ro-bind", "/usr", "/usr", "--symlink", "usr/bin", "/bin", "--symlink", "usr/sbin", "/sbin",
        "--symlink", "usr/lib", "/lib", "--symlink", "usr/lib64", "/lib64",
        "--proc", "/proc", "--dev", "/dev",
        "--perms", "1777", "--size", std::to_string(sandbox_shm_mib * mebibyte), "--tmpfs", sandbox_shm_dir,
        "--mqueue", sandbox_mqueue_dir,
        "--perms", "0755", "--dir", "/etc",
        "--ro-bind-try", "/etc/ld.so.cache", "/etc/ld.so.cache", "--ro-bind-try", "/etc/localtime", "/etc/localtime",
        "--perms", "0444", "--ro-bind-data", number(files.passwd), "/etc/passwd",
        "--perms", "0444", "--ro-bind-data", number(files.group), "/etc/group",
        "--perms", "0555", "--file", number(files.helper), sandbox_helper,
        "--size", std::to_string(most_program_bytes), "--tmpfs", sandbox_script_dir,
        "--size", std::to_string(options.file_size_mib * mebibyte * tmpfs_per_file_size),
        "--tmpfs", sandbox_work_dir, "--symlink", sandbox_work_dir, "/tmp",
        "--remount-ro", "/dev", "--remount-ro", "/",
        "--chdir", sandbox_work_dir};
    command.insert(command.end(), sandbox.begin(), sandbox.end());
    return command;
}

// What bubblewrap said on its standard error, which start() keeps, when it
// could not make the sandbox.
std::string words_of(int errors) {
    std::string words(error_text_limit, '\0');
    const ssize_t n = errors < 0 ? -1 : read(errors, words.data(), words.size());
    words.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    words = words.substr(0, words.find_last_not_of('\n') + 1);
    return words.empty() ? "its helper did not start" : words;
}

}  // namespace

std::string find_sandbox_tools(SandboxOptions& options) {
    options.bwrap = find_program("bwrap");
    if (options.bwrap.empty()) {
        return "--sandbox needs bubblewrap, and there is no bwrap on PATH (Debian's package bubblewrap)";
    }
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string viewer(self, length > 0 ? static_cast<std::size_t>(length) : 0);
    options.helper = viewer.substr(0, viewer.rfind('/') + 1) + sandbox_helper_name;
    if (access(options.helper.c_str(), R_OK) != 0) {
        return "--sandbox needs " + options.helper + ", which is missing";
    }
    options.setpriv.clear();
    if (geteuid() == 0) {
        options.setpriv = find_program("setpriv");
        if (options.setpriv.empty()) {
            return "--sandbox, run as root, needs setpriv (util-linux) on PATH to drop to user 65534";
        }
    }
    std::string why;
    options.seccomp = sandbox_seccomp_program(why);
    return why.empty() ? "" : "--sandbox: cannot build its system call filter: " + why;
}

std::string Sandbox::start() {
    pollfd idle{socket_, POLLIN, 0};
    if (running() && poll(&idle, 1, 0) == 0) {
        return "";
    }
    stop();  // between runs the helper says nothing: a socket that reads is a sandbox gone
    int pair[2] = {-1, -1};
    const BubblewrapFiles files{open(options_.helper.c_str(), O_RDONLY | O_CLOEXEC), data_file("passwd", passwd_data),
                                data_file("group", group_data), data_file("seccomp", options_.seccomp)};
    std::vector<int> passed = {files.helper, files.passwd, files.group, files.seccomp};
    std::string why;
    if (files.helper < 0 || files.passwd < 0 || files.group < 0 || files.seccomp < 0 ||
        socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        why = std::string("cannot make the sandbox: ") + std::strerror(errno);
    }
    StartedProgram started;
    if (why.empty()) {
        passed.push_back(pair[1]);
        std::vector<std::string> command = bubblewrap_command(options_, files);
        command.insert(command.end(), {sandbox_helper, number(pair[1])});
        ChildOptions bare;  // no environment, no limits: each run brings its own
        ChildResult result;
        start_program(command.front(), command, bare, passed, started, result);
        why = result.not_started ? (result.start_error.empty() ? std::strerror(result.exec_error)
                                                               : result.start_error)
                                 : "";
    }
    for (int& fd : passed) {
        close_fd(fd);
    }
    close_fd(started.in);
    close_fd(started.out);
    pid_ = started.pid;
    socket_ = pair[0];
    errors_ = started.err;
    fcntl(errors_, F_SETFL, O_NONBLOCK);
    HelperReply ready{};
    if (why.empty() && !await_reply(sandbox_start_seconds, ready)) {
        why = words_of(errors_);
    } else if (why.empty() && ready.kind != ReplyKind::ready) {
        why = "its helper did not start";
    }
    if (!why.empty()) {
        stop();
    }
    return why;
}

bool Sandbox::await_reply(double seconds, HelperReply& reply) {
    pollfd answer{socket_, POLLIN, 0};
    const Clock::time_point deadline = after(seconds);
    int ready = 0;
    while ((ready = poll(&answer, 1, milliseconds_until(deadline))) < 0 && errno == EINTR) {
    }
    return ready > 0 && receive_reply(reply);
}

bool Sandbox::receive_reply(HelperReply& reply) {
    QUORVEL_FAULT_POINT("viewer/recvmsg", ECONNRESET, false);
    std::vector<char> buffer;
    std::size_t no_fds = 0;
    const long size = receive_message(socket_, buffer, sizeof reply, nullptr, no_fds);
    if (size != static_cast<long>(sizeof reply)) {
        return false;
    }
    std::memcpy(&reply, buffer.data(), sizeof reply);
    return true;
}

void Sandbox::stop() {
    if (pid_ > 0) {
        // Bubblewrap and the helper share bubblewrap's process group. The
        // helper, handed to the viewer (a child subreaper) once bubblewrap is
        // gone, ends once every process of its sandbox has.
        kill(-pid_, SIGKILL);
        while (waitpid(-pid_, nullptr, 0) > 0 || errno == EINTR) {
        }
    }
    pid_ = -1;
    close_fd(socket_);
    close_fd(errors_);
}
