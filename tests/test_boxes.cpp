// End-to-end: view boxes, checks and array display as the host reads them.
#include "support/bytes.h"
#include "exercise_runner.h"
#include "exchange.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The boxes' sizes and colours as hosts know them; the tests below spell
// them out, and these pin the library's constants to them.
static_assert(quorvel_check_width == 200 && quorvel_check_height == 20);
static_assert(quorvel_cell_width == 75 && quorvel_cell_height == 30);
static_assert(quorvel_notice_width == 500);
static_assert(quorvel_text_size == 18);
static_assert(std::string_view(quorvel_pass_colour) == "rgb(100, 255, 100)");
static_assert(std::string_view(quorvel_fail_colour) == "red");
static_assert(std::string_view(quorvel_check_text_colour) == "white");
static_assert(std::string_view(quorvel_display_colour) == "white");
static_assert(std::string_view(quorvel_display_text_colour) == "black");
static_assert(std::string_view(quorvel_cell_border_colour) == "black");

const std::string green = quorvel_pass_colour;
const std::string left_out_warning =
    "Warning:  view box left out: the exchange image is full (or not set up).\n";
const std::string start = full_stream("message_id: 1", "");

// Runs the steps and reads the result as the host does; checks what must hold
// for every run: valid YAML, consecutive boxes, texts packed from offset 500,
// host bytes below 500 untouched, the document inside its area.
HostView run_steps(const std::vector<std::string>& steps, const std::string& input = start,
                   ChildResult* raw = nullptr) {
    std::vector<std::string> args = {"@null", "@null"};
    args.insert(args.end(), steps.begin(), steps.end());
    const ChildResult result = run_exercise(input, args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    HostView view = read_as_host(result.out);
    EXPECT_TRUE(view.ok) << view.error;
    EXPECT_LE(view.document.size(), static_cast<std::size_t>(document_capacity));
    EXPECT_EQ(view.memory.size(), memory_bytes);
    const std::size_t host_part = input.find(stream_separator) + stream_separator.size();
    const std::string host_memory = memory_area(input.substr(host_part)).substr(0, text_origin);
    EXPECT_TRUE(same_bytes(view.memory.substr(0, text_origin), host_memory));
    EXPECT_EQ(box_layout_problem(view), "");
    if (raw != nullptr) {
        *raw = result;
    } else {
        EXPECT_EQ(result.err, "");
    }
    return view;
}

TEST(ViewBox, FirstBoxIsExact) {
    ChildResult result;
    run_steps({"int:1:1"}, start, &result);
    const std::string document =
        "message_id: 1\n"
        "View_correctness_1:\n"
        "  style:\n"
        "    width: 200\n"
        "    height: 20\n"
        "    marginLeft: 10\n"
        "    backgroundColor: rgb(100, 255, 100)\n"
        "    marginTop: 1\n"
        "  children: [Text_correctness_1]\n"
        "Text_correctness_1:\n"
        "  style:\n"
        "    fontSize: 18\n"
        "    marginLeft: 10\n"
        "    color: white\n"
        "  pos: 500\n"
        "  len: 6\n";
    std::string memory = memory_area();
    memory.replace(500, 7, bytes_of("1 == 1\0"));
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(same_bytes(result.out, full_stream(document, memory)));
}

TEST(ViewBox, BorderEmptyTextAndPositions) {
    const HostView view = run_steps({"box:hello:blue:90:40:12:yellow:green", "box::white:1:2:3:black:",
                                     "box:%E2%9D%9A:red:5:6:7:white:", "box:x:white:-5:-2147483648:0:black:"});
    ASSERT_EQ(view.boxes.size(), 4U);
    EXPECT_EQ(view.boxes[3].style.at("width"), "-5");
    EXPECT_EQ(view.boxes[3].style.at("height"), "-2147483648");
    const ViewBox& bordered = view.boxes[0];
    EXPECT_EQ(bordered.style, (std::map<std::string, std::string>{
                                  {"width", "90"}, {"height", "40"}, {"marginLeft", "10"},
                                  {"backgroundColor", "blue"}, {"borderColor", "green"},
                                  {"borderWidth", "2"}}));
    EXPECT_EQ(bordered.text_style, (std::map<std::string, std::string>{
                                       {"fontSize", "18"}, {"marginLeft", "10"}, {"color", "yellow"}}));
    EXPECT_EQ(bordered.text, "hello");
    EXPECT_EQ(view.boxes[1].style.count("marginTop"), 1U);
    EXPECT_EQ(view.boxes[1].style.count("borderColor"), 0U);
    EXPECT_EQ(view.boxes[1].pos, 506);
    EXPECT_EQ(view.boxes[1].len, 0);
    EXPECT_EQ(view.boxes[2].pos, 507);
    EXPECT_EQ(view.boxes[2].len, 3);  // one UTF-8 character, three bytes
}

struct CheckCase {
    std::string step;
    std::string label;
    bool agree;
    std::string width = "200";
};

TEST(Checks, LabelsAndVerdicts) {
    const std::vector<CheckCase> cases = {
        {"int:2:3", "2 != 3", false},
        {"int:-1:-1", "-1 == -1", true},
        {"int:-2147483648:2147483647", "-2147483648 != 2147483647", false},
        {"bool:1:0", "true != false", false},
        {"bool:0:0", "false == false", true},
        {"char:a:a", "a == a", true},
        {"char:%00:x", bytes_of("\0 != x"), false},
        {"char:%FF:%FF", "\xFF == \xFF", true},
        {"near:0.30000000000000004:0.3", "0.300000 ~ 0.300000", true},
        {"near:1.0:1.00001", "1.000000 != 1.000010", false},
        {"near:1e-9:0", "0.000000 ~ 0.000000", true},
        {"near:1e-8:0", "0.000000 != 0.000000", false},
        {"near:inf:inf", "inf != inf", false},
        {"near:nan:nan", "nan != nan", false},
        {"near:-1e20:1", "-100000000000000000000.000000 != 1.000000", false},
        {"str:hello world:6:world", "\"world\" == \"world\"", true},
        {"str2::", "\"\" == \"\"", true},
        {"str2:abc:abcd", "\"abc\" != \"abcd\"", false},
        {"str2:abcd:abc", "\"abcd\" != \"abc\"", false},
        {"str2:abc:abd", "\"abc\" != \"abd\"", false},
        {"str2:@null:abc", "null != \"abc\"", false},
        {"str2:abc:@null", "\"abc\" != null", false},
        {"str2:@null:", "null != \"\"", false},
        {"str2:@null:@null", "null == null", true},
        {"str:abc:3:", "\"\" == \"\"", true},
        {"str:abc:4:", "null != \"\"", false},
        {"str:abc:-1:abc", "null != \"abc\"", false},
        {"str2:caf%C3%A9:caf%C3%A9", "\"caf\xC3\xA9\" == \"caf\xC3\xA9\"", true},
        {"nullzero", "null == null", true},
        // Integers of any type compare as numbers and show in decimal.
        {"typed:size:4294967295:int:-1", "4294967295 != -1", false},
        {"typed:ull:18446744073709551615:ll:-1", "18446744073709551615 != -1", false, "317"},
        {"typed:long:5:long:5", "5 == 5", true},
        {"typed:uint:3:uint:3", "3 == 3", true},
        {"typed:ll:5:ll:5", "5 == 5", true},
        {"typed:short:-1:ushort:65535", "-1 != 65535", false},
        {"typed:i8:-3:u8:253", "-3 != 253", false},
        {"typed:uchar:200:schar:-56", "200 != -56", false},
        {"typed:u8:7:char:7", "7 == 7", true},
        {"typed:char:97:int:97", "97 == 97", true},
        {"typed:bool:1:int:1", "1 == 1", true},
        {"typed:enum:3:int:3", "3 == 3", true},
        // Floating values compare exactly, in their shortest text at the wider type.
        {"typed:double:2.5:double:2.5", "2.5 == 2.5", true},
        {"typed:double:0.30000000000000004:double:0.3", "0.30000000000000004 != 0.3", false, "312"},
        {"typed:float:0.1:double:0.1", "0.10000000149011612 != 0.1", false, "312"},
        {"typed:ldouble:0.1:double:0.1", "0.1 != 0.10000000000000000555", false, "348"},
        {"typed:float:2.5:float:2.5", "2.5 == 2.5", true},
        {"typed:int:2:double:2.5", "2 != 2.5", false},
        {"typed:int:2:float:2", "2 == 2", true},
        {"typed:double:nan:double:nan", "nan != nan", false},
        {"typed:float:-0:double:0", "-0 == 0", true},
        {"neartyped:float:0.1:double:0.1", "0.100000 ~ 0.100000", true, "232"},
        {"neartyped:int:1:double:1.05:0.1", "1.000000 ~ 1.050000", true, "232"},
        {"neartyped:ldouble:1:ldouble:1.001", "1.000000 != 1.001000", false, "240"},
        // Texts of any kind compare by bytes.
        {"text:string:abc:lit:", "\"abc\" == \"abc\"", true},
        {"text:view:abc:cstr:abd", "\"abc\" != \"abd\" at [2]", false, "235"},
        {"text:null::view:", "null != \"\"", false},
        {"text:null::null:", "null == null", true},
        // Lists, element by element.
        {"list:int:1,2,3:braced", "{1, 2, 3} == {1, 2, 3}", true, "242"},
        {"list:long:1,2:braced", "{1, 2} != {1, 2, 3} (lengths 2 and 3)", false, "386"},
        {"list:u8:1,2,3:array", "{1, 2, 3} == {1, 2, 3}", true, "242"},
        {"list:double:0.5,2:int:0,2", "{0.5, 2} != {0, 2} at [0]", false, "263"},
        {"list:int::long:", "{} == {}", true},
        {"list:int:0,1,2,3,4,5,6,7,8,9,10,11,12,13,14:long:0,1,2,3,4,5,6,7,8,9,10,11,12,13,14",
         "{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, \xE2\x80\xA6 (5 more)} == "
         "{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, \xE2\x80\xA6 (5 more)}", true, "854"},
        {"strings:a,b:a,c", "{\"a\", \"b\"} != {\"a\", \"c\"} at [1]", false, "331"},
        {"vchars:ab:ab", "{'a', 'b'} == {'a', 'b'}", true, "246"},
        {"nested:same", "{{1, 2}, {3}} == {{1, 2}, {3}}", true, "338"},
        {"nested:other", "{{1, 2}, {4}} != {{1, 2}, {3}} at [1]", false, "392"},
        // A NUL inside a std::string counts.
        {"text:string:a%00b:string:a%00c", bytes_of("\"a\0b\" != \"a\0c\" at [2]"), false, "235"},
        {"text:string:a%00b:cstr:a", bytes_of("\"a\0b\" != \"a\" (lengths 3 and 1)"), false, "328"},
        // Integers past what a double holds exactly.
        {"typed:ull:18446744073709551615:double:18446744073709551616",
         "18446744073709551615 != 18446744073709551616", false, "538"},
        {"typed:ll:-9223372036854775808:float:-9223372036854775808",
         "-9223372036854775808 == -9.223372e+18", true, "451"},
        {"typed:ll:-9223372036854775808:ull:9223372036854775808",
         "-9223372036854775808 != 9223372036854775808", false, "521"},
        {"typed:ll:9007199254740993:double:9007199254740992",
         "9007199254740993 != 9007199254740992", false, "442"},
        // A box as wide as its label; a red list or text says where it differs.
        {"list:int:1,2,3,4,5:int:1,2,3,4,6", "{1, 2, 3, 4, 5} != {1, 2, 3, 4, 6} at [4]", false, "400"},
        {"text:string:the quick brown fox:string:the quick brown fix",
         "\"the quick brown fox\" != \"the quick brown fix\" at [17]", false, "563"},
        {"text:string:the quick brown fox:string:the quick brown fox",
         "\"the quick brown fox\" == \"the quick brown fox\"", true, "502"},
        {"list:int:1,1,1,1,1,1,1,1,1,1,1,1:int:1,1,1,1,1,1,1,1,1,1,1,2",
         "{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, \xE2\x80\xA6 (2 more)} != "
         "{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, \xE2\x80\xA6 (2 more)} at [11]: 1 != 2", false, "996"},
        {"typed:double:3.14159265358979:double:3.1415926535", "3.14159265358979 != 3.1415926535", false,
         "384"},
        // Every class of character width, and characters of 2, 3 and 4 bytes
        // (after C2, E0 and F0) beside a stray byte C1.
        {"text:string: 'ijlIJ,.|/%3A;\\f-()[]tr!*_`szc?LFkvxyTPKVXZBRCAUNHDG&OQw~#+<=>^M%25mW@x:string:x",
         "\" 'ijlIJ,.|/:;\\f-()[]tr!*_`szc?LFkvxyTPKVXZBRCAUNHDG&OQw~#+<=>^M%mW@x\" != \"x\" at [0]",
         false, "959"},
        {"text:string:%C2%A3%E0%A0%80%F0%9F%92%A5%C1:string:%C2%A3%E0%A0%80",
         "\"\xC2\xA3\xE0\xA0\x80\xF0\x9F\x92\xA5\xC1\" != \"\xC2\xA3\xE0\xA0\x80\" (lengths 10 and 5)", false, "394"},
        {"text:null::string:abc", "null != \"abc\"", false},
        // 500 would be the fault box's width: a red check is never taken for it.
        {"text:string:" + std::string(27, 'a') + ":string:b",
         "\"" + std::string(27, 'a') + "\" != \"b\" at [0]", false, "501"},
        // Past 1,000 px the values are cut, never where they differ.
        {"text:string:" + std::string(200, 'a') + "x:string:" + std::string(200, 'a') + "y",
         "\"" + std::string(63, 'a') + " \xE2\x80\xA6 at [200]: 'x' != 'y'", false, "1000"},
    };
    // valgrind computes long double at double precision: those rows need the CPU.
    const bool valgrind = std::getenv("QUORVEL_VALGRIND") != nullptr;
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.step);
        if (valgrind && c.step.find("ldouble") != std::string::npos) {
            continue;
        }
        const HostView view = run_steps({c.step});
        ASSERT_EQ(view.boxes.size(), 1U);
        const ViewBox& box = view.boxes[0];
        EXPECT_TRUE(same_bytes(box.text, c.label)) << box.text;
        EXPECT_EQ(box.len, static_cast<long>(c.label.size()));
        EXPECT_EQ(box.style.at("backgroundColor"), c.agree ? green : quorvel_fail_colour);
        EXPECT_EQ(box.style.at("width"), c.width);
        EXPECT_EQ(box.style.at("marginTop"), "1");
        EXPECT_EQ(box.text_style.at("color"), "white");
    }
}

