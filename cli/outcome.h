#ifndef OUTCOME_H
#define OUTCOME_H

#include "commandline.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// One JSON object on a line of its own.
QString jsonLine(const QJsonObject &object);

// What became of a write's MAC. A unit goes through these in order and stops at one of them.
enum class MacState {
    None,           // read, test, reset: no MAC goes to the unit
    NotSent,        // write: no MAC frame went out
    NotStored,      // the next MAC could not be stored in the profile, so this one was not sent
    Sent,           // the frame went out; the unit did not confirm it
    Confirmed,      // the unit confirmed the frame; nothing read back
    NotVerified,    // --verify: confirmed, but the unit was not seen to hold it
    Verified,       // --verify: the unit was seen to hold the MAC sent
};

// Where the MAC sent came from.
enum class MacSource {
    AsLoaded,       // the profile's as loaded; the file stays as it is
    Reserved,       // taken from the profile, which holds the next one now
    LastOfRange,    // reserved, and it was the profile's LastMAC: the range is used up
};

// What became of one unit.
struct Outcome {
    int exitCode = ExitOk;
    QString message;        // the window's text for the failure; a line per key for --verify
    QString cause;          // what the line showed, when the unit failed
    QStringList groups;     // the groups written (or read) before any failure
    QString mac;            // read; of a write, the MAC sent (its frame went out), or empty
    QString cashDeskId;
    MacState macState = MacState::None;
    MacSource macSource = MacSource::AsLoaded;
    bool macReadBack = false;   // write --verify: what became of the MAC includes the read-back
    bool journalFailed = false; // a journal line of the unit could not be written

    bool macSent() const;
    // The address is nobody else's now, and the engineer needs to know which unit may hold it.
    bool macUsedUp() const;
    // exit, message (one line), groups, mac and cashDeskId (null when none); for a write
    // also macConfirmed and macVerified (null when no MAC was sent, macVerified too
    // without --verify).
    QJsonObject toJson() const;
    // "confirmed", "sent, not confirmed", "confirmed, verified", ...
    QString macStateText() const;
    // The line a unit of a series (or a write with --json) ends with; `unit` counts from 1, 0
    // for a write of one unit.
    QString summary(int unit, bool json) const;
};

#endif // OUTCOME_H
