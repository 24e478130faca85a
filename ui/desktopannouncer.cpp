#include "ui/desktopannouncer.h"

#include "app/identity.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace {

QString desktopEntry()
{
    return QLatin1String(Identity::DesktopId) + QLatin1String(".desktop");
}

// The bus only when one is there: sending on a connection that failed would be refused anyway.
// Windows has none (asking for one there starts the bus library's thread, and could start a bus).
bool send(const QDBusMessage &message)
{
#ifdef Q_OS_WIN
    Q_UNUSED(message);
    return false;
#else
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.send(message);
#endif
}

} // namespace

DesktopAnnouncer::~DesktopAnnouncer()
{
    clearProgress();
}

void DesktopAnnouncer::showProgress(double fraction)
{
    const double clamped = qBound(0.0, fraction, 1.0);
    // Whole percents: the task bar draws no finer, and the bus is not flooded.
    const int percent = int(clamped * 100);
    if (percent == m_shownPercent)
        return;
    m_shownPercent = percent;
    sendProgress(clamped, true);
}

void DesktopAnnouncer::clearProgress()
{
    if (m_shownPercent < 0)
        return;
    m_shownPercent = -1;
    sendProgress(0, false);
}

void DesktopAnnouncer::sendProgress(double fraction, bool visible)
{
    // The launcher-entry signal that task managers and docks read; the object path is free.
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/com/canonical/unity/launcherentry/trasko"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    const QVariantMap properties{{QStringLiteral("progress"), fraction},
                                 {QStringLiteral("progress-visible"), visible}};
    update << QStringLiteral("application://") + desktopEntry() << properties;
    send(update);
}

void DesktopAnnouncer::announce(QWidget *window, const QString &summary, const QString &body)
{
    QApplication::alert(window);
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QLatin1String(Identity::DesktopId)}};
    // The reply is not waited for: a slow or missing notification service never holds the window.
    notify << QLatin1String(Identity::Application) << 0u << QLatin1String(Identity::DesktopId)
           << summary << body << QStringList() << hints << -1;
    send(notify);
}
