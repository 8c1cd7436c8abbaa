// Strings, clock and random numbers, in-process.
#include <quorvel/quorvel.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <ctime>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

TEST(EchoString, CopiesWithTerminator) {
    const std::string long_text(100000, 'q');
    for (const std::string& text : {std::string(), std::string("x"), std::string("hello"), long_text}) {
        const std::unique_ptr<char[]> copy(echo_string(text.c_str()));
        EXPECT_NE(copy.get(), text.c_str());
        EXPECT_EQ(std::string(copy.get()), text);
    }
    const std::unique_ptr<char[]> from_null(echo_string(nullptr));
    EXPECT_EQ(from_null[0], '\0');
}

TEST(CurrentTime, FollowsTheSystemClock) {
    const std::int64_t before = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    const std::int64_t now = current_time();
    EXPECT_GE(now, before);
    EXPECT_LT(now - before, 1000);
}

class TimeOfDay : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

TEST_F(TimeOfDay, FormatsTwelveHourClock) {
    const struct {
        long millis;
        const char* text;
    } cases[] = {
        {0, "12:00 AM"},
        {-1, "12:00 AM"},  // -1 / 1000 truncates to 0
        {-999, "12:00 AM"},
        {-1000, "11:59 PM"},
        {1700000000000L, "10:13 PM"},
        {(15 * 3600 + 7 * 60) * 1000L + 999, "03:07 PM"},
        {12 * 3600 * 1000L, "12:00 PM"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(time_of_day(c.millis), c.text) << c.millis;
    }
}

TEST_F(TimeOfDay, ReadsTheNumberFromText) {
    EXPECT_STREQ(time_of_day("t=1700000000000", 2), "10:13 PM");
    EXPECT_STREQ(time_of_day("  +1700000000000ms", 0), "10:13 PM");
    EXPECT_STREQ(time_of_day("-1", 0), "12:00 AM");
}

TEST_F(TimeOfDay, SharesOneBuffer) {
    char* first = time_of_day(0L);
    char* second = time_of_day("43200000", 0);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "12:00 PM");
}

TEST_F(TimeOfDay, RaisesTheConversionErrors) {
    const auto message_of = [](auto&& call) -> std::string {
        try {
            call();
        } catch (const std::invalid_argument& error) {
            return std::string("invalid_argument:") + error.what();
        } catch (const std::out_of_range& error) {
            return std::string("out_of_range:") + error.what();
        }
        return "no error";
    };
    EXPECT_EQ(message_of([] { time_of_day("abc", 0); }), "invalid_argument:stoll");
    EXPECT_EQ(message_of([] { time_of_day("t=", 2); }), "invalid_argument:stoll");
    EXPECT_EQ(message_of([] { time_of_day(nullptr, 0); }), "invalid_argument:stoll");
    EXPECT_EQ(message_of([] { time_of_day("1234567890123456789012345", 0); }),
              "out_of_range:stoll");
    EXPECT_EQ(message_of([] { time_of_day("-1234567890123456789012345", 0); }),
              "out_of_range:stoll");
}

// The documented formula over two engine outputs.
double formula(std::mt19937& engine) {
    const double x1 = static_cast<double>(engine());
    const double x2 = static_cast<double>(engine());
    const double u = (x1 + x2 * 4294967296.0) / 18446744073709551616.0;
    return u < 1.0 ? u : std::nextafter(1.0, 0.0);
}

// Every test starts from the random state as it was set up at load time and
// leaves it so, whatever order the tests run in.
class RandomNumber : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        loaded_rng = rng;
        loaded_generator = generator;
    }
    void SetUp() override { restore(); }
    void TearDown() override { restore(); }

private:
    static void restore() {
        rng = loaded_rng;
        generator = loaded_generator;
    }
    static std::mt19937 loaded_rng;
    static std::function<double()> loaded_generator;
};
std::mt19937 RandomNumber::loaded_rng;
std::function<double()> RandomNumber::loaded_generator;

TEST_F(RandomNumber, FollowsTheFormulaAndIgnoresDrawsFromRng) {
    std::mt19937 copy = rng;
    constexpr int draws = 10'000;
    for (int i = 0; i < draws; ++i) {
        const double value = random_number();
        ASSERT_EQ(value, formula(copy)) << i;
        ASSERT_GE(value, 0.0);
        ASSERT_LT(value, 1.0);
        if (i % 3 == 0) {
            rng();  // a draw from rng directly does not change the sequence
        }
    }
}

#ifdef __GLIBCXX__
// The outputs of the 32-bit engine are tempered state words; this undoes the
// tempering so that an engine can be set up to give chosen outputs next.
std::uint32_t untemper(std::uint32_t y) {
    y ^= y >> 18;
    y ^= (y << 15) & 0xefc60000U;
    std::uint32_t x = y;
    for (int i = 0; i < 5; ++i) {
        x = y ^ ((x << 7) & 0x9d2c5680U);
    }
    x ^= x >> 11;
    x ^= x >> 22;
    return x;
}

TEST_F(RandomNumber, NeverReturnsOne) {
    // An engine whose next two outputs are 2^32 - 1: the formula rounds to 1.0.
    std::stringstream state;
    for (int i = 0; i < 624; ++i) {
        state << untemper(0xFFFFFFFFU) << ' ';
    }
    state << 0;  // the position of the next output
    std::mt19937 engine;
    state >> engine;
    std::mt19937 check = engine;
    ASSERT_EQ(check(), 0xFFFFFFFFU);
    generator = std::bind(distribution, engine);
    EXPECT_EQ(random_number(), std::nextafter(1.0, 0.0));
}
#endif

}  // namespace
