#include "ui/startup.h"

#include "exception/exceptionhandler.h"
#include "ui/mainwindow.h"
#include "update/update.h"

#include <QApplication>

int runApplication(int &argc, char **argv, StartupObserver *observer)
{
    const auto report = [observer](StartupStep step, MainWindow *window = nullptr) {
        if (observer)
            observer->stepReached(step, window);
    };

    QApplication application(argc, argv);
    report(StartupStep::ApplicationCreated);

    // The identity also names the settings store, so it comes before anything reads it.
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.1.1"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvex"));
    QCoreApplication::setApplicationName(QStringLiteral("Trasko"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quorvex.example"));
    report(StartupStep::IdentitySet);

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
            report(StartupStep::WindowShown, &window);
            result = application.exec();
            report(StartupStep::EventLoopEnded, &window);
        }
        report(StartupStep::WindowDestroyed);
    }
    report(StartupStep::CrashHandlerDestroyed);
    return result;
}
