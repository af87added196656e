#include "benchmath.h"

#include <QList>

#include <algorithm>

namespace BenchMath {

namespace {

constexpr int BitsPerByte = 10;     // 8N1

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

Summary summarize(QVector<double> samples)
{
    Summary summary;
    summary.count = samples.size();
    if (samples.isEmpty())
        return summary;
    std::sort(samples.begin(), samples.end());
    const int middle = samples.size() / 2;
    summary.median = samples.size() % 2 ? samples.at(middle)
                                        : (samples.at(middle - 1) + samples.at(middle)) / 2;
    summary.max = samples.last();
    return summary;
}

double wireMs(qint64 bytes, int baud)
{
    if (baud <= 0)
        return 0;
    return double(bytes) * BitsPerByte * 1000.0 / baud;
}

bool parseFrameLog(const QByteArray &text, QList<QByteArray> *frames)
{
    QList<QByteArray> parsed;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        QByteArray frame;
        for (const QByteArray &pair : line.simplified().split(' ')) {
            if (pair.size() != 2 || !isHexDigit(pair.at(0)) || !isHexDigit(pair.at(1)))
                return false;
            frame.append(QByteArray::fromHex(pair));
        }
        parsed.append(frame);
    }
    *frames = parsed;
    return true;
}

qint64 totalBytes(const QList<QByteArray> &frames)
{
    qint64 total = 0;
    for (const QByteArray &frame : frames)
        total += frame.size();
    return total;
}

bool parseProbeLine(const QByteArray &output, ProbeTimes *times)
{
    // The probe's line may follow whatever Qt printed as warnings; take the last one that fits.
    const QList<QByteArray> lines = output.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        ProbeTimes found;
        int seen = 0;
        for (const QByteArray &field : line->simplified().split(' ')) {
            const int equals = field.indexOf('=');
            if (equals <= 0)
                continue;
            bool ok = false;
            const qint64 value = field.mid(equals + 1).toLongLong(&ok);
            if (!ok || value < 0)
                continue;
            const QByteArray key = field.left(equals);
            if (key == "main-ns") {
                found.mainNs = value;
                seen |= 1;
            } else if (key == "first-paint-ns") {
                found.firstPaintNs = value;
                seen |= 2;
            } else if (key == "painted-ns") {
                found.paintedNs = value;
                seen |= 4;
            }
        }
        if (seen == 7 && found.mainNs <= found.firstPaintNs && found.firstPaintNs <= found.paintedNs) {
            *times = found;
            return true;
        }
    }
    return false;
}

QByteArray probeLine(const ProbeTimes &times)
{
    return "main-ns=" + QByteArray::number(times.mainNs)
        + " first-paint-ns=" + QByteArray::number(times.firstPaintNs)
        + " painted-ns=" + QByteArray::number(times.paintedNs);
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace BenchMath
