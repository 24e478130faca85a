// The main window at rest, by keyboard and screen reader, its progress texts, and driving real
// jobs: folders on disk, the buttons a person clicks, the bytes copied, what the desktop hears.

#include "app/identity.h"
#include "engine/processor.h"
#include "tests/support/cleanup.h"
#include "tests/support/desktopstandin.h"
#include "tests/support/filetree.h"
#include "tests/support/require.h"
#include "tests/support/settingshome.h"
#include "tests/support/sleepwatch.h"
#include "tests/support/wait.h"
#include "ui/formats.h"
#include "ui/mainwindow.h"
#include "ui/translations.h"

#include <QTest>
#include <QtWidgets>

#include <memory>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace TestFiles;

namespace {

constexpr int JobTimeoutMs = 60000;
#ifdef Q_OS_WIN
constexpr bool Windows = true;
#else
constexpr bool Windows = false;
#endif

// The window's widgets, found by their object names as a person's tools find them.
// clang-format off
#define FORM_WIDGETS(X)                                                                            \
    X(QLineEdit, lineEditSource) X(QLineEdit, lineEditTarget) X(QPushButton, buttonSource)         \
    X(QPushButton, buttonTarget) X(QRadioButton, radioButtonOverwriteNone)                         \
    X(QRadioButton, radioButtonOverwriteAll) X(QRadioButton, radioButtonOverwriteOlder)            \
    X(QRadioButton, radioButtonOverewriteSmaller) X(QCheckBox, checkBoxSubFolders)                 \
    X(QCheckBox, checkBoxHidden) X(QCheckBox, checkBoxVerify) X(QCheckBox, checkBoxKeepDates)     \
    X(QPushButton, buttonStart) X(QPushButton, buttonCancel)                                       \
    X(QPushButton, buttonInfo) X(QProgressBar, progressBarTotal) X(QProgressBar, progressBarFile)  \
    X(QLabel, labelStatus) X(QWidget, widgetInfo) X(QLabel, labelTotal) X(QLabel, labelProcessed)  \
    X(QLabel, labelErrors) X(QLabel, labelRemaining) X(QLabel, labelSpeed) X(QWidget, tab)         \
    X(QTabWidget, tabWidget) X(QTreeView, treeView) X(QPushButton, buttonSelectAll)                \
    X(QPushButton, buttonDeselectAll) X(QPushButton, buttonRetry) X(QPushButton, buttonCancelRetry)
// clang-format on

struct Form
{
    explicit Form(QWidget *owner) : window(owner) {}
    template <typename T> T *find(const char *name) const
    {
        T *widget = window->findChild<T *>(name);
        if (!widget)
            qFatal("the window has no %s", name);
        return widget;
    }

    QWidget *const window;
#define WIDGET(Type, name) Type *const name = find<Type>(#name);
    FORM_WIDGETS(WIDGET)
#undef WIDGET
};

// Answers every modal box the window opens with exec(), with the button of that text if there
// is one, and keeps what each said.
class BoxCloser : public QObject
{
public:
    explicit BoxCloser(const QString &answer = {})
    {
        connect(&m_timer, &QTimer::timeout, this, [this, answer] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                // Given three seconds to come true.
                if (answerWhen && !answerWhen() && ++m_ticks < 300)
                    return;
                m_ticks = 0;
                // The window's boxes stand alone, with the information icon.
                const bool plain = box->icon() == QMessageBox::Information && !box->parentWidget();
                seen.append(box->windowTitle() + ": " + box->text() +
                            (plain ? "" : " (not plain)"));
                // The buttons, the default one marked.
                buttons.clear();
                QAbstractButton *chosen = nullptr;
                for (QAbstractButton *button : box->buttons()) {
                    buttons.append(button->text() + (button == box->defaultButton() ? "*" : ""));
                    chosen = button->text() == answer ? button : chosen;
                }
                if (chosen)
                    chosen->click();
                else
                    box->done(QMessageBox::Ok);
            }
        });
        m_timer.start(10);
    }
    QStringList seen;
    QStringList buttons;
    // Asked while the box waits; answered once it holds.
    std::function<bool()> answerWhen;

private:
    QTimer m_timer;
    int m_ticks = 0;
};

// A file system on a loop device whose writes the block layer holds to 4 MiB/s, so that the
// write-out at a job's end lasts seconds. Needs root.
bool mountSlowDisk(const QString &image, const QString &mountPoint, Cleanup &cleanup)
{
    const char *const mount = R"(set -e
        truncate -s 256M "$1"; mkfs.ext4 -q -F "$1"; mkdir -p "$2"
        d=$(losetup -f --show --direct-io=on "$1"); mount $d "$2"
        echo "$(lsblk -dno MAJ:MIN $d | tr -d ' ') 4194304" > "$3")";
    const char *const undo = R"(d=$(losetup -nO NAME -j "$1")
        [ -n "$d" ] && echo "$(lsblk -dno MAJ:MIN $d | tr -d ' ') 0" > "$3"
        umount "$2"; [ -n "$d" ] && losetup -d $d)";
    const QStringList places = {image, mountPoint,
                                "/sys/fs/cgroup/blkio/blkio.throttle.write_bps_device"};
    cleanup.add([=] { QProcess::execute("sh", QStringList{"-c", undo, "sh"} + places); });
    return QProcess::execute("sh", QStringList{"-c", mount, "sh"} + places) == 0;
}

// Hidden by the platform's own mark: the attribute on Windows, a leading dot elsewhere.
bool markHidden(const QString &path)
{
#ifdef Q_OS_WIN
    return ::SetFileAttributesW(qUtf16Printable(path), FILE_ATTRIBUTE_HIDDEN);
#else
    return QFileInfo(path).fileName().startsWith(u'.');
#endif
}

// WCAG's relative luminance of a pixel.
double luminance(QRgb pixel)
{
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) +
           0.0722 * linear(qBlue(pixel));
}

// The strongest contrast between a widget's text as rendered and what is behind it: the window
// is drawn with and without the text, and the pixels that differ are compared.
double textContrast(QWidget *window, QWidget *widget, const char *property)
{
    auto *button = qobject_cast<QAbstractButton *>(widget);
    const QIcon icon = button ? button->icon() : QIcon();
    if (button)
        button->setIcon({}); // an icon is not text, and would move with it
    const QVariant text = widget->property(property);
    const QImage with = window->grab().toImage();
    widget->setProperty(property, QString());
    const QImage without = window->grab().toImage();
    widget->setProperty(property, text);
    if (button)
        button->setIcon(icon);
    double best = 1;
    const QRect area = QRect(widget->mapTo(window, QPoint()), widget->size()) & with.rect();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const double a = luminance(with.pixel(x, y)), b = luminance(without.pixel(x, y));
            best = std::max(best, (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05));
        }
    }
    return best;
}

QString accessible(QWidget *widget, QAccessible::Text text = QAccessible::Name)
{
    return QAccessible::queryAccessibleInterface(widget)->text(text);
}

