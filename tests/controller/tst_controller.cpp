// The main window driving real copy jobs: folders on disk, the buttons a person clicks, and
// the bytes that land in the destination.

#include "engine/processor.h"
#include "tests/support/cleanup.h"
#include "tests/support/filetree.h"
#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <memory>

using namespace TestFiles;

namespace {

constexpr int JobTimeoutMs = 60000;
constexpr qint64 BigFileSize = 64 << 20;
constexpr int BigFileCount = 4;

QSettings store()
{
    return QSettings(QStringLiteral("Quorvex"), QStringLiteral("Trasko"));
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

// Spins without running the event loop, so that nothing the window queued is delivered.
bool spinUntil(const std::function<bool()> &condition, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::yieldCurrentThread();
    }
    return true;
}

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(20, 20)).toImage().convertToFormat(QImage::Format_ARGB32);
}

struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool hasParent = false;
};

// Closes every modal box the window opens with exec(), and remembers what it said.
class BoxCloser : public QObject
{
public:
    BoxCloser()
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxCloser::poll);
        m_timer.start(10);
    }
    QList<SeenBox> seen;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen.append(
                {box->windowTitle(), box->text(), box->icon(), box->parentWidget() != nullptr});
            box->done(QMessageBox::Ok);
        } else {
            // Anything else modal would hang the test; close it and let the checks fail.
            seen.append({modal->windowTitle(), QStringLiteral("<not a message box>"),
                         QMessageBox::NoIcon, modal->parentWidget() != nullptr});
            modal->close();
        }
    }
    QTimer m_timer;
};

// The widgets a person uses, found by object name.
struct Form
{
    explicit Form(MainWindow &window)
    {
        const auto find = [&window](auto *&widget, const char *name) {
            widget =
                window.findChild<std::remove_reference_t<decltype(*widget)> *>(QLatin1String(name));
        };
        find(source, "lineEditSource");
        find(target, "lineEditTarget");
        find(start, "buttonStart");
        find(cancel, "buttonCancel");
        find(info, "buttonInfo");
        find(infoPanel, "widgetInfo");
        find(selectAll, "buttonSelectAll");
        find(deselectAll, "buttonDeselectAll");
        find(retry, "buttonRetry");
        find(cancelRetry, "buttonCancelRetry");
        find(status, "labelStatus");
        find(total, "labelTotal");
        find(processed, "labelProcessed");
        find(errors, "labelErrors");
        find(elapsed, "labelElapsed");
        find(remaining, "labelRemaining");
        find(speed, "labelSpeed");
        find(barTotal, "progressBarTotal");
        find(barFile, "progressBarFile");
        find(tabs, "tabWidget");
        find(subFolders, "checkBoxSubFolders");
        find(hidden, "checkBoxHidden");
        find(overwriteNone, "radioButtonOverwriteNone");
        find(overwriteAll, "radioButtonOverwriteAll");
        find(overwriteOlder, "radioButtonOverwriteOlder");
        find(overwriteSmaller, "radioButtonOverewriteSmaller");
    }
    bool complete() const
    {
        const QObject *const all[] = {source,         target,          start,         cancel,
                                      info,           infoPanel,       selectAll,     deselectAll,
                                      retry,          cancelRetry,     status,        total,
                                      processed,      errors,          elapsed,       remaining,
                                      speed,          barTotal,        barFile,       tabs,
                                      subFolders,     hidden,          overwriteNone, overwriteAll,
                                      overwriteOlder, overwriteSmaller};
        for (const QObject *widget : all)
            if (!widget)
                return false;
        return true;
    }

    QLineEdit *source = nullptr;
    QLineEdit *target = nullptr;
    QPushButton *start = nullptr;
    QPushButton *cancel = nullptr;
    QPushButton *info = nullptr;
    QWidget *infoPanel = nullptr;
    QPushButton *selectAll = nullptr;
    QPushButton *deselectAll = nullptr;
    QPushButton *retry = nullptr;
    QPushButton *cancelRetry = nullptr;
    QLabel *status = nullptr;
    QLabel *total = nullptr;
    QLabel *processed = nullptr;
    QLabel *errors = nullptr;
    QLabel *elapsed = nullptr;
    QLabel *remaining = nullptr;
    QLabel *speed = nullptr;
    QProgressBar *barTotal = nullptr;
    QProgressBar *barFile = nullptr;
    QTabWidget *tabs = nullptr;
    QCheckBox *subFolders = nullptr;
    QCheckBox *hidden = nullptr;
    QRadioButton *overwriteNone = nullptr;
    QRadioButton *overwriteAll = nullptr;
    QRadioButton *overwriteOlder = nullptr;
    QRadioButton *overwriteSmaller = nullptr;
};

} // namespace

