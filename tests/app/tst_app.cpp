// Start-up and teardown in their order, the crash handler's report, and the real program
// starting and ending without a display.

#include "app/identity.h"
#include "exception/exceptionhandler.h"
#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"
#include "ui/startup.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <map>
#include <memory>

namespace {

void markerHandler(int) {}

using SignalHandler = void (*)(int);

SignalHandler currentHandler(int signalNumber)
{
    struct sigaction current = {};
    sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;
}

// What was true of the process at one step of start-up.
struct Snapshot
{
    SignalHandler segvHandler = nullptr;
    int windows = 0;
    bool application = false;
    bool windowVisible = false;
};

class RecordingObserver : public StartupObserver
{
public:
    void stepReached(StartupStep step, MainWindow *window) override
    {
        Snapshot &seen = m_snapshots[step];
        m_order.push_back(step);
        seen.segvHandler = currentHandler(SIGSEGV);
        seen.application = qApp != nullptr;
        for (QWidget *widget : seen.application ? QApplication::topLevelWidgets() : QWidgetList())
            seen.windows += qobject_cast<MainWindow *>(widget) ? 1 : 0;
        seen.windowVisible = window && window->isVisible();
        if (step == StartupStep::IdentitySet) {
            m_identity = {QCoreApplication::applicationVersion(),
                          QCoreApplication::organizationName(), QCoreApplication::applicationName(),
                          QCoreApplication::organizationDomain(),
                          QGuiApplication::desktopFileName()};
            m_arguments = QCoreApplication::arguments();
        }
        if (step == StartupStep::WindowShown) {
            // Closed the way a user would; the loop must end by itself. Should it not, the
            // fallback ends it with a code the test rejects.
            QTimer::singleShot(0, window, &QWidget::close);
            QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(99); });
        }
    }

    std::vector<StartupStep> m_order;
    std::map<StartupStep, Snapshot> m_snapshots;
    QStringList m_identity;
    QStringList m_arguments;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_application.reset(); }
    void startupOrder();
    void crashHandlerRestoresPreviousHandlers();
    void crashReport_data();
    void crashReport();
    void programShowsWindowAndExits();

private:
    QTemporaryDir m_home;
    // Start-up builds its own application object; the other tests borrow a plain one, so that
    // child processes have an event dispatcher to report to.
    std::unique_ptr<QCoreApplication> m_application;
    int m_argc = 1;
    char m_name[8] = "tst_app";
    char *m_argv[2] = {m_name, nullptr};
};

void TestStartup::initTestCase()
{
    // The window reads its settings during start-up: from a home of this suite's own.
    QVERIFY(m_home.isValid());
    useOwnSettingsHome(m_home.path());
}

void TestStartup::init()
{
    if (qstrcmp(QTest::currentTestFunction(), "startupOrder") != 0)
        m_application = std::make_unique<QCoreApplication>(m_argc, m_argv);
}

void TestStartup::startupOrder()
{
    QByteArray program("trasko");
    QByteArray extra("--not-an-option");
    char *argv[] = {program.data(), extra.data(), nullptr};
    int argc = 2;
    const SignalHandler frameworkHandler = currentHandler(SIGSEGV);

    RecordingObserver observer;
    QCOMPARE(runApplication(argc, argv, &observer), 0);
    using S = StartupStep;
    const std::vector<S> expected = {
        S::ApplicationCreated, S::IdentitySet,     S::CrashHandlerReady,
        S::UpdateChecked,      S::WindowBuilt,     S::WindowShown,
        S::EventLoopEnded,     S::WindowDestroyed, S::CrashHandlerDestroyed};
    QVERIFY2(observer.m_order == expected, "the steps came out of order");

    auto &at = observer.m_snapshots;
    QVERIFY2(at[S::IdentitySet].segvHandler == frameworkHandler, "crash handler before identity");
    QVERIFY2(at[S::CrashHandlerReady].segvHandler != frameworkHandler, "no crash handler");
    QCOMPARE(at[S::UpdateChecked].windows, 0);
    QCOMPARE(at[S::WindowBuilt].windows, 1);
    QVERIFY2(!at[S::WindowBuilt].windowVisible, "the window shows before showAndFit");
    QVERIFY2(at[S::WindowShown].windowVisible, "showAndFit did not show the window");
    // Teardown: the window goes while the crash handler still watches, then the handler goes
    // while the application object still exists.
    QCOMPARE(at[S::WindowDestroyed].windows, 0);
    QVERIFY(at[S::WindowDestroyed].segvHandler != frameworkHandler);
    QVERIFY(at[S::CrashHandlerDestroyed].application);
    QVERIFY2(at[S::CrashHandlerDestroyed].segvHandler == frameworkHandler, "handler not restored");
    QCOMPARE(QCoreApplication::instance(), nullptr);

    QCOMPARE(observer.m_identity,
             QStringList({"1.0.1.1", "Quorvex", "Trasko", Identity::Domain, Identity::DesktopId}));
    QVERIFY2(observer.m_arguments.contains("--not-an-option"), "arguments must reach the toolkit");
}

