// The practice-text generator, run as a child process in a scratch directory.
#include "support/child.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/sanitizers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#define ZANDREL_SINK std::string*
#define ZANDREL_PUT(sink, c) (sink)->push_back(static_cast<char>(c))
#include "support/zandrel_reference.h"

namespace {

constexpr int tokens = 400000;
constexpr int per_line = 61;

// The reference text for a seed: the second the generator started in, or
// the one given with --seed.
std::string reference_text(unsigned seed) {
    std::srand(seed);
    std::string text;
    zandrel_reference(&text);
    return text;
}

// The first n tokens of a text, without the newline that may follow them.
std::string first_tokens(const std::string& text, int n) {
    std::size_t end = 0;
    for (int token = 0; token < n; ++token) {
        end += text[end] == '\n' ? 1U : 0U;
        end += text[end] == '.' ? 2U : 1U;
    }
    return text.substr(0, end);
}

struct GeneratorRun {
    ChildResult result;
    std::string text;
    std::time_t started = 0;
    std::time_t ended = 0;
};

GeneratorRun run_zandrel() {
    GeneratorRun run;
    const std::string dir = make_temp_dir();
    run.started = std::time(nullptr);
    run.result = run_child(ZANDREL, {}, "", dir);
    run.ended = std::time(nullptr);
    run.text = read_file(dir + "/gibberish.txt");
    return run;
}

enum TokenClass : std::size_t { lower, upper, blank, stop, class_count };

TEST(Zandrel, WritesTheTokenLayout) {
    const GeneratorRun run = run_zandrel();
    EXPECT_EQ(run.result.exit_code, 0);
    EXPECT_EQ(run.result.out, "");
    EXPECT_EQ(run.result.err, "");
    ASSERT_FALSE(run.text.empty());
    EXPECT_NE(run.text.back(), '\n');

    std::vector<int> line_tokens(1, 0);
    std::array<long, class_count> counts{};
    for (std::size_t i = 0; i < run.text.size(); ++i) {
        const char c = run.text[i];
        if (c == '\n') {
            line_tokens.push_back(0);
            continue;
        }
        ++line_tokens.back();
        if (c == '.') {
            ASSERT_TRUE(i + 1 < run.text.size() && run.text[i + 1] == ' ') << "at " << i;
            ++counts[stop];
            ++i;
        } else if (c == ' ') {
            ++counts[blank];
        } else {
            ASSERT_TRUE(std::isalpha(static_cast<unsigned char>(c))) << "byte " << int(c);
            ++counts[std::islower(static_cast<unsigned char>(c)) ? lower : upper];
        }
    }
    ASSERT_EQ(line_tokens.size(), 6558U);
    for (std::size_t i = 0; i + 1 < line_tokens.size(); ++i) {
        ASSERT_EQ(line_tokens[i], per_line) << "line " << i;
    }
    EXPECT_EQ(line_tokens.back(), 23);

    // Chi-square with 3 degrees of freedom; 30 is exceeded by chance about
    // once in a million runs.
    const double expected_share[class_count] = {60.0 / 110, 20.0 / 110, 25.0 / 110, 5.0 / 110};
    double chi_square = 0;
    for (std::size_t k = 0; k < class_count; ++k) {
        const double expected = expected_share[k] * tokens;
        chi_square += (static_cast<double>(counts[k]) - expected) *
                      (static_cast<double>(counts[k]) - expected) / expected;
    }
    EXPECT_LT(chi_square, 30.0);
}

TEST(Zandrel, DependsOnlyOnTheStartSecond) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const GeneratorRun first = run_zandrel();
        const GeneratorRun second = run_zandrel();
        if (first.started != second.ended) {
            continue;  // a second boundary fell between them; try again
        }
        EXPECT_TRUE(same_bytes(first.text, second.text));
        EXPECT_TRUE(same_bytes(first.text, reference_text(static_cast<unsigned>(first.started))));
        return;
    }
    GTEST_SKIP() << "no two runs fell in one second";
}

