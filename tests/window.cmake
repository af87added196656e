# The window. tst_readall runs the unit simulator on host 5 of the run's loopback network
# (testaddress.h), tst_servicetests on host 6; tst_form and tst_defaults need no unit.
tally_add_test(tst_form SOURCES tst_form.cpp LIBS tallywindow TIMEOUT 30)
tally_add_test(tst_defaults SOURCES tst_defaults.cpp LIBS tallywindow TIMEOUT 30)
tally_add_test(tst_readall SOURCES tst_readall.cpp LIBS tallywindow TIMEOUT 30)
tally_add_test(tst_servicetests SOURCES tst_servicetests.cpp LIBS tallywindow TIMEOUT 30)
