#include "fleetrun.h"

#include <QRunnable>
#include <QTcpSocket>
#include <QThreadPool>

void runUnits(int count, int jobs, const std::function<void(int unit)> &work)
{
    // The network's first socket registers Qt's types for it: once, here, before the workers
    // would race to.
    { QTcpSocket first; }
    QThreadPool pool;
    pool.setMaxThreadCount(jobs);
    for (int unit = 0; unit < count; ++unit)
        pool.start(QRunnable::create([&work, unit] { work(unit); }));
    pool.waitForDone();
}
