#ifndef MESSAGEBOXCATCHER_H
#define MESSAGEBOXCATCHER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

// Records and closes every modal message box while it exists, so slots that report through
// QMessageBox can run unattended. Question boxes are answered with answer() (No by default).
class MessageBoxCatcher : public QObject
{
    Q_OBJECT

public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        bool parentIsWindow;     // parent is the top-level window the box was asked for
        bool busyCursor;         // a WaitCursor override was active while the box was shown
    };

    explicit MessageBoxCatcher(QObject *parent = nullptr);

    void setAnswer(QMessageBox::StandardButton answer) { reply = answer; }
    const QList<Box> &boxes() const { return caught; }
    void clear() { caught.clear(); }

    // Texts of the caught boxes, in order: handy for QCOMPARE.
    QStringList texts() const;

private slots:
    void poll();

private:
    QTimer timer;
    QList<Box> caught;
    QMessageBox::StandardButton reply = QMessageBox::No;
};

#endif // MESSAGEBOXCATCHER_H
