#include "files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

std::string make_temp_dir() {
    static std::vector<std::string> made;
    if (made.empty()) {
        std::atexit([] {
            for (const std::string& dir : made) {
                std::error_code ignored;
                std::filesystem::remove_all(dir, ignored);
            }
        });
    }
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/quorvel-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp");
    }
    made.push_back(pattern);
    return pattern;
}

std::string read_file(const std::string& path, bool* exists) {
    std::ifstream file(path, std::ios::binary);
    if (exists != nullptr) {
        *exists = static_cast<bool>(file);
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) {
        throw std::runtime_error("write_file " + path);
    }
}
