#include "ui/commandline.h"

#include "ui/mainwindow.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

enum class Role
{
    Source,
    Destination,
};

// Why the folder given for role cannot be taken, or nothing. Whole sentences, one for each case,
// so that a translation need not assemble them.
QString problemWith(const QString &given, Role role)
{
    const QFileInfo folder(given);
    const bool source = role == Role::Source;
    if (folder.isDir())
        return {};
    if (!folder.exists())
        return source ? MainWindow::tr("The source folder given does not exist.")
                      : MainWindow::tr("The destination folder given does not exist.");
    return source ? MainWindow::tr("The source given is not a folder.")
                  : MainWindow::tr("The destination given is not a folder.");
}

} // namespace

LaunchFolders readCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(MainWindow::tr("Copies a folder into another."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption start(QStringLiteral("start"),
                                   MainWindow::tr("Start copying at once (both folders needed)."));
    parser.addOption(start);
    parser.addPositionalArgument(QStringLiteral("SOURCE"), MainWindow::tr("The folder to copy."),
                                 QStringLiteral("[SOURCE]"));
    parser.addPositionalArgument(QStringLiteral("DESTINATION"),
                                 MainWindow::tr("The folder to copy it into."),
                                 QStringLiteral("[DESTINATION]"));
    // It fails only on options it does not know; what it understood still counts.
    (void)parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    QStringList problems;
    const auto take = [&problems](const QString &given, Role role) {
        const QString problem = given.isEmpty() ? QString() : problemWith(given, role);
        problems.append(problem);
        // Named in full, as the folder chooser gives it.
        return given.isEmpty() || !problem.isEmpty()
                   ? QString()
                   : QDir::cleanPath(QFileInfo(given).absoluteFilePath());
    };
    const QStringList folders = parser.positionalArguments();
    LaunchFolders launch;
    launch.source = take(folders.value(0), Role::Source);
    launch.target = take(folders.value(1), Role::Destination);
    if (folders.size() > 2)
        problems.append(MainWindow::tr("Only a source and a destination folder can be given."));
    problems.removeAll(QString());
    if (parser.isSet(start) && problems.isEmpty()) {
        if (launch.source.isEmpty() || launch.target.isEmpty())
            problems.append(MainWindow::tr("Not started: a source and a destination are needed."));
        else
            launch.start = LaunchStart::AtOnce;
    }
    launch.problem = problems.join(u' ');
    return launch;
}
