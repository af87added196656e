#ifndef UNITFAULT_H
#define UNITFAULT_H

#include <QByteArray>
#include <QString>

// One way the simulated unit misbehaves, written KIND[=VALUE][@CMD[/ARG]]:
//   nak         refuse with 0x15 and say nothing more     noack     send nothing at all
//   silent      acknowledge, then never answer            badsum    answer with a wrong checksum
//   badstx      answer starting with a byte other than 0x02
//   badlen      answer data one byte longer than it should be     short    one byte shorter
//   result=HH   result byte HH instead of 00 (writes, reset, tests, status parts)
//   delay=MS    wait MS ms between the acknowledgement and the answer
//   gap=MS      pause MS ms after the answer's first byte
//   drip=MS     send the answer a byte at a time, each MS ms after the one before
//   priority=N  a read of group 10 reports priority N
//   endless     status dialogues never end
//   forget      confirm writes (result 00) but keep the old values
// CMD is the hex command code (07, 60..69, 26, 55, 56, 05, 58) and ARG the hex first argument
// (group for 07, test for 58, kind for 26). Without '@' the fault hits every request.
struct UnitFault
{
    enum Kind { Nak, NoAck, Silent, BadSum, BadStx, BadLen, Short, Result, Delay, Gap, Drip,
                Priority,
                Endless, Forget };

    Kind kind = Nak;
    int value = 0;
    int command = -1;       // -1: every command
    int argument = -1;      // -1: every first argument

    static bool parse(const QString &text, UnitFault *out, QString *error = nullptr);
    static QString syntaxHelp();

    // Whether this fault hits a request with these data bytes (command code first).
    bool appliesTo(const QByteArray &requestData) const;
    QString toString() const;
};

#endif // UNITFAULT_H
