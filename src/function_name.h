// A function's name as a student reads it in the fault box.
#ifndef QUORVEL_SRC_FUNCTION_NAME_H
#define QUORVEL_SRC_FUNCTION_NAME_H

#include <string>
#include <string_view>

namespace quorvel_internal {

// The demangled name of a function without its return type, parameter lists,
// qualifiers, ABI tags, GCC's " [clone .cold]" and "(anonymous namespace)::":
//   "second(int*)"                                  second
//   "Average::value() const"                        Average::value
//   "int f<int>(int)"                               f<int>
//   "ns::A::value()::{lambda(int)#1}::operator()(int) const"
//                                                   ns::A::value::{lambda}
// A name that is not mangled ("main") comes back as it is.
std::string function_name(std::string_view demangled);

}  // namespace quorvel_internal

#endif
