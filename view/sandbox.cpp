#include "sandbox.h"

#include "child_process.h"
#include "fault_point.h"
#include "program_file.h"
#include "seccomp_filter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t tmpfs_per_file_size = 4;  // the working directory holds four of the largest file
constexpr std::size_t json_status_limit = 4096;

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

bool not_started(ChildResult& result, const std::string& why) {
    result.not_started = true;
    result.start_error = why;
    return false;
}

std::string number(int fd) { return std::to_string(fd); }

// The descriptors bubblewrap reads, by what they hold.
struct BubblewrapFiles {
    int program, helper, passwd, group, seccomp, json_status;
};

// setpriv's drop to the sandbox's user when the viewer is root, then
// bubblewrap with every option of the sandbox, up to the helper's command.
// Its root, /dev and /etc are read-only; /work and /dev/shm are the only
// places a program can write, each of a size.
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
        "--perms", "1777", "--size", std::to_string(sandbox_shm_mib * mebibyte), "--tmpfs", "/dev/shm",
        "--perms", "0755", "--dir", "/etc",
        "--ro-bind-try", "/etc/ld.so.cache", "/etc/ld.so.cache", "--ro-bind-try", "/etc/localtime", "/etc/localtime",
        "--perms", "0444", "--ro-bind-data", number(files.passwd), "/etc/passwd",
        "--perms", "0444", "--ro-bind-data", number(files.group), "/etc/group",
        "--perms", "0555", "--file", number(files.helper), sandbox_helper,
        "--perms", "0555", "--file", number(files.program), sandbox_program,
        "--size", std::to_string(options.file_size_mib * mebibyte * tmpfs_per_file_size),
        "--tmpfs", sandbox_work_dir, "--symlink", sandbox_work_dir, "/tmp",
        "--remount-ro", "/dev", "--remount-ro", "/",
        "--chdir", sandbox_work_dir, "--json-status-fd", number(files.json_status)};
    command.insert(command.end(), sandbox.begin(), sandbox.end());
    return command;
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

int SandboxRun::own(int fd) {
    if (fd >= 0) {
        owned_.push_back(fd);
    }
    return fd;
}

SandboxRun::~SandboxRun() {
    for (const int fd : owned_) {
        close(fd);
    }
}

bool SandboxRun::prepare(const SandboxOptions& options, const ProgramFile& program,
                         const std::vector<std::string>& args, ChildResult& result) {
    std::string why_not;
    const int program_fd = own(sealed_copy(program, why_not));
    if (program_fd < 0) {
        result.not_started = true;
        result.refused = why_not;
        return false;
    }
    const int helper_fd = own(open(options.helper.c_str(), O_RDONLY | O_CLOEXEC));
    const int passwd_fd = own(data_file("passwd", passwd_data));
    const int group_fd = own(data_file("group", group_data));
    const int seccomp_fd = own(data_file("seccomp", options.seccomp));
    int status[2] = {-1, -1};
    int json[2] = {-1, -1};
    if (helper_fd < 0 || passwd_fd < 0 || group_fd < 0 || seccomp_fd < 0 || pipe2(status, O_CLOEXEC | O_NONBLOCK) != 0 ||
        pipe2(json, O_CLOEXEC | O_NONBLOCK) != 0) {
        return not_started(result, std::string("cannot make the sandbox: ") + std::strerror(errno));
    }
    status_read_ = own(status[0]);
    json_read_ = own(json[0]);
    own(status[1]);
    own(json[1]);
    passed_ = {program_fd, helper_fd, passwd_fd, group_fd, seccomp_fd, status[1], json[1]};
    command_ = bubblewrap_command(options, {program_fd, helper_fd, passwd_fd, group_fd, seccomp_fd, json[1]});
    const std::vector<std::string> helper = {sandbox_helper, number(status[1]), std::to_string(options.processes),
                                             std::to_string(options.file_size_mib * mebibyte),
                                             std::to_string(options.cpu_seconds), "--", sandbox_program};
    command_.insert(command_.end(), helper.begin(), helper.end());
    command_.insert(command_.end(), args.begin(), args.end());
    return true;
}

void SandboxRun::settle(ChildResult& result) {
    // The writing ends went with the sandbox: what is in the pipes is all.
    for (int& fd : owned_) {
        if (fd != status_read_ && fd != json_read_) {
            close(fd);
            fd = -1;
        }
    }
    HelperRecord record{};
    const bool told = read(status_read_, &record, sizeof record) == sizeof record;
    if (told && record.kind == helper_exec_failed) {
        result.not_started = true;
        result.exec_error = record.value;
        result.exit_code = -1;
    } else if (told && record.kind == helper_waited) {
        const bool stopped = result.timed_out || result.stopped;
        result.term_signal = WIFSIGNALED(record.value) ? WTERMSIG(record.value) : 0;
        result.exit_code = WIFEXITED(record.value) && !stopped ? WEXITSTATUS(record.value) : -1;
        result.file_size_limit = record.file_size_limit;
        result.cpu_time_limit = record.cpu_time_limit;
    } else {
        std::string json(json_status_limit, '\0');
        const ssize_t n = read(json_read_, json.data(), json.size());
        json.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        if (json.find("\"child-pid\"") == std::string::npos) {
            result.not_started = true;
            result.start_error = "bubblewrap could not make the sandbox (its reason is on standard error)";
        }
    }
}
