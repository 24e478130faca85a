#include "exception/exceptionhandler.h"
#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"
#include "ui/startup.h"
#include "update/update.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>
#include <vector>

namespace {

void markerHandler(int) {}

using SignalHandler = void (*)(int);

SignalHandler currentHandler(int signalNumber)
{
    struct sigaction current = {};
    sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;
}

// The test framework has a crash handler of its own; ours is in place when it has replaced it.
SignalHandler frameworkHandler = SIG_DFL;

bool crashHandlerInstalled()
{
    return currentHandler(SIGSEGV) != frameworkHandler;
}

int mainWindowCount()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += qobject_cast<MainWindow *>(widget) ? 1 : 0;
    return count;
}

// What was true of the process at one step of start-up.
struct Snapshot
{
    StartupStep step;
    bool crashHandler;
    int windows;
    bool application;
    bool windowVisible;
    int windowWidth;
};

class RecordingObserver : public StartupObserver
{
public:
    void stepReached(StartupStep step, MainWindow *window) override
    {
        const bool application = QCoreApplication::instance() != nullptr;
        m_snapshots.push_back({step, crashHandlerInstalled(), application ? mainWindowCount() : 0,
                               application, window && window->isVisible(),
                               window ? window->width() : 0});
        if (step == StartupStep::IdentitySet) {
            m_identity = {QCoreApplication::applicationVersion(),
                          QCoreApplication::organizationName(), QCoreApplication::applicationName(),
                          QCoreApplication::organizationDomain()};
            m_arguments = QCoreApplication::arguments();
        }
        if (step == StartupStep::WindowShown) {
            // Close it the way a user would; the loop must end by itself. Should it not, the
            // fallback ends it with a code the test rejects.
            QTimer::singleShot(0, window, &QWidget::close);
            QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(99); });
        }
    }

    std::vector<Snapshot> m_snapshots;
    QStringList m_identity;
    QStringList m_arguments;
};

QString childOutput(QProcess &process)
{
    return QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startupOrder();
    void updaterDoesNothing();

    void crashHandlerRestoresPreviousHandlers();
    void crashReport_data();
    void crashReport();
    void crashHandsOverToPreviousHandler();

    void programShowsWindowAndExits();

private:
    // Start-up builds its own application object; the other tests borrow a plain one so that
    // child processes have an event dispatcher to report to.
    std::unique_ptr<QCoreApplication> m_application;
    int m_argc = 1;
    char m_name[8] = "tst_app";
    char *m_argv[2] = {m_name, nullptr};
    QTemporaryDir m_home;
};

void TestStartup::initTestCase()
{
    // The window reads its settings during start-up; keep it away from the user's own store,
    // and from the test store that other suites share.
    QVERIFY(m_home.isValid());
    useOwnSettingsHome(m_home.path());
    QCOMPARE(QCoreApplication::instance(), nullptr);
}

void TestStartup::init()
{
    if (qstrcmp(QTest::currentTestFunction(), "startupOrder") != 0)
        m_application = std::make_unique<QCoreApplication>(m_argc, m_argv);
}

void TestStartup::cleanup()
{
    m_application.reset();
}

