# The widget-free rules: the settings file in the form both builds read.
tally_add_test(tst_settingsfile SOURCES tst_settingsfile.cpp LIBS tallyrules TIMEOUT 20)
# The profile's keys and the MAC address type.
tally_add_test(tst_profilekeys SOURCES tst_profilekeys.cpp LIBS tallyrules TIMEOUT 20)
