#include "seccomp_filter.h"

#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

constexpr scmp_datum_t request_mask = 0xFFFFFFFF;  // ioctl's request is an int to the kernel
constexpr unsigned long denied_requests[] = {TIOCSTI, TIOCLINUX};
constexpr const char* denied_calls[] = {"keyctl", "add_key", "request_key", "perf_event_open", "bpf",
                                        "userfaultfd"};
constexpr std::uint32_t other_arches[] = {SCMP_ARCH_X86, SCMP_ARCH_X32};
constexpr std::size_t read_chunk = 4096;

using Filter = std::unique_ptr<void, void (*)(scmp_filter_ctx)>;

// libseccomp's calls return a negated errno.
std::string failed(const char* what, int result) { return std::string(what) + ": " + std::strerror(-result); }

std::string add_rules(scmp_filter_ctx filter) {
    const std::uint32_t deny = SCMP_ACT_ERRNO(EPERM);
    for (const std::uint32_t arch : other_arches) {
        if (const int result = seccomp_arch_add(filter, arch); result != 0 && result != -EEXIST) {
            return failed("seccomp_arch_add", result);
        }
    }
    for (const unsigned long request : denied_requests) {
        const scmp_arg_cmp low_bits{1, SCMP_CMP_MASKED_EQ, request_mask, request};  // of argument 1
        const int result = seccomp_rule_add_array(filter, deny, SCMP_SYS(ioctl), 1, &low_bits);
        if (result != 0) {
            return failed("seccomp_rule_add(ioctl)", result);
        }
    }
    for (const char* call : denied_calls) {
        const int number = seccomp_syscall_resolve_name(call);
        if (const int result = seccomp_rule_add(filter, deny, number, 0); result != 0) {
            return failed(call, result);
        }
    }
    return "";
}

// What seccomp_export_bpf wrote to fd, read back from its start.
std::string read_back(int fd) {
    std::string program;
    char buffer[read_chunk];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n = read(fd, buffer, sizeof buffer); n > 0; n = read(fd, buffer, sizeof buffer)) {
        program.append(buffer, static_cast<std::size_t>(n));
    }
    return program;
}

}  // namespace

std::string sandbox_seccomp_program(std::string& why) {
    const Filter filter(seccomp_init(SCMP_ACT_ALLOW), seccomp_release);
    if (filter == nullptr) {
        why = "seccomp_init failed";
        return "";
    }
    why = add_rules(filter.get());
    const int fd = why.empty() ? memfd_create("seccomp", MFD_CLOEXEC) : -1;
    if (why.empty() && fd < 0) {
        why = std::string("memfd_create: ") + std::strerror(errno);
    }
    std::string program;
    if (fd >= 0) {
        const int result = seccomp_export_bpf(filter.get(), fd);
        program = result == 0 ? read_back(fd) : "";
        why = result == 0 ? (program.empty() ? "the filter is empty" : "") : failed("seccomp_export_bpf", result);
        close(fd);
    }
    return program;
}