TEST(Checks, EachCheckIsTheNextBox) {
    const HostView view = run_steps({"int:1:1", "bool:1:1", "near:2:2", "str2:x:x", "int:5:6"});
    ASSERT_EQ(view.boxes.size(), 5U);
    EXPECT_EQ(view.boxes[1].pos, 507);  // after the six bytes of "1 == 1" and a NUL
    EXPECT_EQ(view.boxes[4].text, "5 != 6");
}

struct ArrayCase {
    std::string step;
    std::vector<std::string> cells;
    std::vector<long> positions;  // of spacer, header and cells; empty: not checked
};

TEST(Arrays, SpacerHeaderAndCells) {
    const std::vector<ArrayCase> cases = {
        {"ints:7,-12", {"7", "-12"}, {500, 501, 505, 507}},
        {"ints:", {}, {500, 501}},
        {"ints:7,8:0", {}, {500, 501}},
        {"ints:7,8:-3", {}, {500, 501}},
        {"nullints:5", {}, {500, 501}},
        {"chars:ab:3", {"'a'", "'b'", "\xE2\x9D\x9A"}, {500, 501, 506, 510, 514}},
        {"chars:%E9:1", {"'\xE9'"}, {}},
        {"chars:x:0", {}, {}},
        {"chars:x:-4", {}, {}},
        {"nullchars:3", {}, {}},
        {"vints:long:7,-12", {"7", "-12"}, {500, 501, 505, 507}},
        {"vints:u8:", {"200", "7"}, {}},
        {"vints:size:18446744073709551615", {"18446744073709551615"}, {}},
        {"strchars:ab%00", {"'a'", "'b'", "\xE2\x9D\x9A"}, {500, 501, 506, 510, 514}},
        {"vecchars:ab", {"'a'", "'b'"}, {}},
    };
    for (const ArrayCase& c : cases) {
        SCOPED_TRACE(c.step);
        const HostView view = run_steps({c.step});
        ASSERT_EQ(view.boxes.size(), c.cells.size() + 2);
        const std::string type = c.step.find("int") != std::string::npos ? "int" : "char";
        EXPECT_EQ(view.boxes[0].text, "");
        EXPECT_EQ(view.boxes[1].text, type);
        for (std::size_t i = 0; i < view.boxes.size(); ++i) {
            const ViewBox& box = view.boxes[i];
            const bool cell = i >= 2;
            if (cell) {
                EXPECT_TRUE(same_bytes(box.text, c.cells[i - 2]));
            }
            if (!c.positions.empty()) {
                EXPECT_EQ(box.pos, c.positions[i]);
            }
            EXPECT_EQ(box.style.at("width"), cell ? "75" : "200");
            EXPECT_EQ(box.style.at("height"), cell ? "30" : "20");
            EXPECT_EQ(box.style.at("backgroundColor"), "white");
            EXPECT_EQ(box.style.count("borderColor"), cell ? 1U : 0U);
            EXPECT_EQ(box.style.count("marginTop"), cell ? 0U : 1U);
            EXPECT_EQ(box.text_style.at("color"), "black");
            EXPECT_EQ(box.text_style.at("fontSize"), "18");
        }
    }
}

