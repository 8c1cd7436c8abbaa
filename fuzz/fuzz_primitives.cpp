// The stand-in primitives on arbitrary documents and keys. The input is
// "document NUL key NUL rest"; rest picks the flag and a raw Range.
#include <quorvel/primitives.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char canary = '\x5A';
constexpr std::size_t canary_size = 16;

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

std::string next_part(const std::uint8_t*& data, std::size_t& size) {
    const auto* begin = reinterpret_cast<const char*>(data);
    const auto* nul = static_cast<const char*>(std::memchr(begin, '\0', size));
    const std::size_t length = nul != nullptr ? static_cast<std::size_t>(nul - begin) : size;
    const std::size_t used = nul != nullptr ? length + 1 : length;
    data += used;
    size -= used;
    return std::string(begin, length);
}

void check_search(const std::string& document, const std::string& key) {
    const std::size_t found = document.find(key);
    require(index_of(document.c_str(), key.c_str()) ==
            (found == std::string::npos ? -1 : static_cast<int>(found)));
    for (std::size_t start = 0; start <= document.size(); start += 1 + start / 3) {
        require(length_of(document.c_str(), static_cast<int>(start)) ==
                static_cast<int>(document.size() - start));
    }
}

void check_value(const std::string& document, const std::string& key, bool numeric) {
    const Range range = find_value(document.c_str(), key.c_str(), numeric);
    const int first = range_first(range);
    const int length = range_second(range);
    if (length <= 0) {
        return;
    }
    require(first >= 0 && static_cast<std::size_t>(first) + static_cast<std::size_t>(length) <=
                              document.size());
    const std::string value = document.substr(static_cast<std::size_t>(first),
                                              static_cast<std::size_t>(length));
    require(value.find('\n') == std::string::npos);
    if (key.find('\n') == std::string::npos) {
        const std::size_t line = document.rfind('\n', static_cast<std::size_t>(first));
        require(document.compare(line == std::string::npos ? 0 : line + 1, key.size(), key) == 0);
    }
    if (numeric) {
        errno = 0;
        const long long expected = std::strtoll(value.c_str(), nullptr, 10);
        require(errno == 0 && as_integer(document.c_str(), range) == expected);
    }
}

void check_writes(const std::string& document, const std::string& key, int number) {
    std::vector<char> buffer(document.size() * 2 + key.size() * 3 + 64 + canary_size, canary);
    buffer[0] = '\0';
    append(buffer.data(), document.c_str());
    append(buffer.data(), key.c_str(), number, document.c_str());
    append(buffer.data(), "", static_cast<std::uint64_t>(number) * 977U, key.c_str());
    const std::string expected = document + key + std::to_string(number) + document +
                                 std::to_string(static_cast<std::uint64_t>(number) * 977U) + key;
    require(std::strcmp(buffer.data(), expected.c_str()) == 0);
    write_at(buffer.data(), static_cast<int>(expected.size() + 1), key.c_str());
    const std::size_t used = expected.size() + 1 + key.size() + 1;
    for (std::size_t i = used; i < buffer.size(); ++i) {
        require(buffer[i] == canary);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string document = next_part(data, size);
    const std::string key = next_part(data, size);
    const bool numeric = size == 0 || (data[0] & 1U) != 0;
    check_search(document, key);
    check_value(document, key, numeric);
    check_value(document, "message_id:", true);
    int first = 0;
    int second = 0;
    if (size >= 9) {
        std::memcpy(&first, data + 1, sizeof first);
        std::memcpy(&second, data + 5, sizeof second);
    }
    const int number = as_integer(document.c_str(), make_range(first % 100000, second % 100000));
    (void)number;
    check_writes(document, key, first);
    return 0;
}
