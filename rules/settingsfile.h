#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include <QByteArray>

class QSettings;

// tallyconf.ini is shared by builds on Qt 5 and Qt 6 and by other Qt 5 programs. Qt 5's INI
// writer stores every character from U+007F up as a \x escape of its UTF-16 code unit, and
// its reader takes raw bytes of 0x80 and up as Latin-1; Qt 6 writes such characters as raw
// UTF-8. So every writer of the file flushes it with syncSettings(), which leaves it in Qt 5's
// form on either build.

// Flushes the settings like QSettings::sync(); on Qt 6 it then rewrites an INI file into the
// very bytes Qt 5 writes for the same keys and values, under the lock QSettings itself takes.
// False when the file could not be written.
bool syncSettings(QSettings &settings);

// The INI text with every raw UTF-8 character of a value turned into Qt 5's escapes: "\x" and
// the lower-case hex of each UTF-16 code unit, and, as Qt 5 does, an ASCII hex digit right after
// such an escape escaped too (its reader would take it as part of the number). DEL becomes
// "\x7f". Section lines, keys, comments, escapes already there and bytes that are not valid
// UTF-8 stay as they are. Lines are found the way QSettings reads them.
QByteArray qt5IniText(const QByteArray &ini);

#endif // SETTINGSFILE_H