// Boxes that do not fit are left out whole, once warned about; the numbers
// stay consecutive and later boxes that fit are still written.
TEST(Overflow, ManyChecksFillTheDocumentArea) {
    ChildResult result;
    const HostView view = run_steps({"repeat:2000"}, start, &result);
    EXPECT_EQ(result.err, left_out_warning);
    EXPECT_GT(view.boxes.size(), 250U);
    EXPECT_LT(view.boxes.size(), 2000U);
    EXPECT_GT(view.document.size(), 89999U - 400);  // full to within one box
    for (std::size_t i = 0; i < view.boxes.size(); ++i) {
        EXPECT_EQ(view.boxes[i].text, std::to_string(i) + " == " + std::to_string(i));
    }
}

TEST(Overflow, LargeLabelsFillTheMemoryArea) {
    // After three labels of 3,000 the next text starts at 9,503: 497 bytes
    // are left, room for a text of 496 and its NUL.
    struct Case {
        std::string last;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"int:4:4", "4 == 4"},
        {"label:1:496", std::string(496, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.last);
        std::vector<std::string> steps(20, "label:1:3000");
        steps.push_back("label:1:497");  // one byte too many
        steps.push_back(c.last);
        ChildResult result;
        const HostView view = run_steps(steps, start, &result);
        EXPECT_EQ(result.err, left_out_warning);
        ASSERT_EQ(view.boxes.size(), 4U);  // three labels fit below offset 10,000
        EXPECT_EQ(view.boxes[2].text, std::string(3000, 'x'));
        EXPECT_EQ(view.boxes[3].text, c.text);
        EXPECT_EQ(view.boxes[3].pos, 500 + 3 * 3001);
    }
}

