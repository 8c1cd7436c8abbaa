// The framing steps written out a second time, plainly, as the oracle the
// fuzz targets compare the library's exchange image against.
#ifndef QUORVEL_FUZZ_REFERENCE_H
#define QUORVEL_FUZZ_REFERENCE_H

#include <quorvel/exchange_format.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::size_t reference_image_size = 100000;
inline constexpr std::size_t reference_document_offset = 10000;
inline constexpr std::size_t reference_largest_separator = 89998;

inline constexpr char reference_separator[] = "\n---\n";

// The model keeps its own values; these pin them to the library's.
static_assert(reference_image_size == static_cast<std::size_t>(image_size));
static_assert(reference_document_offset == static_cast<std::size_t>(document_offset));
static_assert(reference_document_offset == static_cast<std::size_t>(quorvel_memory_size));
static_assert(reference_largest_separator == static_cast<std::size_t>(document_capacity - 1));
static_assert(std::string_view(reference_separator) == quorvel_separator);

// The 100,000 image bytes that framing data must give.
inline std::string reference_image(const std::uint8_t* data, std::size_t size) {
    std::string image(reference_image_size, '~');
    image[reference_document_offset] = '\0';
    const std::size_t n = std::min(size, reference_image_size - 1);
    const std::string staged(reinterpret_cast<const char*>(data), n);
    const std::string text = staged.substr(0, staged.find('\0'));
    const std::size_t k = text.find(reference_separator);
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
