#pragma once

#include <QSettings>
#include <QString>

// Points HOME at home and turns on Qt's test mode, so that the program's settings land in a
// store of this test process alone: the user's own store is never touched, and suites running
// side by side do not clear each other's values. Returns the store's file, for the test to
// check where it lies.
QString useOwnSettingsHome(const QString &home);

// The store the window reads and writes, under the program's own names.
QSettings programSettings();
