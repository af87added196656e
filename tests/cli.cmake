# tallyctl run as a program against the unit simulator on host 10 of the run's loopback network
# (testaddress.h; and, for the serial path, the simulator program on a pseudo-terminal); the window
# writes the same files for comparison.
tally_add_test(tst_tallyctl SOURCES tst_tallyctl.cpp LIBS tallywindow TIMEOUT 90)
target_compile_definitions(tst_tallyctl PRIVATE
    TALLYCTL_PATH="${TALLYCONF_RUNTIME_DRIVE}$<TARGET_FILE:tallyctl>"
    UNIT_SIMULATOR_PATH="${TALLYCONF_RUNTIME_DRIVE}$<TARGET_FILE:unit-simulator>")
add_dependencies(tst_tallyctl tallyctl unit-simulator)

# The command line in-process: parsing, the help made from the command table, and the man page
# and the bash completion checked against that table.
tally_add_test(tst_commandline SOURCES tst_commandline.cpp LIBS tallyctlcore TIMEOUT 20)
target_compile_definitions(tst_commandline PRIVATE
    TALLYCTL_COMPLETION_PATH="${TALLYCONF_RUNTIME_DRIVE}${PROJECT_SOURCE_DIR}/packaging/completion/tallyctl"
    TALLYCTL_MAN_PATH="${TALLYCONF_RUNTIME_DRIVE}${PROJECT_SOURCE_DIR}/packaging/man/tallyctl.1")

# The MAC series in-process: the file lock, the journal and the handout of a profile's next MAC.
tally_add_test(tst_macseries SOURCES tst_macseries.cpp LIBS tallyctlcore TIMEOUT 30)

# The fleet: the inventory as read from its bytes, and plan against the simulator's fleet of units
# on hosts 200 and up, port 20177.
tally_add_test(tst_fleet SOURCES tst_fleet.cpp LIBS tallyctlcore TIMEOUT 120)
target_compile_definitions(tst_fleet PRIVATE
    TALLYCTL_PATH="${TALLYCONF_RUNTIME_DRIVE}$<TARGET_FILE:tallyctl>"
    UNIT_SIMULATOR_PATH="${TALLYCONF_RUNTIME_DRIVE}$<TARGET_FILE:unit-simulator>")
add_dependencies(tst_fleet tallyctl unit-simulator)
