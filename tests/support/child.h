// The tests' way to run a program: run_child with the caller's environment.
#ifndef QUORVEL_TESTS_CHILD_H
#define QUORVEL_TESTS_CHILD_H

#include "child_process.h"

#include <string>
#include <vector>

// run_child with the caller's environment, a working directory, a time
// limit, and SIGTERM as soon as standard error holds terminate_when.
ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                      const std::string& cwd = "", double timeout_seconds = 0, const std::string& terminate_when = "");

#endif
