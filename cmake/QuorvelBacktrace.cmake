# GCC's libbacktrace, which reads the debug information behind the fault
# box's where: backtrace.h and libbacktrace.a come with every g++ (Debian's
# libgcc-N-dev). clang does not search GCC's own include directory, so gcc
# is asked where it is. A libbacktrace that calls malloc as it works
# (BACKTRACE_USES_MALLOC 1), or cannot work here, counts as not found.
#
# Sets QUORVEL_BACKTRACE_FOUND and QUORVEL_BACKTRACE_INCLUDE_DIR.
set(QUORVEL_BACKTRACE_FOUND FALSE)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(quorvel_gcc "${CMAKE_CXX_COMPILER}")
else()
    find_program(quorvel_gcc NAMES gcc g++)
endif()
if(quorvel_gcc)
    execute_process(COMMAND "${quorvel_gcc}" -print-file-name=include
        OUTPUT_VARIABLE quorvel_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND "${quorvel_gcc}" -print-file-name=libbacktrace.a
        OUTPUT_VARIABLE quorvel_backtrace_library OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    set(supported "${quorvel_gcc_include}/backtrace-supported.h")
    if(EXISTS "${quorvel_gcc_include}/backtrace.h" AND EXISTS "${supported}"
            AND IS_ABSOLUTE "${quorvel_backtrace_library}" AND EXISTS "${quorvel_backtrace_library}")
        file(STRINGS "${supported}" settings REGEX "^#define BACKTRACE_(SUPPORTED|USES_MALLOC) ")
        if("#define BACKTRACE_SUPPORTED 1" IN_LIST settings AND "#define BACKTRACE_USES_MALLOC 0" IN_LIST settings)
            set(QUORVEL_BACKTRACE_FOUND TRUE)
            set(QUORVEL_BACKTRACE_INCLUDE_DIR "${quorvel_gcc_include}")
        endif()
    endif()
endif()