TEST(Overflow, LabelLargerThanTheMemoryArea) {
    ChildResult result;
    const HostView view = run_steps({"label:0:20000", "int:1:1"}, start, &result);
    EXPECT_EQ(result.err, left_out_warning);
    ASSERT_EQ(view.boxes.size(), 1U);
    EXPECT_EQ(view.boxes[0].pos, 500);
}

TEST(Overflow, LongArrayAndLastTextSlot) {
    ChildResult result;
    const HostView view = run_steps({"chars:%00:5000"}, start, &result);
    EXPECT_EQ(result.err, left_out_warning);
    EXPECT_GT(view.boxes.size(), 100U);
}

TEST(Overflow, NearlyFullHostDocument) {
    const std::string input = padded_document(1, 89700) + "---\nhost memory";
    ChildResult result;
    const HostView view = run_steps({"int:1:1", "int:2:2", "int:3:3"}, input, &result);
    EXPECT_EQ(result.err, left_out_warning);
    ASSERT_EQ(view.boxes.size(), 1U);
    EXPECT_EQ(view.boxes[0].text, "1 == 1");
}

// A box fits when its elements end at the document area's last character
// (its NUL in the area's last byte), and not one byte later.
TEST(Overflow, BoxesFitUpToTheLastCharacter) {
    const std::string small = full_stream("message_id: 1", "");
    const std::size_t box_size = run_steps({"int:1:1"}, small).document.size() - small.find('-');
    const std::size_t last_fit = static_cast<std::size_t>(document_capacity) - box_size;
    const struct {
        std::size_t host_document;
        std::size_t boxes;
    } cases[] = {{last_fit, 1}, {last_fit + 1, 0}, {static_cast<std::size_t>(document_capacity), 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host_document);
        ChildResult result;
        const HostView view = run_steps({"int:1:1"}, padded_document(1, c.host_document) + "---\n", &result);
        EXPECT_EQ(result.err, c.boxes == 1 ? "" : left_out_warning);
        EXPECT_EQ(view.boxes.size(), c.boxes);
        EXPECT_EQ(view.document.size(), c.host_document + (c.boxes == 1 ? box_size : 0));
    }
}

TEST(ViewBox, DocumentGrownByTheExerciseItself) {
    const HostView view = run_steps({"int:1:1", "append:note%3A added by the exercise%0A", "int:2:2"});
    ASSERT_EQ(view.boxes.size(), 2U);
    EXPECT_EQ(view.root.text("note"), "added by the exercise");
    EXPECT_EQ(view.boxes[1].text, "2 == 2");
}

}  // namespace
