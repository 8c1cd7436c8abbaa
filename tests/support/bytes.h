// Comparing byte strings of any size in assertions.
#ifndef QUORVEL_TESTS_BYTES_H
#define QUORVEL_TESTS_BYTES_H

#include <gtest/gtest.h>

#include <string>

// Success when actual and expected hold the same bytes. Otherwise the message
// gives both sizes, the first offset where they differ, and a short window of
// each around it with control and non-ASCII bytes escaped, so that a failure
// in a 100,000-byte stream reads at a glance.
::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected);

// How often needle stands in text, without overlaps.
std::size_t count_of(const std::string& text, const std::string& needle);

#endif
