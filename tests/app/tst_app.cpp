// Start-up and teardown in their order, the command line, and the crash handler's report. The
// real program, installed and packaged, is started by install.sh.

#include "app/identity.h"
#include "exception/exceptionhandler.h"
#include "tests/support/cleanup.h"
#include "tests/support/filetree.h"
#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"
#include "ui/startup.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using SignalHandler = void (*)(int);

SignalHandler currentHandler(int signalNumber)
{
    struct sigaction current = {};
    sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;
}

// Notes what is true of the process at each step of start-up, as "application, crash handler,
// main windows, window shown", and closes the shown window the way a user would.
class RecordingObserver : public StartupObserver
{
public:
    void stepReached(StartupStep step, MainWindow *window) override
    {
        int windows = 0;
        for (QWidget *widget : qApp ? QApplication::topLevelWidgets() : QWidgetList())
            windows += qobject_cast<MainWindow *>(widget) ? 1 : 0;
        steps.append(
            QStringLiteral("%1 %2 %3 %4")
                .arg(qApp ? "app" : "-", currentHandler(SIGSEGV) == m_before ? "-" : "handler")
                .arg(windows)
                .arg(window && window->isVisible() ? "shown" : "-"));
        if (step == StartupStep::IdentitySet)
            identity = {
                QCoreApplication::applicationVersion(), QCoreApplication::organizationName(),
                QCoreApplication::applicationName(),    QCoreApplication::organizationDomain(),
                QGuiApplication::desktopFileName(),     QCoreApplication::arguments().value(1)};
        if (step == StartupStep::WindowShown) {
            // The loop must end by itself; a fallback ends it with a code the test rejects.
            QTimer::singleShot(0, window, &QWidget::close);
            QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(99); });
        }
    }

    QStringList steps;
    QStringList identity;

private:
    const SignalHandler m_before = currentHandler(SIGSEGV); // the test framework's own
};

// What the window shows once start-up has taken the command line and any job it started has
// ended; the titles of the boxes it opened, each answered. Then closes the window.
class LaunchObserver : public StartupObserver
{
public:
    void stepReached(StartupStep step, MainWindow *window) override
    {
        if (step == StartupStep::ApplicationCreated) {
            m_poll = std::make_unique<QTimer>();
            QObject::connect(m_poll.get(), &QTimer::timeout, [this] { poll(); });
            m_poll->start(10);
            QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(99); });
        }
        m_window = step == StartupStep::WindowShown ? window : nullptr;
        if (step == StartupStep::EventLoopEnded)
            m_poll.reset();
    }

    QStringList boxes;
    QStringList shown; // source field, destination field, status

