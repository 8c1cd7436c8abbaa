// What quorvel-view and the helper of a sandbox say to each other over
// their socket pair (SOCK_SEQPACKET: one message a record, descriptors as
// SCM_RIGHTS). Shared by the viewer and the helper, which are built
// together and never speak across versions.
//
//   helper  ready                       once it serves, and after each run:
//           empty / not_empty           every other process reaped, the
//                                       sandbox's files and IPC gone (or not)
//   viewer  run + 4 descriptors         the program's sealed memfd and its
//                                       standard input, output and error;
//                                       then its arguments and environment
//   helper  ended / exec_failed         how it ended, with its limits
//   viewer  signal                      to the program's process group
#ifndef QUORVEL_VIEW_SANDBOX_PROTOCOL_H
#define QUORVEL_VIEW_SANDBOX_PROTOCOL_H

#include <cstddef>
#include <string>
#include <vector>

// Where the program finds itself, its helper and what it may write.
inline constexpr char sandbox_program[] = "/program";   // its argv[0]
inline constexpr char sandbox_helper[] = "/quorvel-helper";
inline constexpr char sandbox_work_dir[] = "/work";     // its working directory; /tmp links to it
inline constexpr char sandbox_shm_dir[] = "/dev/shm";
inline constexpr char sandbox_mqueue_dir[] = "/dev/mqueue";
// A script is run from a copy here: its interpreter opens it by path,
// which a descriptor closed at exec does not give.
inline constexpr char sandbox_script_dir[] = "/run";
inline constexpr char sandbox_script[] = "/run/program";

enum class RequestKind : int { run = 1, signal = 2 };
enum class ReplyKind : int { ready = 1, ended = 2, exec_failed = 3, empty = 4, not_empty = 5 };

// A run's limits as the program gets them; 0: none.
struct RunRequest {
    RequestKind kind;
    int signal;                  // with RequestKind::signal
    unsigned long long processes;   // RLIMIT_NPROC, threads included
    unsigned long long file_bytes;  // RLIMIT_FSIZE
    unsigned long long data_bytes;  // RLIMIT_DATA
    unsigned long long cpu_seconds; // RLIMIT_CPU: soft at this, hard a second later
    unsigned arguments;          // how many of the strings that follow are argv; the rest are its environment
};

struct HelperReply {
    ReplyKind kind;
    int value;                  // ended: the raw wait status; exec_failed: exec's errno; not_empty: an errno
    long long file_size_limit;  // the program's soft RLIMIT_FSIZE when it ended; -1: unknown or none
    long long cpu_time_limit;   // and its soft RLIMIT_CPU
    long max_rss_kib;           // its peak resident memory
    double cpu_seconds;         // its CPU time, and that of every process of the sandbox reaped meanwhile
};

// The descriptors of a run, in their order.
enum RunDescriptor { run_program, run_stdin, run_stdout, run_stderr, run_descriptors };

// The most a run request may hold: its arguments and environment, NUL-ended each.
inline constexpr std::size_t most_request_bytes = 128 * 1024;

// One message of head, then strings, each NUL-ended, with fds; false
// (errno set) when it could not go whole.
bool send_message(int socket, const void* head, std::size_t head_size, const std::vector<std::string>& strings,
                  const int* fds, std::size_t fd_count);

// One message into buffer (most bytes at most), and the descriptors that
// came with it (close-on-exec) into fds, up to fd_count, which becomes how
// many came. Its size; 0 when the other end has closed; -1 on an error, or
// a message longer than most (errno EMSGSIZE), whose descriptors are closed.
long receive_message(int socket, std::vector<char>& buffer, std::size_t most, int* fds, std::size_t& fd_count);

#endif
