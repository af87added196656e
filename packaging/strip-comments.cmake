# Run by CPack on the staged files before it builds the package: CPack's own strip leaves the
# compiler's identification (.comment) in the binaries, which a Debian package does without.
if(NOT CPACK_GENERATOR STREQUAL "DEB" OR NOT CPACK_TALLY_STRIP)
    return()
endif()
set(bindir "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_TALLY_BINDIR}")
file(GLOB binaries "${bindir}/*")
foreach(binary IN LISTS binaries)
    execute_process(COMMAND "${CPACK_TALLY_STRIP}" --remove-section=.comment "${binary}"
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "cannot strip ${binary}")
    endif()
endforeach()
