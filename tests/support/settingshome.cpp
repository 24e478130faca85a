#include "tests/support/settingshome.h"

#include "app/identity.h"

#include <QFile>
#include <QStandardPaths>

QString useOwnSettingsHome(const QString &home)
{
    qputenv("HOME", QFile::encodeName(home));
    QStandardPaths::setTestModeEnabled(true);
    return programSettings().fileName();
}

QSettings programSettings()
{
    return QSettings(QLatin1String(Identity::Organisation), QLatin1String(Identity::Application));
}
