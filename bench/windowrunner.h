#ifndef WINDOWRUNNER_H
#define WINDOWRUNNER_H

#include "frontendrunner.h"
#include "mainwindow.h"
#include "messageboxcatcher.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

// Notes when the first message box of a run appears: for write-all that is the moment the
// engineer learns the outcome, while the box itself then waits for a click.
class BoxWatch : public QObject
{
public:
    void arm(const QElapsedTimer *runClock);
    qint64 firstShownNs() const { return shownNs; }
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const QElapsedTimer *clock = nullptr;
    qint64 shownNs = -1;
};

// The configurator's window on the "Ethernet" channel, its read-all and write-all run the way a
// click runs them: read-all must fill every parameter field without a box, write-all must end in
// the one success box.
class WindowRunner : public FrontEndRunner
{
public:
    WindowRunner();

    void connectTo(const QString &host) override;
    RunOutcome run(Operation operation) override;

    // Lets the window repaint and the unit notice the hang-up, as the seconds between two clicks
    // of an engineer would; none of it is timed.
    static void settle(int ms);

private:
    QStringList formSnapshot() const;
    QString checkRead();
    QString checkWrite(qint64 boxNs);

    MainWindow window;
    MessageBoxCatcher catcher;
    BoxWatch watch;
    QStringList readForm;
};

#endif // WINDOWRUNNER_H
