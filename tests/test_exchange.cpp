// End-to-end: framing of standard input, the message id, output modes and the
// input archive, as a host sees them.
#include "support/bytes.h"
#include "exercise_runner.h"
#include "exchange.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string read_limit = "Warning:  did not reach EOF after 100000 characters.";
const std::string no_separator = "Warning:  did not find separator between yaml and mem.\n";
const std::string no_id = "Warning in init:  unable to find message id!\n";

struct FramingCase {
    const char* name;
    std::string input;
    std::string document;
    std::string memory;
    std::string err;
};

std::string bytes(std::size_t count, char c) { return std::string(count, c); }

std::vector<FramingCase> framing_cases() {
    const std::string full_memory = bytes(memory_bytes, 'm');
    const std::string doc89996 = padded_document(3, 89996);  // memory ends at byte 100,000
    const std::string doc89999 = padded_document(5, 89999);
    return {
        {"abc", full_stream("message_id: 0", "abc"), "message_id: 0\n", memory_area("abc"), ""},
        {"starts with separator", full_stream("", "xyz"), "\n", memory_area("xyz"), no_id},
        {"hyphens without newline before", "---\nabc", "", memory_area(), no_separator},
        {"later separator is memory", full_stream("message_id: 1", full_stream("A", "B")), "message_id: 1\n",
         memory_area(full_stream("A", "B")), ""},
        {"separator at the end", full_stream("message_id: 2", ""), "message_id: 2\n", memory_area(), ""},
        {"memory filling the area", full_stream("message_id: 2", "") + full_memory, "message_id: 2\n", full_memory, ""},
        {"memory one byte too long", full_stream("message_id: 2", "") + full_memory + "Z", "message_id: 2\n", full_memory, ""},
        {"memory with NULs", full_stream("message_id: 2", bytes_of("a\0b")), "message_id: 2\n",
         memory_area(bytes_of("a\0b")), ""},
        {"exactly 100000 bytes", doc89996 + "---\n" + full_memory.substr(0, 9999) + "L",
         doc89996, memory_area(full_memory.substr(0, 9999)), read_limit},
        {"100000 bytes without separator", bytes(100000, 'q'), "", memory_area(),
         read_limit + no_separator},
        {"more than 100000 bytes without separator", bytes(150000, 'q'), "", memory_area(),
         read_limit + no_separator},
        {"separator after the 99999th byte", bytes(99999, 'q') + full_stream("", "abc"), "", memory_area(),
         read_limit + no_separator},
        {"empty input", "", "", memory_area(), ""},
        {"one byte", "x", "", memory_area(), no_separator},
        {"A/M round trip", full_stream("A", "M"), "A\n", memory_area("M"), no_id},
        {"NUL before the separator", full_stream(bytes_of("message_id: 1\0"), "abc"), "",
         memory_area(), no_separator},
        {"largest document that fits", doc89999 + "---\nabc", doc89999, memory_area("abc"), ""},
    };
}

TEST(Framing, StreamsAsTheHostSeesThem) {
    for (const FramingCase& c : framing_cases()) {
        SCOPED_TRACE(c.name);
        const ChildResult result = run_exercise(c.input);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, c.err);
        ASSERT_EQ(result.out.size(), c.document.size() + 5 + memory_bytes);
        EXPECT_TRUE(same_bytes(result.out, full_stream(c.document, c.memory)));
        YamlNode root;
        std::string error;
        EXPECT_TRUE(parse_yaml(c.document, root, error)) << error;
    }
}

TEST(Framing, RoundTripAddsABlankLineBeforeTheSeparator) {
    const ChildResult result = run_exercise(full_stream("A", "M"));
    EXPECT_TRUE(same_bytes(result.out, full_stream("A\n", "M") + bytes(9999, '~')));
}

// A separator at k leaves k + 1 document characters; 89,999 is the most
// the document area holds with its NUL.
TEST(Framing, DocumentsTooLongForTheAreaAreDiscarded) {
    for (const std::size_t k : {89998UL, 89999UL, 90000UL, 99990UL}) {
        SCOPED_TRACE(k);
        const std::string document = padded_document(8, k + 1);
        const ChildResult result = run_exercise(document + "---\nabc");
        if (k <= 89998) {
            EXPECT_EQ(result.err, "");
            EXPECT_TRUE(same_bytes(result.out, full_stream(document, memory_area("abc"))));
        } else {
            EXPECT_EQ(result.err, "Warning:  yaml of " + std::to_string(k + 1) +
                                      " characters does not fit in 89999; input discarded.\n");
            EXPECT_TRUE(same_bytes(result.out, full_stream("", memory_area())));
        }
    }
}

