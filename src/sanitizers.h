// The sanitizers' death callback: an exercise that AddressSanitizer or
// UndefinedBehaviorSanitizer ends still sends its stream.
#ifndef QUORVEL_SRC_SANITIZERS_H
#define QUORVEL_SRC_SANITIZERS_H

namespace quorvel_internal {

// init(): registers the death callback with every sanitizer runtime loaded
// (with g++'s address,undefined there are two). Without a sanitizer it does
// nothing. The callback writes the stream with a box such as
// "heap-buffer-overflow: read of 4 bytes at sum.cpp:6 in sum" or, in
// UndefinedBehaviorSanitizer's words and at its place, "Signed integer
// overflow: ... at add.cpp:4"; then the sanitizer ends the process as it
// would have.
void watch_sanitizers();

}  // namespace quorvel_internal

#endif
