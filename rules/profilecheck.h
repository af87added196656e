#ifndef PROFILECHECK_H
#define PROFILECHECK_H

#include "valuerules.h"

#include <QStringList>

class SettingsFile;

// What the command line makes sure of in a profile file before it sends anything, beyond the
// value rules. The window shows every value it sends in its fields and the engineer sees what a
// cut or a garbled text became; tallyctl sends unseen, so the file must say exactly what goes to
// the unit. The messages are English, as tallyctl's own are.

// The keys a profile may hold in its general section: the 19 parameter keys, the window's
// IncrementMac, portNumber, portName and deviceAddress, and the command line's LastMAC.
const QStringList &profileFileKeys();

// Keys whose values no message repeats (they end up on terminals and in the journal):
// Profile::isSecret().
bool isSecretKey(const QString &key);

// False, with the rejection, for a file saved as UTF-16 (with a byte order mark or without),
// which Qt's INI reader cannot read as text at all.
bool checkProfileEncoding(const SettingsFile &file, Rejection &rejection);

// Checks, stopping at the first problem: the file is UTF-8 throughout; no key differs from a
// known one only in letter case; no known key is given twice; each of `needed` is there, reads
// as its line is written (SettingsFile::readsAsWritten, or that form in double quotes), is no
// longer than its field (Profile::maxLength); each of `optional` that is there reads as written.
// UseDHCP and IncrementMac must be true, false, 1 or 0 and Priority a decimal number, as
// written: Qt would read any other text as a value the engineer did not write.
bool checkProfileFile(const SettingsFile &file, const QStringList &needed, const QStringList &optional,
                      Rejection &rejection);

// What a write checks of a profile file before the channel opens, and what a plan checks of
// each unit's values: checkProfileFile() for the keys of the groups (and `optional`), then the
// value rules. Fills the profile as loaded and the records that would go out.
bool checkWriteProfile(const SettingsFile &file, const QList<WriteGroup> &groups, const QStringList &optional,
                       Profile &profile, WriteRecords &records, Rejection &rejection);

#endif // PROFILECHECK_H
