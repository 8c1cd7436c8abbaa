// quorvel-view --sandbox: programs run in a sandbox of bubblewrap's, as
// user 65534 (outside it too: a root viewer drops to that user first with
// setpriv; an unprivileged one's user is mapped to it), with new user, PID,
// network, IPC and UTS namespaces and no further user namespace, the system
// call filter of seccomp_filter.h, no capability, and a read-only root with
// read-only /usr, /dev and a few /etc files. A program can write only to
// /work, its working directory (/tmp is a link to it), an empty tmpfs of
// four times --file-size, to /dev/shm, a tmpfs of sandbox_shm_mib, and to
// its POSIX message queues (/dev/mqueue). It runs from a sealed copy of the
// file that was checked (program_file.h), never from the path itself.
//
// A sandbox is warm: made once, by the thread that uses it (bubblewrap's
// --die-with-parent follows that thread), and used for run after run, --run
// and --check alike. A small helper of the viewer's own
// (quorvel-sandbox-helper, beside quorvel-view) runs inside as its PID 1,
// non-dumpable, and serves the runs over a socket pair (sandbox_protocol.h):
// it starts each program with its limits, passes on the viewer's signals,
// and tells how it ended, so that "crashed" and "not started" mean what they
// mean without a sandbox. Between runs it kills every other process, empties
// /work, /dev/shm, the message queues and the script copy's /run, puts back
// their modes, removes their extended attributes and every System V IPC
// object. A sandbox whose emptying takes longer than sandbox_emptying_bound,
// fails, or whose helper stops answering is ended and replaced by a fresh
// one for the next run. What a warm sandbox keeps from one run to the next:
// the PID counter (a program's pids go on rising), and the TIME_WAIT entries
// of its network namespace in /proc/net/tcp.
//
// Not bounded: System V shared memory and memfds (they count against no
// file system), inodes, and the sum of memory over a program's processes
// (--memory limits each); cgroups would bound them.
#ifndef QUORVEL_VIEW_SANDBOX_H
#define QUORVEL_VIEW_SANDBOX_H

#include "options.h"
#include "sandbox_protocol.h"

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

struct ChildOptions;
struct ChildResult;
struct ProgramFile;

// The user the program runs as, outside the sandbox and in it.
inline constexpr unsigned sandbox_user = 65534;
// The helper's name, beside the viewer's binary; it runs as
// quorvel-sandbox-helper SOCKET_FD.
inline constexpr char sandbox_helper_name[] = "quorvel-sandbox-helper";
// The size of the sandbox's /dev/shm, in MiB.
inline constexpr std::size_t sandbox_shm_mib = 16;
// How long emptying a sandbox between runs may take before it is replaced.
inline constexpr double sandbox_emptying_bound = 0.05;
// How long a new sandbox may take to start.
inline constexpr double sandbox_start_seconds = 10;

struct SandboxOptions {
    std::string bwrap;          // bubblewrap's path
    std::string setpriv;        // util-linux's setpriv, when the viewer runs as root; "" otherwise
    std::string helper;         // quorvel-sandbox-helper
    std::size_t processes = default_processes;          // RLIMIT_NPROC inside, threads included
    std::size_t file_size_mib = default_file_size_mib;  // RLIMIT_FSIZE inside; the tmpfs holds four times as much
    std::string seccomp;        // the system call filter, as BPF (seccomp_filter.h)
};

// Finds bwrap on PATH (setpriv too, when the viewer runs as root) and the
// helper beside the viewer's own binary, and builds the system call filter,
// into options; "" when all is there, else why there can be no sandbox.
std::string find_sandbox_tools(SandboxOptions& options);

// One warm sandbox, for the runs of one thread, one at a time.
class Sandbox {
public:
    explicit Sandbox(const SandboxOptions& options) : options_(options) {}
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    ~Sandbox() { stop(); }

    // Makes the sandbox if there is none, and waits for its helper;
    // "" when it serves, else why not (bubblewrap's own words, when it
    // gave any).
    std::string start();

    // Runs program (opened and checked by open_program) with args as
    // run_child() does, with options' time limit, stop, output limits,
    // environment, memory, file size and CPU time, in this sandbox, made
    // first if need be. Not started: when the program cannot be copied
    // (result.refused), when no sandbox can be made or the helper is lost
    // before its word on the program ("the sandbox failed", in
    // result.start_error; a time-out or stop already decided stays), or
    // when exec fails (result.exec_error). A lost helper, or a sandbox not
    // emptied in time, ends the sandbox; the next run makes another.
    ChildResult run(const ProgramFile& program, const std::vector<std::string>& args, const std::string& input,
                    const ChildOptions& options);

    // Ends the sandbox now: SIGKILL to its bubblewrap, which takes the helper
    // and every process inside with it.
    void stop();

    // Whether a sandbox is running now.
    bool running() const { return socket_ >= 0; }

private:
    // The helper's next reply, within seconds; false when none came whole.
    bool await_reply(double seconds, HelperReply& reply);
    bool receive_reply(HelperReply& reply);
    bool send_request(const RunRequest& request, const std::vector<std::string>& strings, const int* fds,
                      std::size_t fd_count);
    // After the program's end: waits for the helper's word that the sandbox
    // is empty, reading the pipes meanwhile; stops the sandbox when it
    // does not come in time.
    void await_empty(struct Pump& pump);

    const SandboxOptions& options_;
    pid_t pid_ = -1;     // bubblewrap's (setpriv's, which became it)
    int socket_ = -1;    // the viewer's end of the helper's socket
    int errors_ = -1;    // bubblewrap's standard error
};

#endif
