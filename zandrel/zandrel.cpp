// zandrel - writes 400,000 random practice-text tokens to "gibberish.txt".
//
// Tokens: a lowercase letter, an uppercase letter, a blank, or a full stop
// followed by a blank; a newline after every 61st token of a line, none after
// the last token. The file depends only on the second the program starts in:
// the C library's rand() is seeded with time(nullptr).
//
// The text is built in memory (about 425 KB) and written in one go. The
// program prints nothing and exits 0 on success. If the file cannot be opened
// or written in full, it prints "zandrel: cannot write gibberish.txt: <reason>"
// on standard error and exits 1. "zandrel --version" prints "zandrel" and the
// version and writes no file; any other argument is ignored.
//
// rnum() divides in single precision, so the 64 largest values of rand() give
// exactly 1.0. Such a draw still picks a full stop for the token class (r is
// 110), and a letter draw is kept on the last letter ('Z' or 'z') instead of
// stepping past it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

// A draw from rand() in [0, 1], in single precision.
float rnum();

namespace {

constexpr const char* output_name = "gibberish.txt";
constexpr int token_count = 400000;
constexpr int tokens_per_line = 61;
constexpr float rand_range = 2147483648.0F;  // 2^31
constexpr int class_scale = 110;
constexpr int full_stop_from = 105;
constexpr int blank_from = 80;
constexpr int uppercase_from = 60;
constexpr int alphabet_size = 26;
constexpr std::size_t most_bytes_per_token = 3;  // ". " and a newline

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

std::string practice_text() {
    std::string text(static_cast<std::size_t>(token_count) * most_bytes_per_token, '\0');
    char* out = text.data();
    int on_line = 0;
    for (int i = 0; i < token_count; ++i) {
        out = put_token(out);
        if (++on_line >= tokens_per_line) {
            *out++ = '\n';
            on_line = 0;
        }
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

// Writes text to the named file; false with errno set when it cannot.
bool write_file(const char* name, const std::string& text) {
    std::FILE* file = std::fopen(name, "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int write_error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written) {
        errno = write_error;
    }
    return written && closed;
}

}  // namespace

float rnum() { return static_cast<float>(std::rand()) / rand_range; }

int main(int argc, char** argv) {
    if (std::any_of(argv + 1, argv + argc, [](const char* arg) { return std::strcmp(arg, "--version") == 0; })) {
        std::printf("zandrel %s\n", QUORVEL_VERSION);
        return 0;
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const std::string text = practice_text();
    if (!write_file(output_name, text)) {
        std::fprintf(stderr, "zandrel: cannot write %s: %s\n", output_name, std::strerror(errno));
        return 1;
    }
    return 0;
}
