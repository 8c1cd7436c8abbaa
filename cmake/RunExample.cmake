cmake_policy(VERSION 3.25)
# Runs PROGRAM with INPUT on standard input, keeps its standard output in
# OUTPUT and shows it the way a host would: the host's own lines, then each
# box with its background and its text read from the memory area.
file(READ "${INPUT}" sent)
message("---- sent on standard input ----\n${sent}")
execute_process(COMMAND "${PROGRAM}"
    INPUT_FILE "${INPUT}"
    OUTPUT_FILE "${OUTPUT}"
    ERROR_VARIABLE warnings
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} failed: ${status}\n${warnings}")
endif()
if(warnings)
    message("---- standard error ----\n${warnings}")
endif()

file(SIZE "${OUTPUT}" total)
file(READ "${OUTPUT}" stream)  # stops at the first NUL, past the document
string(FIND "${stream}" "\n---\n" separator)
string(SUBSTRING "${stream}" 0 ${separator} document)
math(EXPR memory_start "${separator} + 5")
math(EXPR memory_size "${total} - ${memory_start}")

string(REGEX MATCHALL "backgroundColor: [^\n]*" backgrounds "${document}")
string(REGEX MATCHALL "pos: [0-9]+\n  len: [0-9]+" texts "${document}")
list(LENGTH texts count)
message("---- received: ${total} bytes (document ${separator} characters, memory ${memory_size} bytes), ${count} boxes ----")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
    list(GET backgrounds ${i} background)
    list(GET texts ${i} text)
    string(REGEX MATCH "pos: ([0-9]+)\n  len: ([0-9]+)" _ "${text}")
    math(EXPR offset "${memory_start} + ${CMAKE_MATCH_1}")
    set(label "")
    if(CMAKE_MATCH_2 GREATER 0)
        file(READ "${OUTPUT}" label OFFSET ${offset} LIMIT ${CMAKE_MATCH_2})
    endif()
    string(REPLACE "backgroundColor: " "" background "${background}")
    math(EXPR number "${i} + 1")
    string(LENGTH "${background}" width)
    math(EXPR pad "20 - ${width}")
    string(REPEAT " " ${pad} padding)
    message("  box ${number}\t${background}${padding}${label}")
endforeach()
message("(full output stream in ${OUTPUT})")
