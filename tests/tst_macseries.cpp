// The MAC series in-process: the file lock it takes (and the journal and the settings file's saves
// take), the journal that puts an address on record, and the handout of a profile's next address.
// What only several processes show (two stations, a killed one) is tst_tallyctl's.

#include "filelock.h"
#include "forgedlock.h"
#include "journal.h"
#include "macseries.h"
#include "settingsfile.h"
#include "testmain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const QString ProfileFile = QStringLiteral("tallyconf.ini");
const QString JournalFile = QStringLiteral("journal.jsonl");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lock `lockPath` as a holder of the kind named left it or holds it: "object" (a FileLock of
// this process, returned), "ended" (a program here whose id no process has), "this process" (a
// lock naming this process that none of its objects holds: one that died had its id),
// "elsewhere" and "elsewhere, old" (another computer's), "empty", "unreadable", "folder".
std::unique_ptr<FileLock> makeHolder(const QString &holder, const QString &filePath)
{
    const QString lockPath = filePath + QStringLiteral(".lock");
    std::unique_ptr<FileLock> object;
    QByteArray forged;
    if (holder == QLatin1String("object")) {
        object.reset(new FileLock(filePath));
        if (!object->acquire(0))
            object.reset();
        return object;
    } else if (holder == QLatin1String("folder")) {
        QDir().mkdir(lockPath);
        return object;
    } else if (holder == QLatin1String("ended")) {
        forged = lockFileOf(0x7FFFFFF0, QByteArray());
    } else if (holder == QLatin1String("this process")) {
        forged = lockFileOf(QCoreApplication::applicationPid(), QByteArray(), true);
    } else if (holder.startsWith(QLatin1String("elsewhere"))) {
        forged = lockFileOf(4242, "other-station");
    } else if (holder == QLatin1String("unreadable")) {
        forged = "x";
    } else if (holder != QLatin1String("empty")) {
        return object;
    }
    writeFile(lockPath, forged);
    if (holder.endsWith(QLatin1String("old"))) {
        QFile lock(lockPath);
        if (lock.open(QIODevice::ReadWrite))
            lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
    }
    return object;
}

// A profile whose series moves on: the next unit's EthMAC and the keys beside it.
QByteArray profileWith(const QByteArray &macLines)
{
    return "[General]\nUseDHCP=false\n" + macLines + "\nIncrementMac=true\n[Shop]\nname=keep me\n";
}

} // namespace

class TestMacSeries : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void lock_data();
    void lock();
    void journal_data();
    void journal();
    void series_data();
    void series();
};

void TestMacSeries::init()
{
    for (const QString &path : {ProfileFile, JournalFile, QStringLiteral("linked.ini")}) {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(path);
        QFile::remove(path + QStringLiteral(".lock"));
        QDir().rmdir(path + QStringLiteral(".lock"));
    }
    QDir(QStringLiteral("linked")).removeRecursively();
}

void TestMacSeries::lock_data()
{
    QTest::addColumn<QString>("holder");        // see makeHolder(); "none" for a free lock
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("said");          // the notice, then failure(); PID and HOST stand
                                                // for this process's

    QTest::newRow("free") << "none" << 0 << true << QString();
    QTest::newRow("held by another object of this process") << "object" << 0 << false
        << "tallyconf.ini.lock is still held by tst_macseries (pid PID) on HOST after 0 s";
    QTest::newRow("left by a program here that has ended") << "ended" << 0 << true << QString();
    QTest::newRow("naming this process, held by none of its objects") << "this process" << 0 << true << QString();
    QTest::newRow("another computer's, recent") << "elsewhere" << 0 << false
        << "tallyconf.ini.lock is still held by tallyctl (pid 4242) on other-station after 0 s (another computer's "
           "lock counts as left over after 5 minutes; if no station runs there, delete the file)";
    QTest::newRow("another computer's, older than 5 minutes") << "elsewhere, old" << 0 << true << QString();
    // A program stopped between creating the lock file and writing its line into it.
    const QString empty = QStringLiteral("tallyconf.ini.lock is empty, as a program that stops while creating it "
                                         "leaves it; it is taken over once it has stayed so for 3 s");
    QTest::newRow("empty, a wait shorter than 3 s") << "empty" << 1000 << false
                                                    << empty + QStringLiteral(", longer than the wait of 1 s");
    QTest::newRow("empty: taken over after 3 s") << "empty" << 5000 << true
                                                 << empty + QStringLiteral("; waiting up to 5 s");
    QTest::newRow("unreadable, no wait") << "unreadable" << 0 << false
        << "tallyconf.ini.lock cannot be read, as a program that stops while creating it leaves it; it is taken "
           "over once it has stayed so for 3 s, longer than the wait of 0 s";
    QTest::newRow("a folder of the lock's name, however long the wait") << "folder" << 30000 << false
        << "tallyconf.ini.lock is a folder, not a lock file: remove or rename it";
}