// Given a seed, the text is the reference's for that seed, cut to --tokens.
TEST(Zandrel, SeedAndTokensGiveTheReferenceText) {
    const struct {
        std::vector<std::string> args;
        unsigned seed;
        int tokens;
    } cases[] = {
        {{"--seed", "7"}, 7, tokens},
        {{"--seed=4294967295"}, 4294967295U, tokens},
        {{"--tokens", "1", "--seed", "9"}, 9, 1},
        {{"--tokens", "61", "--seed", "9"}, 9, 61},  // a whole line, and no newline after it
        {{"--tokens", "62", "--seed", "9"}, 9, 62},
        {{"--seed", "0", "--tokens=1000"}, 0, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        const std::string dir = make_temp_dir();
        const ChildResult result = run_child(ZANDREL, c.args, "", dir);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_TRUE(same_bytes(read_file(dir + "/gibberish.txt"), first_tokens(reference_text(c.seed), c.tokens)));
    }
}

// What each argument does to the output and to a gibberish.txt already there.
TEST(Zandrel, Arguments) {
    const std::string old_text = "an older text";
    const std::string three = first_tokens(reference_text(1), 3);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;  // standard output, or how it starts for --help
        std::string err;  // how standard error starts
        bool writes;      // gibberish.txt is written anew
    } cases[] = {
        {{"--version"}, 0, std::string("zandrel ") + QUORVEL_VERSION + "\n", "", false},
        {{"extra", "words", "-"}, 0, "", "", true},
        {{"--help"}, 0, "usage: zandrel [--seed N] [--tokens N] [--output FILE]\n", "", false},
        {{"--output", "-", "--tokens", "3", "--seed", "1"}, 0, three, "", false},
        {{"--output", "other.txt"}, 0, "", "", false},
        {{"--tokens", "0"}, 2, "", "zandrel: --tokens takes", false},
        {{"--tokens", "x"}, 2, "", "zandrel: --tokens takes", false},
        {{"--tokens", "1000000001"}, 2, "", "zandrel: --tokens takes", false},
        {{"--seed", "4294967296"}, 2, "", "zandrel: --seed takes", false},
        {{"--seed", "-1"}, 2, "", "zandrel: --seed takes", false},
        {{"--tokens", "5", "--seed"}, 2, "", "zandrel: --seed needs a value\nusage: zandrel", false},
        {{"--tokns", "5"}, 2, "", "zandrel: unknown option --tokns\n", false},
        {{"--version", "--bogus"}, 2, "", "zandrel: unknown option --bogus\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        const std::string dir = make_temp_dir();
        write_file(dir + "/gibberish.txt", old_text);
        const ChildResult result = run_child(ZANDREL, c.args, "", dir);
        EXPECT_EQ(result.exit_code, c.status);
        if (c.args.front() == "--help") {
            EXPECT_EQ(result.out.rfind(c.out, 0), 0U) << result.out;
        } else {
            EXPECT_TRUE(same_bytes(result.out, c.out));
        }
        EXPECT_EQ(result.err.rfind(c.err, 0), 0U) << result.err;
        EXPECT_EQ(result.err.empty(), c.err.empty());
        EXPECT_EQ(read_file(dir + "/gibberish.txt") != old_text, c.writes);
    }
}

// However many tokens, memory stays that of a buffer, not of the text.
TEST(Zandrel, ManyTokensInBoundedMemory) {
    if (sanitized_build) {
        GTEST_SKIP() << "a sanitizer's runtime takes more memory than the bound";
    }
    ChildOptions options;
    options.out_limit = 0;  // read and counted, not kept
    const ChildResult result = run_child(ZANDREL, {"--tokens", "100000000", "--output", "-"}, "", options);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_GT(result.out_dropped, 100000000U);
    EXPECT_LT(result.max_rss_kib, 16 * 1024);
}

TEST(Zandrel, ReportsAFileItCannotWrite) {
    const struct {
        const char* name;
        void (*prepare)(const std::string& path);
        const char* reason;
    } cases[] = {
        {"directory", [](const std::string& path) { mkdir(path.c_str(), 0775); },
         "Is a directory"},
        {"link to /dev/full", [](const std::string& path) { symlink("/dev/full", path.c_str()); },
         "No space left on device"},
    };
    const ChildResult full = run_child("sh", {"-c", "exec \"$0\" --output - >/dev/full", ZANDREL}, "");
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_EQ(full.err, "zandrel: cannot write standard output: No space left on device\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = make_temp_dir();
        c.prepare(dir + "/gibberish.txt");
        const ChildResult result = run_child(ZANDREL, {}, "", dir);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, std::string("zandrel: cannot write gibberish.txt: ") + c.reason + "\n");
    }
}

}  // namespace
