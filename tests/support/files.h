// Scratch directories and whole-file reads and writes for the tests.
#ifndef QUORVEL_TESTS_FILES_H
#define QUORVEL_TESTS_FILES_H

#include <string>

// A new empty directory under the system's temporary directory, removed
// with its content when the test process exits.
std::string make_temp_dir();

// The whole content of a file ("" when it cannot be read); exists tells which.
std::string read_file(const std::string& path, bool* exists = nullptr);

void write_file(const std::string& path, const std::string& content);

#endif
