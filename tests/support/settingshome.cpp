#include "tests/support/settingshome.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

QString useOwnSettingsHome(const QString &home)
{
    qputenv("HOME", QFile::encodeName(home));
    QStandardPaths::setTestModeEnabled(true);
    return QSettings(QStringLiteral("Quorvex"), QStringLiteral("Trasko")).fileName();
}
