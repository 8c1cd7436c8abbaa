# Builds and runs small consumers of quorvel, as its users do.
#   MODE=install  installs the build tree into a scratch prefix, then builds
#                 one consumer through find_package and one through
#                 pkg-config, and a folder of exercises declared with
#                 quorvel_add_exercise, whose ctest must report one of three
#                 tests passed and name all three in its JUnit file.
#   MODE=fetch    builds a consumer that pulls quorvel in from its source
#                 tree with FetchContent, with libyaml and GoogleTest hidden
#                 from every search (HIDE_PATHS), and checks what the install
#                 of that project holds, and that quorvel_add_exercise there
#                 (no previewer) fails with a message naming
#                 QUORVEL_BUILD_VIEWER.
# Variables: MODE, BUILD_DIR, SOURCE_DIR (this folder), QUORVEL_SOURCE_DIR,
# WORK_DIR, CXX, FLAGS (extra compile and link flags, such as sanitizers, as
# a ;-list), HIDE_PATHS (directories separated by |), WHERE (the library
# names where a fault happened: QUORVEL_BACKTRACE).
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
set(input "${WORK_DIR}/input.stream")
file(WRITE "${input}" "message_id: 3\n---\n")
set(expected [=[message_id: 3
View_correctness_1:
  style:
    width: 200
    height: 20
    marginLeft: 10
    backgroundColor: rgb(100, 255, 100)
    marginTop: 1
  children: [Text_correctness_1]
Text_correctness_1:
  style:
    fontSize: 18
    marginLeft: 10
    color: white
  pos: 500
  len: 6
]=])

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
    endif()
endfunction()

function(check_consumer program how)
    execute_process(COMMAND "${program}" INPUT_FILE "${input}"
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT out STREQUAL expected OR NOT err STREQUAL "")
        message(FATAL_ERROR "${how} consumer: status ${status}\nstdout:\n${out}\nstderr:\n${err}")
    endif()
    message(STATUS "${how} consumer: output as expected")
endfunction()

list(JOIN FLAGS " " flag_string)
set(compiler_args "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${flag_string}"
    "-DCMAKE_EXE_LINKER_FLAGS=${flag_string}")

if(MODE STREQUAL "fetch")
    # A list does not survive a command line; an initial cache carries it.
    string(REPLACE "|" ";" hide "${HIDE_PATHS}")
    file(WRITE "${WORK_DIR}/hide.cmake" "set(CMAKE_IGNORE_PATH \"${hide}\" CACHE STRING \"\")\n")
    # pkg_check_modules does not heed CMAKE_IGNORE_PATH; a search path of one
    # empty directory hides yaml-0.1.pc from it. (An empty value would unset
    # the variable, and pkg-config would search its default path again.)
    file(MAKE_DIRECTORY "${WORK_DIR}/empty-pkgconfig")
    set(ENV{PKG_CONFIG_LIBDIR} "${WORK_DIR}/empty-pkgconfig")
    unset(ENV{PKG_CONFIG_PATH})
    run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/fetch_consumer" -B "${WORK_DIR}/fetch-build"
        ${compiler_args} "-DQUORVEL_SOURCE_DIR=${QUORVEL_SOURCE_DIR}" -DHIDDEN_DEPENDENCIES=ON
        -C "${WORK_DIR}/hide.cmake" "-DCMAKE_INSTALL_PREFIX=${prefix}")
    run("${CMAKE_COMMAND}" --build "${WORK_DIR}/fetch-build")
    check_consumer("${WORK_DIR}/fetch-build/consumer" "FetchContent")
    run("${CMAKE_COMMAND}" --install "${WORK_DIR}/fetch-build")
    file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
    if(NOT installed STREQUAL "bin/consumer")
        message(FATAL_ERROR "the consumer's install holds more than its program: ${installed}")
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/fetch_consumer"
            -B "${WORK_DIR}/fetch-exercise" ${compiler_args} "-DQUORVEL_SOURCE_DIR=${QUORVEL_SOURCE_DIR}"
            -DTRY_EXERCISE=ON RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(status EQUAL 0 OR NOT err MATCHES "QUORVEL_BUILD_VIEWER")
        message(FATAL_ERROR "quorvel_add_exercise without the previewer: status ${status}\n${err}")
    endif()
    message(STATUS "quorvel_add_exercise without the previewer: fails as it should")
    return()
