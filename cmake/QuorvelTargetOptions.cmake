# Warnings, sanitizers, coverage and char signedness for the project's own targets, always PRIVATE so
# that nothing leaks into consumers of the installed package.
function(quorvel_target_options target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
            $<$<BOOL:${QUORVEL_WARNINGS_AS_ERRORS}>:-Werror>)
        if(QUORVEL_CHAR_SIGNEDNESS)
            target_compile_options(${target} PRIVATE -f${QUORVEL_CHAR_SIGNEDNESS}-char)
        endif()
        if(QUORVEL_COVERAGE)
            target_compile_options(${target} PRIVATE --coverage -O0)
            target_link_options(${target} PRIVATE --coverage)
        endif()
        if(QUORVEL_SANITIZE)
            set(flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
            target_compile_options(${target} PRIVATE ${flags})
            target_link_options(${target} PRIVATE ${flags})
        endif()
    endif()
endfunction()
