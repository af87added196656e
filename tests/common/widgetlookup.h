#ifndef WIDGETLOOKUP_H
#define WIDGETLOOKUP_H

// The window's widgets by object name, as the form names them.

#include <QLineEdit>
#include <QObject>
#include <QString>

// Null, with a warning naming what was looked for, when the form has no such widget.
template <typename T>
T *child(const QObject &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qWarning("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

// The text of a line edit; empty when there is none of that name.
inline QString text(const QObject &window, const QString &name)
{
    const QLineEdit *edit = child<QLineEdit>(window, name);
    return edit ? edit->text() : QString();
}

#endif // WIDGETLOOKUP_H
