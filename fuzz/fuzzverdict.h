#ifndef FUZZVERDICT_H
#define FUZZVERDICT_H

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// libFuzzer knows crashes, not wrong answers: a broken check becomes an abort, with the reason
// on stderr next to the saved input.
inline int fuzzVerdict(QString (*entry)(const QByteArray &), const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     int(size));
    const QString fault = entry(input);
    if (!fault.isEmpty()) {
        std::fprintf(stderr, "check failed: %s\n", fault.toLocal8Bit().constData());
        std::abort();
    }
    return 0;
}

#endif // FUZZVERDICT_H
