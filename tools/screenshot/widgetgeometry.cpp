// Shows the configurator's window on the current display, as the program itself shows it in this
// working folder, and prints where one of its widgets sits, so that a script can click that
// widget in the real program: "WINDOW_WIDTH WINDOW_HEIGHT X Y WIDTH HEIGHT", window coordinates.

#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>
#include <QWidget>
#include <QWindow>

namespace {

constexpr int ExposeWaitMs = 5000;

int fail(const QString &message)
{
    QTextStream(stderr) << "tallyconf-widget-geometry: " << message << '\n';
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2)
        return fail(QStringLiteral("usage: tallyconf-widget-geometry OBJECT_NAME"));

    MainWindow window;
    window.show();
    // The layout is settled once the window is on the screen; asking earlier gives the sizes of
    // the form before it was laid out.
    QElapsedTimer clock;
    clock.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed())) {
        if (clock.elapsed() > ExposeWaitMs)
            return fail(QStringLiteral("the window never appeared"));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    QCoreApplication::processEvents();

    const QWidget *widget = window.findChild<QWidget *>(arguments.at(1));
    if (!widget)
        return fail(QStringLiteral("the window has no widget named %1").arg(arguments.at(1)));
    if (!widget->isVisible())
        return fail(QStringLiteral("%1 is not shown").arg(arguments.at(1)));
    const QPoint topLeft = widget->mapTo(&window, QPoint(0, 0));
    QTextStream(stdout) << window.width() << ' ' << window.height() << ' ' << topLeft.x() << ' '
                        << topLeft.y() << ' ' << widget->width() << ' ' << widget->height() << '\n';
    return 0;
}
