// Runs a program as a child process with a chosen standard input and
// collects its standard output and standard error byte for byte.
#ifndef QUORVEL_TESTS_CHILD_PROCESS_H
#define QUORVEL_TESTS_CHILD_PROCESS_H

#include <string>
#include <vector>

struct ChildResult {
    std::string out;
    std::string err;
    int exit_code = -1;    // -1 when killed by a signal
    int term_signal = 0;   // the signal that ended it, or 0
};

// Runs program with args (argv[0] is program) in directory cwd (empty: the
// current one), feeding input on standard input and closing it afterwards.
ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::string& cwd = "");

// A new empty directory under the system's temporary directory, removed
// with its content when the test process exits.
std::string make_temp_dir();

// The whole content of a file ("" when it cannot be read); exists tells which.
std::string read_file(const std::string& path, bool* exists = nullptr);

void write_file(const std::string& path, const std::string& content);

#endif