// A lock whose holder is gone is taken over; one that is held, or cannot be, is not, and the
// holder's file stays as it was. Once the holder lets go, the lock is free again.
void TestMacSeries::lock()
{
    QFETCH(QString, holder);
    QFETCH(int, waitMs);
    QFETCH(bool, taken);
    QFETCH(QString, said);

    std::unique_ptr<FileLock> object = makeHolder(holder, ProfileFile);
    QVERIFY(holder != QLatin1String("object") || object);
    const QString lockPath = ProfileFile + QStringLiteral(".lock");
    const QByteArray before = fileBytes(lockPath);
    qint64 pid = 0;
    QString host;
    QString program;
    QLockFile(lockPath).getLockInfo(&pid, &host, &program);

    QStringList heard;
    {
        FileLock lock(ProfileFile);
        const bool acquired = lock.acquire(waitMs, [&heard](const QString &notice) { heard << notice; });
        if (!acquired)
            heard << lock.failure();
        QCOMPARE(acquired, taken);
        QCOMPARE(lock.isHeldElsewhere(), !taken && holder != QLatin1String("folder"));
        said.replace(QLatin1String("PID"), QString::number(QCoreApplication::applicationPid()))
            .replace(QLatin1String("HOST"), host);
        QCOMPARE(heard, said.isEmpty() ? QStringList() : QStringList{said});
        if (!taken)
            QCOMPARE(fileBytes(lockPath), before);
    }
    if (holder == QLatin1String("folder"))
        return;
    QCOMPARE(QFileInfo::exists(lockPath), !taken);
    object.reset();
    QFile::remove(lockPath);
    FileLock again(ProfileFile);
    QVERIFY(again.acquire(0));
}

void TestMacSeries::journal_data()
{
    QTest::addColumn<QString>("holder");        // of the journal's lock
    QTest::addColumn<bool>("checked");          // check(): a line can be appended
    QTest::addColumn<QString>("said");          // what append() says, or empty when it appends

    QTest::newRow("a line appended") << "none" << true << QString();
    QTest::newRow("left over by a program that has ended: appended") << "ended" << true << QString();
    QTest::newRow("held by another computer") << "elsewhere" << true
        << "cannot lock the journal journal.jsonl: journal.jsonl.lock is still held by tallyctl (pid 4242) on "
           "other-station after 0 s (another computer's lock counts as left over after 5 minutes; if no station "
           "runs there, delete the file)";
    QTest::newRow("a folder in place of its lock") << "folder" << false
        << "cannot lock the journal journal.jsonl: journal.jsonl.lock is a folder, not a lock file: remove or "
           "rename it";
#ifdef Q_OS_LINUX
    // The journal reaches a size limit amid the line (the signal for that ignored): the part is
    // cut off again, so that the next line, once there is room, starts a line of its own.
    QTest::newRow("the disk took only part of the line") << "size limit" << true
        << "cannot write the journal journal.jsonl: the disk took only part of the line";
#endif
}

