// The practice-text generator, run as a child process in a scratch directory.
#include "child_process.h"
#include "support/bytes.h"
#include "support/files.h"

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

// The reference text for the second the generator started in.
std::string reference_text(unsigned seed) {
    std::srand(seed);
    std::string text;
    zandrel_reference(&text);
    return text;
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

TEST(Zandrel, IgnoresItsArgumentsButVersion) {
    const struct {
        std::vector<std::string> args;
        std::string out;
        bool writes;
    } cases[] = {
        {{"--version"}, std::string("zandrel ") + QUORVEL_VERSION + "\n", false},
        {{"extra", "words"}, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const std::string dir = make_temp_dir();
        const ChildResult result = run_child(ZANDREL, c.args, "", dir);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.out, c.out);
        bool written = false;
        read_file(dir + "/gibberish.txt", &written);
        EXPECT_EQ(written, c.writes);
    }
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