class TestController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void refusedFolders_data();
    void refusedFolders();
    void refusedThroughAnotherMount();
    void siblingFolderStarts_data();
    void siblingFolderStarts();

    void copyThroughButtons_data();
    void copyThroughButtons();
    void overwriteFromRadioButtons_data();
    void overwriteFromRadioButtons();

    void pauseResumeCancel();
    void cancelWhilePausedThenResume();
    void cancelledJobHidesFailures();

    void infoAfterLastFile();
    void infoOfAnEmptyJob();
    void infoWhenAFileGrew();
    void infoAboveFourGiB();

    void failuresListedAndRetried();
    void copyErrorsPageCancel();
    void copyErrorsPageOutOfReachDuringJob();

    void closingMidJob_data();
    void closingMidJob();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString bigSource() const { return m_big.filePath(QStringLiteral("src")); }
    // The fields are read-only to a person; the folder choosers are the only other writers.
    static void startThroughButton(Form &form, const QString &source, const QString &target);
    static bool waitUntilIdle(const MainWindow &window);

    QTemporaryDir m_home;
    QTemporaryDir m_big;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestController::initTestCase()
{
    QVERIFY(m_home.isValid());
    const QString file = useOwnSettingsHome(m_home.path());
    QVERIFY2(file.startsWith(m_home.path()) && file.contains(QLatin1String(".qttest")),
             qPrintable("settings would land in a shared store: " + file));

    // Big enough that a job clicked into a pause, a cancel or a close is still copying: the
    // big files sit in a sub-folder, walked before the root's own file, and a small file in a
    // deeper sub-folder comes before them all.
    QVERIFY(m_big.isValid());
    for (int i = 0; i < BigFileCount; ++i)
        QVERIFY(writeFile(bigSource() + QStringLiteral("/big/b%1.bin").arg(i),
                          randomBytes(BigFileSize)));
    QVERIFY(writeFile(bigSource() + QStringLiteral("/big/a-first/small.txt"), "small"));
    QVERIFY(writeFile(bigSource() + QStringLiteral("/old.txt"), "new contents"));
}

void TestController::init()
{
    QSettings settings = store();
    settings.clear();
    settings.sync();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestController::startThroughButton(Form &form, const QString &source, const QString &target)
{
    form.source->setText(source);
    form.target->setText(target);
    form.start->click();
}

bool TestController::waitUntilIdle(const MainWindow &window)
{
    QDeadlineTimer deadline(JobTimeoutMs);
    while (window.m_processor && !deadline.hasExpired())
        QTest::qWait(20);
    return !window.m_processor && window.m_state == MainWindow::StateIdle;
}

void TestController::refusedFolders_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const QString noSource = QStringLiteral("No Source");
    const QString noSourceText = QStringLiteral("Please select a source folder location.");
    const QString noTarget = QStringLiteral("No Destination");
    const QString noTargetText = QStringLiteral("Please select a destination folder location.");
    const QString inside = QStringLiteral("Invalid Destination");
    const QString insideText =
        QStringLiteral("The destination location cannot be inside the source location.");

    // "@" stands for the test's folder.
    QTest::newRow("both empty") << ""
                                << "" << noSource << noSourceText;
    QTest::newRow("source empty") << ""
                                  << "@/dst" << noSource << noSourceText;
    QTest::newRow("target empty") << "@/data"
                                  << "" << noTarget << noTargetText;
    QTest::newRow("same") << "@/data"
                          << "@/data" << inside << insideText;
    QTest::newRow("inside") << "@/data"
                            << "@/data/inner" << inside << insideText;
    QTest::newRow("inside, not made yet") << "@/data"
                                          << "@/data/new/deeper" << inside << insideText;
    QTest::newRow("inside through ..") << "@/data"
                                       << "@/data/../data/inner" << inside << insideText;
    QTest::newRow("same through ..") << "@/data"
                                     << "@/other/../data" << inside << insideText;
    QTest::newRow("trailing separator") << "@/data"
                                        << "@/data/" << inside << insideText;
    QTest::newRow("source with separator") << "@/data/"
                                           << "@/data/inner" << inside << insideText;
    QTest::newRow("link to the source") << "@/data"
                                        << "@/link-to-data" << inside << insideText;
    QTest::newRow("through a link to the source") << "@/data"
                                                  << "@/link-to-data/inner" << inside << insideText;
    QTest::newRow("link into the source") << "@/data"
                                          << "@/link-to-inner" << inside << insideText;
    // The job reads ".." by name, as the check does: this is data/elsewhere, whatever "out" is.
    QTest::newRow("up from a link out of the source")
        << "@/data"
        << "@/data/out/../elsewhere" << inside << insideText;
    QTest::newRow("up from a part not made yet") << "@/data"
                                                 << "@/data/new/../inner2" << inside << insideText;
    QTest::newRow("source named by a link") << "@/link-to-data"
                                            << "@/data/inner" << inside << insideText;
}

void TestController::refusedFolders()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(QString, title);
    QFETCH(QString, text);

    QVERIFY(writeFile(path("data/file.txt"), "data"));
    QVERIFY(QDir().mkpath(path("data/inner")));
    QVERIFY(QDir().mkpath(path("other")));
    QVERIFY(QFile::link(path("data"), path("link-to-data")));
    QVERIFY(QFile::link(path("data/inner"), path("link-to-inner")));
    QVERIFY(QFile::link(path("other"), path("data/out")));
    const QStringList before = treeOf(m_dir->path());

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    BoxCloser closer;
    source.replace(u'@', m_dir->path());
    target.replace(u'@', m_dir->path());
    startThroughButton(form, source, target);

    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen.first().title, title);
    QCOMPARE(closer.seen.first().text, text);
    QCOMPARE(closer.seen.first().icon, QMessageBox::Information);
    QVERIFY2(!closer.seen.first().hasParent, "the box stands alone, without a parent");

    QVERIFY2(!window.m_processor, "a refused start must not create a job");
    QCOMPARE(window.m_state, MainWindow::StateIdle);
    QVERIFY2(!window.m_timer.isActive(), "no progress timer without a job");
    QCOMPARE(form.start->text(), QStringLiteral("Start"));
    QVERIFY2(!form.info->isVisible() && !form.infoPanel->isVisible(),
             "the information panel belongs to a running job");
    QVERIFY2(!store().contains("subFolder") && !store().contains("hidden"),
             "a refused start must not write the settings");
    QCoreApplication::processEvents();
    QCOMPARE(treeOf(m_dir->path()), before);
}