// A line goes in whole at the end, under the journal's lock, or not at all.
void TestMacSeries::journal()
{
    QFETCH(QString, holder);
    QFETCH(bool, checked);
    QFETCH(QString, said);

    const QByteArray before = "{\"note\":\"" + QByteArray(2000, 'x') + "\"}\n";
    writeFile(JournalFile, before);
    const std::unique_ptr<FileLock> object = makeHolder(holder, JournalFile);
    const Journal journal(JournalFile);
    QString error;
    QCOMPARE(journal.check(error), checked);
    QJsonObject entry;
    entry.insert(QStringLiteral("exit"), 3);
    entry.insert(QStringLiteral("mac"), QStringLiteral("00-1a-2b-3c-4d-ff"));
#ifdef Q_OS_LINUX
    rlimit unlimited = {};
    const bool limited = holder == QLatin1String("size limit");
    if (limited) {
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        rlimit limit = unlimited;
        limit.rlim_cur = 2048;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
#endif
    error.clear();
    const bool appended = journal.append(entry, error);
#ifdef Q_OS_LINUX
    if (limited)
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
#endif
    QCOMPARE(error, said);
    QCOMPARE(appended, said.isEmpty());
    QCOMPARE(fileBytes(JournalFile), said.isEmpty() ? before + "{\"exit\":3,\"mac\":\"00-1a-2b-3c-4d-ff\"}\n" : before);
}

void TestMacSeries::series_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("setup");         // what else is so as the station starts
    QTest::addColumn<QString>("result");        // taken, last, refused, not recorded, not storable
    QTest::addColumn<QString>("said");          // why not, KEY: message or message
    QTest::addColumn<QString>("mac");           // handed out (or put on record only)
    QTest::addColumn<QString>("macAfter");      // EthMAC in the profile afterwards

    const QByteArray plain = profileWith("EthMAC=00-1a-2b-3c-4d-ff");
    QTest::newRow("the next MAC") << plain << QString() << "taken" << QString() << "00-1a-2b-3c-4d-ff"
                                  << "00-1a-2b-3c-4e-00";
    // The file as an editor on Windows leaves it: only the value of EthMAC changes.
    QByteArray edited = "\xEF\xBB\xBF; shop 7, line 2\n" + plain;
    edited.replace("\n", "\r\n").replace("\r\nIncrementMac=", "\r\n; moves on\r\nIncrementMac=");
    QTest::newRow("comments, CR LF, byte order mark kept") << edited << QString() << "taken" << QString()
                                                           << "00-1a-2b-3c-4d-ff" << "00-1a-2b-3c-4e-00";
    QTest::newRow("LastMAC lets the series leave the block")
        << profileWith("EthMAC=00-1a-2b-ff-ff-ff\nLastMAC=00-1a-2c-00-00-ff") << QString() << "taken" << QString()
        << "00-1a-2b-ff-ff-ff" << "00-1a-2c-00-00-00";
    QTest::newRow("LastMAC taken: the range used up") << profileWith("EthMAC=00-1a-2b-3c-4d-ff\nLastMAC=00-1a-2b-3c-4d-ff")
        << QString() << "last" << QString() << "00-1a-2b-3c-4d-ff" << "00-1a-2b-3c-4e-00";
    QTest::newRow("past LastMAC") << profileWith("EthMAC=00-1a-2b-3c-4e-06\nLastMAC=00-1a-2b-3c-4e-05") << QString()
        << "refused" << "EthMAC: 00-1a-2b-3c-4e-06 is past LastMAC 00-1a-2b-3c-4e-05: the range up to LastMAC is "
                        "used up" << QString() << "00-1a-2b-3c-4e-06";
    // Another station moved the address on, or wrote one no unit may have, since this one
    // first looked: the file as it is now counts.
    QTest::newRow("the profile changed under the station") << plain << "EthMAC=00-1a-2b-3c-4e-10" << "taken"
        << QString() << "00-1a-2b-3c-4e-10" << "00-1a-2b-3c-4e-11";
    QTest::newRow("the profile changed to an address no unit may have") << plain << "EthMAC=01-1a-2b-3c-4e-10"
        << "refused" << "EthMAC: 01-1a-2b-3c-4e-10 is a multicast address (the lowest bit of its first byte is "
                        "set), which no unit may have" << QString() << "01-1a-2b-3c-4e-10";
    QTest::newRow("the record not written: the address stays") << plain << "record fails" << "not recorded"
        << "no room" << "00-1a-2b-3c-4d-ff" << "00-1a-2b-3c-4d-ff";
    QTest::newRow("the profile's lock held by another computer") << plain << "elsewhere" << "refused"
        << "tallyconf.ini.lock is still held by tallyctl (pid 4242) on other-station after 0 s (another computer's "
           "lock counts as left over after 5 minutes; if no station runs there, delete the file)"
        << QString() << "00-1a-2b-3c-4d-ff";
    QTest::newRow("the journal's lock a folder: the profile's not taken") << plain << "journal folder" << "refused"
        << "journal.jsonl.lock is a folder, not a lock file: remove or rename it" << QString() << "00-1a-2b-3c-4d-ff";
    QTest::newRow("the profile read-only") << plain << "read-only" << "not storable"
        << "cannot store the next MAC in tallyconf.ini: the profile is read-only" << QString() << "00-1a-2b-3c-4d-ff";
#ifdef Q_OS_UNIX
    QTest::newRow("a second name by a hard link") << plain << "hard link" << "not storable"
        << "the profile tallyconf.ini has 2 names (hard links): stations using different ones would not share its "
           "lock, and storing the next MAC would split them; keep one name (a symbolic link is fine)"
        << QString() << "00-1a-2b-3c-4d-ff";
    // Every name of the profile leads to one lock and one file, saved by its resolved path.
    QTest::newRow("reached by a symbolic link, which stays one") << plain << "symbolic link" << "taken" << QString()
        << "00-1a-2b-3c-4d-ff" << "00-1a-2b-3c-4e-00";
#endif
}

