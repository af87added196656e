#include "fleetrun.h"

#include <QRunnable>
#include <QThreadPool>

void runUnits(int count, int jobs, const std::function<void(int unit)> &work)
{
    QThreadPool pool;
    pool.setMaxThreadCount(jobs);
    for (int unit = 0; unit < count; ++unit)
        pool.start(QRunnable::create([&work, unit] { work(unit); }));
    pool.waitForDone();
}