void TestController::refusedThroughAnotherMount()
{
    // The source seen under a second name that no link explains: a bind mount stands here for
    // a file system that ignores letter case, where DATA and data are one folder too.
    QVERIFY(QDir().mkpath(path("data/inner")));
    QVERIFY(QDir().mkpath(path("mirror")));
    if (::mount(QFile::encodeName(path("data")).constData(),
                QFile::encodeName(path("mirror")).constData(), nullptr, MS_BIND, nullptr) != 0)
        QSKIP(qPrintable(QStringLiteral("a bind mount needs root: ") + qt_error_string(errno)));
    Cleanup cleanup;
    cleanup.add([this] { ::umount2(QFile::encodeName(path("mirror")).constData(), MNT_DETACH); });

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    BoxCloser closer;
    startThroughButton(form, path("data"), path("mirror/inner"));
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen.first().title, QStringLiteral("Invalid Destination"));
    QVERIFY2(!window.m_processor, "a refused start must not create a job");
}

void TestController::siblingFolderStarts_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    // Where the one file of the source must land.
    QTest::addColumn<QString>("landing");
    QTest::newRow("name begins with the source's") << "data"
                                                   << "data2"
                                                   << "data2/inner/file.txt";
    QTest::newRow("source with separator") << "data/"
                                           << "data2"
                                           << "data2/inner/file.txt";
    QTest::newRow("below a longer sibling") << "data"
                                            << "data-old/sub"
                                            << "data-old/sub/inner/file.txt";
    QTest::newRow("parent of the source") << "data/inner"
                                          << "data"
                                          << "data/file.txt";
    QTest::newRow("through .. to a sibling") << "data"
                                             << "data/../data2"
                                             << "data2/inner/file.txt";
    // The job reads ".." by name, so this is other/deep, beside the source.
    QTest::newRow("up from a link into the source") << "data"
                                                    << "other/link-to-inner/../deep"
                                                    << "other/deep/inner/file.txt";
}

void TestController::siblingFolderStarts()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(QString, landing);

    QVERIFY(writeFile(path("data/inner/file.txt"), "data"));
    QVERIFY(QDir().mkpath(path("other")));
    QVERIFY(QFile::link(path("data/inner"), path("other/link-to-inner")));
    const QStringList sourceBefore = treeOf(path(source));

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    BoxCloser closer;
    startThroughButton(form, path(source), path(target));
    QVERIFY2(closer.seen.isEmpty(),
             qPrintable("refused: " + (closer.seen.isEmpty() ? QString() : closer.seen[0].title)));
    QVERIFY2(window.m_processor, "a folder outside the source must start a job");
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation complete"));
    QCOMPARE(readFile(path(landing)), QByteArray("data"));
    QCOMPARE(treeOf(path(source)), sourceBefore);
}

void TestController::copyThroughButtons_data()
{
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QStringList>("copied");

    QTest::newRow("sub-folders and hidden")
        << true << true
        << QStringList{".hidden", ".secret/",  ".secret/inside.txt", "a.txt",           "empty/",
                       "sub/",    "sub/b.bin", "sub/deeper/",        "sub/deeper/c.txt"};
    QTest::newRow("sub-folders only")
        << true << false
        << QStringList{"a.txt", "empty/", "sub/", "sub/b.bin", "sub/deeper/", "sub/deeper/c.txt"};
    QTest::newRow("hidden only") << false << true << QStringList{".hidden", "a.txt"};
    QTest::newRow("neither") << false << false << QStringList{"a.txt"};
}

