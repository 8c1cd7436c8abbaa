# The fault points (fault/fault_point.h): compiled to nothing, unless
# QUORVEL_FAULT_POINTS builds them with libfiu (Debian's libfiu-dev, and
# fiu-utils for the POSIX preload that fails libc's calls). Such a build is
# for the fault-injection table only: libfiu's fiu_fail takes a lock and
# allocates, so the signal-safe zone is not what zone.symbols checks there.
#
# Sets QUORVEL_FIU_PRELOAD (the preload) when QUORVEL_FAULT_POINTS is on.
set(QUORVEL_FAULT_DIR "${CMAKE_CURRENT_LIST_DIR}/../fault")
if(QUORVEL_FAULT_POINTS)
    find_path(QUORVEL_FIU_INCLUDE_DIR fiu.h)
    find_library(QUORVEL_FIU_LIBRARY fiu)
    find_file(QUORVEL_FIU_PRELOAD fiu_posix_preload.so PATHS /usr/lib/fiu /usr/local/lib/fiu
        PATH_SUFFIXES fiu)
    if(NOT QUORVEL_FIU_INCLUDE_DIR OR NOT QUORVEL_FIU_LIBRARY OR NOT QUORVEL_FIU_PRELOAD)
        message(FATAL_ERROR "QUORVEL_FAULT_POINTS needs libfiu: install Debian's libfiu-dev and "
            "fiu-utils (tools/install-deps.sh ci does).")
    endif()
endif()

# The fault points of target's sources: fault/ to include, and with
# QUORVEL_FAULT_POINTS libfiu itself.
function(quorvel_fault_points target)
    target_include_directories(${target} PRIVATE "${QUORVEL_FAULT_DIR}")
    if(QUORVEL_FAULT_POINTS)
        target_compile_definitions(${target} PRIVATE FIU_ENABLE)
        target_include_directories(${target} PRIVATE "${QUORVEL_FIU_INCLUDE_DIR}")
        get_target_property(type ${target} TYPE)
        if(NOT type STREQUAL "OBJECT_LIBRARY")
            target_link_libraries(${target} PRIVATE "${QUORVEL_FIU_LIBRARY}")
        endif()
    endif()
endfunction()
