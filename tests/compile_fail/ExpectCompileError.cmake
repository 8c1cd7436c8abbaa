# Compiles SOURCE with CXX and the include directory INCLUDE; passes when the
# compilation fails and its first error line holds EXPECTED.
execute_process(
    COMMAND "${CXX}" -std=c++17 -fsyntax-only "-I${INCLUDE}" "${SOURCE}"
    RESULT_VARIABLE status ERROR_VARIABLE errors OUTPUT_VARIABLE output)
if(status EQUAL 0)
    message(FATAL_ERROR "${SOURCE} compiled, and must not")
endif()
string(REGEX MATCH "[^\n]*error[^\n]*" first_error "${errors}")
string(FIND "${first_error}" "${EXPECTED}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "the first error does not say \"${EXPECTED}\":\n${first_error}\n\n${errors}")
endif()
message(STATUS "first error: ${first_error}")
