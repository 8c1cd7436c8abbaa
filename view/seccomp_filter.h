// The system call filter of --sandbox, built with libseccomp and handed to
// bubblewrap (--seccomp FD). Every call is allowed but these, which fail
// with EPERM:
//   ioctl TIOCSTI and TIOCLINUX (typing into, or reading, a terminal), on the
//     low 32 bits of the request, as the kernel reads it;
//   keyctl, add_key, request_key (the kernel keyring has no namespace);
//   perf_event_open, bpf, userfaultfd.
// It covers the x86-64, x86 and x32 call tables, so a -m32 program runs and
// meets the same denials.
#ifndef QUORVEL_VIEW_SECCOMP_FILTER_H
#define QUORVEL_VIEW_SECCOMP_FILTER_H

#include <string>

// The filter as classic BPF, ready for bubblewrap; "" with why set when
// libseccomp could not build it.
std::string sandbox_seccomp_program(std::string& why);

#endif
