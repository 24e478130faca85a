#pragma once

#include <QString>
#include <QStringList>

// Whether the folders named on the command line start a job at once, as Start would.
enum class LaunchStart
{
    WhenStartIsPressed,
    AtOnce,
};

// What the command line asks of the window: the folders it named that can be taken, as the
// folder choosers would give them, and in problem, why one was not taken. AtOnce only when both
// were taken.
struct LaunchFolders
{
    QString source;
    QString target;
    QString problem;
    LaunchStart start = LaunchStart::WhenStartIsPressed;
};

// "trasko [--start] [SOURCE [DESTINATION]]", read from what the toolkit left of the arguments
// (QCoreApplication::arguments()). --help and --version show their text and end the process.
// Options the program does not know are left alone: they may have been meant for the toolkit,
// and a desktop program should start whatever its launcher added.
LaunchFolders readCommandLine(const QStringList &arguments);
