// Whether the tests (and the programs they run, built alike) carry
// AddressSanitizer: some facts hold only without its runtime.
#ifndef QUORVEL_TESTS_SANITIZERS_H
#define QUORVEL_TESTS_SANITIZERS_H

#ifdef __has_feature
#if __has_feature(address_sanitizer)
#define QUORVEL_TESTS_SANITIZED 1
#endif
#endif
#ifdef __SANITIZE_ADDRESS__
#define QUORVEL_TESTS_SANITIZED 1
#endif

#ifdef QUORVEL_TESTS_SANITIZED
inline constexpr bool sanitized_build = true;
#else
inline constexpr bool sanitized_build = false;
#endif

#endif
