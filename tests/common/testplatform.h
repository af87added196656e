#ifndef TESTPLATFORM_H
#define TESTPLATFORM_H

// What the tests allow for on the system they run on.

#include <QByteArray>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

// INI text as Qt writes it here, from text written with \n: on Windows every line ends in CR LF.
inline QByteArray iniLines(QByteArray text)
{
#ifdef Q_OS_WIN
    text.replace("\n", "\r\n");
#endif
    return text;
}

// Whether this Windows program runs under Wine, whose serial ports lack some of Windows' ways.
inline bool runningUnderWine()
{
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

#endif // TESTPLATFORM_H
