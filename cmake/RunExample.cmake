# Runs PROGRAM with INPUT on standard input, keeps its standard output in
# OUTPUT and prints it readably: the document, then each box's text as read
# from the memory area through its pos and len.
execute_process(COMMAND "${PROGRAM}"
    INPUT_FILE "${INPUT}"
    OUTPUT_FILE "${OUTPUT}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} failed: ${status}")
endif()

file(SIZE "${OUTPUT}" total)
file(READ "${OUTPUT}" stream)  # stops at the first NUL, past the document
string(FIND "${stream}" "\n---\n" separator)
string(SUBSTRING "${stream}" 0 ${separator} document)
math(EXPR memory_start "${separator} + 5")
math(EXPR memory_size "${total} - ${memory_start}")

message("---- document (${separator} characters + newline) ----\n${document}")
message("---- memory area: ${memory_size} bytes; box texts ----")
string(REGEX MATCHALL "Text_correctness_[0-9]+:[^T]*pos: [0-9]+\n  len: [0-9]+" texts "${document}")
foreach(text IN LISTS texts)
    string(REGEX MATCH "Text_correctness_([0-9]+)" _ "${text}")
    set(number "${CMAKE_MATCH_1}")
    string(REGEX MATCH "pos: ([0-9]+)\n  len: ([0-9]+)" _ "${text}")
    math(EXPR offset "${memory_start} + ${CMAKE_MATCH_1}")
    set(label "")
    if(CMAKE_MATCH_2 GREATER 0)
        file(READ "${OUTPUT}" label OFFSET ${offset} LIMIT ${CMAKE_MATCH_2})
    endif()
    message("box ${number}: \"${label}\"")
endforeach()
