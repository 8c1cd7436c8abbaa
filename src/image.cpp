// The exchange image and the framing of a stream into it.
#include "boxes.h"
#include "warnings.h"

#include <quorvel/primitives.h>
#include <quorvel/quorvel.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

using namespace quorvel_internal;

namespace {

constexpr int largest_document_start = document_capacity - 1;  // k may be 0..89,998

// A new image, all fill_byte, with an empty document.
void new_image(char*& image, char*& document) {
    forget_document_end();
    image = new char[image_size];
    std::memset(image, fill_byte, image_size);
    document = image + document_offset;
    document[0] = '\0';
}

// Frames the n staged bytes (staging[n] is a NUL) into a new image.
void frame(const char* staging, int n, char*& image, char*& document) {
    new_image(image, document);
    if (n <= 0) {
        return;
    }
    const int k = index_of(staging, quorvel_separator);
    if (k < 0) {
        warn("did not find separator between yaml and mem.");
        return;
    }
    if (k > largest_document_start) {
        warn("yaml of " + decimal(k + 1) + " characters does not fit in " +
             decimal(document_capacity) + "; input discarded.");
        return;
    }
    std::memcpy(document, staging, static_cast<std::size_t>(k) + 1);
    document[k + 1] = '\0';
    const int memory_start = k + quorvel_separator_length;
    const int limit = std::min(n, memory_start + quorvel_memory_size);
    if (limit > memory_start) {
        std::memcpy(image, staging + memory_start, static_cast<std::size_t>(limit - memory_start));
    }
}

}  // namespace

void swap_into_position(std::istream& in, char*& image, char*& document) {
    const std::unique_ptr<char[]> staging(new char[image_size]);
    in.read(staging.get(), image_size);
    int n = static_cast<int>(in.gcount());
    if (n == image_size) {
        warn_read_limit();
        n = image_size - 1;
    }
    staging[static_cast<std::size_t>(n)] = '\0';
    frame(staging.get(), n, image, document);
}

void initialize(char*& image, char*& document) { swap_into_position(std::cin, image, document); }

void initialize_empty(char*& image, char*& document) { new_image(image, document); }

void initialize_from_file(const char* path, char*& image, char*& document) {
    std::ifstream file;
    if (path != nullptr) {
        file.open(path, std::ios::binary);
    }
    swap_into_position(file, image, document);
}

void read_file_into_mem(const char* path, char* buffer, int offset) {
    if (buffer == nullptr || offset < 0 || offset >= image_size) {
        return;
    }
    std::ifstream file;
    if (path != nullptr) {
        file.open(path, std::ios::binary);
    }
    if (!file) {
        buffer[offset] = '\0';
        return;
    }
    const std::streamsize wanted = image_size - offset;
    file.read(buffer + offset, wanted);
    const std::streamsize count = file.gcount();
    if (count < wanted) {
        buffer[offset + count] = '\0';
    } else {
        warn_read_limit();
        buffer[image_size - 1] = '\0';
    }
}
