# Passes when groff reads the manual page PAGE without a warning.
# Variables: GROFF, PAGE.
execute_process(COMMAND "${GROFF}" -man -ww -z "${PAGE}"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE warnings)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "groff -man -ww -z ${PAGE} (status ${status}):\n${warnings}")
endif()
