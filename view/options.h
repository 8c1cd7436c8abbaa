// quorvel-view's command line: its options, their ranges, and the errors
// that main turns into messages and exit statuses.
#ifndef QUORVEL_VIEW_OPTIONS_H
#define QUORVEL_VIEW_OPTIONS_H

#include <cstddef>
#include <string>
#include <vector>

inline constexpr double default_timeout = 10;
inline constexpr double most_timeout = 24 * 60 * 60;   // a day
inline constexpr int most_jobs = 1024;
inline constexpr std::size_t most_memory_mib = 1024 * 1024;  // 1 TiB
inline constexpr int most_shards = 10000;
inline constexpr std::size_t default_file_size_mib = 64;
inline constexpr std::size_t most_file_size_mib = 1024 * 1024;  // 1 TiB
inline constexpr std::size_t default_processes = 64;
inline constexpr std::size_t most_processes = 32768;
inline constexpr std::size_t most_checks = 100000;
inline constexpr long default_points_hundredths = 100;       // 1 point
inline constexpr long most_points_hundredths = 1000 * 100;   // 1000 points
inline constexpr unsigned most_cpu_seconds = 24 * 60 * 60;   // a day
// --visibility's values, Gradescope's own.
inline constexpr const char* visibilities[] = {"visible", "hidden", "after_due_date", "after_published"};

// The synopsis that follows a usage error, and the whole help of --help,
// grouped by mode and written from the options' declarations.
std::string usage_text();
std::string help_text();

struct Options {
    bool help = false;
    bool version = false;
    bool run = false;
    bool check = false;
    std::string html;
    std::string source_dir;  // --run: where the student's sources are, to show a fault's line
    std::string file;
    std::string input_file;
    std::string message_id = "0";
    bool message_id_given = false;
    double timeout = default_timeout;
    int jobs = 0;                // 0: one per core
    std::size_t memory_mib = 0;  // 0: no limit
    std::size_t file_size_mib = default_file_size_mib;
    std::vector<std::string> env;  // --env NAME or NAME=VALUE, in order
    bool sandbox = false;
    std::size_t processes = default_processes;
    bool processes_given = false;
    std::size_t checks = 0;      // --checks N: check boxes each program must show; 0: any number
    long points_hundredths = default_points_hundredths;  // --points P, in hundredths of a point
    bool points_given = false;
    bool partial_credit = false;
    std::string visibility;      // --visibility V; "": not written
    unsigned cpu_seconds = 0;    // --cpu-time S: RLIMIT_CPU; 0: none
    int shard = 0;               // --shard K/N: K, from 1; 0: every program
    int shards = 0;              // N
    std::string format = "text";
    std::string output;
    std::vector<std::string> command;  // --run: the program and its arguments; --check: programs
};

// What went wrong; main alone turns it into a message and an exit status.
enum class Problem { none, usage, file, malformed, program, no_sandbox };

struct Error {
    Problem problem = Problem::none;
    std::string message;
    explicit operator bool() const { return problem != Problem::none; }
};

// Reads argv into options. With --run, the first word that is not an
// option, or the word after "--", starts the program's command, and the
// rest is its arguments; with --check, options may also follow the
// programs. Numbers are decimal only (no sign but --message-id's minus, no
// octal, no hexadecimal). A numeric option outside its range, or not such a
// number, is a usage error:
//   -j N          1 to most_jobs
//   --timeout S   above 0, at most most_timeout seconds (strtod: 0.5, 1e2)
//   --memory MiB  1 to most_memory_mib
//   --message-id  any decimal integer (ids outside 32 bits reach the
//                 library's own warning)
//   --shard K/N   1 <= K <= N <= most_shards
//   --file-size MiB  1 to most_file_size_mib
//   --processes N    1 to most_processes, and only with --sandbox
//   --checks N       1 to most_checks        (these five with --check only;
//   --points P       above 0, at most 1000,   --partial-credit needs
//                    at most 2 decimals       --checks)
//   --cpu-time S     1 to most_cpu_seconds
//   --visibility V   one of visibilities
// --env takes NAME (letters, digits, _) or NAME=VALUE.
Error parse_options(int argc, char** argv, Options& options);

#endif
