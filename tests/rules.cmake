# The widget-free rules: the settings file in the form both builds read.
tally_add_test(tst_settingsfile SOURCES tst_settingsfile.cpp LIBS tallyrules TIMEOUT 20)
