// The stand-in buffer primitives, in-process.
#include <quorvel/exchange_format.h>
#include <quorvel/primitives.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(Range, PacksTwoHalves) {
    const Range r = make_range(-7, 12);
    EXPECT_EQ(range_first(r), -7);
    EXPECT_EQ(range_second(r), 12);
    EXPECT_EQ(r, (Range{12} << 32U) | 0xFFFFFFF9U);
    EXPECT_EQ(range_second(make_range(3, -1)), -1);
    EXPECT_EQ(range_second(make_range(INT_MAX, INT_MIN)), INT_MIN);
}

TEST(IndexOf, FindsFirstOccurrence) {
    struct Case {
        const char* text;
        const char* pattern;
        int expected;
    };
    const std::string sep = quorvel_separator;
    const std::string first = "message_id: 0" + sep + "abc";
    const std::string leading = sep + "rest";
    const std::string twice = "a" + sep + "b" + sep + "c";
    const std::vector<Case> cases = {
        {first.c_str(), quorvel_separator, 13},
        {leading.c_str(), quorvel_separator, 0},
        {"---\nabc", quorvel_separator, -1},
        {twice.c_str(), quorvel_separator, 1},
        {"", quorvel_separator, -1},
        {"abc", "", 0},
        {nullptr, "x", -1},
        {"abc", nullptr, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(index_of(c.text, c.pattern), c.expected) << (c.text ? c.text : "(null)");
    }
}

TEST(LengthOf, CountsToTheNul) {
    EXPECT_EQ(length_of("hello world", 0), 11);
    EXPECT_EQ(length_of("hello world", 6), 5);
    EXPECT_EQ(length_of("hello", 5), 0);
    EXPECT_EQ(length_of("", 0), 0);
    EXPECT_EQ(length_of(nullptr, 0), 0);
    EXPECT_EQ(length_of("abc", -1), 0);
}

struct FindCase {
    const char* document;
    bool numeric;
    int expected_id;  // as_integer of the found value; 0 with found = false
    bool found;
};

TEST(FindValue, MessageIdLines) {
    const std::vector<FindCase> cases = {
        {"message_id: 4\n", true, 4, true},
        {"message_id: 0\n", true, 0, true},
        {"message_id: -3\n", true, -3, true},
        {"message_id: +8\n", true, 8, true},
        {"message_id:12", true, 12, true},               // no blank, no newline
        {"message_id:\t 7 \t\n", true, 7, true},        // blanks and tabs trimmed
        {"message_id: 7\r\n", true, 7, true},           // CRLF line end
        {"message_id: 7 # first\n", true, 7, true},     // trailing comment
        {"message_id: '9'\n", true, 9, true},           // quoted
        {"message_id: \"10\"\n", true, 10, true},
        {"title: x\nmessage_id: 5\n", true, 5, true},   // not the first line
        {"message_id: 2147483647\n", true, INT_MAX, true},
        {"message_id: -2147483648\n", true, INT_MIN, true},
        {"message_id: 1\nmessage_id: 2\n", true, 1, true},  // the first line wins
        {"message_id: 2147483648\n", true, 0, false},   // does not fit in 32 bits
        {"message_id: 99999999999999999999999\n", true, 0, false},
        {"message_id: -2147483649\n", true, 0, false},
        {"message_id: abc\n", true, 0, false},
        {"message_id: 4x\n", true, 0, false},
        {"message_id: 4.0\n", true, 0, false},
        {"message_id: \n", true, 0, false},             // empty value
        {"title: x\nmessage_id: \t ", true, 0, false},  // blanks to the end of the document
        {"message_id: 00000000000000000000042\n", true, 42, true},   // 23 characters: the most
        {"message_id: 000000000000000000000042\n", true, 0, false},  // 24: one too many
        {"message_id: -\n", true, 0, false},
        {"  message_id: 4\n", true, 0, false},          // nested, not top level
        {"old_message_id: 4\n", true, 0, false},        // only at a line start
        {"title: message_id: 4\n", true, 0, false},
        {"message_idx: 4\n", true, 0, false},
        {"", true, 0, false},
    };
    for (const FindCase& c : cases) {
        const Range r = find_value(c.document, "message_id:", c.numeric);
        EXPECT_EQ(range_second(r) > 0, c.found) << c.document;
        if (c.found) {
            EXPECT_EQ(as_integer(c.document, r), c.expected_id) << c.document;
        }
    }
}

TEST(FindValue, TextValuesAndKeysWithoutColon) {
    const char* document = "name:  Ada Lovelace  \nsize: big # comment\n";
    const Range name = find_value(document, "name", false);
    EXPECT_EQ(std::string(document + range_first(name), static_cast<std::size_t>(range_second(name))),
              "Ada Lovelace");
    EXPECT_EQ(as_integer(document, name), invalid_integer);
    const Range size = find_value(document, "size:", false);
    EXPECT_EQ(std::string(document + range_first(size), static_cast<std::size_t>(range_second(size))),
              "big");
    EXPECT_EQ(range_second(find_value(document, "nam", false)), 0);  // needs its colon
    EXPECT_EQ(find_value("name:  \nsize: 1\n", "name", false), make_range(0, 0));  // empty value
    EXPECT_EQ(find_value("size: 1\nname: \t", "name", false), make_range(0, 0));
    EXPECT_EQ(find_value("name:#x\n", "name", false), make_range(0, 0));  // a comment at once
    EXPECT_EQ(find_value("name: ''\n", "name", false), make_range(0, 0));  // quotes of nothing
    EXPECT_EQ(find_value(": 5\n", ":", false), make_range(2, 1));          // a key of one colon
    EXPECT_EQ(find_value(nullptr, "name", false), make_range(0, 0));  // not found: (0, 0) exactly
    EXPECT_EQ(find_value(document, "", false), make_range(0, 0));
    EXPECT_EQ(find_value(document, "colour", false), make_range(0, 0));
}

TEST(AsInteger, RejectsRangesOutsideTheText) {
    const char* document = "message_id: 42";
    EXPECT_EQ(as_integer(document, make_range(12, 2)), 42);
    EXPECT_EQ(as_integer("42", make_range(0, 2)), 42);  // a range at the very start
    EXPECT_EQ(as_integer(document, make_range(12, 3)), invalid_integer);  // past the NUL
    EXPECT_EQ(as_integer(document, make_range(-1, 2)), invalid_integer);
    EXPECT_EQ(as_integer(document, make_range(-12, 14)), invalid_integer);  // starts before the text
    EXPECT_EQ(as_integer(document, make_range(12, 0)), invalid_integer);
    EXPECT_EQ(as_integer(nullptr, make_range(0, 1)), invalid_integer);
}

TEST(Append, GrowsPastUnzeroedBytes) {
    char buffer[64];
    std::memset(buffer, '~', sizeof buffer);
    buffer[0] = '\0';
    append(buffer, "pos: ");
    append(buffer, "", 500, "\n");
    append(buffer, "len: ", std::uint64_t{18446744073709551615ULL}, "");
    append(buffer, "", -2147483647 - 1, "|");
    EXPECT_STREQ(buffer, "pos: 500\nlen: 18446744073709551615-2147483648|");
    EXPECT_EQ(buffer[std::strlen(buffer) + 1], '~');  // nothing written past the NUL
    append(buffer, nullptr);
    append(nullptr, "x");
    append(buffer, nullptr, 1, nullptr);
    EXPECT_STREQ(buffer, "pos: 500\nlen: 18446744073709551615-2147483648|1");
}

TEST(WriteAt, CopiesTextAndTerminator) {
    char buffer[16];
    std::memset(buffer, '~', sizeof buffer);
    write_at(buffer, 3, "abc");
    EXPECT_EQ(std::string(buffer, 8), std::string("~~~abc\0~", 8));
    write_at(buffer, 10, "");
    EXPECT_EQ(buffer[10], '\0');
    EXPECT_EQ(buffer[11], '~');
    write_at(buffer, -1, "zz");
    write_at(nullptr, 0, "zz");
    write_at(buffer, 0, nullptr);
    EXPECT_EQ(buffer[0], '~');
}

}  // namespace
