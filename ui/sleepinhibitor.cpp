#include "ui/sleepinhibitor.h"

#include "app/identity.h"

#include <utility>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#endif

SleepInhibitor::SleepInhibitor() = default;

SleepInhibitor::~SleepInhibitor()
{
    release();
#ifndef Q_OS_WIN
    delete m_request;
#endif
}

#ifdef Q_OS_WIN

// The state belongs to the calling thread; the window's thread holds and releases it.
void SleepInhibitor::hold()
{
    if (!std::exchange(m_wanted, true))
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void SleepInhibitor::release()
{
    if (std::exchange(m_wanted, false))
        SetThreadExecutionState(ES_CONTINUOUS);
}

#else

void SleepInhibitor::hold()
{
    if (std::exchange(m_wanted, true) || m_request)
        return;
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage inhibit = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    // "block": sleep is refused while the lock is held, not merely put off for a few seconds.
    inhibit << QStringLiteral("sleep") << QLatin1String(Identity::Application)
            << QCoreApplication::translate("SleepInhibitor", "Copying files")
            << QStringLiteral("block");
    m_request = new QDBusPendingCallWatcher(bus.asyncCall(inhibit));
    QObject::connect(m_request, &QDBusPendingCallWatcher::finished, m_request,
                     [this] { lockArrived(); });
}

void SleepInhibitor::lockArrived()
{
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *m_request;
    // Released while the request was on its way: the reply and its descriptor go unused.
    if (m_wanted && reply.isValid())
        m_lock = std::make_unique<QDBusUnixFileDescriptor>(reply.value());
    m_request->deleteLater();
    m_request = nullptr;
}

void SleepInhibitor::release()
{
    m_wanted = false;
    m_lock.reset();
}

#endif
