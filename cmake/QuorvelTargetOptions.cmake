# Warnings and sanitizers for the project's own targets, always PRIVATE so
# that nothing leaks into consumers of the installed package.
function(quorvel_target_options target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
            $<$<BOOL:${QUORVEL_WARNINGS_AS_ERRORS}>:-Werror>)
        if(QUORVEL_SANITIZE)
            set(flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
            target_compile_options(${target} PRIVATE ${flags})
            target_link_options(${target} PRIVATE ${flags})
        endif()
    endif()
endfunction()
