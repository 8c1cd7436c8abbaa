// Framing of arbitrary streams: the image must be exactly what the framing
// steps give, and nothing may be written outside it (ASan watches the heap).
#include "reference.h"

#include <quorvel/quorvel.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

namespace {
[[maybe_unused]] const bool quiet = (std::cerr.rdbuf(nullptr), true);  // warnings are not under test here
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    char* image = nullptr;
    char* document = nullptr;
    swap_into_position(in, image, document);
    const std::string expected = reference_image(data, size);
    if (document != image + document_offset ||
        std::memcmp(image, expected.data(), expected.size()) != 0 ||
        std::strlen(document) > static_cast<std::size_t>(document_capacity)) {
        std::abort();
    }
    delete[] image;
    return 0;
}
