// quorvel/primitives.h - the buffer primitives the exercise library calls.
//
// The library searches the document, reads the message id, appends box
// elements and stores box texts through the functions below. It also works
// on the image directly where these functions cannot serve: it copies the
// framed stream into the image, scans for the document's end, and copies a
// box text that holds a NUL byte (write_at stops at the first one).
// A host supplies its own implementation of them; the project ships a
// stand-in (target quorvel::primitives, library libquorvel_primitives.a) that
// an exercise links when it has none. Link order: the library first, then the
// primitives (-lquorvel -lquorvel_primitives).
//
// Conventions for every implementation:
//   * Texts are NUL-terminated character arrays.
//   * No function takes a capacity. The caller guarantees the room:
//     `append` needs the appended bytes plus one after the current NUL of
//     dest, `write_at` needs the text's length plus one from the offset.
//   * No function allocates, throws or writes to a stream.
//
// What the stand-in does beyond that is stated per function ("stand-in:").
#ifndef QUORVEL_PRIMITIVES_H
#define QUORVEL_PRIMITIVES_H

#include <cstdint>

// Where a value lies in a document: two 32-bit integers packed in 64 bits,
// the first in the low half, the second (signed) in the high half. The library
// reads only the second: 0 or less means "not found"; any other Range is passed
// unchanged to `as_integer`.
// Stand-in: first = offset of the value in the document, second = its length.
using Range = std::uint64_t;

// Packs two halves into a Range.
constexpr Range make_range(std::int32_t first, std::int32_t second) {
    return static_cast<Range>(static_cast<std::uint32_t>(first)) |
           (static_cast<Range>(static_cast<std::uint32_t>(second)) << 32U);
}

// The low half of a Range.
constexpr std::int32_t range_first(Range range) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(range & 0xFFFFFFFFU));
}

// The high half of a Range; 0 or less means "not found".
constexpr std::int32_t range_second(Range range) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(range >> 32U));
}

// Position of the first occurrence of pattern in text, or -1 when there is
// none. An empty pattern is found at 0.
// Stand-in: -1 as well when text or pattern is null.
int index_of(const char* text, const char* pattern);

// Number of characters from text + start up to the NUL.
// Stand-in: 0 when text is null or start is negative; the caller keeps start
// within the text.
int length_of(const char* text, int start);

// Where the value of key lies in document. The library calls it only with
// "message_id:" and numeric = true.
// Stand-in: finds the first line that starts (column 0, so top level) with
// key, followed by ':' when key does not already end with one. The value is
// the rest of that line with blanks and tabs trimmed from both ends, a
// trailing " #" comment and a '\r' removed, and one pair of matching single or
// double quotes around it removed. Nested keys, flow mappings and multi-line
// values are not searched. With numeric = true the value must be a decimal
// integer (optional sign, digits only) that fits in 32 bits, otherwise the
// key counts as not found: an id that cannot be represented is never read as
// some other id. Not found, or an empty value: make_range(0, 0).
Range find_value(const char* document, const char* key, bool numeric);

// The integer written at range in document.
// Stand-in: a decimal integer with an optional sign filling the whole range;
// anything else (no digits, other characters, out of 32-bit range, a range
// outside the document) gives invalid_integer.
inline constexpr int invalid_integer = INT32_MIN;
int as_integer(const char* document, Range range);

// Appends text to the text in dest and writes a NUL after it. The bytes after
// dest's old NUL need not be zero. Finding the end of dest costs a scan of it:
// a caller that knows where the text ends passes that position as dest.
// Stand-in: a null dest does nothing, a null text (or prefix, suffix) appends
// nothing.
void append(char* dest, const char* text);

// Appends prefix, number in decimal (as printf "%d"), suffix. The library
// does not call it; it is part of the interface a host supplies.
void append(char* dest, const char* prefix, int number, const char* suffix);

// Appends prefix, number in decimal (as printf "%llu"), suffix. The library
// does not call it; it is part of the interface a host supplies.
void append(char* dest, const char* prefix, std::uint64_t number, const char* suffix);

// Copies text into buffer at offset.
// Stand-in: writes the terminating NUL too (the caller reserves it); a null
// buffer or text, or a negative offset, does nothing.
void write_at(char* buffer, int offset, const char* text);

#endif  // QUORVEL_PRIMITIVES_H