// The address goes on record while the file still holds it, and only then does the file move
// on, by its EthMAC alone; a handout that stops leaves the file as it was and no lock behind.
void TestMacSeries::series()
{
    QFETCH(QByteArray, profile);
    QFETCH(QString, setup);
    QFETCH(QString, result);
    QFETCH(QString, said);
    QFETCH(QString, mac);
    QFETCH(QString, macAfter);

    writeFile(ProfileFile, profile);
    QString name = ProfileFile;
    std::unique_ptr<FileLock> holder;
    if (setup == QLatin1String("elsewhere"))
        holder = makeHolder(setup, ProfileFile);
    else if (setup == QLatin1String("journal folder"))
        holder = makeHolder(QStringLiteral("folder"), JournalFile);
    else if (setup == QLatin1String("read-only"))
        QVERIFY(QFile::setPermissions(ProfileFile, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
#ifdef Q_OS_UNIX
    else if (setup == QLatin1String("hard link"))
        QCOMPARE(::link(qPrintable(ProfileFile), "linked.ini"), 0);
    else if (setup == QLatin1String("symbolic link")) {
        name = QStringLiteral("linked/") + ProfileFile;
        QVERIFY(QDir().mkdir(QStringLiteral("linked")));
        QVERIFY(QFile::link(QFileInfo(ProfileFile).absoluteFilePath(), name));
    }
#endif

    MacSeries series(name, 0);
    QCOMPARE(series.path(), QFileInfo(ProfileFile).canonicalFilePath());
    QStringList recorded;
    QString heldThen;
    series.setRecord(JournalFile, [&](const QString &taken, QString &error) {
        recorded << taken;
        heldThen = SettingsFile(ProfileFile).settings().value(QStringLiteral("EthMAC")).toString();
        error = QStringLiteral("no room");
        return setup != QLatin1String("record fails");
    });
    if (setup.startsWith(QLatin1String("EthMAC=")))
        writeFile(ProfileFile, QByteArray(profile).replace("EthMAC=00-1a-2b-3c-4d-ff", setup.toLatin1()));
    const QByteArray before = fileBytes(ProfileFile);

    MacSeries::Handout handout;
    QString outcome = QStringLiteral("not storable");
    if (series.checkStorable(handout.rejection)) {
        handout = series.take();
        const QMap<MacSeries::Result, QString> names = {
            {MacSeries::Result::Taken, handout.last ? "last" : "taken"}, {MacSeries::Result::Refused, "refused"},
            {MacSeries::Result::NotRecorded, "not recorded"}, {MacSeries::Result::NotStored, "not stored"}};
        outcome = names.value(handout.result);
    }
    QCOMPARE(outcome, result);
    const Rejection &why = handout.rejection;
    QCOMPARE(why.key.isEmpty() ? why.message : why.key + QStringLiteral(": ") + why.message, said);
    const bool taken = result == QLatin1String("taken") || result == QLatin1String("last");
    if (taken)
        QCOMPARE(QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(handout.record.mac), 6).toHex('-')),
                 mac);
    QCOMPARE(recorded, mac.isEmpty() ? QStringList() : QStringList{mac});
    QCOMPARE(heldThen, mac);
    QCOMPARE(fileBytes(ProfileFile), taken ? QByteArray(before).replace("EthMAC=" + mac.toLatin1(), "EthMAC=" + macAfter.toLatin1())
                                       : before);
    QCOMPARE(SettingsFile(ProfileFile).settings().value(QStringLiteral("EthMAC")).toString(), macAfter);
    QCOMPARE(QFileInfo(name).isSymLink(), name != ProfileFile);
    QVERIFY(!QFileInfo::exists(ProfileFile + QStringLiteral(".lock")) || setup == QLatin1String("elsewhere"));
    QVERIFY(!QFileInfo(JournalFile + QStringLiteral(".lock")).isFile());
}

TALLY_TEST_MAIN(TestMacSeries)

#include "tst_macseries.moc"