void TestStartup::crashHandlerRestoresPreviousHandlers()
{
    const int signalNumbers[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    struct sigaction saved[5] = {};
    for (int i = 0; i < 5; ++i) {
        sigaction(signalNumbers[i], nullptr, &saved[i]);
        std::signal(signalNumbers[i], markerHandler);
    }
    {
        Quorvex::ExceptionHandler handler;
        QVERIFY(handler.initExceptionHandler());
        for (const int number : signalNumbers)
            QVERIFY2(currentHandler(number) != markerHandler, qPrintable(QString::number(number)));
        Quorvex::ExceptionHandler second;
        QVERIFY2(!second.initExceptionHandler(), "two handlers would fight over the signals");
    }
    for (int i = 0; i < 5; ++i) {
        const bool restored = currentHandler(signalNumbers[i]) == markerHandler;
        sigaction(signalNumbers[i], &saved[i], nullptr);
        QVERIFY2(restored, qPrintable(QString::number(signalNumbers[i])));
    }
}

void TestStartup::crashReport_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("signalName");
    QTest::addColumn<QString>("function");
    // The signal that ends the child; 0 when it ends by exit code 42, from the handler that was
    // in place before ours and that ours hands over to.
    QTest::addColumn<int>("deathSignal");
    QTest::newRow("null pointer") << "segv"
                                  << "SIGSEGV"
                                  << "crashByNullPointer" << SIGSEGV;
    QTest::newRow("abort") << "abort"
                           << "SIGABRT"
                           << "crashByAbort" << SIGABRT;
    QTest::newRow("division by zero") << "fpe"
                                      << "SIGFPE"
                                      << "crashByDivision" << SIGFPE;
    QTest::newRow("stack overflow") << "overflow"
                                    << "SIGSEGV"
                                    << "crashByRecursion" << SIGSEGV;
    QTest::newRow("earlier handler") << "chain"
                                     << "SIGSEGV"
                                     << "crashByNullPointer" << 0;
}

void TestStartup::crashReport()
{
    QFETCH(QString, mode);
    QFETCH(QString, signalName);
    QFETCH(QString, function);
    QFETCH(int, deathSignal);

    QTemporaryDir folder;
    QProcess child;
    child.setWorkingDirectory(folder.path());
    child.start(QStringLiteral(CRASH_CHILD), {mode});
    QVERIFY2(child.waitForFinished(30000), "the crashing child hangs");
    const QString report = QString::fromLocal8Bit(child.readAllStandardError());
    QCOMPARE(child.exitStatus(), deathSignal ? QProcess::CrashExit : QProcess::NormalExit);
    QCOMPARE(child.exitCode(), deathSignal ? deathSignal : 42);
    QCOMPARE(report.count(QStringLiteral("Trasko crashed: ")), 1);
    for (const QString &part : {"Trasko crashed: " + signalName, QStringLiteral("Backtrace:"),
                                function, QStringLiteral("End of crash report.")})
        QVERIFY2(report.contains(part), qPrintable(report));
    QVERIFY2(deathSignal || report.indexOf(QStringLiteral("previous handler ran")) >
                                report.indexOf(QStringLiteral("End of crash report.")),
             qPrintable(report));
}

void TestStartup::programShowsWindowAndExits()
{
    QTemporaryDir config;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(PROBE_PLUGIN_PATH));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("TRASKO_PROBE_GRAB"), config.filePath("window.png"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TRASKO_EXECUTABLE), {"-plugin", "traskoprobe"});
    QVERIFY2(program.waitForFinished(60000), "the program did not end after its window closed");
    const QString output = program.readAllStandardOutput() + program.readAllStandardError();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == 0, qPrintable(output));
    const QRegularExpressionMatch shown =
        QRegularExpression(QStringLiteral("shown: Trasko (\\d+)x\\d+ visible=1 saved=1"))
            .match(output);
    QVERIFY2(shown.hasMatch() && shown.captured(1).toInt() >= 490, qPrintable(output));
    const QImage picture(config.filePath("window.png"));
    QVERIFY2(picture.width() >= 490 && picture.height() > 100, "the window's picture is wrong");
}

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_app.moc"
