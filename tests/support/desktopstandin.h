#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// The desktop on a test's private session bus: a notification service and a task manager that
// note what the program tells them, and a barrier to know all of it has arrived.
class DesktopStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    bool listen();
    // A signal sent as the program sends comes last: once it arrives, all before it has too.
    bool heardAll();

    QStringList notes;    // "summary: body" of the notifications that name the program
    QStringList progress; // "progress shown|hidden" of the program's launcher entry

public slots:
    Q_SCRIPTABLE uint Notify(const QString &app, uint, const QString &icon, const QString &summary,
                             const QString &body, const QStringList &, const QVariantMap &hints,
                             int);
    void barrierPassed() { ++m_barriers; }
    void update(const QString &uri, const QVariantMap &properties);

private:
    QDBusConnection m_bus{QString()};
    int m_barriers = 0;
};
