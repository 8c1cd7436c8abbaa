// For the tests of quorvel-view --sandbox: whether a sandbox can be made
// here, and the arguments of a sandboxed --run.
#ifndef QUORVEL_TESTS_SANDBOX_H
#define QUORVEL_TESTS_SANDBOX_H

#include "child_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Whether bubblewrap can make a sandbox here; else why not.
inline std::string sandbox_refused() {
    const ChildResult probe = run_child(QUORVEL_VIEW, {"--run", "--sandbox", "--", "true"}, "");
    return probe.exit_code == 5 ? probe.err : "";
}

#define SKIP_WITHOUT_SANDBOX()                                    \
    if (const std::string why = sandbox_refused(); !why.empty()) { \
        GTEST_SKIP() << why;                                      \
    }

inline std::vector<std::string> sandboxed(std::vector<std::string> args) {
    args.insert(args.begin(), {"--run", "--sandbox"});
    return args;
}

#endif
