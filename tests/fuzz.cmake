# The fuzzers' saved inputs (fuzz/corpus, fuzz/regressions) replayed through the same checks,
# built with the ordinary compiler and no libFuzzer. No unit on the network: the link is fed
# from memory.
tally_add_test(tst_fuzzregressions
    SOURCES tst_fuzzregressions.cpp
            ${PROJECT_SOURCE_DIR}/fuzz/fuzzentries.h ${PROJECT_SOURCE_DIR}/fuzz/fuzzentries.cpp
            ${PROJECT_SOURCE_DIR}/fuzz/memorydevice.h ${PROJECT_SOURCE_DIR}/fuzz/memorydevice.cpp
            ${PROJECT_SOURCE_DIR}/fuzz/settingsentry.cpp
            ${PROJECT_SOURCE_DIR}/fuzz/profileentry.cpp
    LIBS tallydevice tallyrules
    TIMEOUT 60)
target_include_directories(tst_fuzzregressions PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
target_compile_definitions(tst_fuzzregressions PRIVATE
    FUZZ_INPUTS_DIR="${TALLYCONF_RUNTIME_DRIVE}${PROJECT_SOURCE_DIR}/fuzz")
