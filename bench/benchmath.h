#ifndef BENCHMATH_H
#define BENCHMATH_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

// The arithmetic and parsing behind the benchmark table, kept free of I/O so it can be checked
// on its own.
namespace BenchMath {

struct Summary {
    int count = 0;
    double median = 0;
    double max = 0;
};

// Median (the mean of the middle two for an even count) and maximum; all zero for no samples.
Summary summarize(QVector<double> samples);

// How long an 8N1 line needs to carry this many bytes: a start bit, eight data bits and a stop
// bit each, nothing in between.
double wireMs(qint64 bytes, int baud);

// The unit simulator's request log: one frame a line as hex pairs ("02 02 07 06 03"). Returns
// false, leaving frames untouched, on a line that is not whole hex bytes.
bool parseFrameLog(const QByteArray &text, QList<QByteArray> *frames);

qint64 totalBytes(const QList<QByteArray> &frames);

// What the start-up probe prints once the window has painted itself:
// "main-ns=N first-paint-ns=N painted-ns=N", monotonic clock readings in nanoseconds.
struct ProbeTimes {
    qint64 mainNs = 0;
    qint64 firstPaintNs = 0;
    qint64 paintedNs = 0;
};
bool parseProbeLine(const QByteArray &output, ProbeTimes *times);
QByteArray probeLine(const ProbeTimes &times);

// "12.3" style: a fixed number of decimals, for the table.
QString number(double value, int decimals = 1);

} // namespace BenchMath

#endif // BENCHMATH_H
