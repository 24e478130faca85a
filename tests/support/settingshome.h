#pragma once

#include <QSettings>

// Points HOME at home and turns on Qt's test mode, so that the program's settings land in a store
// of this test process alone, never the user's nor another suite's; on Windows, where the native
// store is the registry, a file under home in the default format. Returns the store's file.
QString useOwnSettingsHome(const QString &home);
// The store the window reads and writes, under the program's own names.
QSettings programSettings();