struct IdCase {
    const char* document;
    std::string err;
    std::string id_line;
};

TEST(MessageId, IsReadWarnedAndStored) {
    const std::vector<IdCase> cases = {
        {"message_id: 0\n", "", "id=0 starting=1\n"},
        {"message_id: 4\n", "", "id=4 starting=0\n"},
        {"title: Sums\nmessage_id: 12\n", "", "id=12 starting=0\n"},
        {"message_id: -5\n", "Warning in init:  invalid message id -5\n", "id=-5 starting=0\n"},
        {"title: no id\n", no_id, "id=-1 starting=0\n"},
        {"message_id: 4294967296\n", no_id, "id=-1 starting=0\n"},  // 0 modulo 2^32
        {"message_id: 99999999999\n", no_id, "id=-1 starting=0\n"},
        {"message_id: zero\n", no_id, "id=-1 starting=0\n"},
        {"", "", "id=-1 starting=0\n"},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(c.document);
        const std::string document = c.document;
        const ChildResult result = run_exercise(document.empty() ? "" : document + "---\n",
                                                {"@null", "none", "id"});
        EXPECT_EQ(result.err, c.err + c.id_line);
        EXPECT_EQ(result.out, "");
    }
}

TEST(OutputModes, WriteWhatTheModeAsks) {
    const std::string input = full_stream("message_id: 6", bytes_of("ab\0cd"));
    const std::string document = "message_id: 6\n";
    const std::string memory = memory_area(bytes_of("ab\0cd"));
    const struct {
        const char* mode;
        std::string out;
    } cases[] = {
        {"@null", full_stream(document, memory)},
        {"", full_stream(document, memory)},
        {"none", ""},
        {"just yaml", document},
        {"just mem", memory},
        {"None", full_stream(document, memory)},       // case-sensitive
        {"just mem ", full_stream(document, memory)},  // whole strings only
        {"bogus", full_stream(document, memory)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const ChildResult result = run_exercise(input, {"@null", c.mode});
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(same_bytes(result.out, c.out));
    }
}

TEST(OutputModes, ASecondQuitWritesAndFreesNothing) {
    for (const char* mode : {"@null", "none", "just yaml", "just mem", "x"}) {
        SCOPED_TRACE(mode);
        const ChildResult once = run_exercise(full_stream("message_id: 1", "z"), {"@null", mode});
        const ChildResult twice =
            run_exercise(full_stream("message_id: 1", "z"), {"@null", mode, std::string("quit:") + mode});
        EXPECT_EQ(twice.exit_code, 0);
        EXPECT_EQ(twice.err, "");
        EXPECT_TRUE(same_bytes(twice.out, once.out));
    }
}

TEST(OutputModes, TerminateWritesAnyImageAndANullDocumentSilencesOutput) {
    const ChildResult own = run_exercise(full_stream("message_id: 1", "z"), {"@null", "@null", "terminate:empty"});
    EXPECT_TRUE(same_bytes(own.out, full_stream("", memory_area()) + full_stream("message_id: 1\n", memory_area("z"))));
    // The run's own image: its stream once, as quit() would write it; quit() adds nothing.
    const ChildResult run = run_exercise(full_stream("message_id: 1", "z"), {"@null", "@null", "terminate:run"});
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(same_bytes(run.out, full_stream("message_id: 1\n", memory_area("z"))));
    const ChildResult null = run_exercise(full_stream("message_id: 1", "z"), {"@null", "@null", "terminate:null"});
    EXPECT_EQ(null.exit_code, 0);
    EXPECT_EQ(null.out, "");
}

// A host that closed the exercise's standard output: the stream cannot be
// written, and the exercise ends as it would have, without waiting on it.
TEST(OutputModes, AClosedStandardOutputDoesNotHoldTheExerciseUp) {
    const ChildResult result = run_child(
        "sh", {"-c", "exec \"$0\" @null @null int:1:1 >&-", SCRIPTED_EXERCISE},
        full_stream("message_id: 1", ""), "", 20);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "");
}

