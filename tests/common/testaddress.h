#ifndef TESTADDRESS_H
#define TESTADDRESS_H

#include <QCoreApplication>
#include <QString>

// The loopback address `host` of this run's own network, 127.A.B.host, so that two suites at
// once (two checkouts, the Windows suite under Wine beside a Linux one) and a benchmark never
// meet on an address. A.B come from TALLYCONF_TEST_RUN when the script that starts a suite sets
// it (Wine numbers the processes of each prefix alike, so two Windows suites would meet on
// their ids), else from this process's id: a live process's id is nobody else's. Nothing of a
// run is ever in 127.0.0.0/24, where the demo's and the screenshot's units listen.
inline QString testAddress(int host)
{
    bool given = false;
    qint64 run = QString::fromLocal8Bit(qgetenv("TALLYCONF_TEST_RUN")).toLongLong(&given);
    if (!given || run < 0)
        run = QCoreApplication::applicationPid();
    return QStringLiteral("127.%1.%2.%3").arg(1 + (run >> 8) % 255).arg(run & 0xff).arg(host);
}

#endif // TESTADDRESS_H