// The object names that Tab visits from first on, until it comes back.
QStringList tabCycle(QWidget *first)
{
    first->setFocus();
    QStringList seen;
    for (QWidget *focus = first; seen.size() < 30 && (seen.isEmpty() || focus != first);) {
        seen.append(focus->objectName());
        QTest::keyClick(focus, Qt::Key_Tab);
        focus = QApplication::focusWidget();
    }
    return seen;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        const QString file = useOwnSettingsHome(m_home.path());
        QVERIFY2(file.startsWith(m_home.path()), qPrintable("settings in a shared store: " + file));
        // Windows has no session bus: the window must work without one, as here without a bus.
        m_onBus = !Windows && qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
        // A run that names a system bus (none, in the one without buses) keeps it. The bus
        // library reads every bus's address when the first bus is asked for.
        if (Windows || !qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"))
            m_sleepWatched = m_sleep.start();
        QVERIFY2(!m_onBus || m_desktop.listen(), "the stand-in desktop could not join the bus");

        // Still copying when a pause, cancel or close is clicked; sub-folders come first, then
        // files.
        for (int i = 0; i < 4; ++i)
            QVERIFY(writeFile(bigSource() + QStringLiteral("/big/b%1.bin").arg(i),
                              randomBytes(64 << 20)));
        QVERIFY(writeFile(bigSource() + "/big/a-first/small.txt", "small"));
    }

    void init()
    {
        // Windows has no chattr, loop devices or block throttles, and Wine makes no links or
        // second mounts.
        static const QRegularExpression posixOnly(
            "^(closingWhileWritingOut|failuresListedAndRetried|roomAskedBeforeCopying)\\b|"
            "^destinationCheck "
            ".*(link|mount)");
        const QString test =
            QTest::currentTestFunction() + QStringLiteral(" ") + QTest::currentDataTag();
        if (Windows && posixOnly.match(test).hasMatch())
            QSKIP("POSIX-only: a link, a mount, chattr or a throttled loop device");
        // The window prints nothing, bus or no bus; the note on size hints is the platform's.
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support)"));
        QVERIFY(desktopHeardAll()); // nothing of an earlier test may arrive in this one
        m_desktop.notes.clear();
        m_desktop.progress.clear();
        programSettings().clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_window = std::make_unique<MainWindow>();
        m_form = std::make_unique<Form>(m_window.get());
    }

    void cleanup()
    {
        m_form.reset();
        m_window.reset();
    }

    void destinationCheck_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        // The title of the box that refuses Start, or where the source's one file must land.
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char *name, const char *source, const char *target,
                            const char *outcome = "Invalid Destination") {
            QTest::newRow(name) << QString(source) << QString(target) << QString(outcome);
        };
        row("both empty", "", "", "No Source");
        row("target empty", "data", "", "No Destination");
        row("same", "data", "data");
        row("inside", "data", "data/inner");
        row("inside, not made yet", "data", "data/new/deeper");
        row("trailing separators", "data/", "data/inner/");
        row("through a link to the source", "data", "link-to-data/inner");
        row("link into the source", "data", "link-to-inner");
        row("source named by a link", "link-to-data", "data/inner");
        // The job reads ".." by name, as the check does: this is data/elsewhere.
        row("up from a link out of the source", "data", "data/out/../elsewhere");
        // A second mount stands in for a file system that ignores case, where DATA is data too.
        row("another mount of the source", "data", "mirror/inner");

        // NTFS ignores letter case, as Wine does; Linux's file systems mostly do not.
        row("inside, in other letters", "data", "DATA/inner",
            Windows ? "Invalid Destination" : "DATA/inner/inner/file.txt");
        row("name begins with the source's", "data", "data2", "data2/inner/file.txt");
        row("through .. to a sibling", "data", "data/../data2", "data2/inner/file.txt");
        row("up from a link into the source", "data", "aside/link-to-inner/../deep",
            "aside/deep/inner/file.txt");
        // Accepted, but the source's own folder of its name must not be copied onto itself.
        row("its parent, while it holds a folder of its name", "data", ".", "inner/file.txt");
    }

    void destinationCheck()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(QString, outcome);
        QVERIFY(writeFile(path("data/inner/file.txt"), "data"));
        QVERIFY(writeFile(path("data/data/inner/file.txt"), "nested"));
        for (const char *folder : {"other", "aside", "mirror"})
            QVERIFY(QDir().mkpath(path(folder)));
        QVERIFY(QFile::link(path("data"), path("link-to-data")));
        QVERIFY(QFile::link(path("data/inner"), path("link-to-inner")));
        QVERIFY(QFile::link(path("data/inner"), path("aside/link-to-inner")));
        QVERIFY(QFile::link(path("other"), path("data/out")));
        Cleanup cleanup;
        if (target.startsWith("mirror")) {
            if (QProcess::execute("mount", {"--bind", path("data"), path("mirror")}) != 0)
                QSKIP("a bind mount needs root");
            cleanup.add([this] { QProcess::execute("umount", {"--lazy", path("mirror")}); });
        }
        const QString sourceTree = path(source.isEmpty() ? "data" : source);
        const QStringList before = treeOf(sourceTree);

        BoxCloser closer;
        startThroughButton(source.isEmpty() ? source : path(source),
                           target.isEmpty() ? target : path(target));
        if (!outcome.contains(u'/')) {
            QCOMPARE(closer.seen.size(), 1);
            QVERIFY2(closer.seen.first().startsWith(outcome + ':') &&
                         !closer.seen.first().endsWith("(not plain)"),
                     qPrintable(closer.seen.first()));
            QVERIFY2(!m_window->m_processor, "a refused start made a job");
            QVERIFY2(programSettings().allKeys().isEmpty(), "a refused start wrote the settings");
        } else {
            QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.join(u'\n')));
            QVERIFY(waitUntilIdle());
            QCOMPARE(m_form->labelStatus->text(), "Operation complete");
            QCOMPARE(readFile(path(outcome)), "data");
        }
        QCOMPARE(treeOf(sourceTree), before);
        QCOMPARE(readFile(path("data/inner/file.txt")), "data");
    }

    void copyThroughButtons_data()
    {
        QTest::addColumn<bool>("subFolders");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("keepDates");
        QTest::addColumn<QString>("copied");
        QTest::newRow("sub-folders, hidden and dates")
            << true << true << true << ".h .s/ .s/in a empty/ sub/ sub/b";
        QTest::newRow("sub-folders only") << true << false << false << "a empty/ sub/ sub/b";
        QTest::newRow("hidden and dates") << false << true << true << ".h a";
        QTest::newRow("none of them") << false << false << false << "a";
    }

    void copyThroughButtons()
    {
        QFETCH(bool, subFolders);
        QFETCH(bool, hidden);
        QFETCH(bool, keepDates);
        QFETCH(QString, copied);
        constexpr qint64 Dated = 1262304000; // 2010
        for (const char *file : {"a", "sub/b", ".h", ".s/in"})
            QVERIFY(writeFile(path("src/") + file, randomBytes(100000 + qstrlen(file))) &&
                    setModified(path("src/") + file, Dated));
        QVERIFY(QDir().mkpath(path("src/empty")));
        for (const char *name : {"src/.h", "src/.s"})
            QVERIFY(markHidden(path(name)));

        m_form->checkBoxSubFolders->setChecked(subFolders);
        m_form->checkBoxHidden->setChecked(hidden);
        m_form->checkBoxKeepDates->setChecked(keepDates);
        startThroughButton(path("src"), path("dst"));
        QVERIFY(waitUntilIdle());
        QCOMPARE(treeOf(path("dst")), copied.split(u' '));
        QCOMPARE(QFileInfo(path("dst/a")).lastModified().toSecsSinceEpoch() == Dated, keepDates);
        QCOMPARE(strayTemporaries(m_dir->path()), QStringList());

        // At rest again, and the choices come back in a new window.
        QCOMPARE(m_form->labelStatus->text(), "Operation complete");
        QVERIFY2(!m_window->m_timer.isActive() && m_form->buttonInfo->isHidden() &&
                     m_form->widgetInfo->isHidden() && m_form->buttonStart->text() == "Start",
                 "the job's timer, panel or Pause button outlived it");
        MainWindow again;
        QCOMPARE(Form(&again).checkBoxSubFolders->isChecked(), subFolders);
        QCOMPARE(Form(&again).checkBoxHidden->isChecked(), hidden);
        QCOMPARE(Form(&again).checkBoxKeepDates->isChecked(), keepDates);
    }

    void overwriteModeFromRadioButtons()
    {
        // What each mode does to the bytes is the engine's to prove; here, which mode a job gets.
        const std::pair<QRadioButton *, OverwriteMode> choices[] = {
            {m_form->radioButtonOverwriteOlder, OverwriteOlder},
            {m_form->radioButtonOverwriteAll, OverwriteAll},
            {m_form->radioButtonOverewriteSmaller, OverwriteSmaller},
            {m_form->radioButtonOverwriteNone, OverwriteNone}};
        for (const auto &[radio, mode] : choices) {
            radio->click();
            QCOMPARE(m_window->overwriteMode(), mode);
        }
    }

    void verifyCopies_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("to its end") << "end";
        QTest::newRow("cancelled while verifying") << "cancel";
        QTest::newRow("copies gone before their read-back") << "gone";
    }

    // Remembered like the include options; its phase shows in the status, the bar and the time
    // left, a cancel says how many copies were verified, and the desktop hears "verified" only
    // when every copy was.
    void verifyCopies()
    {
        QFETCH(QString, ending);
        const bool cancel = ending == "cancel";
        QVERIFY(!m_form->checkBoxVerify->isChecked());
        m_form->checkBoxVerify->setChecked(true);
        startThroughButton(bigSource(), path("dst"));
        QCOMPARE(programSettings().value(SettingsKey::VerifyCopies), QVariant(true));
        Processor *worker = m_window->m_processor;
        QVERIFY2(spinUntil(
                     [worker] {
                         return worker->isFinished() ||
                                (worker->phase() == PhaseKind::Verify &&
                                 worker->progress(PhaseKind::Verify).bytesDone > 0);
                     },
                     JobTimeoutMs),
                 "the verify phase never began");
        worker->pause();
        QVERIFY2(!worker->isFinished(), "verified before a tick could see it");
        m_window->updateInfo();
        QCOMPARE(m_form->labelStatus->text(), "Verifying…");
        QVERIFY(m_form->progressBarTotal->value() >= 50 && m_form->progressBarTotal->value() < 100);
        QVERIFY(m_form->labelRemaining->text() != "0 seconds");
        // Every large copy but the one being read back: at least one is not verified yet.
        QStringList gone;
        for (int i = 0; ending == "gone" && i < 4; ++i) {
            const QString name = QStringLiteral("b%1.bin").arg(i);
            if (name != worker->currentFile() && QFile::remove(path("dst/big/" + name)))
                gone.append(name);
        }
        if (cancel)
            m_form->buttonCancel->click();
        else
            worker->resume();
        QVERIFY(waitUntilIdle());
        QCOMPARE(treeOf(path("dst")).size(), treeOf(bigSource()).size() - gone.size());
        const QString status = m_form->labelStatus->text();
        if (cancel) {
            QVERIFY2(status.startsWith("Operation cancelled: ") &&
                         status.endsWith(" of 5 copies verified"),
                     qPrintable(status));
        } else if (gone.isEmpty()) {
            QCOMPARE(status, "Operation complete: 5 copies verified");
        } else {
            // Some were read back whole, some were not: nothing says "verified".
            QCOMPARE(status, "Operation complete");
            QVERIFY2(model()->rowCount() > 0 && model()->rowCount() <= gone.size(),
                     "the copies gone are listed");
        }
        QVERIFY(desktopHeardAll());
        if (m_onBus)
            QCOMPARE(m_desktop.notes,
                     QStringList(cancel           ? "Operation cancelled: 5 files copied, 0 failed"
                                 : gone.isEmpty() ? "Operation complete: 5 files copied and "
                                                    "verified, 0 failed"
                                                  : QStringLiteral("Operation complete: 5 files "
                                                                   "copied, %1 failed")
                                                        .arg(model()->rowCount())));
        QVERIFY(MainWindow().findChild<QCheckBox *>("checkBoxVerify")->isChecked());
    }

    void pauseResumeCancel()
    {
        // A folder where the first file's destination should be: it fails before any big file.
        QVERIFY(QDir().mkpath(path("dst/big/a-first/small.txt/keep")));
        programSettings().setValue(SettingsKey::ShowInfo, true);
        m_form->radioButtonOverwriteAll->click();
        const auto icon = [](const QIcon &from) { return from.pixmap(20, 20).toImage(); };

        startThroughButton(bigSource(), path("dst"));
        const QPointer<Processor> worker = m_window->m_processor;
        QCOMPARE(m_form->buttonStart->text(), "Pause");
        QCOMPARE(icon(m_form->buttonStart->icon()), icon(QIcon(":/resources/pause.png")));
        QVERIFY2(!m_form->widgetInfo->isHidden(), "the panel opens as \"showInfo\" says");
        QVERIFY2(spinUntil([&] { return worker->bytesDone() > 0 || worker->isFinished(); }),
                 "no copy");
        // The speed from the job's milliseconds: a copy under way is never "0 Bytes/sec".
        QVERIFY(spinUntil([&] { return worker->bytesDone() > (1 << 20) || worker->isFinished(); }));
        m_window->updateInfo();
        QVERIFY2(worker->elapsedSeconds() > 0 || m_form->labelSpeed->text() != "0 Bytes/sec",
                 "a speed of whole seconds");

        m_form->buttonStart->click();
        QCOMPARE(m_form->labelStatus->text(), "Operation paused");
        QCOMPARE(m_form->buttonStart->text(), "Resume");
        QCOMPARE(icon(m_form->buttonStart->icon()), icon(QIcon(":/resources/start.png")));
        QVERIFY2(!worker->isFinished() && worker->failureCount() == 1, "paused too late");
        // The job finishes the chunk in hand, then nothing moves: a wait that must time out.
        const quint64 pausedAt = worker->bytesDone() + (1 << 20);
        QVERIFY2(!QTest::qWaitFor([&] { return worker->bytesDone() > pausedAt; }, 500),
                 "the job went on copying while paused");
        QCOMPARE(m_form->labelStatus->text(), "Operation paused");

        m_form->buttonStart->click();
        QCOMPARE(m_form->labelStatus->text(), "Operation restarting");
        QCOMPARE(m_form->buttonStart->text(), "Pause");
        QVERIFY2(m_window->m_timer.isActive(), "Resume restarts the timer");
        QVERIFY2(spinUntil([&] { return worker->bytesDone() > pausedAt || worker->isFinished(); }),
                 "Resume did not set the job going again");

        m_form->buttonCancel->click();
        QCOMPARE(m_form->labelStatus->text(), "Operation cancelling");
        QVERIFY(waitUntilIdle());
        QVERIFY2(worker.isNull(), "the finished worker is deleted");
        QCOMPARE(m_form->labelStatus->text(), "Operation cancelled");
        QCOMPARE(m_form->progressBarTotal->value(), 0);
        QVERIFY2(m_form->tabWidget->currentIndex() == 0 && model()->rowCount() == 0,
                 "the failures of a cancelled job are not shown");
        m_form->buttonCancel->click(); // with no job: nothing happens
        QCOMPARE(m_form->labelStatus->text(), "Operation cancelled");
        // The window never showed, so it is not the active one: the desktop hears the outcome.
        QVERIFY(desktopHeardAll());
        QCOMPARE(m_desktop.notes.size(), m_onBus ? 1 : 0);
        const QRegularExpression note("^Operation cancelled: \\d+ files? copied, 1 failed$");
        QVERIFY2(!m_onBus || note.match(m_desktop.notes.first()).hasMatch(),
                 qPrintable(m_desktop.notes.value(0)));
    }

    // The job's last step waits for the device: the window says so and estimates it, and a
    // close meanwhile waits until the data is written.
    void closingWhileWritingOut()
    {
        Cleanup cleanup;
        QVERIFY(mountSlowDisk(path("disk.img"), path("slow"), cleanup));
        // Small enough to reach the device only at the end.
        for (int i = 0; i < 48; ++i)
            QVERIFY(writeFile(path("src/f%1").arg(i), randomBytes(500000)));
        m_window->showAndFit();
        startThroughButton(path("src"), path("slow/dst"));
        const Processor *worker = m_window->m_processor;
        const auto writingOut = [worker] { return worker->phase() == PhaseKind::WriteOut; };
        QVERIFY(spinUntil([&] { return writingOut() || worker->isFinished(); }, JobTimeoutMs));
        QVERIFY2(writingOut(), "the data was written out before it could be seen");
        m_window->updateInfo();
        QCOMPARE(m_form->labelStatus->text(), "Writing to the destination…");
        QVERIFY2(!m_sleepWatched || m_sleep.held(),
                 "the system may sleep while the data is written");
        QCOMPARE(m_form->labelRemaining->text(), "Unknown"); // its pace is not known yet
        QTRY_VERIFY(m_form->labelRemaining->text() != "Unknown");
        QVERIFY2(writingOut() && QRegularExpression("^[1-9]\\d* seconds?$")
                                     .match(m_form->labelRemaining->text())
                                     .hasMatch(),
                 qPrintable(m_form->labelRemaining->text()));

        BoxCloser closer;
        m_window->close();
        QVERIFY2(m_window->isVisible(), "the window went while its data was being written");
        QCOMPARE(m_form->labelStatus->text(),
                 "Writing to the destination… The window closes once the data is written.");
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), JobTimeoutMs);
        QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.join(u'|')));
        QCOMPARE(m_form->labelStatus->text(), "Operation complete");
        QCOMPARE(treeOf(path("slow/dst")).size(), 48);
    }

    void roomAskedBeforeCopying_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("cancelled") << "Cancel";
        QTest::newRow("copied anyway") << "Copy anyway";
    }

    // Too little room is asked about before the first byte, Cancel first; the job waits
    // meanwhile, and the system may sleep.
    void roomAskedBeforeCopying()
    {
        QFETCH(QString, answer);
        Cleanup cleanup;
        QVERIFY(QDir().mkpath(path("small")));
        cleanup.add([this] { QProcess::execute("umount", {path("small")}); });
        QCOMPARE(
            QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "tmpfs", path("small")}),
            0);
        for (int i = 0; i < 3; ++i)
            QVERIFY(writeFile(path("src/f%1").arg(i), randomBytes(4 << 20)));

        // While the box is up the job has written nothing and holds no sleep.
        QString whileAsking = "never asked";
        BoxCloser closer(answer);
        closer.answerWhen = [&] {
            whileAsking = m_sleepWatched && m_sleep.held() ? "sleep held " : "";
            whileAsking += treeOf(path("small")).join(u' ');
            return whileAsking.isEmpty();
        };
        startThroughButton(path("src"), path("small/dst"));
        QVERIFY(waitUntilIdle());
        QCOMPARE(closer.seen, QStringList("Not enough room: This copy needs 12.00 MB; the "
                                          "destination has 8.00 MB free. (not plain)"));
        QCOMPARE(closer.buttons, QStringList({"Copy anyway", "Cancel*"}));
        QCOMPARE(whileAsking, QString());
        if (answer == "Cancel") {
            QCOMPARE(m_form->labelStatus->text(), "Operation cancelled");
            QCOMPARE(treeOf(path("small")), QStringList());
        } else {
            // What fits is copied; the rest fails as the disk fills, and is listed.
            QVERIFY2(model()->rowCount() >= 1, "a full disk was not reported");
            QCOMPARE(treeOf(path("small/dst")).size(), 3 - model()->rowCount());
        }
        QCOMPARE(strayTemporaries(path("small")), QStringList());
    }

    void sleepHeldWhileWorking_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("to its end") << "end";
        QTest::newRow("cancelled") << "cancel";
        QTest::newRow("paused, resumed and cancelled") << "pause";
        QTest::newRow("refused by logind") << "refused";
    }

    // Held while the job copies, not while it is paused, and released once it has ended; where
    // logind refuses, the job goes on without a word.
    void sleepHeldWhileWorking()
    {
        QFETCH(QString, ending);
        TRASKO_REQUIRE(m_sleepWatched || qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"),
                       "python3-dbus, python3-gi and dbus-daemon for logind's stand-in");
        if (!m_sleepWatched)
            QSKIP("this run has no system bus: every job of it runs without one");
        if (Windows && ending == "refused")
            QSKIP("Windows does not refuse");
        const bool refused = ending == "refused";
        m_sleep.refuse(refused);
        Cleanup cleanup;
        cleanup.add([this] { m_sleep.refuse(false); });
        const int callsBefore = int(m_sleep.calls().size());

        startThroughButton(bigSource(), path("dst"));
        const QPointer<Processor> worker = m_window->m_processor;
        // The job held mid-copy behind the window's back, so that it cannot end meanwhile.
        const auto holdMidCopy = [&] {
            return spinUntil([&] { return worker->bytesDone() > 0 || worker->isFinished(); }) &&
                   (worker->pause(), !worker->isFinished());
        };
        QVERIFY2(holdMidCopy(), "the job ended before it could be held");
        QTRY_COMPARE(m_sleep.held(), !refused);
        if (ending == "pause") {
            m_form->buttonStart->click();
            QTRY_VERIFY(!m_sleep.held());
            m_form->buttonStart->click();
            QVERIFY2(holdMidCopy(), "the job ended before it could be held again");
            QTRY_VERIFY(m_sleep.held());
        }
        if (ending == "end" || refused)
            worker->resume();
        else
            m_form->buttonCancel->click();
        QVERIFY(waitUntilIdle());
        QCOMPARE(m_form->labelStatus->text(),
                 ending == "end" || refused ? "Operation complete" : "Operation cancelled");
        QTRY_VERIFY(!m_sleep.held());
        const QString call =
            QStringLiteral("sleep|%1|Copying files|block").arg(Identity::Application);
        QCOMPARE(m_sleep.calls().mid(callsBefore),
                 Windows ? QStringList() : QStringList(ending == "pause" ? 2 : 1, call));
    }

    void cancelWhilePausedThenResume()
    {
        startThroughButton(bigSource(), path("dst"));
        m_form->buttonStart->click();
        m_form->buttonCancel->click();
        QCOMPARE(m_form->buttonStart->text(), "Resume");
        QVERIFY2(!m_window->m_timer.isActive(), "a cancelled pause keeps the timer stopped");
        // finished() cannot arrive before the event loop runs, so this Resume reaches a live worker
        // whose pause the cancel has already released.
        m_form->buttonStart->click();
        QCOMPARE(m_form->buttonStart->text(), "Pause");
        QVERIFY(waitUntilIdle());
        QCOMPARE(m_form->labelStatus->text(), "Operation cancelled");
    }

    void closingMidJob_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::newRow("running") << false;
        QTest::newRow("paused") << true;
    }

    void closingMidJob()
    {
        QFETCH(bool, paused);
        QVERIFY(writeFile(path("dst/big/b0.bin"), "old contents"));
        m_window->showAndFit();
        m_form->radioButtonOverwriteAll->click();
        startThroughButton(bigSource(), path("dst"));
        const QPointer<Processor> worker = m_window->m_processor;
        // Mid-file, so that a temporary file exists when the window goes.
        QVERIFY2(spinUntil([&] {
                     return (worker->currentFile() == "b0.bin" && worker->currentFileDone() > 0) ||
                            worker->isFinished();
                 }),
                 "the copy never started");
        if (paused)
            m_form->buttonStart->click();
        QVERIFY2(!worker->isFinished(), "the job ended before the window could be closed");

        {
            BoxCloser keep("Keep copying");
            m_window->close();
            QCOMPARE(keep.seen.value(0).section(u':', 0, 0), "Copy in progress");
            QCOMPARE(keep.buttons, QStringList({"Keep copying*", "Cancel the copy and close"}));
        }
        QVERIFY2(m_window->isVisible() && worker && !worker->isCancelled(),
                 "Keep copying closed the window or stopped the job");
        if (paused) {
            // As at the end of a session: the window goes without asking, and its job with it.
            m_window.reset();
            QVERIFY2(worker.isNull(), "the worker outlived its window");
        } else {
            BoxCloser cancel("Cancel the copy and close");
            m_window->close();
            QVERIFY2(m_window->isVisible() && worker && worker->isCancelled(),
                     "the window went before its job, or the job went on");
            QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), JobTimeoutMs);
            QVERIFY(worker.isNull());
            QCOMPARE(m_form->labelStatus->text(), "Operation cancelled");
        }
        // Whole, old or new: the job may have gone on to finish the file after "Keep copying".
        const QByteArray copied = readFile(path("dst/big/b0.bin"));
        QVERIFY(copied == "old contents" || copied == readFile(bigSource() + "/big/b0.bin"));
        QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
    }

    void infoAfterTheLastFile_data()
    {
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QString>("remaining");
        QTest::newRow("three files")
            << QList<int>{1536, 1000, 512} << "3 files (2.98 KB)" << 100 << "0 seconds";
        QTest::newRow("only empty files")
            << QList<int>{0, 0} << "2 files (0 Bytes)" << 0 << "0 seconds";
        QTest::newRow("nothing to copy") << QList<int>{} << "0 files (0 Bytes)" << 0 << "Unknown";
    }

    void infoAfterTheLastFile()
    {
        QFETCH(QList<int>, sizes);
        QFETCH(QString, counts);
        QFETCH(int, bar);
        QVERIFY(QDir().mkpath(path("src")));
        for (int i = 0; i < sizes.size(); ++i)
            QVERIFY(writeFile(path("src/f%1").arg(i), randomBytes(sizes[i])));

        startThroughButton(path("src"), path("dst"));
        // Waiting outside the event loop keeps finished() queued: a tick shows the final counters.
        QVERIFY(m_window->m_processor->wait(QDeadlineTimer(JobTimeoutMs)));
        m_window->updateInfo();
        QCOMPARE(m_form->labelTotal->text(), counts);
        QCOMPARE(m_form->labelProcessed->text(), counts);
        QCOMPARE(m_form->labelErrors->text(), "0");
        QCOMPARE(m_form->progressBarTotal->value(), bar);
        QTEST(m_form->labelRemaining->text(), "remaining");
        QVERIFY(waitUntilIdle());
        QCOMPARE(m_form->progressBarTotal->value(), 0);
        QCOMPARE(m_form->labelTotal->text(), counts); // kept until the next job's first tick

        // Never shown, so never active: the desktop hears the outcome; the task-bar progress goes.
        QVERIFY(desktopHeardAll());
        if (m_onBus) {
            QCOMPARE(m_desktop.notes,
                     QStringList("Operation complete: " + counts.section(u' ', 0, 1) +
                                 " copied, 0 failed"));
            QCOMPARE(m_desktop.progress,
                     QStringList({QString::number(bar / 100) + " shown", "0 hidden"}));
        }
    }

    void speaksThePersonsLanguage_data()
    {
        // Start, a check box, the status at rest and after the job, the message of a file not
        // copied, the desktop's note, a duration, the toolkit's own Cancel, and the count.
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("German") << QStringList{"de",
                                               "Starten",
                                               "Unterordner einbeziehen",
                                               "Warte auf Eingabe.",
                                               "Vorgang abgeschlossen",
                                               "Zieldatei konnte nicht entfernt werden",
                                               "Vorgang abgeschlossen: 1 Datei kopiert, 1 "
                                               "fehlgeschlagen",
                                               "1 Stunde 2 Minuten",
                                               "Abbrechen",
                                               "2 Dateien (2 Bytes)"};
        QTest::newRow("French") << QStringList{"fr",
                                               "Démarrer",
                                               "Inclure les sous-dossiers",
                                               "En attente de l'utilisateur.",
                                               "Opération terminée",
                                               "Le fichier cible n'a pas pu être supprimé",
                                               "Opération terminée: 1 fichier copié(s), 1 en "
                                               "échec",
                                               "1 heure 2 minutes",
                                               "Annuler",
                                               "2 fichiers (2 Bytes)"};
        QTest::newRow("Spanish") << QStringList{"es",
                                                "Iniciar",
                                                "Incluir subcarpetas",
                                                "Esperando al usuario.",
                                                "Operación completada",
                                                "No se pudo eliminar el archivo de destino",
                                                "Operación completada: 1 archivo copiado(s), 1 "
                                                "con error",
                                                "1 hora 2 minutos",
                                                "Cancelar",
                                                "2 archivos (2 Bytes)"};
        // English comes before German in the person's list: nothing is translated.
        QTest::newRow("English first") << QStringList{"en_GB:de",
                                                      "Start",
                                                      "Include sub-folders",
                                                      "Waiting for user input.",
                                                      "Operation complete",
                                                      "Target file could not be removed",
                                                      "Operation complete: 1 file copied, 1 failed",
                                                      "1 hour 2 minutes",
                                                      "Cancel",
                                                      "2 files (2 Bytes)"};
    }

    // The window, its job's outcome and the engine's reasons in the language the system names;
    // numbers and sizes in their one form.
    void speaksThePersonsLanguage()
    {
        QFETCH(QStringList, texts);
        Cleanup cleanup;
        cleanup.add([] { Translations::install(QLocale(QLocale::English)); });
        const QStringList languages = texts.takeFirst().split(u':');
        Translations::install(QLocale(languages.first()));
        if (languages.size() > 1) { // as the system gives a person's list of languages
            qputenv("LANGUAGE", languages.join(u':').toUtf8());
            cleanup.add([] { qunsetenv("LANGUAGE"); });
            Translations::install(QLocale::system());
        }
        m_window = std::make_unique<MainWindow>();
        m_form = std::make_unique<Form>(m_window.get());
        QCOMPARE(m_form->buttonStart->text(), texts[0]);
        QCOMPARE(m_form->checkBoxSubFolders->text(), texts[1]);
        QCOMPARE(m_form->labelStatus->text(), texts[2]);

        QVERIFY(writeFile(path("src/a"), "a"));
        QVERIFY(writeFile(path("src/b"), "b"));
        QVERIFY(QDir().mkpath(path("dst/b/keep")));
        m_form->radioButtonOverwriteAll->click();
        startThroughButton(path("src"), path("dst"));
        QVERIFY(m_window->m_processor->wait(QDeadlineTimer(JobTimeoutMs)));
        m_window->updateInfo();
        QCOMPARE(m_form->labelTotal->text(), texts[8]);
        QVERIFY(waitUntilIdle());
        QCOMPARE(m_form->labelStatus->text(), texts[3]);
        QCOMPARE(model()->index(0, 1).data().toString(), texts[4]);
        QVERIFY(desktopHeardAll());
        QCOMPARE(m_desktop.notes, m_onBus ? QStringList(texts[5]) : QStringList());
        QCOMPARE(Formats::duration(3725), texts[6]);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), texts[7]);
    }

    void failuresListedAndRetried()
    {
        // One failure a folder, in the walk's order (sub-folders first): three meet a folder in
        // their way, the first a folder nobody may write in, not even root.
        const QStringList failing = {path("src/m/n/locked/a"), path("src/m/n/deep"),
                                     path("src/m/mid"), path("src/top")};
        for (const QString &file : failing) {
            QVERIFY(writeFile(file, "new " + QFileInfo(file).fileName().toUtf8()));
            QVERIFY(QDir().mkpath(QString(file).replace("/src/", "/dst/") + "/keep"));
        }
        QVERIFY(QDir(path("dst/m/n/locked/a")).removeRecursively());
        QCOMPARE(QProcess::execute("chattr", {"+i", path("dst/m/n/locked")}), 0);
        Cleanup cleanup;
        cleanup.add([this] { QProcess::execute("chattr", {"-i", path("dst/m/n/locked")}); });
        QVERIFY(writeFile(path("elsewhere/src/m/mid"), "elsewhere"));
        programSettings().setValue(SettingsKey::ShowInfo, true);
        QVERIFY(shownAndActive());
        m_form->radioButtonOverwriteAll->click();
        startThroughButton(path("src"), path("dst"));
        QVERIFY(waitUntilIdle());
        QCOMPARE(m_form->labelStatus->text(), "Operation complete");
        QCOMPARE(m_form->tabWidget->currentIndex(), 1);
        QCOMPARE(model()->rowCount(), 4);
        for (int row = 0; row < 4; ++row) {
            QCOMPARE(model()->index(row, 0).data().toString(), failing.at(row));
            QCOMPARE(model()->index(row, 1).data().toString(),
                     row == 0 ? "Target file could not be opened"
                              : "Target file could not be removed");
        }
        // The row's tooltip is the system's own reason for the failure.
        const QString reason = model()->index(0, 2).data().toString();
        QCOMPARE(model()->index(0, 0).data(Qt::ToolTipRole).toString(), reason);
        QVERIFY2(!reason.isEmpty(), "a refused file without the system's reason");
        QVERIFY(desktopHeardAll());
        QVERIFY2(m_desktop.notes.isEmpty(), qPrintable("announced: " + m_desktop.notes.join(u'|')));

        QCOMPARE(ticks(), QList<int>(4, Qt::Unchecked));
        m_form->buttonSelectAll->click();
        QCOMPARE(ticks(), QList<int>(4, Qt::Checked));
        m_form->buttonDeselectAll->click();
        {
            BoxCloser closer;
            m_form->buttonRetry->click();
            QCOMPARE(closer.seen, QStringList("Select Files: Please select files to retry."));
        }
        QVERIFY2(!m_window->m_processor, "a retry of nothing started a job");

        // Sorted by path, last first: top, locked/a, deep, mid. Tick deep (freed) and mid (failing
        // still); the fields may have moved meanwhile, but the retry keeps to the failed job's
        // roots.
        m_form->treeView->sortByColumn(0, Qt::DescendingOrder);
        for (const int row : {2, 3})
            QVERIFY(model()->setData(model()->index(row, 0), Qt::Checked, Qt::CheckStateRole));
        QVERIFY(QDir(path("dst/m/n/deep")).removeRecursively());
        m_form->lineEditSource->setText(path("elsewhere/src"));
        m_form->lineEditTarget->setText(path("elsewhere/dst"));
        m_form->buttonRetry->click();
        QCOMPARE(m_form->tabWidget->currentIndex(), 0);
        QCOMPARE(m_form->buttonStart->text(), "Pause");
        QVERIFY2(m_form->buttonInfo->isVisible() && !m_form->widgetInfo->isVisible(),
                 "a retry shows the toggle with the panel closed, whatever \"showInfo\" says");
        QVERIFY(waitUntilIdle());
        QCOMPARE(readFile(path("dst/m/n/deep")), "new deep");
        QVERIFY2(!QFileInfo::exists(path("elsewhere/dst")),
                 "the retry followed the changed fields");
        // The retried file that failed again comes back alone; the unticked ones were not tried.
        QCOMPARE(model()->rowCount(), 1);
        QCOMPARE(model()->index(0, 0).data().toString(), failing.at(2));
        QVERIFY(QFileInfo(path("dst/top")).isDir());

        m_form->buttonSelectAll->click();
        m_form->buttonCancelRetry->click();
        QCOMPARE(m_form->tabWidget->currentIndex(), 0);
        QVERIFY2(!m_window->m_processor, "Cancel on the copy-errors page started something");
        // The collapsed tab bar still has keys: they must not reach Retry while a job runs.
        startThroughButton(bigSource(), path("big-dst"));
        m_form->buttonStart->click();
        const QPointer<Processor> worker = m_window->m_processor;
        QTest::keyClick(m_form->tabWidget, Qt::Key_Tab, Qt::ControlModifier);
        QTest::keyClick(m_form->tabWidget, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(m_form->tabWidget->currentIndex(), 0);
        m_form->buttonRetry->click();
        QVERIFY2(m_window->m_processor == worker && worker, "Retry during a job started another");
        // A job that ends without showing failures leaves the old rows unseen, as they were.
        m_form->buttonCancel->click();
        QVERIFY(waitUntilIdle());
        QCOMPARE(m_form->tabWidget->currentIndex(), 0);
        QCOMPARE(ticks(), QList<int>({Qt::Checked}));
    }

    void atRest()
    {
        QVERIFY(shownAndActive());
        QCOMPARE(m_window->windowTitle(), "Trasko");
        QVERIFY2(m_window->width() >= 490, "narrower than the form allows");
        QCOMPARE(m_form->labelStatus->text(), "Waiting for user input.");
        QCOMPARE(m_form->buttonStart->text(), "Start");
        for (const QLineEdit *field : {m_form->lineEditSource, m_form->lineEditTarget})
            QVERIFY2(field->text().isEmpty() && field->isReadOnly(),
                     "the choosers fill the fields");
        QVERIFY(m_form->radioButtonOverwriteNone->isChecked());
        QVERIFY2(m_form->checkBoxSubFolders->isChecked() && !m_form->checkBoxHidden->isChecked(),
                 "the defaults of an empty settings store");
        QVERIFY2(programSettings().allKeys().isEmpty(), "building the window wrote settings");
        QVERIFY2(m_form->buttonInfo->isHidden() && m_form->widgetInfo->isHidden(),
                 "the information panel belongs to a job");
        QCOMPARE(m_form->progressBarTotal->value() + m_form->progressBarFile->value(), 0);
        // The pages are the window's to switch: no tab shows, to the eye or to a screen reader.
        QAccessibleInterface *tabs =
            QAccessible::queryAccessibleInterface(m_form->tabWidget->tabBar());
        for (int i = -1; i < tabs->childCount(); ++i)
            QVERIFY((i < 0 ? tabs : tabs->child(i))->state().invisible);
        QCOMPARE(m_form->treeView->model()->headerData(1, Qt::Horizontal).toString(), "Error");
        QCOMPARE(QImageReader(":/resources/icon.ico").imageCount(), 7);
    }

    void infoPanelTogglesAndRemembers()
    {
        QVERIFY(shownAndActive());
        const int atRest = m_window->height();
        m_window->hideInfoPanel(); // as a job without "showInfo" leaves it
        QTest::mouseClick(m_form->buttonInfo, Qt::LeftButton);
        QVERIFY(m_form->widgetInfo->isVisible());
        QCOMPARE(m_form->buttonInfo->text(), "Less Information");
        QCOMPARE(programSettings().value(SettingsKey::ShowInfo), QVariant(true));
        QTRY_VERIFY2(m_window->height() > atRest, "opening the panel did not grow the window");

        QTest::mouseClick(m_form->buttonInfo, Qt::LeftButton);
        QVERIFY(!m_form->widgetInfo->isVisible() && m_form->buttonInfo->isVisible());
        QCOMPARE(m_form->buttonInfo->text(), "More Information");
        QCOMPARE(programSettings().value(SettingsKey::ShowInfo), QVariant(false));
        m_window->resetInfoPanel(); // as the end of a job leaves it
        QVERIFY(m_form->buttonInfo->isHidden());
        QTRY_COMPARE(m_window->height(), atRest);
    }

    void accessibleNamesAndTabOrder()
    {
        QVERIFY(shownAndActive());
        QCOMPARE(accessible(m_form->buttonSource), "Choose source folder");
        QCOMPARE(accessible(m_form->buttonTarget), "Choose destination folder");
        for (QWidget *unnamed :
             QWidgetList{m_form->lineEditSource, m_form->lineEditTarget, m_form->progressBarTotal,
                         m_form->progressBarFile, m_form->treeView})
            QVERIFY2(!accessible(unnamed).isEmpty(), qPrintable(unnamed->objectName()));
        QVERIFY(accessible(m_form->progressBarTotal) != accessible(m_form->progressBarFile));
        QVERIFY(!accessible(m_form->treeView, QAccessible::Description).isEmpty());
        m_window->hideInfoPanel();
        QCOMPARE(accessible(m_form->buttonInfo), "Show copy details");
        m_window->showInfoPanel();
        QCOMPARE(accessible(m_form->buttonInfo), "Hide copy details");

        QCOMPARE(tabCycle(m_form->lineEditSource),
                 QStringList({"lineEditSource", "buttonSource", "lineEditTarget", "buttonTarget",
                              "radioButtonOverwriteNone", "checkBoxSubFolders", "checkBoxHidden",
                              "checkBoxVerify", "checkBoxKeepDates", "buttonStart", "buttonCancel",
                              "buttonInfo"}));
        m_window->showCopyErrors({CopyError("/a", SourceReadError)});
        QCOMPARE(tabCycle(m_form->treeView),
                 QStringList({"treeView", "buttonSelectAll", "buttonDeselectAll", "buttonRetry",
                              "buttonCancelRetry"}));
    }

    void failureListCopiesAndSorts()
    {
        QVERIFY(shownAndActive());
        const QString deep = "/src/a/" + QString(300, u'x');
        m_window->showCopyErrors({{"/src/b", SourceReadError, "Input/output error"},
                                  {deep, TargetWriteError, "No space left on device"}});
        QTreeView *view = m_form->treeView;
        const QAbstractItemModel *model = view->model();
        QHeaderView *header = view->header();
        QVERIFY2(header->sortIndicatorSection() < 0, "a sort arrow over rows in failure order");
        // The system's reason has a column of its own, and a long path leaves the message in view.
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), "Reason");
        QCOMPARE(model->index(0, 2).data().toString(), "Input/output error");
        QVERIFY(header->sectionSize(1) >=
                view->fontMetrics().horizontalAdvance("Target file could not be written"));
        QVERIFY(header->sectionViewportPosition(1) + header->sectionSize(1) <=
                view->viewport()->width());

        // Select All ticks and selects nothing; Ctrl+C and the menu's Copy copy the selected rows.
        m_form->buttonSelectAll->click();
        QVERIFY(view->selectionModel()->selectedRows().isEmpty());
        view->selectAll();
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        const QString second =
            deep + "\tTarget file could not be written\tNo space left on device\n";
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 "/src/b\tSource file could not be read\tInput/output error\n" + second);
        // Space ticks the selected rows, and unticks them once all of them are ticked.
        m_form->buttonDeselectAll->click();
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(ticks(), QList<int>(2, Qt::Checked));
        view->selectionModel()->select(model->index(1, 0), QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
        QTest::keyClick(view, Qt::Key_Space);
        QCOMPARE(ticks(), QList<int>({Qt::Checked, Qt::Unchecked}));
        view->actions().value(0)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), second);

        // Either column sorts, and then the arrow shows it.
        for (const int column : {0, 1}) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(column) + 5, 5));
            QCOMPARE(header->sortIndicatorSection(), column);
            QCOMPARE(model->index(0, 0).data().toString(), column == 0 ? deep : "/src/b");
        }
    }

    // Only one existing folder is taken, as the chooser would give it; the fields stay read-only.
    void foldersDroppedOnTheFields()
    {
        QVERIFY(writeFile(path("folder/file"), "data"));
        const auto drop = [](QWidget *field, const QList<QUrl> &urls) {
            QMimeData data;
            data.setUrls(urls);
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(field, &enter);
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(field, &dropped);
            return enter.isAccepted();
        };
        const QUrl folder = QUrl::fromLocalFile(path("folder") + "/");
        for (QLineEdit *field : {m_form->lineEditSource, m_form->lineEditTarget}) {
            QVERIFY(!drop(field, {QUrl::fromLocalFile(path("folder/file"))}));
            QVERIFY(!drop(field, {QUrl("sftp://host/folder")}));
            QVERIFY(!drop(field, {folder, folder}));
            QVERIFY(field->text().isEmpty());
            QVERIFY(drop(field, {folder}));
            QCOMPARE(field->text(), path("folder"));
        }
    }

    // At its tallest the window fits the screen's free area, on any screen (the suite runs
    // once more on a 1280 by 800 screen at twice the scale), and the toggle can be reached.
    void fitsTheScreen()
    {
        QVERIFY(shownAndActive());
        m_window->showInfoPanel();
        const QRect room = m_window->screen()->availableGeometry();
        QTRY_VERIFY(room.contains(m_window->frameGeometry()));
        auto *scroll = m_window->findChild<QScrollArea *>();
        scroll->ensureWidgetVisible(m_form->buttonInfo);
        QTRY_VERIFY(!m_form->buttonInfo->visibleRegion().isEmpty());
        // Where the screen has room, nothing scrolls.
        if (m_form->widgetInfo->sizeHint().height() + m_form->tab->sizeHint().height() <
            room.height() / 2)
            QVERIFY(!scroll->verticalScrollBar()->isVisible());
    }

    // Every text of the window stands out from what is behind it (WCAG's 4.5:1), in the default
    // palette and in a dark one, where the panel keeps its light background.
    void readableInAnyTheme()
    {
        const QPalette original = QApplication::palette();
        Cleanup cleanup;
        cleanup.add([original] { QApplication::setPalette(original); });
        QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x2a, 0x2a, 0x2a));
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(role, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        for (const QPalette &palette : {original, dark}) {
            QApplication::setPalette(palette);
            m_window = std::make_unique<MainWindow>();
            m_form = std::make_unique<Form>(m_window.get());
            m_form->lineEditSource->setText("/home/someone/Photos");
            m_window->hideInfoPanel();
            QVERIFY(shownAndActive());
            const QImage shown = m_window->grab().toImage();
            QVERIFY2(luminance(shown.pixel(m_window->width() / 2, 3)) > 0.6, "the panel is light");
            for (QWidget *widget : m_window->findChildren<QWidget *>()) {
                const char *property = qobject_cast<QGroupBox *>(widget) ? "title" : "text";
                if (!widget->isVisible() || qobject_cast<QProgressBar *>(widget) ||
                    widget->property(property).toString().isEmpty())
                    continue;
                const double contrast = textContrast(m_window.get(), widget, property);
                QVERIFY2(contrast >= 4.5, qPrintable(widget->objectName() + QStringLiteral(": ") +
                                                     QString::number(contrast)));
            }
        }
    }

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString bigSource() const { return m_big.filePath("src"); }
    // The fields are read-only to a person; the folder choosers are their only other writers.
    void startThroughButton(const QString &source, const QString &target)
    {
        m_form->lineEditSource->setText(source);
        m_form->lineEditTarget->setText(target);
        m_form->buttonStart->click();
    }

    bool shownAndActive() const
    {
        m_window->showAndFit();
        return QTest::qWaitForWindowActive(m_window.get());
    }

    bool waitUntilIdle() const
    {
        return QTest::qWaitFor([this] { return !m_window->m_processor; }, JobTimeoutMs) &&
               m_window->m_state == MainWindow::StateIdle;
    }

    bool desktopHeardAll() { return !m_onBus || m_desktop.heardAll(); }

    QList<int> ticks() const
    {
        QList<int> states;
        for (int row = 0; row < model()->rowCount(); ++row)
            states.append(model()->index(row, 0).data(Qt::CheckStateRole).toInt());
        return states;
    }

    QStandardItemModel *model() const { return m_window->m_errorModel; }

    QTemporaryDir m_home;
    QTemporaryDir m_big;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Form> m_form;
    // On a private bus the suite listens as the desktop; without one the window must work alike.
    bool m_onBus = false;
    DesktopStandIn m_desktop;
    SleepWatch m_sleep;
    bool m_sleepWatched = false;
};

QTEST_MAIN(TestMainWindow)
#include "tst_window.moc"
