#include "windowrunner.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

namespace {

const QString SuccessText = QStringLiteral("Параметры успешно записаны");

const char *const ParameterFields[] = {
    "FullTimeoutEdit", "CommandTimeoutEdit", "RetryTimeoutEdit", "ServerTokenEdit", "IPsrvEdit",
    "URLaddrEdit", "PortEdit", "APNEdit", "LoginEdit", "PasswordEdit", "BalanceCodeEdit",
    "EthMACEdit", "EthIPEdit", "EthMaskEdit", "GatewayEdit", "DNSaddrEdit", "CashDeskIDEdit",
};

} // namespace

void BoxWatch::arm(const QElapsedTimer *runClock)
{
    clock = runClock;
    shownNs = -1;
}

bool BoxWatch::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && shownNs < 0 && clock && qobject_cast<QMessageBox *>(watched))
        shownNs = clock->nsecsElapsed();
    return false;
}

void WindowRunner::settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

WindowRunner::WindowRunner()
{
    qApp->installEventFilter(&watch);
    window.show();
    QComboBox *channel = window.findChild<QComboBox *>(QStringLiteral("comboBoxPort"));
    channel->setCurrentIndex(channel->count() - 1);
    settle(50);
}

void WindowRunner::connectTo(const QString &host)
{
    window.findChild<QLineEdit *>(QStringLiteral("deviceAddressEdit"))->setText(host);
}

RunOutcome WindowRunner::run(Operation operation)
{
    RunOutcome outcome;
    catcher.clear();
    QElapsedTimer clock;
    watch.arm(&clock);
    clock.start();
    if (operation == Operation::ReadAll)
        window.ReadData();
    else
        window.WriteData();
    const qint64 slotNs = clock.nsecsElapsed();
    const qint64 boxNs = watch.firstShownNs();
    watch.arm(nullptr);

    if (QGuiApplication::overrideCursor())
        outcome.error = QStringLiteral("the busy cursor is still set");
    else if (operation == Operation::ReadAll)
        outcome.error = checkRead();
    else
        outcome.error = checkWrite(boxNs);
    outcome.ok = outcome.error.isEmpty();
    outcome.ms = (operation == Operation::WriteAll ? boxNs : slotNs) / 1e6;
    settle(5);
    return outcome;
}

QStringList WindowRunner::formSnapshot() const
{
    QStringList values;
    for (const char *name : ParameterFields)
        values << window.findChild<QLineEdit *>(QLatin1String(name))->text();
    values << QString::number(window.findChild<QCheckBox *>(QStringLiteral("UseDHCPcheckBox"))->isChecked());
    values << QString::number(window.findChild<QComboBox *>(QStringLiteral("PriorityComboBox"))->currentIndex());
    return values;
}

QString WindowRunner::checkRead()
{
    if (!catcher.boxes().isEmpty())
        return QStringLiteral("read-all showed \"%1\"").arg(catcher.boxes().first().text);
    const QStringList values = formSnapshot();
    for (int i = 0; i < int(sizeof ParameterFields / sizeof *ParameterFields); ++i) {
        if (values.at(i).isEmpty())
            return QStringLiteral("read-all left %1 empty").arg(QLatin1String(ParameterFields[i]));
    }
    if (values.last() == QLatin1String("-1"))
        return QStringLiteral("read-all left the channel priority unselected");
    // The unit holds the same values throughout (write-all sends back what was read), so every
    // read must fill the form alike.
    if (readForm.isEmpty())
        readForm = values;
    else if (values != readForm)
        return QStringLiteral("read-all filled the form differently: %1").arg(values.join(QLatin1Char('|')));
    return QString();
}

QString WindowRunner::checkWrite(qint64 boxNs)
{
    if (catcher.boxes().size() != 1)
        return QStringLiteral("write-all showed %1 boxes: %2")
            .arg(catcher.boxes().size())
            .arg(catcher.texts().join(QStringLiteral(" / ")));
    const MessageBoxCatcher::Box &box = catcher.boxes().first();
    if (box.icon != QMessageBox::Information || box.text != SuccessText)
        return QStringLiteral("write-all said \"%1\"").arg(box.text);
    if (boxNs < 0)
        return QStringLiteral("the success box was never shown");
    return QString();
}
