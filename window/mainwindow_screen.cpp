#include "mainwindow.h"

#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QStyle>
#include <QWindow>

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (fittedToScreen)
        return;
    fittedToScreen = true;
    fitToScreen(screenRoom());
}

QRect MainWindow::screenRoom() const
{
    const QWindow *handle = windowHandle();
    const QScreen *screen = handle ? handle->screen() : nullptr;
    return screen ? screen->availableGeometry() : QRect();
}

// The form keeps its widgets and their order; only a frameless scroll area comes between it and
// the window, so every button stays reachable by the scroll bar, the wheel and Tab.
void MainWindow::fitToScreen(const QRect &room)
{
    const QSize frame = frameGeometry().size() - size();
    const QSize space = room.size() - frame;
    if (room.isEmpty() || (width() <= space.width() && height() <= space.height()))
        return;

    QWidget *content = takeCentralWidget();
    formScroller = new QScrollArea(this);
    formScroller->setObjectName(QStringLiteral("formScroller"));
    formScroller->setFrameShape(QFrame::NoFrame);
    formScroller->setFocusPolicy(Qt::NoFocus);
    formScroller->setWidgetResizable(true);
    formScroller->setWidget(content);
    setCentralWidget(formScroller);
    // The window's minimum was the whole form's; it is the scroll area's from here on.
    layout()->activate();

    // As wide as before plus the vertical scroll bar, so the form scrolls one way only when the
    // screen is wide enough for that.
    const int bar = formScroller->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, formScroller);
    resize(qMin(width() + bar, space.width()), qMin(height(), space.height()));

    QRect outer(pos(), size() + frame);
    outer.moveLeft(qBound(room.left(), outer.left(), room.right() + 1 - outer.width()));
    outer.moveTop(qBound(room.top(), outer.top(), room.bottom() + 1 - outer.height()));
    if (outer.topLeft() != pos())
        move(outer.topLeft());
}

// A field the window points the engineer to may lie outside the part of the form in view: the
// whole field comes into view, or its start where the screen is narrower than it.
void MainWindow::bringIntoView(QWidget *field)
{
    if (!formScroller)
        return;
    const QPoint start = field->mapTo(formScroller->widget(), QPoint(0, 0));
    formScroller->ensureVisible(start.x() + field->width(), start.y() + field->height(), 0, 0);
    formScroller->ensureVisible(start.x(), start.y(), 0, 0);
}
