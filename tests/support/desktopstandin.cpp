#include "tests/support/desktopstandin.h"

#include "app/identity.h"

#include <QDBusMessage>
#include <QTest>

bool DesktopStandIn::listen()
{
    m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stand-in");
    return m_bus.registerService("org.freedesktop.Notifications") &&
           m_bus.registerObject("/org/freedesktop/Notifications", this,
                                QDBusConnection::ExportScriptableSlots) &&
           m_bus.connect({}, {}, "com.canonical.Unity.LauncherEntry", "Update", this,
                         SLOT(update(QString, QVariantMap))) &&
           m_bus.connect({}, {}, "test.Barrier", "Passed", this, SLOT(barrierPassed()));
}

bool DesktopStandIn::heardAll()
{
    const int passed = m_barriers;
    const QDBusMessage barrier = QDBusMessage::createSignal("/", "test.Barrier", "Passed");
    return QDBusConnection::sessionBus().send(barrier) &&
           QTest::qWaitFor([&] { return m_barriers > passed; }, 10000);
}

uint DesktopStandIn::Notify(const QString &app, uint, const QString &icon, const QString &summary,
                            const QString &body, const QStringList &, const QVariantMap &hints, int)
{
    if (app == Identity::Application && icon == Identity::DesktopId &&
        hints.value("desktop-entry") == Identity::DesktopId)
        notes.append(summary + ": " + body);
    return 1;
}

void DesktopStandIn::update(const QString &uri, const QVariantMap &properties)
{
    if (uri == QStringLiteral("application://%1.desktop").arg(Identity::DesktopId))
        progress.append(QString::number(properties.value("progress").toDouble()) +
                        (properties.value("progress-visible").toBool() ? " shown" : " hidden"));
}