void TestController::copyThroughButtons()
{
    QFETCH(bool, subFolders);
    QFETCH(bool, hidden);
    QFETCH(QStringList, copied);

    QVERIFY(writeFile(path("src/a.txt"), "alpha"));
    QVERIFY(writeFile(path("src/sub/b.bin"), randomBytes(100003)));
    QVERIFY(writeFile(path("src/sub/deeper/c.txt"), QByteArray()));
    QVERIFY(writeFile(path("src/.hidden"), "hidden"));
    QVERIFY(writeFile(path("src/.secret/inside.txt"), "inside"));
    QVERIFY(QDir().mkpath(path("src/empty")));
    // The expected tree: the source with what the options leave out taken away.
    QVERIFY(QDir().mkpath(path("expected")));
    for (const QString &entry : std::as_const(copied)) {
        if (entry.endsWith(u'/'))
            QVERIFY(QDir().mkpath(path("expected/" + entry)));
        else
            QVERIFY(QFile::copy(path("src/" + entry), path("expected/" + entry)));
    }

    MainWindow window;
    window.showAndFit();
    Form form(window);
    QVERIFY(form.complete());
    form.subFolders->setChecked(subFolders);
    form.hidden->setChecked(hidden);
    startThroughButton(form, path("src"), path("dst"));

    QVERIFY2(window.m_processor, "Start with two good folders must start a job");
    QCOMPARE(store().value("subFolder").toBool(), subFolders);
    QCOMPARE(store().value("hidden").toBool(), hidden);
    QVERIFY(store().contains("subFolder") && store().contains("hidden"));

    QTRY_COMPARE_WITH_TIMEOUT(form.status->text(), QStringLiteral("Operation complete"),
                              JobTimeoutMs);
    QVERIFY(waitUntilIdle(window));
    const QString difference = treeDifference(path("expected"), path("dst"));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());

    QCOMPARE(form.start->text(), QStringLiteral("Start"));
    QVERIFY2(!window.m_timer.isActive(), "the timer stops with the job");
    QCOMPARE(form.barTotal->value(), 0);
    QCOMPARE(form.barFile->value(), 0);
    QVERIFY2(!form.info->isVisible() && !form.infoPanel->isVisible(),
             "the panel and its toggle go when the job ends");
    QCOMPARE(form.tabs->currentIndex(), 0);

    // The choices come back in a new window.
    MainWindow again;
    Form reread(again);
    QCOMPARE(reread.subFolders->isChecked(), subFolders);
    QCOMPARE(reread.hidden->isChecked(), hidden);
}

void TestController::overwriteFromRadioButtons_data()
{
    QTest::addColumn<QString>("radio");
    // Which of the four prepared destinations the job replaced.
    QTest::addColumn<QStringList>("replaced");

    QTest::newRow("no files") << "radioButtonOverwriteNone" << QStringList{"fresh.txt"};
    QTest::newRow("all files") << "radioButtonOverwriteAll"
                               << QStringList{"fresh.txt", "older-larger.txt", "older-smaller.txt",
                                              "newer-larger.txt", "newer-smaller.txt"};
    QTest::newRow("older files") << "radioButtonOverwriteOlder"
                                 << QStringList{"fresh.txt", "older-larger.txt",
                                                "older-smaller.txt"};
    QTest::newRow("smaller files")
        << "radioButtonOverewriteSmaller"
        << QStringList{"fresh.txt", "older-smaller.txt", "newer-smaller.txt"};
}

void TestController::overwriteFromRadioButtons()
{
    QFETCH(QString, radio);
    QFETCH(QStringList, replaced);

    const qint64 sourceTime = 1600000000;
    const QByteArray source = "source bytes";
    const QStringList names = {"fresh.txt", "older-larger.txt", "older-smaller.txt",
                               "newer-larger.txt", "newer-smaller.txt"};
    for (const QString &name : names) {
        QVERIFY(writeFile(path("src/" + name), source));
        QVERIFY(setModified(path("src/" + name), sourceTime));
        if (name == QLatin1String("fresh.txt"))
            continue;
        const QByteArray old =
            name.contains(QLatin1String("larger")) ? "a much larger old file" : "old";
        QVERIFY(writeFile(path("dst/" + name), old));
        QVERIFY(setModified(path("dst/" + name), name.startsWith(QLatin1String("older"))
                                                     ? sourceTime - 3600
                                                     : sourceTime + 3600));
    }

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    auto *button = window.findChild<QRadioButton *>(radio);
    QVERIFY(button);
    button->click();
    QVERIFY(button->isChecked());
    startThroughButton(form, path("src"), path("dst"));
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation complete"));

    for (const QString &name : names) {
        const bool wasReplaced = readFile(path("dst/" + name)) == source;
        QVERIFY2(wasReplaced == replaced.contains(name),
                 qPrintable(name + (wasReplaced ? " was replaced" : " was kept")));
    }
}

