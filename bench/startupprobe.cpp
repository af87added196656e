// The configurator's own main, plus a watcher that notes when the window has first painted
// itself, prints the monotonic clock at that moment and ends the program. The benchmark starts
// it many times to see how long an engineer waits for the window.

#include "benchmath.h"
#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <cstdio>

#ifdef Q_OS_LINUX
#include <time.h>
#endif

namespace {

// Linux: the same clock the benchmark reads just before it starts this process.
qint64 monotonicNs()
{
#ifdef Q_OS_LINUX
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
#else
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
#endif
}

constexpr int GiveUpMs = 10000;

class FirstPaintWatcher : public QObject
{
public:
    explicit FirstPaintWatcher(qint64 mainNs) { times.mainNs = mainNs; }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && times.firstPaintNs == 0
            && qobject_cast<MainWindow *>(watched)) {
            times.firstPaintNs = monotonicNs();
            // The window and all its children paint in this same pass and the backing store
            // is flushed before the event loop looks at timers again.
            QTimer::singleShot(0, this, [this] {
                times.paintedNs = monotonicNs();
                std::printf("%s\n", BenchMath::probeLine(times).constData());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    BenchMath::ProbeTimes times;
};

} // namespace

int main(int argc, char *argv[])
{
    const qint64 mainNs = monotonicNs();
    QApplication application(argc, argv);
    FirstPaintWatcher watcher(mainNs);
    application.installEventFilter(&watcher);
    QTimer::singleShot(GiveUpMs, &application, [] {
        std::fprintf(stderr, "tallyconf-startup-probe: the window never painted\n");
        QCoreApplication::exit(3);
    });
    MainWindow window;
    window.show();
    return application.exec();
}