private:
    void poll()
    {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes.append(box->windowTitle());
            box->done(QMessageBox::Ok);
        }
        // The Start button reads Start again once no job runs.
        if (!m_window || m_window->findChild<QPushButton *>("buttonStart")->text() != "Start")
            return;
        shown = QStringList{m_window->findChild<QLineEdit *>("lineEditSource")->text(),
                            m_window->findChild<QLineEdit *>("lineEditTarget")->text(),
                            m_window->findChild<QLabel *>("labelStatus")->text()};
        m_window->close();
    }

    std::unique_ptr<QTimer> m_poll;
    MainWindow *m_window = nullptr;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid()); // the window reads its settings at start-up
        useOwnSettingsHome(m_home.path());
    }

    void init()
    {
        if (!QByteArray(QTest::currentTestFunction()).startsWith("startup"))
            m_application = std::make_unique<QCoreApplication>(m_argc, m_argv);
    }

    void cleanup() { m_application.reset(); }
    void startupOrder()
    {
        QByteArray program("trasko");
        QByteArray extra("--not-an-option");
        char *argv[] = {program.data(), extra.data(), nullptr};
        int argc = 2;
        RecordingObserver observer;
        QCOMPARE(runApplication(argc, argv, &observer), 0);
        QCOMPARE(observer.steps, QStringList({
                                     "app - 0 -",       // application created
                                     "app - 0 -",       // identity set, before the crash handler
                                     "app handler 0 -", // crash handler ready
                                     "app handler 0 -", // update checked, before any window
                                     "app handler 1 -", // window built, not shown yet
                                     "app handler 1 shown",
                                     "app handler 1 -", // event loop ended by the close
                                     "app handler 0 -", // window gone, the handler still there
                                     "app - 0 -",       // handler gone, the application not yet
                                 }));
        QCOMPARE(QCoreApplication::instance(), nullptr);
        QCOMPARE(observer.identity, QStringList({"1.0.1.1", "Quorvex", "Trasko", Identity::Domain,
                                                 Identity::DesktopId, "--not-an-option"}));
    }

    void startupWithCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        // The source and destination fields, relative to the test's folder, and the status.
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<bool>("copied");
        const QString waiting = "Waiting for user input.";
        const auto row = [](const char *name, const QString &arguments, const QStringList &shown,
                            const QStringList &boxes = {}, bool copied = false) {
            QTest::newRow(name) << arguments.split(u' ', Qt::SkipEmptyParts) << shown << boxes
                                << copied;
        };
        row("none", "", {"", "", waiting});
        row("source only", "src", {"src", "", waiting});
        row("both, not started", "src dst", {"src", "dst", waiting});
        row("--start copies", "--start src dst", {"src", "dst", "Operation complete"}, {}, true);
        // The toolkit takes its own options before the program reads the rest.
        row("--start last, the toolkit's option and an unknown one",
            "-style fusion src --odd dst --start", {"src", "dst", "Operation complete"}, {}, true);
        row("--start, the destination inside the source", "--start src src/inner",
            {"src", "src/inner", waiting}, {"Invalid Destination"});
        row("--start without a destination", "--start src",
            {"src", "", "Not started: a source and a destination are needed."});
        row("a source that does not exist", "--start missing dst",
            {"", "dst", "The source folder given does not exist."});
        row("a file as destination", "--start src file.txt",
            {"src", "", "The destination given is not a folder."});
        row("both refused", "missing file.txt",
            {"", "",
             "The source folder given does not exist. The destination given is not a "
             "folder."});
        row("a third folder", "--start src dst dst",
            {"src", "dst", "Only a source and a destination folder can be given."});
    }

    // Folders named as a terminal or a file manager names them, relative to the working folder.
    void startupWithCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, boxes);
        QFETCH(bool, copied);
        QTemporaryDir folder;
        QVERIFY(TestFiles::writeFile(folder.filePath("src/inner/file.txt"), "data"));
        QVERIFY(TestFiles::writeFile(folder.filePath("file.txt"), "a file"));
        QVERIFY(QDir().mkpath(folder.filePath("dst")));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        Cleanup cleanup;
        cleanup.add([before] { QDir::setCurrent(before); });

        std::vector<QByteArray> strings{"trasko"};
        for (const QString &argument : std::as_const(arguments))
            strings.push_back(argument.toLocal8Bit());
        std::vector<char *> argv;
        argv.reserve(strings.size() + 1);
        for (QByteArray &string : strings)
            argv.push_back(string.data());
        argv.push_back(nullptr);
        int argc = int(strings.size());
        LaunchObserver observer;
        QCOMPARE(runApplication(argc, argv.data(), &observer), 0);

        for (int field : {0, 1})
            shown[field] = shown[field].isEmpty() ? QString() : folder.filePath(shown[field]);
        QCOMPARE(observer.shown, shown);
        QCOMPARE(observer.boxes, boxes);
        QCOMPARE(TestFiles::treeOf(folder.filePath("dst")),
                 copied ? QStringList({"inner/", "inner/file.txt"}) : QStringList());
        QCOMPARE(TestFiles::treeOf(folder.filePath("src")),
                 QStringList({"inner/", "inner/file.txt"}));
    }

    void crashReport_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("signalName");
        QTest::addColumn<QString>("function");
        // The signal that ends the child; 0: exit code 42, from the handler ours hands over to.
        QTest::addColumn<int>("deathSignal");
        const auto row = [](const char *title, const char *mode, const char *name, int signal) {
            QTest::newRow(title) << QString(mode) << QString(name)
                                 << QString(title).section(u',', 0, 0) << signal;
        };
        row("crashByNullPointer", "segv", "SIGSEGV", SIGSEGV);
        row("crashByAbort", "abort", "SIGABRT", SIGABRT);
        row("crashByRecursion", "overflow", "SIGSEGV", SIGSEGV); // reported from a stack of its own
        row("crashByNullPointer, earlier handler", "chain", "SIGSEGV", 0);
    }

    void crashReport()
    {
        QFETCH(QString, mode);
        QFETCH(QString, signalName);
        QFETCH(QString, function);
        QFETCH(int, deathSignal);

        QTemporaryDir folder;
        QProcess child;
        child.setWorkingDirectory(folder.path());
        child.start(QCoreApplication::applicationFilePath(), {"--crash", mode});
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

private:
    QTemporaryDir m_home;
    // Start-up makes its own application; the crash tests borrow one for their child process.
    std::unique_ptr<QCoreApplication> m_application;
    int m_argc = 1;
    char m_name[8] = "tst_app";
    char *m_argv[2] = {m_name, nullptr};
};

// Kept out of line and exported so that the report's backtrace can name them; the operands are
// volatile so that the compiler cannot see the crash coming and turn it into something else.
extern "C" {
int *volatile nowhere = nullptr;
volatile int zero = 0;

__attribute__((noinline)) void crashByNullPointer()
{
    *nowhere = 1;
}

// What abort() does, but from a call that returns, so that this frame shows in the backtrace.
__attribute__((noinline)) void crashByAbort()
{
    std::raise(SIGABRT);
    zero = 1;
}

__attribute__((noinline)) int crashByRecursion(int depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    // Far beyond any stack; it only keeps the compiler from calling this endless.
    return depth > 1000000000 ? frame[0] : crashByRecursion(depth + 1) + frame[0];
}

void previousHandler(int)
{
    const char text[] = "previous handler ran\n";
    (void)!::write(STDERR_FILENO, text, sizeof text - 1);
    _exit(42);
}
}

// "tst_app --crash <mode>" crashes as the mode says, with the crash handler installed.
int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--crash") == 0) {
        const rlimit noCore{0, 0}; // no core files in the test's folder
        setrlimit(RLIMIT_CORE, &noCore);
        const QByteArray mode = argv[2];
        if (mode == "chain")
            std::signal(SIGSEGV, previousHandler);
        Quorvex::ExceptionHandler handler;
        if (!handler.initExceptionHandler())
            return 3;
        if (mode == "abort")
            crashByAbort();
        else if (mode == "overflow")
            return crashByRecursion(0);
        crashByNullPointer();
        return 4;
    }
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_app.moc"
