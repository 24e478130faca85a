#include "tests/support/settingshome.h"

#include "app/identity.h"

#include <QFile>
#include <QStandardPaths>

QString useOwnSettingsHome(const QString &home)
{
    qputenv("HOME", QFile::encodeName(home));
    QStandardPaths::setTestModeEnabled(true);
#ifdef Q_OS_WIN
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home);
#endif
    return programSettings().fileName();
}

QSettings programSettings()
{
    return QSettings(QSettings::defaultFormat(), QSettings::UserScope,
                     QLatin1String(Identity::Organisation), QLatin1String(Identity::Application));
}
