// Running programs as a host does, for --run and --check: each with what
// it is given (environment, limits, the sandbox), its answer read as a host
// reads it, and how its run went wrong in words.
#ifndef QUORVEL_VIEW_RUNS_H
#define QUORVEL_VIEW_RUNS_H

#include "options.h"
#include "report.h"

#include <string>
#include <vector>

// A program's standard error is kept up to this, and the rest counted.
inline constexpr std::size_t stderr_limit = 64 * 1024;

double seconds_since(Clock::time_point start);

// Now, as ISO 8601 local time without a zone, as JUnit's timestamp has it.
std::string timestamp_now();

// Runs command (the program and its arguments) on input as the options say.
ProgramRun run_one(const std::vector<std::string>& command, const std::string& input, const Options& options);

// Runs every program of options.command, -j at a time; the runs come back in
// the order given, each without its stream once read. On a terminal,
// standard error shows how many are done.
std::vector<ProgramRun> run_all(const Options& options, const std::string& input);

// --sandbox: finds bubblewrap and the helper, and makes the calling
// thread's sandbox to learn whether namespaces are allowed here;
// Problem::no_sandbox when not. Call once, before run_one. Each thread that
// runs programs keeps a warm sandbox of its own for all its runs
// (sandbox.h); --run's is the one made here.
Error set_up_sandbox(const Options& options);

#endif
