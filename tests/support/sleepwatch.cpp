#include "tests/support/sleepwatch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

SleepWatch::~SleepWatch()
{
    m_logind.closeWriteChannel(); // its signal to end, and to take its bus with it
    m_logind.waitForFinished(10000);
}

bool SleepWatch::start()
{
#ifdef Q_OS_WIN
    return true;
#else
    // Before anything in the process asks for the system bus: its address is read once.
    m_logind.start("/usr/bin/python3", {QFINDTESTDATA("logind.py")});
    if (!m_logind.waitForReadyRead(20000))
        return false;
    return qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_logind.readLine().trimmed());
#endif
}

bool SleepWatch::held() const
{
#ifdef Q_OS_WIN
    const EXECUTION_STATE state = ::SetThreadExecutionState(0);
    return (state & ES_CONTINUOUS) && (state & ES_SYSTEM_REQUIRED);
#else
    return ask("Held").toUInt() > 0;
#endif
}

QVariant SleepWatch::ask(const char *method, const QVariant &argument) const
{
#ifdef Q_OS_WIN
    // Asking for a bus there starts the bus library's thread, to find none.
    Q_UNUSED(method);
    Q_UNUSED(argument);
    return {};
#else
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.login1", "/org/freedesktop/login1", "test.Logind", method);
    if (argument.isValid())
        call << argument;
    return QDBusConnection::systemBus().call(call).arguments().value(0);
#endif
}
