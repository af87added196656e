#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>

// tallyctl's two streams: data on stdout, everything said to the person on stderr. Both are
// UTF-8 whatever the locale, since the unit's texts and the window's messages are Russian; a
// Windows console is written (and read) as UTF-16, which it shows right in any code page.
namespace Console {

void out(const QString &text);
void err(const QString &text);

// One line from stdin without its line end; false at the end of input.
bool readLine(QString &line);

} // namespace Console

#endif // CONSOLE_H
