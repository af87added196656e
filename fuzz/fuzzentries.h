#ifndef FUZZENTRIES_H
#define FUZZENTRIES_H

#include <QByteArray>
#include <QString>

// One input in, one verdict out: an empty string when everything the code did with the input
// holds up, otherwise what went wrong. The libFuzzer programs abort on a verdict; the replay
// test runs the saved inputs through the same functions with the ordinary compiler.
namespace FuzzEntry {

// First byte: the operation (the six reads, the eight writes, the reset, both status
// dialogues, both tests, the whole read-all sequence). Writes take their record from the next
// bytes, the reset its kind from the next byte. The rest is what the unit sends back.
QString link(const QByteArray &input);

// First byte: which of the pure frame and record functions; the rest is its input.
QString frame(const QByteArray &input);

// First byte: what else to set up (fault lines, a JSON state, chunking). The simulated unit's
// request parsing must not care how its input is chunked.
QString unitEngine(const QByteArray &input);

// A settings file as some Qt wrote or an engineer edited it. Its rewrite into Qt 5's form must
// be stable, and where the file is UTF-8 it must read back, on this Qt, to the values the file
// held. Through the one reader (SettingsFile) a line that reads as written reads the same on its
// own, and setting the first such key changes that value alone.
QString settingsFile(const QByteArray &input);

// The value rules on a profile's texts (first byte: read as UTF-8 or as Latin-1; then one text
// per line, in the settings file's key order). A rejection names the first bad key and its
// group alone is rejected the same way; what is accepted, read back as a unit would show it, is
// accepted again and sends the same bytes; the next MAC is one more, for exactly the MACs the
// rules take, and a series without LastMAC hands out a MAC only when it is a unit's and the next
// one stays in its block.
QString profile(const QByteArray &input);

} // namespace FuzzEntry

#endif // FUZZENTRIES_H
