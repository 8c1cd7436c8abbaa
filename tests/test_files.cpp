// Framing from nothing and from files, and reading files into a buffer,
// in-process: these calls touch only the pointers and buffers they are given.
#include "support/bytes.h"
#include "support/files.h"

#include <quorvel/quorvel.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string read_limit = "Warning:  did not reach EOF after 100000 characters.";

// Captures what the library writes to standard error during a call.
template <typename Call>
std::string warnings_of(Call call) {
    std::ostringstream captured;
    std::streambuf* const saved = std::cerr.rdbuf(captured.rdbuf());
    call();
    std::cerr.rdbuf(saved);
    return captured.str();
}

std::string image_text(const char* image) { return std::string(image, image_size); }

std::string empty_image() {
    std::string image(image_size, '~');
    image[document_offset] = '\0';
    return image;
}

TEST(InitializeEmpty, GivesAnEmptyDocumentAndTildes) {
    char* image = nullptr;
    char* document = nullptr;
    initialize_empty(image, document);
    EXPECT_EQ(document, image + document_offset);
    EXPECT_TRUE(same_bytes(image_text(image), empty_image()));
    delete[] image;
}

TEST(InitializeFromFile, FramesTheFileOrNothing) {
    const std::string dir = make_temp_dir();
    write_file(dir + "/stream", std::string("message_id: 0") + quorvel_separator + "abc");
    std::string expected = empty_image();
    expected.replace(0, 3, "abc");
    expected.replace(document_offset, 15, std::string("message_id: 0\n\0", 15));
    const struct {
        const char* path;
        std::string image;
    } cases[] = {
        {nullptr, empty_image()},
        {"/nonexistent/stream", empty_image()},
        {"", empty_image()},
    };
    char* image = nullptr;
    char* document = nullptr;
    EXPECT_EQ(warnings_of([&] { initialize_from_file((dir + "/stream").c_str(), image, document); }), "");
    EXPECT_TRUE(same_bytes(image_text(image), expected));
    delete[] image;
    for (const auto& c : cases) {
        EXPECT_EQ(warnings_of([&] { initialize_from_file(c.path, image, document); }), "");
        EXPECT_TRUE(same_bytes(image_text(image), c.image));
        EXPECT_EQ(document, image + document_offset);
        delete[] image;
    }
}

TEST(ReadFileIntoMem, ReadsUpToTheBufferEnd) {
    const std::string dir = make_temp_dir();
    const struct {
        const char* name;
        std::size_t file_size;
        int offset;
        std::string warning;
    } cases[] = {
        {"short", 50, 10, ""},
        {"empty", 0, 0, ""},
        {"one short of the end", 99989, 10, ""},
        {"exactly to the end", 99990, 10, read_limit},
        {"past the end", 150000, 10, read_limit},
        {"last byte only", 5, 99999, read_limit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content(c.file_size, 'f');
        write_file(dir + "/file", content);
        std::vector<char> buffer(image_size, '.');
        EXPECT_EQ(warnings_of([&] { read_file_into_mem((dir + "/file").c_str(), buffer.data(), c.offset); }),
                  c.warning);
        const std::size_t offset = static_cast<std::size_t>(c.offset);
        const std::size_t fitted = std::min(c.file_size, static_cast<std::size_t>(image_size) - offset);
        const std::size_t nul = c.warning.empty() ? offset + fitted : image_size - 1;
        EXPECT_EQ(std::string(buffer.data(), offset), std::string(offset, '.'));
        EXPECT_EQ(std::string(buffer.data() + offset, nul - offset), content.substr(0, nul - offset));
        EXPECT_EQ(buffer[nul], '\0');
        if (nul + 1 < buffer.size()) {
            EXPECT_EQ(buffer[nul + 1], '.');
        }
    }
}

TEST(ReadFileIntoMem, MissingFilesAndBadArguments) {
    std::vector<char> buffer(image_size, '.');
    EXPECT_EQ(warnings_of([&] { read_file_into_mem("/nonexistent/file", buffer.data(), 7); }), "");
    EXPECT_EQ(buffer[7], '\0');
    EXPECT_EQ(warnings_of([&] { read_file_into_mem(nullptr, buffer.data(), 8); }), "");
    EXPECT_EQ(buffer[8], '\0');
    read_file_into_mem("/nonexistent/file", buffer.data(), -1);
    read_file_into_mem("/nonexistent/file", buffer.data(), image_size);
    read_file_into_mem("/nonexistent/file", nullptr, 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), '\0'), 2);
}

}  // namespace
