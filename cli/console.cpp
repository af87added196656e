#include "console.h"

#include <QByteArray>

#include <cstdio>
#include <iostream>
#include <string>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <fcntl.h>
#include <io.h>
#endif

namespace {

#ifdef Q_OS_WIN
// A Windows console shows UTF-16 whatever its code page (866 or 1251 in a Russian cmd.exe or
// PowerShell); a file or a pipe gets UTF-8 bytes, as on Linux, and the line ends as written.
constexpr DWORD ConsoleChunk = 4096;        // characters per WriteConsoleW / ReadConsoleW
constexpr int MaxConsoleLine = 65536;       // what one line of input may hold
const QChar EndOfInput(0x1a);               // Ctrl+Z and Enter: end of input, as in cmd.exe

HANDLE consoleOf(DWORD standardHandle)
{
    const HANDLE handle = GetStdHandle(standardHandle);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}

bool writeConsole(HANDLE console, const QString &text)
{
    const auto *characters = reinterpret_cast<const wchar_t *>(text.utf16());
    DWORD left = DWORD(text.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(console, characters, qMin(left, ConsoleChunk), &written, nullptr)
            || written == 0)
            return false;
        characters += written;
        left -= written;
    }
    return true;
}

// Typed ahead and not yet asked for: a console read may bring more than one line.
QString consoleInput;

bool readConsoleLine(HANDLE console, QString &line)
{
    while (!consoleInput.contains(QLatin1Char('\n')) && consoleInput.size() < MaxConsoleLine) {
        wchar_t buffer[ConsoleChunk];
        DWORD got = 0;
        if (!ReadConsoleW(console, buffer, ConsoleChunk, &got, nullptr) || got == 0)
            break;
        consoleInput += QString::fromWCharArray(buffer, int(got));
    }
    if (consoleInput.isEmpty() || consoleInput.startsWith(EndOfInput)) {
        consoleInput.clear();
        return false;
    }
    const int end = consoleInput.indexOf(QLatin1Char('\n'));
    line = (end < 0 ? consoleInput : consoleInput.left(end)).trimmed();
    consoleInput.remove(0, end < 0 ? consoleInput.size() : end + 1);
    return true;
}
#endif

void write(std::FILE *stream, const QString &text)
{
#ifdef Q_OS_WIN
    if (const HANDLE console = consoleOf(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE)) {
        writeConsole(console, text);
        return;
    }
    // Text mode would make every \n a \r\n.
    _setmode(_fileno(stream), _O_BINARY);
#endif
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
#ifdef Q_OS_WIN
    if (const HANDLE console = consoleOf(STD_INPUT_HANDLE))
        return readConsoleLine(console, line);
#endif
    std::string bytes;
    if (!std::getline(std::cin, bytes))
        return false;
    line = QString::fromUtf8(bytes.data(), int(bytes.size())).trimmed();
    return true;
}

} // namespace Console
