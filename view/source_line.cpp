#include "source_line.h"

#include "render.h"

#include <fstream>

std::string source_line(const std::string& dir, const FaultWhere& where) {
    if (where.file.empty() || where.line <= 0 || where.file.find('/') != std::string::npos ||
        where.file == "." || where.file == "..") {
        return "";
    }
    std::ifstream file(dir + "/" + where.file, std::ios::binary);
    std::string line;
    long number = 0;
    std::size_t read = 0;
    while (number < where.line && std::getline(file, line) && read <= source_file_limit) {
        read += line.size() + 1;
        ++number;
    }
    if (number != where.line || read > source_file_limit) {
        return "";
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    std::string shown;
    for (const char c : line.substr(0, source_line_width)) {
        shown += c == '\t' ? std::string(tab_width, ' ') : std::string(1, c);
    }
    return std::to_string(where.line) + " | " + escape_text(shown, {}, "\\x%02X");
}
