#ifndef JOURNAL_H
#define JOURNAL_H

#include <QJsonObject>
#include <QString>

// The provisioning record: one JSON object per line and unit, appended. Several tallyctl
// processes (units on several ports at once) may share one file: each line goes in whole under
// a lock file beside it, in a single write to a file opened for appending.
class Journal
{
public:
    explicit Journal(const QString &path = QString()) : path(path) {}

    bool isEnabled() const { return !path.isEmpty(); }
    // Whether a line can be appended, checked before any unit is touched.
    bool check(QString &error) const;
    bool append(const QJsonObject &entry, QString &error) const;

private:
    QString path;
};

#endif // JOURNAL_H
