# Installs the build tree into a scratch prefix, then builds and runs a small
# consumer against it, once through find_package and once through pkg-config.
# Variables: BUILD_DIR, SOURCE_DIR, WORK_DIR, CXX, FLAGS (extra compile and
# link flags, such as sanitizers, as a ;-list).
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

run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

# find_package(quorvel CONFIG REQUIRED)
list(JOIN FLAGS " " flag_string)
run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/consumer" -B "${WORK_DIR}/cmake-build"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}"
    "-DCMAKE_CXX_FLAGS=${flag_string}" "-DCMAKE_EXE_LINKER_FLAGS=${flag_string}")
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
