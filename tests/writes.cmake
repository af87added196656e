# Writing to the unit: field conversions, encoders, group writes, write-all. Simulators on hosts of
# the run's loopback network (testaddress.h): tst_encoders 7, tst_groupwrites 8, tst_writeall 9.
tally_add_test(tst_fieldtext SOURCES tst_fieldtext.cpp LIBS tallywindow TIMEOUT 20)
tally_add_test(tst_encoders SOURCES tst_encoders.cpp tst_writeform.h LIBS tallywindow TIMEOUT 30)
tally_add_test(tst_groupwrites SOURCES tst_groupwrites.cpp tst_writeform.h LIBS tallywindow TIMEOUT 30)
tally_add_test(tst_writeall SOURCES tst_writeall.cpp tst_writeform.h LIBS tallywindow TIMEOUT 30)
