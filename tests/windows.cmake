# The Windows build under Wine: tallyctl.exe in a console (127.0.0.13) and on a COM port mapped
# to the Linux unit simulator's pseudo-terminal (127.0.0.12), and the zip and the installer.
if(NOT WIN32 OR NOT TALLYCONF_WINE)
    return()
endif()

add_test(NAME windows_console
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/console_check.sh
                 ${TALLYCONF_WINE} ${TALLYCONF_WINEPREFIX} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set_tests_properties(windows_console PROPERTIES TIMEOUT 120)

# The processes of one Wine prefix share its ids, and Wine gives an id again at once: a
# tallyctl.exe of another test can get the id of one tst_tallyctl killed, and the lock the dead
# one left then looks held by a live tallyctl until that one ends. Programs that start
# tallyctl.exe in the suite's prefix take turns (tst_benchsupport joins in bench/).
set_tests_properties(tst_tallyctl windows_console PROPERTIES RESOURCE_LOCK wine-process-ids)

# The COM port needs a Linux build of the simulator (and of tallyctl, to compare with):
# -DTALLYCONF_HOST_BUILD=<a Linux build tree of this project>, as scripts/windows.sh gives it.
set(TALLYCONF_HOST_BUILD "" CACHE PATH "Linux build tree with unit-simulator and tallyctl, for the COM port test")
if(TALLYCONF_HOST_BUILD)
    add_test(NAME windows_serial
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/serial_check.sh
                     ${TALLYCONF_WINE} ${TALLYCONF_WINEPREFIX} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
                     ${TALLYCONF_HOST_BUILD})
    set_tests_properties(windows_serial PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
else()
    message(STATUS "No TALLYCONF_HOST_BUILD: the COM port test (windows_serial) is left out")
endif()

# The zip and the installer, built from this tree and tried in a Wine prefix of their own.
if(TALLYCONF_MAKENSIS)
    add_test(NAME package_windows
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/package_check.sh
                     ${CMAKE_BINARY_DIR} ${TALLYCONF_WINE} ${CMAKE_OBJDUMP})
    set_tests_properties(package_windows PROPERTIES TIMEOUT 300)
endif()
