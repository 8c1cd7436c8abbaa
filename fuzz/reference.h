// The framing steps written out a second time, plainly, as the oracle the
// fuzz targets compare the library's exchange image against.
#ifndef QUORVEL_FUZZ_REFERENCE_H
#define QUORVEL_FUZZ_REFERENCE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr std::size_t reference_image_size = 100000;
inline constexpr std::size_t reference_document_offset = 10000;
inline constexpr std::size_t reference_largest_separator = 89998;

// The 100,000 image bytes that framing data must give.
inline std::string reference_image(const std::uint8_t* data, std::size_t size) {
    std::string image(reference_image_size, '~');
    image[reference_document_offset] = '\0';
    const std::size_t n = std::min(size, reference_image_size - 1);
    const std::string staged(reinterpret_cast<const char*>(data), n);
    const std::string text = staged.substr(0, staged.find('\0'));
    const std::size_t k = text.find("\n---\n");
    if (n == 0 || k == std::string::npos || k > reference_largest_separator) {
        return image;
    }
    image.replace(reference_document_offset, k + 1, staged, 0, k + 1);
    image[reference_document_offset + k + 1] = '\0';
    const std::size_t start = k + 5;
    const std::size_t limit = std::min(n, k + 5 + reference_document_offset);
    if (limit > start) {
        image.replace(0, limit - start, staged, start, limit - start);
    }
    return image;
}

#endif
