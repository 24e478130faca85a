#include "ui/startup.h"

#include "app/identity.h"
#include "exception/exceptionhandler.h"
#include "ui/commandline.h"
#include "ui/mainwindow.h"
#include "ui/translations.h"
#include "update/update.h"

#include <QApplication>
#include <QLocale>

int runApplication(int &argc, char **argv, StartupObserver *observer)
{
    const auto report = [observer](StartupStep step, MainWindow *window = nullptr) {
        if (observer)
            observer->stepReached(step, window);
    };

    QApplication application(argc, argv);
    report(StartupStep::ApplicationCreated);

    // The identity also names the settings store, so it comes before anything reads it.
    QCoreApplication::setApplicationVersion(QLatin1String(Identity::Version));
    QCoreApplication::setOrganizationName(QLatin1String(Identity::Organisation));
    QCoreApplication::setApplicationName(QLatin1String(Identity::Application));
    QCoreApplication::setOrganizationDomain(QLatin1String(Identity::Domain));
    // Lets window managers and task bars match the window to its launcher and icon.
    QGuiApplication::setDesktopFileName(QLatin1String(Identity::DesktopId));
    report(StartupStep::IdentitySet);
    // Before the first text is made: the command line's own, its help, the window's.
    Translations::install(QLocale::system());
    // After the identity, which --version shows; before anything a --help would leave behind.
    const LaunchFolders launch = readCommandLine(QCoreApplication::arguments());

    int result = 0;
    {
        Quorvex::ExceptionHandler crashHandler;
        crashHandler.initExceptionHandler();
        report(StartupStep::CrashHandlerReady);

        Update::getUpdater()->autoCheck();
        report(StartupStep::UpdateChecked);

        {
            MainWindow window;
            report(StartupStep::WindowBuilt, &window);
            window.showAndFit();
            window.openFolders(launch);
            report(StartupStep::WindowShown, &window);
            result = application.exec();
            report(StartupStep::EventLoopEnded, &window);
        }
        report(StartupStep::WindowDestroyed);
    }
    report(StartupStep::CrashHandlerDestroyed);
    return result;
}