void TestController::pauseResumeCancel()
{
    QVERIFY(writeFile(path("dst/old.txt"), "old contents"));
    store().setValue("showInfo", true);

    MainWindow window;
    window.showAndFit();
    Form form(window);
    QVERIFY(form.complete());
    form.overwriteAll->click();
    const QImage pauseIcon = iconImage(QIcon(QStringLiteral(":/resources/pause.png")));
    const QImage startIcon = iconImage(QIcon(QStringLiteral(":/resources/start.png")));
    QVERIFY(pauseIcon != startIcon);

    // Pause in the same turn as Start: the worker cannot have copied a quarter GiB by then.
    startThroughButton(form, bigSource(), path("dst"));
    QCOMPARE(window.m_state, MainWindow::StateRunning);
    QCOMPARE(form.start->text(), QStringLiteral("Pause"));
    QCOMPARE(iconImage(form.start->icon()), pauseIcon);
    QVERIFY2(window.m_timer.isActive(), "the progress timer runs with the job");
    QVERIFY2(form.info->isVisible() && form.infoPanel->isVisible(),
             "the panel opens as \"showInfo\" says");
    QPointer<Processor> worker = window.m_processor;

    form.start->click();
    QCOMPARE(window.m_state, MainWindow::StatePaused);
    QCOMPARE(form.status->text(), QStringLiteral("Operation paused"));
    QCOMPARE(form.start->text(), QStringLiteral("Resume"));
    QCOMPARE(iconImage(form.start->icon()), startIcon);
    QVERIFY2(!window.m_timer.isActive(), "no ticks while paused");
    QVERIFY2(!worker->isFinished(), "paused too late to hold the job");
    // A tick that slips in while paused must leave the display as it is.
    window.updateInfo();
    QCOMPARE(form.status->text(), QStringLiteral("Operation paused"));

    form.start->click();
    QCOMPARE(window.m_state, MainWindow::StateRunning);
    QCOMPARE(form.status->text(), QStringLiteral("Operation restarting"));
    QCOMPARE(form.start->text(), QStringLiteral("Pause"));
    QCOMPARE(iconImage(form.start->icon()), pauseIcon);
    QVERIFY2(window.m_timer.isActive(), "Resume restarts the timer");

    form.cancel->click();
    QCOMPARE(form.status->text(), QStringLiteral("Operation cancelling"));
    QVERIFY(worker->isCancelled());
    QCOMPARE(window.m_state, MainWindow::StateRunning);

    QVERIFY(waitUntilIdle(window));
    QVERIFY2(worker.isNull(), "the finished worker is deleted");
    QCOMPARE(form.status->text(), QStringLiteral("Operation cancelled"));
    QCOMPARE(form.start->text(), QStringLiteral("Start"));
    QCOMPARE(iconImage(form.start->icon()), startIcon);
    QVERIFY(!window.m_timer.isActive());
    QCOMPARE(form.barTotal->value(), 0);
    QCOMPARE(form.barFile->value(), 0);
    QVERIFY(!form.info->isVisible() && !form.infoPanel->isVisible());
    QCOMPARE(form.tabs->currentIndex(), 0);

    QCOMPARE(readFile(path("dst/old.txt")), QByteArray("old contents"));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
    for (int i = 0; i < BigFileCount; ++i) {
        const QString name = QStringLiteral("big/b%1.bin").arg(i);
        const QFileInfo copied(path("dst/" + name));
        QVERIFY2(!copied.exists() ||
                     readFile(copied.filePath()) == readFile(bigSource() + u'/' + name),
                 qPrintable(name + " was left half-written"));
    }

    // Cancel with no job does nothing.
    form.cancel->click();
    QCOMPARE(form.status->text(), QStringLiteral("Operation cancelled"));
    QVERIFY(!window.m_processor);
}

void TestController::cancelWhilePausedThenResume()
{
    QVERIFY(writeFile(path("dst/old.txt"), "old contents"));

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    form.overwriteAll->click();
    startThroughButton(form, bigSource(), path("dst"));
    form.start->click();
    QCOMPARE(window.m_state, MainWindow::StatePaused);
    QPointer<Processor> worker = window.m_processor;

    form.cancel->click();
    QCOMPARE(form.status->text(), QStringLiteral("Operation cancelling"));
    QCOMPARE(window.m_state, MainWindow::StatePaused);
    QCOMPARE(form.start->text(), QStringLiteral("Resume"));
    QVERIFY2(!window.m_timer.isActive(), "a cancelled pause keeps the timer stopped");

    // finished() cannot be delivered before we return to the event loop, so this Resume
    // reaches a live worker whose pause the cancel already released.
    QVERIFY(worker);
    form.start->click();
    QCOMPARE(window.m_state, MainWindow::StateRunning);
    QCOMPARE(form.start->text(), QStringLiteral("Pause"));

    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation cancelled"));
    QCOMPARE(form.start->text(), QStringLiteral("Start"));
    QCOMPARE(readFile(path("dst/old.txt")), QByteArray("old contents"));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());

    // The window is fit for the next job.
    QVERIFY(writeFile(path("small/one.txt"), "one"));
    startThroughButton(form, path("small"), path("dst2"));
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation complete"));
    QCOMPARE(readFile(path("dst2/one.txt")), QByteArray("one"));
}

