// Shared helpers of the end-to-end tests: run the scripted exercise and build
// expected streams.
#ifndef QUORVEL_TESTS_EXERCISE_RUNNER_H
#define QUORVEL_TESTS_EXERCISE_RUNNER_H

#include "child_process.h"
#include "exchange.h"
#include "support/box_layout.h"
#include "support/child.h"
#include "support/files.h"

#include <quorvel/exchange_format.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

inline constexpr std::size_t memory_bytes = quorvel_memory_size;

// Whether this build's library looks up the fault's where (QUORVEL_BACKTRACE):
// without it, fault boxes have none.
inline constexpr bool where_lookup = QUORVEL_TESTS_WHERE != 0;
inline const std::string stream_separator = quorvel_separator;

// scripted_exercise INIT_MODE QUIT_MODE STEPS... on input, in cwd. With
// QUORVEL_VALGRIND set, the exercise runs under valgrind's memcheck, which
// fails the run (status 99, a report on standard error) on any error or
// definite leak.
inline ChildResult run_exercise(const std::string& input, std::vector<std::string> args = {},
                                const std::string& cwd = "") {
    if (args.empty()) {
        args = {"@null", "@null"};
    }
    if (std::getenv("QUORVEL_VALGRIND") != nullptr) {
        args.insert(args.begin(), {"--quiet", "--error-exitcode=99", "--leak-check=full",
                                   "--errors-for-leak-kinds=definite", SCRIPTED_EXERCISE});
        return run_child("valgrind", args, input, cwd);
    }
    return run_child(SCRIPTED_EXERCISE, args, input, cwd);
}

// A string literal with its embedded NULs, without the final one.
template <std::size_t N>
std::string bytes_of(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

// head followed by '~' up to the size of the memory area.
inline std::string memory_area(const std::string& head = "") {
    return head + std::string(memory_bytes - head.size(), '~');
}

// The full output stream of a run.
inline std::string full_stream(const std::string& document, const std::string& memory) {
    return document + stream_separator + memory;
}

// A document of exactly length characters that starts with "message_id: N\n"
// and is padded with YAML lines; it ends with a newline.
inline std::string padded_document(int id, std::size_t length) {
    std::string document = "message_id: " + std::to_string(id) + "\n";
    for (int line = 0; document.size() < length; ++line) {
        const std::string key = "p" + std::to_string(line) + ": ";
        const std::size_t left = length - document.size();
        if (left < key.size() + 2) {
            document.append(left - 1, '#');
            document += '\n';
        } else {
            const std::size_t value = std::min<std::size_t>(left, 80) - key.size() - 1;
            document += key + std::string(value, 'y') + "\n";
        }
    }
    return document;
}

// The number of the line of the source at path that ends with the comment
// "// where:" and marker; 0 when none does.
inline int marker_line(const std::string& path, const std::string& marker) {
    const std::string source = read_file(path);
    const std::size_t at = source.find("// where:" + marker + "\n");
    return at == std::string::npos
               ? 0
               : static_cast<int>(std::count(source.begin(), source.begin() + static_cast<long>(at), '\n')) + 1;
}

// The where a fault box's text ends with, as its box names it; "" for a
// box without one.
inline std::string where_text(const ViewBox& box) {
    FaultWhere where;
    return fault_where(box, where) ? where_words(where) : "";
}

// True when a fault box's words (its text without the where) are text, or
// its start cut with " …" to leave the where room.
inline bool same_or_cut(const std::string& words, const std::string& text) {
    const std::string cut = " \xE2\x80\xA6";
    if (words == text) {
        return true;
    }
    return words.size() > cut.size() && words.compare(words.size() - cut.size(), cut.size(), cut) == 0 &&
           text.rfind(words.substr(0, words.size() - cut.size()), 0) == 0;
}

// A fault box's words: its text without the where.
inline std::string fault_words(const ViewBox& box) {
    return box.text.substr(0, box.text.size() - where_text(box).size());
}

#endif
