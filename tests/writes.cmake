# Writing to the unit: field conversions, encoders, group writes, write-all.
# Simulator addresses: tst_encoders 127.0.0.7, tst_groupwrites 127.0.0.8, tst_writeall 127.0.0.9.
tally_add_test(tst_fieldtext SOURCES tst_fieldtext.cpp LIBS tallywindow TIMEOUT 20)
