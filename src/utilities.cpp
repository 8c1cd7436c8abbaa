// Strings, the clock, and random numbers. The random globals are defined
// here, together and in this order, since their initialisation order is
// defined only within one file.
#include <quorvel/primitives.h>
#include <quorvel/quorvel.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>

// Set up in this order before main(): device, seeded engine, distribution,
// and the generator holding copies of the last two.
std::random_device rd("default");
std::mt19937 rng(rd());
std::uniform_real_distribution<double> distribution(0.0, 1.0);
std::function<double()> generator = std::bind(distribution, rng);

namespace {

constexpr std::size_t time_text_size = 100;
constexpr long millis_per_second = 1000;
constexpr std::int64_t nanos_per_milli = 1000000;
constexpr char clock_format[] = "%I:%M %p";

char time_text[time_text_size];

}  // namespace

char* echo_string(const char* text) {
    const int length = text == nullptr ? 0 : length_of(text, 0);
    char* copy = new char[static_cast<std::size_t>(length) + 1];
    if (length > 0) {
        std::memcpy(copy, text, static_cast<std::size_t>(length));
    }
    copy[length] = '\0';
    return copy;
}

std::int64_t current_time() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() /
           nanos_per_milli;
}

char* time_of_day(long millis) {
    const std::time_t seconds = static_cast<std::time_t>(millis / millis_per_second);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr ||
        std::strftime(time_text, time_text_size, clock_format, &local) == 0) {
        time_text[0] = '\0';
    }
    return time_text;
}

char* time_of_day(const char* text, int pos) {
    if (text == nullptr || pos < 0) {
        throw std::invalid_argument("stoll");
    }
    const std::string number(text + pos);
    char* stop = nullptr;
    errno = 0;
    const long long millis = std::strtoll(number.c_str(), &stop, 10);
    if (stop == number.c_str()) {
        throw std::invalid_argument("stoll");
    }
    if (errno == ERANGE) {
        throw std::out_of_range("stoll");
    }
    return time_of_day(static_cast<long>(millis));
}

double random_number() {
    const double value = generator();
    return value < 1.0 ? value : std::nextafter(1.0, 0.0);
}
