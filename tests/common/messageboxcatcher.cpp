#include "messageboxcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>

MessageBoxCatcher::MessageBoxCatcher(QObject *parent) : QObject(parent)
{
    // The timer fires inside the nested event loop of a modal box; 5 ms keeps tests quick
    // without spinning while a slot waits for the unit.
    connect(&timer, &QTimer::timeout, this, &MessageBoxCatcher::poll);
    timer.start(5);
}

QStringList MessageBoxCatcher::texts() const
{
    QStringList result;
    for (const Box &box : caught)
        result << box.text;
    return result;
}

void MessageBoxCatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    const QCursor *cursor = QGuiApplication::overrideCursor();
    QWidget *parent = box->parentWidget();
    caught.append({box->icon(), box->windowTitle(), box->text(), box->standardButtons(),
                   parent && parent->isWindow() && !qobject_cast<QMessageBox *>(parent),
                   cursor && cursor->shape() == Qt::WaitCursor});

    QMessageBox::StandardButton answer = QMessageBox::Ok;
    if (!(box->standardButtons() & QMessageBox::Ok))
        answer = (box->standardButtons() & reply) ? reply : QMessageBox::No;
    if (QAbstractButton *button = box->button(answer))
        button->click();
    else
        box->done(answer);
}
