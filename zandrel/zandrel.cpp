// zandrel - writes random practice-text tokens, 400,000 of them to
// "gibberish.txt" unless told otherwise.
//
//   zandrel [--seed N] [--tokens N] [--output FILE]
//   zandrel --help | --version
//
// Tokens: a lowercase letter, an uppercase letter, a blank, or a full stop
// followed by a blank; a newline after every 61st token of a line, none after
// the last token. The text depends only on the seed of the C library's
// rand(): the second the program starts in (time(nullptr)), or --seed N.
// glibc's rand() gives the same text for a seed on every machine; another C
// library may not.
//
// Options (an option's value follows it, or its "=", as in --seed=7):
//   --seed N       0 to 4294967295; srand(N) in place of srand(time(nullptr))
//   --tokens N     1 to 1,000,000,000 tokens (default 400,000)
//   --output FILE  the file to write (default "gibberish.txt"), created or
//                  truncated in place; "-" is standard output
//   --help         a short usage on standard output; no file is written
//   --version      "zandrel" and the version; no file is written
// Any other argument that starts with "-" (but "-" alone), and an option
// with a missing or bad value, is a usage error: "zandrel: " and what is
// wrong on standard error, then the usage, exit status 2, and no file is
// touched. Other words are ignored.
//
// The text is written in pieces through a fixed buffer, so memory does not
// grow with --tokens. It prints nothing else and exits 0 on success. When
// the output cannot be opened or written in full, it prints "zandrel:
// cannot write FILE: <reason>" (or "cannot write standard output: <reason>")
// on standard error and exits 1. SIGPIPE keeps its default: a reader that
// goes away ends it, as it ends other filters.
//
// rnum() divides in single precision, so the 64 largest values of rand() give
// exactly 1.0. Such a draw still picks a full stop for the token class (r is
// 110), and a letter draw is kept on the last letter ('Z' or 'z') instead of
// stepping past it.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

namespace {

// A draw from rand() in [0, 1], in single precision.
float rnum();

constexpr const char* default_output = "gibberish.txt";
constexpr const char* standard_output = "-";
constexpr long long default_tokens = 400000;
constexpr long long most_tokens = 1000000000;
constexpr unsigned long long most_seed = 4294967295ULL;
constexpr int tokens_per_line = 61;
constexpr float rand_range = 2147483648.0F;  // 2^31
constexpr int class_scale = 110;
constexpr int full_stop_from = 105;
constexpr int blank_from = 80;
constexpr int uppercase_from = 60;
constexpr int alphabet_size = 26;
constexpr std::size_t most_bytes_per_token = 2;  // ". "
constexpr std::size_t most_line_bytes = tokens_per_line * most_bytes_per_token + 1;
constexpr std::size_t buffer_size = 64 * 1024;
constexpr mode_t created_mode = 0666;  // less the umask, as fopen() creates files
constexpr int exit_write_error = 1;
constexpr int exit_usage = 2;

constexpr const char* usage_text =
    "usage: zandrel [--seed N] [--tokens N] [--output FILE]\n"
    "       zandrel --help | --version\n"
    "Writes random practice text: letters, blanks and full stops, 61 tokens to a\n"
    "line. --seed N (0 to 4294967295, default: the current second) fixes the\n"
    "text; --tokens N (1 to 1000000000, default 400000) sets its length;\n"
    "--output FILE (default gibberish.txt; - is standard output) its place.\n";

struct Options {
    bool help = false;
    bool version = false;
    bool seeded = false;
    unsigned seed = 0;
    long long tokens = default_tokens;
    std::string output = default_output;
};

// The letter first + (a fresh draw scaled to 0..25).
char letter(char first) {
    const int index = static_cast<int>(rnum() * alphabet_size);
    return static_cast<char>(first + std::min(index, alphabet_size - 1));
}

// Writes one token at out; returns the position after it.
char* put_token(char* out) {
    const int r = static_cast<int>(rnum() * class_scale);
    if (r >= full_stop_from) {
        *out++ = '.';
        *out++ = ' ';
    } else if (r >= blank_from) {
        *out++ = ' ';
    } else {
        *out++ = letter(r >= uppercase_from ? 'A' : 'a');
    }
    return out;
}

// write(2) until all of data is written; false with errno set when it fails.
bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes tokens tokens to fd, a line at a time into a fixed buffer that is
// written out whenever it has no room for another whole line.
bool write_text(int fd, long long tokens) {
    static char buffer[buffer_size];
    char* out = buffer;
    for (long long left = tokens; left > 0;) {
        if (static_cast<std::size_t>(buffer + buffer_size - out) < most_line_bytes) {
            if (!write_all(fd, buffer, static_cast<std::size_t>(out - buffer))) {
                return false;
            }
            out = buffer;
        }
        const long long line = std::min<long long>(left, tokens_per_line);
        for (long long i = 0; i < line; ++i) {
            out = put_token(out);
        }
        left -= line;
        if (left > 0) {
            *out++ = '\n';
        }
    }
    return write_all(fd, buffer, static_cast<std::size_t>(out - buffer));
}

// Writes the text to the output; false with errno set when it cannot.
bool write_output(const Options& options) {
    if (options.output == standard_output) {
        return write_text(STDOUT_FILENO, options.tokens);
    }
    const int fd = open(options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, created_mode);
    if (fd < 0) {
        return false;
    }
    const bool written = write_text(fd, options.tokens);
    const int write_error = errno;
    const bool closed = close(fd) == 0;
    if (!written) {
        errno = write_error;
    }
    return written && closed;
}

// A whole decimal number in text, from low to high.
template <typename Number>
bool whole_number(std::string_view text, Number low, Number high, Number& value) {
    const char* end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    return !text.empty() && read.ec == std::errc() && read.ptr == end && value >= low && value <= high;
}

// Reads the value of the option name at argv[i] ("--name=value" or "--name
// value"); false with error set when there is none.
bool take_value(int argc, char** argv, int& i, std::string_view name, std::string& value, std::string& error) {
    const std::string_view arg = argv[i];
    if (arg.size() > name.size() && arg[name.size()] == '=') {
        value = std::string(arg.substr(name.size() + 1));
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        error = std::string(name) + " needs a value";
        return false;
    }
    return true;
}

// The option named in arg, with or without "=value"; "" when none is.
std::string_view option_name(std::string_view arg) {
    for (const std::string_view name : {"--seed", "--tokens", "--output", "--help", "--version"}) {
        if (arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                            arg[name.size()] == '=' && name != "--help" && name != "--version")) {
            return name;
        }
    }
    return "";
}