endif()

run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(page IN ITEMS quorvel-view zandrel)
    if(NOT EXISTS "${prefix}/share/man/man1/${page}.1")
        message(FATAL_ERROR "the install holds no manual page ${page}.1")
    endif()
endforeach()

# find_package(quorvel CONFIG REQUIRED)
run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/consumer" -B "${WORK_DIR}/cmake-build"
    "-DCMAKE_PREFIX_PATH=${prefix}" ${compiler_args})
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/cmake-build")
check_consumer("${WORK_DIR}/cmake-build/consumer" "CMake")
# pkg-config --cflags --libs quorvel quorvel-primitives
file(GLOB_RECURSE pc_files "${prefix}/*/quorvel.pc")
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
execute_process(COMMAND pkg-config --cflags --libs quorvel quorvel-primitives
    RESULT_VARIABLE status OUTPUT_VARIABLE pc_flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know the package")
endif()
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run("${CXX}" ${FLAGS} "${SOURCE_DIR}/consumer/main.cpp" -o "${WORK_DIR}/pc-consumer" ${pc_flags})
check_consumer("${WORK_DIR}/pc-consumer" "pkg-config")

# quorvel_add_exercise: a green, a red, a crashing exercise, one that reads
# past a vector, built with AddressSanitizer, and a green one that shows
# fewer checks than its CHECKS. With debug information the failures name
# the student's lines.
run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/exercises" -B "${WORK_DIR}/exercises"
    "-DCMAKE_PREFIX_PATH=${prefix}" ${compiler_args})
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/exercises")
execute_process(COMMAND "${CMAKE_CTEST_COMMAND}" --output-junit junit.xml --output-on-failure
    WORKING_DIRECTORY "${WORK_DIR}/exercises" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${out}" "20% tests passed, 4 tests failed out of 5" summary)
if(status EQUAL 0 OR summary EQUAL -1)
    message(FATAL_ERROR "ctest of the exercises (status ${status}):\n${out}\n${err}")
endif()
# The number of the line of an exercise that holds text.
function(line_of file text out)
    file(READ "${SOURCE_DIR}/exercises/${file}" content)
    string(FIND "${content}" "${text}" at)
    string(SUBSTRING "${content}" 0 ${at} before)
    string(REGEX REPLACE "[^\n]" "" newlines "${before}")
    string(LENGTH "${newlines}" count)
    math(EXPR number "${count} + 1")
    set(${out} ${number} PARENT_SCOPE)
endfunction()
set(wheres "")
if(WHERE)
    line_of(crash.cpp "    std::abort();" abort_line)
    line_of(overread.cpp "        total += values.data()[i];" read_line)
    list(APPEND wheres "(Aborted) at crash.cpp:${abort_line} in main" "at overread.cpp:${read_line} in sum")
endif()
list(APPEND wheres "incomplete      ${WORK_DIR}/exercises/too_few  2 boxes, 2 passed, 0 failed; 2 of 3 checks (--checks 3)")
foreach(where IN LISTS wheres)
    string(FIND "${out}" "${where}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "ctest's output does not name \"${where}\":\n${out}")
    endif()
endforeach()
file(READ "${WORK_DIR}/exercises/junit.xml" junit)
foreach(exercise IN ITEMS green red crash overread too_few)
    if(NOT junit MATCHES "<testcase name=\"${exercise}\"")
        message(FATAL_ERROR "the JUnit file of ctest does not name ${exercise}:\n${junit}")
    endif()
endforeach()
message(STATUS "exercises: ctest reports 1 of 5 passed, names the faults' wheres and the missing check, and its JUnit file names all five")
# A SANDBOX exercise where no sandbox can be made (no bwrap on PATH) is
# skipped, not failed.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PATH=${WORK_DIR}" "${CMAKE_CTEST_COMMAND}" -R "^green$"
    WORKING_DIRECTORY "${WORK_DIR}/exercises" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "Skipped")
    message(FATAL_ERROR "a SANDBOX exercise without bubblewrap (status ${status}):\n${out}\n${err}")
endif()
message(STATUS "exercises: without bubblewrap, the SANDBOX exercise is skipped")
