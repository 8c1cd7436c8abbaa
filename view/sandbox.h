// quorvel-view --sandbox: each program runs in a sandbox of bubblewrap's, as
// user 65534 (outside it too: a root viewer drops to that user first with
// setpriv; an unprivileged one's user is mapped to it), with new user, PID,
// network, IPC and UTS namespaces and no further user namespace, the system
// call filter of seccomp_filter.h, no capability, and a read-only root with
// read-only /usr, /dev and a few /etc files. It can write only to /work, its
// working directory (/tmp is a link to it), an empty tmpfs of four times
// --file-size, and to /dev/shm, a tmpfs of sandbox_shm_mib. The program is
// a sealed copy of the file that was checked (program_file.h), never the
// path itself. A small helper of the viewer's own (quorvel-sandbox-helper,
// beside quorvel-view) runs inside as its PID 1, made non-dumpable so that
// the program can neither trace it nor write its memory: it sets the
// process and file size limits, starts the program, and tells the viewer
// how it ended, so that "crashed" and "not started" mean what they mean
// without a sandbox.
//
// Not bounded: System V shared memory and memfds (they count against no
// file system), inodes, and the sum of memory over a program's processes
// (--memory limits each); cgroups would bound them.
#ifndef QUORVEL_VIEW_SANDBOX_H
#define QUORVEL_VIEW_SANDBOX_H

#include "options.h"

#include <cstddef>
#include <string>
#include <vector>

struct ChildResult;
struct ProgramFile;

// The user the program runs as, outside the sandbox and in it.
inline constexpr unsigned sandbox_user = 65534;
// Where the program finds itself, its helper and its working directory.
inline constexpr char sandbox_program[] = "/program";
inline constexpr char sandbox_helper[] = "/quorvel-helper";
inline constexpr char sandbox_work_dir[] = "/work";
// The helper's name, beside the viewer's binary; it runs as
// quorvel-sandbox-helper STATUS_FD PROCESSES FILE_BYTES CPU_SECONDS -- PROGRAM [ARGS...].
inline constexpr char sandbox_helper_name[] = "quorvel-sandbox-helper";
// The size of the sandbox's /dev/shm, in MiB.
inline constexpr std::size_t sandbox_shm_mib = 16;

struct SandboxOptions {
    std::string bwrap;          // bubblewrap's path
    std::string setpriv;        // util-linux's setpriv, when the viewer runs as root; "" otherwise
    std::string helper;         // quorvel-sandbox-helper
    std::size_t processes = default_processes;          // RLIMIT_NPROC inside, threads included
    std::size_t file_size_mib = default_file_size_mib;  // RLIMIT_FSIZE inside; the tmpfs holds four times as much
    unsigned cpu_seconds = 0;   // RLIMIT_CPU inside: soft at this, hard a second later; 0: none
    std::string seccomp;        // the system call filter, as BPF (seccomp_filter.h)
};

// Finds bwrap on PATH (setpriv too, when the viewer runs as root) and the
// helper beside the viewer's own binary, and builds the system call filter,
// into options; "" when all is there, else why there can be no sandbox.
std::string find_sandbox_tools(SandboxOptions& options);

// One program's sandbox: made before the fork (files opened by the viewer
// while it still has its rights, the data of /etc/passwd, the pipes), then
// the command that starts it, and after the run how the program ended.
class SandboxRun {
public:
    SandboxRun() = default;
    SandboxRun(const SandboxRun&) = delete;
    SandboxRun& operator=(const SandboxRun&) = delete;
    ~SandboxRun();

    // Copies program (opened and checked by open_program) into a sealed
    // memfd, opens the helper, and makes the descriptors; false with
    // result.not_started set when it cannot (result.refused when the
    // program cannot be copied, larger than most_program_bytes say, or the
    // viewer's own failure in result.start_error).
    bool prepare(const SandboxOptions& options, const ProgramFile& program, const std::vector<std::string>& args,
                 ChildResult& result);

    const std::vector<std::string>& command() const { return command_; }
    // Descriptors that bubblewrap reads, left open across its exec.
    const std::vector<int>& passed() const { return passed_; }

    // After the run: the program's own wait status or exec error, as the
    // helper told it, in place of bubblewrap's; without the helper's word,
    // a bubblewrap that never started the helper makes the run "not
    // started", with bubblewrap's reason on standard error.
    void settle(ChildResult& result);

private:
    std::vector<std::string> command_;
    std::vector<int> passed_;
    std::vector<int> owned_;  // every descriptor made, closed at the end
    int status_read_ = -1;    // the helper's record
    int json_read_ = -1;      // bubblewrap's --json-status-fd
    int own(int fd);
};

// The helper's record, in one write to its status descriptor.
struct HelperRecord {
    int kind;   // helper_exec_failed or helper_waited
    int value;  // the exec's errno, or the raw wait status
    long long file_size_limit;  // the program's soft RLIMIT_FSIZE when it ended; -1: unknown or none
    long long cpu_time_limit;   // and its soft RLIMIT_CPU
};
inline constexpr int helper_exec_failed = 1;
inline constexpr int helper_waited = 2;

#endif