void TestController::cancelledJobHidesFailures()
{
    // A folder where the first file's destination should be: that file fails before any big
    // file is copied.
    QVERIFY(QDir().mkpath(path("dst/big/a-first/small.txt/keep")));

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    form.overwriteAll->click();
    startThroughButton(form, bigSource(), path("dst"));
    Processor *worker = window.m_processor;
    QVERIFY(worker);
    QVERIFY2(spinUntil([worker] { return worker->failureCount() > 0 || worker->isFinished(); }),
             "the first file never failed");
    form.start->click();
    QVERIFY2(!worker->isFinished(), "the job ended before it could be cancelled");
    QCOMPARE(worker->failureCount(), 1);
    form.cancel->click();

    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation cancelled"));
    QCOMPARE(form.tabs->currentIndex(), 0);
    QCOMPARE(window.m_errorModel->rowCount(), 0);
    QVERIFY(QFileInfo(path("dst/big/a-first/small.txt/keep")).isDir());
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestController::infoAfterLastFile()
{
    // 1536 + 1000 + 512 bytes: 3048, shown as 2.98 KB.
    QVERIFY(writeFile(path("src/sub/one.bin"), randomBytes(1536)));
    QVERIFY(writeFile(path("src/two.txt"), randomBytes(1000)));
    QVERIFY(writeFile(path("src/three.txt"), randomBytes(512)));

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    startThroughButton(form, path("src"), path("dst"));
    Processor *worker = window.m_processor;
    QVERIFY(worker);
    // Waiting outside the event loop keeps finished() queued: the window still holds the
    // worker, now with its final counters, and is still running.
    QVERIFY(worker->wait(QDeadlineTimer(JobTimeoutMs)));
    // The clock runs on until finished() is delivered: the tick saw one of these two readings.
    const quint32 elapsedBefore = worker->elapsedSeconds();
    window.updateInfo();
    const quint32 elapsedAfter = worker->elapsedSeconds();

    QCOMPARE(form.total->text(), QStringLiteral("3 files (2.98 KB)"));
    QCOMPARE(form.processed->text(), QStringLiteral("3 files (2.98 KB)"));
    QCOMPARE(form.errors->text(), QStringLiteral("0"));
    QCOMPARE(form.barTotal->value(), 100);
    QCOMPARE(form.barFile->value(), 100);
    QCOMPARE(form.remaining->text(), QStringLiteral("0 seconds"));
    // Sub-folders are walked before a folder's own files: the last file is a root file.
    const QString status = form.status->text();
    QVERIFY2(status == QLatin1String("Copying: two.txt") ||
                 status == QLatin1String("Copying: three.txt"),
             qPrintable(status));
    QStringList speeds;
    QStringList elapsedTexts;
    for (quint32 elapsed = elapsedBefore; elapsed <= elapsedAfter; ++elapsed) {
        elapsedTexts.append(MainWindow::formatDuration(elapsed));
        speeds.append(elapsed == 0 ? QStringLiteral("0 Bytes/sec")
                                   : MainWindow::formatSize(3048.0 / elapsed) + "/sec");
    }
    QVERIFY2(elapsedTexts.contains(form.elapsed->text()), qPrintable(form.elapsed->text()));
    QVERIFY2(speeds.contains(form.speed->text()), qPrintable(form.speed->text()));

    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation complete"));
    QCOMPARE(form.barTotal->value(), 0);
    // The value labels keep the last tick's texts until the next job.
    QCOMPARE(form.total->text(), QStringLiteral("3 files (2.98 KB)"));
}

void TestController::infoOfAnEmptyJob()
{
    QVERIFY(writeFile(path("src/empty-1"), QByteArray()));
    QVERIFY(writeFile(path("src/empty-2"), QByteArray()));

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    startThroughButton(form, path("src"), path("dst"));
    QVERIFY(window.m_processor);
    QVERIFY(window.m_processor->wait(QDeadlineTimer(JobTimeoutMs)));
    form.barTotal->setValue(42);
    window.updateInfo();

    QCOMPARE(form.total->text(), QStringLiteral("2 files (0 Bytes)"));
    QCOMPARE(form.processed->text(), QStringLiteral("2 files (0 Bytes)"));
    QVERIFY2(form.barTotal->value() == 0, "a zero total leaves the job bar at 0");
    QCOMPARE(form.barFile->value(), 0);
    QCOMPARE(form.remaining->text(), QStringLiteral("Unknown"));
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(treeOf(path("dst")), QStringList({"empty-1", "empty-2"}));
}

void TestController::infoWhenAFileGrew()
{
    // The big files come first through the linked folder; the root file grows while the job
    // is paused in them, after the scan has counted it.
    QVERIFY(writeFile(path("src/grow.txt"), "counted"));
    QVERIFY(QFile::link(bigSource() + QStringLiteral("/big"), path("src/big")));

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    startThroughButton(form, path("src"), path("dst"));
    Processor *worker = window.m_processor;
    QVERIFY(worker);
    QVERIFY2(spinUntil([worker] { return worker->bytesDone() > 0 || worker->isFinished(); }),
             "the copy never started");
    form.start->click();
    QVERIFY2(!worker->isFinished(), "the job ended before the file could grow");
    QVERIFY(writeFile(path("src/grow.txt"), randomBytes(1 << 20)));
    form.start->click();
    QVERIFY(worker->wait(QDeadlineTimer(JobTimeoutMs)));
    QVERIFY2(worker->bytesDone() > worker->bytesTotal(),
             "the grown file must be copied whole, past the counted total");

    form.remaining->setText(QStringLiteral("stale"));
    window.updateInfo();
    QCOMPARE(form.remaining->text(), QStringLiteral("Unknown"));
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(QFileInfo(path("dst/grow.txt")).size(), qint64(1 << 20));
}

void TestController::infoAboveFourGiB()
{
    // 5 GiB that take no disk, towards a file-size limit that stops the copy at once: the
    // scan still counts every byte, and the window must show them all.
    constexpr qint64 Huge = 5LL << 30;
    QVERIFY(QDir().mkpath(path("src")));
    {
        QFile file(path("src/huge.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(Huge));
    }
    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());

    Cleanup cleanup;
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto savedSignal = ::signal(SIGXFSZ, SIG_IGN);
    cleanup.add([saved, savedSignal] {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, savedSignal);
    });
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);

    startThroughButton(form, path("src"), path("dst"));
    QVERIFY(window.m_processor);
    QVERIFY(window.m_processor->wait(QDeadlineTimer(JobTimeoutMs)));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    window.updateInfo();
    QCOMPARE(form.total->text(), QStringLiteral("1 files (5.00 GB)"));
    QCOMPARE(form.errors->text(), QStringLiteral("1"));

    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.tabs->currentIndex(), 1);
    QCOMPARE(window.m_errorModel->rowCount(), 1);
    QCOMPARE(window.m_errorModel->index(0, 0).data().toString(), path("src/huge.bin"));
    QVERIFY(!QFileInfo::exists(path("dst/huge.bin")));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestController::failuresListedAndRetried()
{
    // One failure per folder, so that their order is the walk's and not the listing's:
    // sub-folders, depth first, before a folder's own files.
    const QStringList failing = {path("src/m/n/deep.txt"), path("src/m/mid.txt"),
                                 path("src/top.txt")};
    for (const QString &file : failing)
        QVERIFY(writeFile(file, "new " + QFileInfo(file).fileName().toUtf8()));
    QVERIFY(writeFile(path("src/fine.txt"), "fine"));
    const auto blocker = [this](const QString &name) { return path("dst/" + name + "/keep"); };
    for (const char *name : {"m/n/deep.txt", "m/mid.txt", "top.txt"})
        QVERIFY(QDir().mkpath(blocker(QLatin1String(name))));
    QVERIFY(writeFile(path("elsewhere/src/m/mid.txt"), "elsewhere"));
    store().setValue("showInfo", true);

    MainWindow window;
    window.showAndFit();
    Form form(window);
    QVERIFY(form.complete());
    form.overwriteAll->click();
    QStandardItemModel *model = window.m_errorModel;

    startThroughButton(form, path("src"), path("dst"));
    QVERIFY(window.m_processor);
    QVERIFY(window.m_processor->wait(QDeadlineTimer(JobTimeoutMs)));
    window.updateInfo();
    QCOMPARE(form.errors->text(), QStringLiteral("3"));
    QVERIFY(waitUntilIdle(window));

    QCOMPARE(form.status->text(), QStringLiteral("Operation complete"));
    QCOMPARE(form.tabs->currentIndex(), 1);
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->columnCount(), 2);
    for (int row = 0; row < 3; ++row) {
        const QModelIndex file = model->index(row, 0);
        QCOMPARE(file.data().toString(), failing.at(row));
        QCOMPARE(model->index(row, 1).data().toString(),
                 QStringLiteral("Target file could not be removed"));
        QCOMPARE(file.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY2(file.flags() & Qt::ItemIsUserCheckable, "each file can be ticked");
        QVERIFY2(!(file.flags() & Qt::ItemIsEditable), "paths are not editable");
    }
    QCOMPARE(readFile(path("dst/fine.txt")), QByteArray("fine"));

    const auto ticks = [model] {
        QList<int> states;
        for (int row = 0; row < model->rowCount(); ++row)
            states.append(model->index(row, 0).data(Qt::CheckStateRole).toInt());
        return states;
    };
    const int on = Qt::Checked;
    const int off = Qt::Unchecked;
    form.selectAll->click();
    QCOMPARE(ticks(), QList<int>({on, on, on}));
    form.deselectAll->click();
    QCOMPARE(ticks(), QList<int>({off, off, off}));

    {
        BoxCloser closer;
        form.retry->click();
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen.first().title, QStringLiteral("Select Files"));
        QCOMPARE(closer.seen.first().text, QStringLiteral("Please select files to retry."));
        QCOMPARE(closer.seen.first().icon, QMessageBox::Information);
        QVERIFY2(!closer.seen.first().hasParent, "the box stands alone, without a parent");
    }
    QVERIFY2(!window.m_processor, "a retry of nothing must not start a job");
    QCOMPARE(window.m_state, MainWindow::StateIdle);
    QCOMPARE(form.tabs->currentIndex(), 1);

    // Tick all but the root file: the middle one still fails, the deep one is freed.
    form.selectAll->click();
    QVERIFY(model->setData(model->index(2, 0), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(ticks(), QList<int>({on, on, off}));
    QVERIFY(QDir(path("dst/m/n/deep.txt")).removeRecursively());
    // The choosers may have moved the fields meanwhile; the retry keeps to the failed roots.
    form.source->setText(path("elsewhere/src"));
    form.target->setText(path("elsewhere/dst"));

    form.retry->click();
    QCOMPARE(form.tabs->currentIndex(), 0);
    QCOMPARE(window.m_state, MainWindow::StateRunning);
    QCOMPARE(form.start->text(), QStringLiteral("Pause"));
    QVERIFY2(form.info->isVisible() && !form.infoPanel->isVisible(),
             "a retry shows the toggle with the panel closed, whatever \"showInfo\" says");
    QVERIFY(waitUntilIdle(window));

    QCOMPARE(readFile(path("dst/m/n/deep.txt")), QByteArray("new deep.txt"));
    QVERIFY(QFileInfo(path("dst/top.txt")).isDir());
    QVERIFY2(!QFileInfo::exists(path("elsewhere/dst")), "the retry followed the changed fields");
    // The retried file that failed again comes back alone, unticked; the unticked one was
    // not tried at all.
    QCOMPARE(form.tabs->currentIndex(), 1);
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 0).data().toString(), failing.at(1));
    QCOMPARE(ticks(), QList<int>({off}));

    QVERIFY(QDir(path("dst/m/mid.txt")).removeRecursively());
    QVERIFY(model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole));
    form.retry->click();
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation complete"));
    QCOMPARE(form.tabs->currentIndex(), 0);
    QCOMPARE(readFile(path("dst/m/mid.txt")), QByteArray("new mid.txt"));
    QCOMPARE(readFile(path("elsewhere/src/m/mid.txt")), QByteArray("elsewhere"));
    QVERIFY(QFileInfo(path("dst/top.txt")).isDir());
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestController::copyErrorsPageCancel()
{
    QVERIFY(writeFile(path("src/a.txt"), "a"));
    QVERIFY(writeFile(path("src/b.txt"), "b"));
    QVERIFY(QDir().mkpath(path("dst/a.txt/keep")));

    MainWindow window;
    Form form(window);
    QVERIFY(form.complete());
    form.overwriteAll->click();
    startThroughButton(form, path("src"), path("dst"));
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.tabs->currentIndex(), 1);
    QCOMPARE(window.m_errorModel->rowCount(), 1);
    QVERIFY(window.m_errorModel->setData(window.m_errorModel->index(0, 0), Qt::Checked,
                                         Qt::CheckStateRole));

    form.cancelRetry->click();
    QCOMPARE(form.tabs->currentIndex(), 0);
    QVERIFY2(!window.m_processor, "Cancel on the copy-errors page starts nothing");
    QCOMPARE(window.m_errorModel->rowCount(), 1);
    QCOMPARE(window.m_errorModel->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // A later job without failures stays on the main page; the old rows wait unseen.
    QVERIFY(QDir(path("dst/a.txt")).removeRecursively());
    form.start->click();
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation complete"));
    QCOMPARE(form.tabs->currentIndex(), 0);
    QCOMPARE(window.m_errorModel->rowCount(), 1);
    QCOMPARE(readFile(path("dst/a.txt")), QByteArray("a"));
}