// One option at argv[i]; false with error set when it is bad.
bool parse_option(int argc, char** argv, int& i, Options& options, std::string& error) {
    const std::string_view arg = argv[i];
    const std::string_view name = option_name(arg);
    std::string value;
    if (name == "--help") {
        options.help = true;
    } else if (name == "--version") {
        options.version = true;
    } else if (name.empty()) {
        error = "unknown option " + std::string(arg);
        return false;
    } else if (!take_value(argc, argv, i, name, value, error)) {
        return false;
    } else if (name == "--output") {
        options.output = value;
        if (value.empty()) {
            error = "--output needs a file name";
        }
    } else if (name == "--tokens") {
        if (!whole_number<long long>(value, 1, most_tokens, options.tokens)) {
            error = "--tokens takes a whole number from 1 to 1000000000, not '" + value + "'";
        }
    } else {
        unsigned long long seed = 0;
        if (!whole_number<unsigned long long>(value, 0, most_seed, seed)) {
            error = "--seed takes a whole number from 0 to 4294967295, not '" + value + "'";
        }
        options.seeded = true;
        options.seed = static_cast<unsigned>(seed);
    }
    return error.empty();
}

bool parse_options(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-' && !parse_option(argc, argv, i, options, error)) {
            return false;
        }
    }
    return true;
}

float rnum() { return static_cast<float>(std::rand()) / rand_range; }

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parse_options(argc, argv, options, error)) {
        std::fprintf(stderr, "zandrel: %s\n%s", error.c_str(), usage_text);
        return exit_usage;
    }
    if (options.help) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("zandrel %s\n", QUORVEL_VERSION);
        return 0;
    }
    std::srand(options.seeded ? options.seed : static_cast<unsigned>(std::time(nullptr)));
    if (!write_output(options)) {
        const std::string target =
            options.output == standard_output ? "standard output" : options.output;
        std::fprintf(stderr, "zandrel: cannot write %s: %s\n", target.c_str(), std::strerror(errno));
        return exit_write_error;
    }
    return 0;
}
