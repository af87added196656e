# Device layer. tst_devicelink runs the unit simulator on host 3 of the run's loopback network
# (testaddress.h).
tally_add_test(tst_frame SOURCES tst_frame.cpp LIBS tallydevice TIMEOUT 30)
tally_add_test(tst_serialpath SOURCES tst_serialpath.cpp LIBS tallydevice TIMEOUT 30)
tally_add_test(tst_devicelink SOURCES tst_devicelink.cpp LIBS tallydevice TIMEOUT 60)