class Archive : public ::testing::Test {
protected:
    std::string dir = make_temp_dir();
    std::string path(const std::string& name) const { return dir + "/" + name; }
    bool exists(const std::string& name) const {
        struct stat info {};
        return stat(path(name).c_str(), &info) == 0;
    }
};

TEST_F(Archive, StoresTheFramedStreamAndReplaysIt) {
    const std::string input = full_stream("message_id: 7", "host bytes");
    const ChildResult first = run_exercise(input, {"store input", "@null"}, dir);
    EXPECT_EQ(first.err, "");
    bool stored = false;
    const std::string archive = read_file(path("input/7.txt"), &stored);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(same_bytes(archive, full_stream("message_id: 7\n", memory_area("host bytes"))));
    EXPECT_TRUE(same_bytes(archive, first.out));

    struct stat info {};
    ASSERT_EQ(stat(path("input").c_str(), &info), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(info.st_mode & 0777U, 0775U & ~mask);

    const ChildResult replay = run_exercise(archive, {"store input", "@null"}, dir);
    EXPECT_EQ(replay.err, "");
    EXPECT_TRUE(same_bytes(replay.out, full_stream("message_id: 7\n\n", memory_area("host bytes"))));
}

TEST_F(Archive, TheFirstMessageIsArchivedToo) {
    const ChildResult result = run_exercise(full_stream("message_id: 0", ""), {"store input", "none"}, dir);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(exists("input/0.txt"));
}

TEST_F(Archive, OnlyTheExactModeArchives) {
    for (const char* mode : {"store input ", "Store input", "store", "@null"}) {
        SCOPED_TRACE(mode);
        const ChildResult result = run_exercise(full_stream("message_id: 7", ""), {mode, "none"}, dir);
        EXPECT_EQ(result.err, "");
        EXPECT_FALSE(exists("input"));
    }
}

TEST_F(Archive, EmptyInputCreatesTheDirectoryOnly) {
    const ChildResult result = run_exercise("", {"store input", "none"}, dir);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(exists("input"));
    EXPECT_FALSE(exists("input/-1.txt"));
}

TEST_F(Archive, NegativeIdIsNotArchived) {
    const ChildResult result = run_exercise(full_stream("message_id: -2", ""), {"store input", "none"}, dir);
    EXPECT_EQ(result.err, "Warning in init:  invalid message id -2\n");
    EXPECT_TRUE(exists("input"));
    EXPECT_FALSE(exists("input/-2.txt"));
}

TEST_F(Archive, InputThatIsAFileIsWarnedAbout) {
    write_file(path("input"), "not a directory");
    const ChildResult result = run_exercise(full_stream("message_id: 7", "m"), {"store input", "@null"}, dir);
    EXPECT_EQ(result.err, "Warning in init:  unable to create directory input\n");
    EXPECT_TRUE(same_bytes(result.out, full_stream("message_id: 7\n", memory_area("m"))));
    EXPECT_EQ(read_file(path("input")), "not a directory");
}

TEST_F(Archive, UnopenableArchiveIsWarnedAbout) {
    ASSERT_EQ(mkdir(path("input").c_str(), 0775), 0);
    ASSERT_EQ(mkdir(path("input/7.txt").c_str(), 0775), 0);
    const ChildResult result = run_exercise(full_stream("message_id: 7", "m"), {"store input", "@null"}, dir);
    EXPECT_EQ(result.err, "Warning in init:  unable to open file input/7.txt\n");
    EXPECT_TRUE(same_bytes(result.out, full_stream("message_id: 7\n", memory_area("m"))));
}

TEST_F(Archive, UnwritableArchiveIsWarnedAbout) {
    ASSERT_EQ(mkdir(path("input").c_str(), 0775), 0);
    ASSERT_EQ(symlink("/dev/full", path("input/7.txt").c_str()), 0);
    const ChildResult result = run_exercise(full_stream("message_id: 7", "m"), {"store input", "none"}, dir);
    EXPECT_EQ(result.err, "Warning in init:  unable to write file input/7.txt\n");
}

}  // namespace
