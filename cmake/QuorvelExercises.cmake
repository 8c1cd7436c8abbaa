# quorvel_add_exercise(NAME SOURCE... [MESSAGE_ID n | INPUT file] [TIMEOUT s] [CHECKS n] [SANDBOX]
#                      [SANITIZE address|undefined|address,undefined]
#                      [LABELS label...])
#
# Builds the exercise NAME from SOURCE..., linked with quorvel::quorvel and
# quorvel::primitives and with debug information (-g, which changes no code),
# so that a fault box names the student's file and line; and registers one
# CTest test, NAME, that runs quorvel-view --check on it: the test fails on a
# red box, a crash, a time-out, a malformed stream, or with CHECKS too few
# check boxes.
#
#   MESSAGE_ID n  the message sent is "message_id: n" (default 0)
#   INPUT file    or the archived message in file (relative to the current
#                 source directory)
#   TIMEOUT s     quorvel-view's time limit, in whole seconds (default 10);
#                 the test's own TIMEOUT property is a margin above it
#   CHECKS n      the check boxes it must show (quorvel-view --checks n)
#   SANDBOX       runs it with quorvel-view --sandbox (bubblewrap); where no
#                 sandbox can be made, the test is skipped, not failed
#   SANITIZE ...  builds it with those sanitizers and -fno-sanitize-recover=all:
#                 an off-by-one read or a signed overflow then ends the run
#                 with a fault box that names it and where (GCC or Clang)
#   LABELS ...    the test's CTest labels
#
# The test runs in a working directory of its own, below the current binary
# directory: an exercise that archives its input writes input/ there, and
# ctest -j runs tests side by side. It needs quorvel-view (quorvel::view):
# from an installed package built with it, or in the same build with
# QUORVEL_BUILD_VIEWER on.
include_guard(GLOBAL)

set(QUORVEL_EXERCISE_TIMEOUT 10)
set(QUORVEL_EXERCISE_SANITIZERS address undefined "address,undefined")
set(QUORVEL_EXERCISE_NO_SANDBOX 5)  # quorvel-view's status when it cannot make a sandbox
set(QUORVEL_EXERCISE_TIMEOUT_MARGIN 15)  # the viewer's own grace, its start and its report

function(quorvel_add_exercise name)
    cmake_parse_arguments(PARSE_ARGV 1 exercise "SANDBOX" "MESSAGE_ID;INPUT;TIMEOUT;SANITIZE;CHECKS" "LABELS")
    if(NOT TARGET quorvel::view)
        message(FATAL_ERROR
            "quorvel_add_exercise(${name}) needs quorvel-view (quorvel::view), which this build "
            "of quorvel does not have: build quorvel with -DQUORVEL_BUILD_VIEWER=ON (it needs "
            "libyaml).")
    endif()
    set(sources ${exercise_UNPARSED_ARGUMENTS})
    if(NOT sources)
        message(FATAL_ERROR "quorvel_add_exercise(${name}) needs at least one source file")
    endif()
    if(DEFINED exercise_MESSAGE_ID AND DEFINED exercise_INPUT)
        message(FATAL_ERROR "quorvel_add_exercise(${name}): give MESSAGE_ID or INPUT, not both")
    endif()
    set(timeout ${QUORVEL_EXERCISE_TIMEOUT})
    if(DEFINED exercise_TIMEOUT)
        if(NOT exercise_TIMEOUT MATCHES "^[1-9][0-9]*$" OR exercise_TIMEOUT GREATER 86400)
            message(FATAL_ERROR "quorvel_add_exercise(${name}): TIMEOUT takes whole seconds, 1 to 86400")
        endif()
        set(timeout ${exercise_TIMEOUT})
    endif()

    if(DEFINED exercise_SANITIZE AND NOT exercise_SANITIZE IN_LIST QUORVEL_EXERCISE_SANITIZERS)
        message(FATAL_ERROR "quorvel_add_exercise(${name}): SANITIZE takes address, undefined or "
            "address,undefined")
    endif()

    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE quorvel::quorvel quorvel::primitives)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${name} PRIVATE -g)
        if(DEFINED exercise_SANITIZE)
            set(flags "-fsanitize=${exercise_SANITIZE}" -fno-sanitize-recover=all -fno-omit-frame-pointer)
            target_compile_options(${name} PRIVATE ${flags})
            target_link_options(${name} PRIVATE ${flags})
        endif()
    endif()

    set(message "")
    if(DEFINED exercise_MESSAGE_ID)
        set(message --message-id "${exercise_MESSAGE_ID}")
    elseif(DEFINED exercise_INPUT)
        get_filename_component(input "${exercise_INPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
        set(message --input "${input}")
    endif()
    set(run_dir "${CMAKE_CURRENT_BINARY_DIR}/quorvel-exercises/${name}")
    file(MAKE_DIRECTORY "${run_dir}")
    set(sandbox "")
    if(exercise_SANDBOX)
        set(sandbox --sandbox)
    endif()
    if(DEFINED exercise_CHECKS)
        if(NOT exercise_CHECKS MATCHES "^[1-9][0-9]*$" OR exercise_CHECKS GREATER 100000)
            message(FATAL_ERROR "quorvel_add_exercise(${name}): CHECKS takes a number of check boxes, 1 to 100000")
        endif()
        list(APPEND sandbox --checks ${exercise_CHECKS})
    endif()
    add_test(NAME ${name}
        COMMAND quorvel::view --check ${sandbox} --timeout ${timeout} ${message} "$<TARGET_FILE:${name}>"
        WORKING_DIRECTORY "${run_dir}")
    if(exercise_SANDBOX)
        set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE ${QUORVEL_EXERCISE_NO_SANDBOX})
    endif()
    math(EXPR test_timeout "${timeout} + ${QUORVEL_EXERCISE_TIMEOUT_MARGIN}")
    set_tests_properties(${name} PROPERTIES TIMEOUT ${test_timeout})
    if(exercise_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${exercise_LABELS}")
    endif()
endfunction()
