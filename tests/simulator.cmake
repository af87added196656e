# The unit simulator: engine on its own, then the server, fixture and program on host 2 of the run's
# loopback network (testaddress.h).
tally_add_test(tst_unitengine SOURCES tst_unitengine.cpp TIMEOUT 30)
tally_add_test(tst_simulatorserver SOURCES tst_simulatorserver.cpp TIMEOUT 30)
target_compile_definitions(tst_simulatorserver PRIVATE
    UNIT_SIMULATOR_PATH="${TALLYCONF_RUNTIME_DRIVE}$<TARGET_FILE:unit-simulator>")
add_dependencies(tst_simulatorserver unit-simulator)