void TestController::copyErrorsPageOutOfReachDuringJob()
{
    QVERIFY(writeFile(path("src/a.txt"), "a"));
    QVERIFY(QDir().mkpath(path("dst/a.txt/keep")));

    MainWindow window;
    window.showAndFit();
    Form form(window);
    QVERIFY(form.complete());
    form.overwriteAll->click();
    startThroughButton(form, path("src"), path("dst"));
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.tabs->currentIndex(), 1);
    form.selectAll->click();
    form.cancelRetry->click();
    QCOMPARE(form.tabs->currentIndex(), 0);

    // The tab bar is collapsed, not gone: its keyboard switch must not reach the old list's
    // Retry while another job holds the window.
    startThroughButton(form, bigSource(), path("big-dst"));
    form.start->click();
    QCOMPARE(window.m_state, MainWindow::StatePaused);
    const QPointer<Processor> worker = window.m_processor;
    QTest::keyClick(form.tabs, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(form.tabs, Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(form.tabs->currentIndex(), 0);
    form.retry->click();
    QVERIFY2(window.m_processor == worker && worker, "Retry during a job starts another");
    QCOMPARE(window.m_state, MainWindow::StatePaused);

    form.cancel->click();
    QVERIFY(waitUntilIdle(window));
    QCOMPARE(form.status->text(), QStringLiteral("Operation cancelled"));
    QVERIFY2(strayTemporaries(path("big-dst")).isEmpty(),
             qPrintable(strayTemporaries(path("big-dst")).join(u' ')));
}

void TestController::closingMidJob_data()
{
    QTest::addColumn<bool>("paused");
    QTest::newRow("running") << false;
    QTest::newRow("paused") << true;
}

void TestController::closingMidJob()
{
    QFETCH(bool, paused);
    QVERIFY(writeFile(path("dst/old.txt"), "old contents"));

    auto window = std::make_unique<MainWindow>();
    window->showAndFit();
    Form form(*window);
    QVERIFY(form.complete());
    form.overwriteAll->click();

    const int threadsBefore = threadCount();
    startThroughButton(form, bigSource(), path("dst"));
    QPointer<Processor> worker = window->m_processor;
    QVERIFY(worker);
    std::atomic<bool> finished{false};
    connect(
        worker, &QThread::finished, worker, [&finished] { finished = true; }, Qt::DirectConnection);
    // Mid-file, so that a temporary file exists when the window goes.
    QVERIFY2(spinUntil([&worker] {
                 return (worker->currentFile() == QLatin1String("b0.bin") &&
                         worker->currentFileDone() > 0) ||
                        worker->isFinished();
             }),
             "the copy never started");
    if (paused) {
        form.start->click();
        QCOMPARE(window->m_state, MainWindow::StatePaused);
    }
    QVERIFY2(!worker->isFinished(), "the job ended before the window could be closed");

    QElapsedTimer clock;
    clock.start();
    window->close();
    window.reset();
    // A guard against a hang, not a speed target: a cancelled job stops within a chunk.
    QVERIFY2(clock.elapsed() < 20000, "closing the window waited for the whole copy");
    QVERIFY2(worker.isNull(), "the worker outlived its window");
    QVERIFY2(finished, "the worker thread did not run to its end");
    QTRY_COMPARE(threadCount(), threadsBefore);

    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
    QCOMPARE(readFile(path("dst/old.txt")), QByteArray("old contents"));
    for (int i = 0; i < BigFileCount; ++i) {
        const QString name = QStringLiteral("big/b%1.bin").arg(i);
        const QFileInfo copied(path("dst/" + name));
        QVERIFY2(!copied.exists() ||
                     readFile(copied.filePath()) == readFile(bigSource() + u'/' + name),
                 qPrintable(name + " was left half-written"));
    }
}

QTEST_MAIN(TestController)
#include "tst_controller.moc"