void TestStartup::startupOrder()
{
    QByteArray program("trasko");
    QByteArray extra("--not-an-option");
    char *argv[] = {program.data(), extra.data(), nullptr};
    int argc = 2;

    frameworkHandler = currentHandler(SIGSEGV);

    RecordingObserver observer;
    const int result = runApplication(argc, argv, &observer);
    QCOMPARE(result, 0);

    const std::vector<StartupStep> expected = {
        StartupStep::ApplicationCreated,    StartupStep::IdentitySet,
        StartupStep::CrashHandlerReady,     StartupStep::UpdateChecked,
        StartupStep::WindowBuilt,           StartupStep::WindowShown,
        StartupStep::EventLoopEnded,        StartupStep::WindowDestroyed,
        StartupStep::CrashHandlerDestroyed,
    };
    const auto &seen = observer.m_snapshots;
    QCOMPARE(seen.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        QVERIFY2(seen[i].step == expected[i],
                 qPrintable(QStringLiteral("step %1 out of order").arg(i)));

    const auto at = [&seen](StartupStep step) {
        for (const Snapshot &snapshot : seen) {
            if (snapshot.step == step)
                return snapshot;
        }
        return Snapshot{};
    };
    QVERIFY2(!at(StartupStep::IdentitySet).crashHandler, "crash handler before the identity");
    QVERIFY2(at(StartupStep::CrashHandlerReady).crashHandler, "crash handler not installed");
    QCOMPARE(at(StartupStep::CrashHandlerReady).windows, 0);
    QCOMPARE(at(StartupStep::UpdateChecked).windows, 0);
    QCOMPARE(at(StartupStep::WindowBuilt).windows, 1);
    QVERIFY2(!at(StartupStep::WindowBuilt).windowVisible, "the window shows before showAndFit");
    QVERIFY2(at(StartupStep::WindowShown).windowVisible, "showAndFit did not show the window");
    QVERIFY(at(StartupStep::WindowShown).windowWidth >= 490);

    // Teardown: the window goes while the crash handler still watches, then the handler goes
    // while the application object still exists.
    QCOMPARE(at(StartupStep::WindowDestroyed).windows, 0);
    QVERIFY(at(StartupStep::WindowDestroyed).crashHandler);
    QVERIFY(at(StartupStep::CrashHandlerDestroyed).application);
    QVERIFY2(!at(StartupStep::CrashHandlerDestroyed).crashHandler,
             "the crash handler's signal disposition was not restored");
    QCOMPARE(QCoreApplication::instance(), nullptr);

    QCOMPARE(observer.m_identity, QStringList({"1.0.1.1", "Quorvex", "Trasko", "quorvex.example"}));
    QVERIFY2(observer.m_arguments.contains("--not-an-option"),
             "arguments must reach the application object unchanged");
}

void TestStartup::updaterDoesNothing()
{
    Update *updater = Update::getUpdater();
    QVERIFY(updater);
    QCOMPARE(Update::getUpdater(), updater);
    QVERIFY2(!updater->autoCheck(), "the updater claims to have checked for updates");
}

void TestStartup::crashHandlerRestoresPreviousHandlers()
{
    const int signals_[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    struct sigaction saved[5] = {};
    for (int i = 0; i < 5; ++i) {
        sigaction(signals_[i], nullptr, &saved[i]);
        std::signal(signals_[i], markerHandler);
    }

    {
        Quorvex::ExceptionHandler handler;
        QVERIFY(handler.initExceptionHandler());
        for (const int number : signals_) {
            QVERIFY2(currentHandler(number) != markerHandler, qPrintable(QString::number(number)));
        }
        Quorvex::ExceptionHandler second;
        QVERIFY2(!second.initExceptionHandler(), "two handlers would fight over the signals");
    }

    for (int i = 0; i < 5; ++i) {
        const bool restored = currentHandler(signals_[i]) == markerHandler;
        sigaction(signals_[i], &saved[i], nullptr);
        QVERIFY2(restored, qPrintable(QString::number(signals_[i])));
    }
}

void TestStartup::crashReport_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("signalName");
    QTest::addColumn<QString>("function");

    QTest::newRow("null pointer") << "segv" << SIGSEGV << "SIGSEGV"
                                  << "crashByNullPointer";
    QTest::newRow("abort") << "abort" << SIGABRT << "SIGABRT"
                           << "crashByAbort";
    QTest::newRow("division by zero") << "fpe" << SIGFPE << "SIGFPE"
                                      << "crashByDivision";
    QTest::newRow("stack overflow") << "overflow" << SIGSEGV << "SIGSEGV"
                                    << "crashByRecursion";
}

void TestStartup::crashReport()
{
    QFETCH(QString, mode);
    QFETCH(int, signalNumber);
    QFETCH(QString, signalName);
    QFETCH(QString, function);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QProcess child;
    child.setWorkingDirectory(folder.path());
    child.start(QStringLiteral(CRASH_CHILD), {mode});
    QVERIFY2(child.waitForFinished(30000), "the crashing child hangs");
    const QString report = QString::fromLocal8Bit(child.readAllStandardError());

    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(child.exitCode(), signalNumber);
    QCOMPARE(report.count(QStringLiteral("Trasko crashed: ")), 1);
    QVERIFY2(report.contains(QStringLiteral("Trasko crashed: ") + signalName), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("Backtrace:")), qPrintable(report));
    QVERIFY2(report.contains(function), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("End of crash report.")), qPrintable(report));
}

void TestStartup::crashHandsOverToPreviousHandler()
{
    QProcess child;
    child.start(QStringLiteral(CRASH_CHILD), {QStringLiteral("chain")});
    QVERIFY(child.waitForFinished(30000));
    const QString report = QString::fromLocal8Bit(child.readAllStandardError());
    QVERIFY2(report.contains(QStringLiteral("Trasko crashed: SIGSEGV")), qPrintable(report));
    QVERIFY2(report.indexOf(QStringLiteral("previous handler ran")) >
                 report.indexOf(QStringLiteral("End of crash report.")),
             qPrintable(report));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 42);
}

void TestStartup::programShowsWindowAndExits()
{
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(PROBE_PLUGIN_PATH));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("TRASKO_PROBE_GRAB"), config.filePath("window.png"));

    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TRASKO_EXECUTABLE),
                  {QStringLiteral("-plugin"), QStringLiteral("traskoprobe")});
    QVERIFY2(program.waitForFinished(60000), "the program did not end after its window closed");
    const QString output = childOutput(program);

    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QRegularExpression(
                 QStringLiteral("shown: Trasko (\\d+)x(\\d+) visible=1 saved=1"))),
             qPrintable(output));
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("shown: Trasko (\\d+)x")).match(output);
    QVERIFY(size.captured(1).toInt() >= 490);

    const QImage picture(config.filePath("window.png"));
    QVERIFY2(picture.width() >= 490, "the window's picture is missing or too narrow");
    QVERIFY2(picture.height() > 100, "the window's picture is missing or too short");
}

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_app.moc"
