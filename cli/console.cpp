#include "console.h"

#include <QByteArray>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

namespace Console {

void out(const QString &text)
{
    write(stdout, text);
}

void err(const QString &text)
{
    write(stderr, text);
}

bool readLine(QString &line)
{
    std::string bytes;
    if (!std::getline(std::cin, bytes))
        return false;
    line = QString::fromUtf8(bytes.data(), int(bytes.size())).trimmed();
    return true;
}

} // namespace Console
