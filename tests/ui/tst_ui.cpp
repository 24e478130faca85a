// The main window without a job: what a person sees at rest, the information panel, and the
// texts the progress display is made of.

#include "app/identity.h"
#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"
#include "ui/remainingtime.h"
#include "ui_mainwindow.h"

#include <QAccessible>
#include <QClipboard>
#include <QHeaderView>
#include <QImageReader>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

struct Tick
{
    std::optional<quint32> estimate;
    double secondsLeft; // the truth
};

// Replays a job of these files at a fixed cost per file and per byte, as the window's half-second
// ticks see it, and feeds each tick's counters to the estimate.
QList<Tick> replay(const QList<quint64> &sizes, double msPerFile, double bytesPerMs)
{
    quint64 allBytes = 0;
    double duration = 0;
    for (const quint64 size : sizes) {
        allBytes += size;
        duration += msPerFile + double(size) / bytesPerMs;
    }
    RemainingTime estimate;
    QList<Tick> ticks;
    for (double now = 500; now < duration + 500; now += 500) {
        RemainingTime::Sample sample{qint64(now), 0, quint64(sizes.size()), 0, allBytes};
        double start = 0;
        for (const quint64 size : sizes) {
            const double end = start + msPerFile + double(size) / bytesPerMs;
            sample.filesDone += end <= now ? 1 : 0;
            sample.bytesDone +=
                end <= now
                    ? size
                    : quint64(qBound(0.0, now - start, double(size) / bytesPerMs) * bytesPerMs);
            start = end;
        }
        ticks.append({estimate.update(sample), std::max(0.0, (duration - now) / 1000)});
    }
    return ticks;
}

QString accessibleText(QWidget *widget, QAccessible::Text text = QAccessible::Name)
{
    return QAccessible::queryAccessibleInterface(widget)->text(text);
}

// The object names that Tab visits from the focus widget on, until it comes back.
QStringList tabCycle(QWidget *first)
{
    first->setFocus();
    QStringList seen;
    for (QWidget *focus = first; seen.size() < 30;) {
        seen.append(focus->objectName());
        QTest::keyClick(focus, Qt::Key_Tab);
        focus = QApplication::focusWidget();
        if (focus == first)
            break;
    }
    return seen;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void atRest();
    void infoPanelTogglesAndRemembers();
    void formatSize_data();
    void formatSize();
    void formatDuration_data();
    void formatDuration();
    void remainingTime_data();
    void remainingTime();
    void remainingTimeEdges();

    void accessibleNamesAndTabOrder();
    void failureListCopiesAndSorts();

private:
    QTemporaryDir m_home;
    std::unique_ptr<MainWindow> m_window;
    MainWindowForm *m_form = nullptr;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_home.isValid());
    const QString file = useOwnSettingsHome(m_home.path());
    QVERIFY2(file.startsWith(m_home.path()), qPrintable("settings in a shared store: " + file));
}

void TestMainWindow::init()
{
    programSettings().clear();
    m_window = std::make_unique<MainWindow>();
    m_form = m_window->m_form;
    m_window->showAndFit();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestMainWindow::cleanup()
{
    m_window.reset();
}

void TestMainWindow::atRest()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Trasko"));
    QVERIFY(!m_window->windowIcon().isNull());
    QVERIFY2(m_window->width() >= 490, "narrower than the form allows");
    QCOMPARE(m_form->labelStatus->text(), QStringLiteral("Waiting for user input."));
    QCOMPARE(m_form->buttonStart->text(), QStringLiteral("Start"));
    for (const QLineEdit *field : {m_form->lineEditSource, m_form->lineEditTarget})
        QVERIFY2(field->text().isEmpty() && field->isReadOnly(), "the choosers fill the fields");
    QVERIFY(m_form->radioButtonOverwriteNone->isChecked());
    QVERIFY2(m_form->checkBoxSubFolders->isChecked() && !m_form->checkBoxHidden->isChecked(),
             "the defaults of an empty settings store");
    QVERIFY2(programSettings().allKeys().isEmpty(), "building the window wrote settings");
    QVERIFY2(!m_form->buttonInfo->isVisible() && !m_form->widgetInfo->isVisible(),
             "the information panel belongs to a job");
    QCOMPARE(m_form->progressBarTotal->value(), 0);
    QCOMPARE(m_form->progressBarFile->value(), 0);

    // The pages are the window's to switch: no tab shows, so a click where one would stand
    // leaves the main page.
    const QTabBar *tabs = m_form->tabWidget->tabBar();
    QCOMPARE(tabs->tabRect(1).height(), 0);
    QTabBar unstyled;
    unstyled.addTab(QStringLiteral("Tab 1"));
    unstyled.addTab(QStringLiteral("Tab 2"));
    QTest::mouseClick(const_cast<QTabBar *>(tabs), Qt::LeftButton, {},
                      unstyled.tabRect(1).center());
    QCOMPARE(m_form->tabWidget->currentIndex(), 0);

    const QAbstractItemModel *model = m_form->treeView->model();
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("File"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Error"));
    QCOMPARE(model->rowCount(), 0);

    // Every image of the bundle reads back at its size; the icon holds all seven.
    for (const char *name : {"start", "pause", "remove", "add", "minus", "ok", "more", "less"}) {
        const QImage image(QStringLiteral(":/resources/%1.png").arg(QLatin1String(name)));
        const int size = qstrcmp(name, "more") == 0 || qstrcmp(name, "less") == 0 ? 19 : 59;
        QVERIFY2(image.size() == QSize(size, size) && image.hasAlphaChannel(), name);
    }
    QCOMPARE(QImageReader(QStringLiteral(":/resources/icon.ico")).imageCount(), 7);
}

void TestMainWindow::infoPanelTogglesAndRemembers()
{
    const int atRest = m_window->height();
    m_window->hideInfoPanel(); // as a job without "showInfo" leaves it
    QTest::mouseClick(m_form->buttonInfo, Qt::LeftButton);
    QVERIFY(m_form->widgetInfo->isVisible());
    QCOMPARE(m_form->buttonInfo->text(), QStringLiteral("Less Information"));
    QCOMPARE(programSettings().value(SettingsKey::ShowInfo), QVariant(true));
    QTRY_VERIFY2(m_window->height() > atRest, "opening the panel did not grow the window");

    QTest::mouseClick(m_form->buttonInfo, Qt::LeftButton);
    QVERIFY(!m_form->widgetInfo->isVisible() && m_form->buttonInfo->isVisible());
    QCOMPARE(m_form->buttonInfo->text(), QStringLiteral("More Information"));
    QCOMPARE(programSettings().value(SettingsKey::ShowInfo), QVariant(false));

    m_window->resetInfoPanel(); // as the end of a job leaves it
    QVERIFY(!m_form->buttonInfo->isVisible());
    QTRY_COMPARE(m_window->height(), atRest);
}

void TestMainWindow::formatSize_data()
{
    QTest::addColumn<double>("bytes");
    QTest::addColumn<QString>("text");
    const double gib = 1024.0 * 1024 * 1024;
    const auto row = [](const char *name, double bytes, const char *text) {
        QTest::newRow(name) << bytes << QString(text);
    };
    row("zero", 0, "0 Bytes");
    row("below a kilobyte", 1023, "1023 Bytes");
    row("rounded bytes", 511.6, "512 Bytes");
    row("one kilobyte", 1024, "1.00 KB");
    row("one and a half", 1536, "1.50 KB");
    row("unit chosen before rounding", 1048575, "1024.00 KB");
    row("one megabyte", 1048576, "1.00 MB");
    row("4 GiB and a byte, past 32 bits", gib * 4 + 1, "4.00 GB");
    row("one terabyte", gib * 1024, "1.00 TB");
    row("no unit above terabytes", gib * 1024 * 2048, "2048.00 TB");
}

void TestMainWindow::formatSize()
{
    QFETCH(double, bytes);
    QFETCH(QString, text);
    QCOMPARE(MainWindow::formatSize(bytes), text);
}

void TestMainWindow::formatDuration_data()
{
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<QString>("text");
    const auto row = [](quint32 seconds, const char *text) {
        QTest::newRow(text) << seconds << QString(text);
    };
    row(0, "0 seconds");
    row(1, "1 second");
    row(61, "1 minute 1 second");
    row(120, "2 minutes");
    row(3601, "1 hour"); // seconds dropped, not rounded
    row(86399, "23 hours 59 minutes");
    row(90061, "1 day 1 hour");
    row(180000, "2 days 2 hours");
    row(4294967295u, "49710 days 6 hours");
}

void TestMainWindow::formatDuration()
{
    QFETCH(quint32, seconds);
    QFETCH(QString, text);
    QCOMPARE(MainWindow::formatDuration(seconds), text);
}

void TestMainWindow::remainingTime_data()
{
    QTest::addColumn<QList<quint64>>("sizes");
    // From this second on the estimate is within half and twice the truth (plus a second).
    QTest::addColumn<double>("closeFrom");
    const QList<quint64> big(4, 512 << 20);
    const QList<quint64> small(40000, 4096);
    QTest::newRow("large files first, then a small-file tail") << big + small << 4.5;
    QTest::newRow("small files first, then large ones") << small + big << 5.0;
    QTest::newRow("one large file") << QList<quint64>{2ULL << 30} << 0.5;
    QTest::newRow("even files") << QList<quint64>(1000, 1 << 20) << 0.5;
}

void TestMainWindow::remainingTime()
{
    QFETCH(QList<quint64>, sizes);
    QFETCH(double, closeFrom);
    // 500 bytes a millisecond and a tenth of a millisecond a file: a fast local disk.
    const QList<Tick> ticks = replay(sizes, 0.1, 500 * 1024);
    for (int i = 0; i < ticks.size(); ++i) {
        const auto [estimate, truth] = ticks.at(i);
        const double second = (i + 1) / 2.0;
        const QString seen = QStringLiteral("at %1 s: %2 s estimated, %3 s left")
                                 .arg(second)
                                 .arg(estimate ? qint64(*estimate) : -1)
                                 .arg(truth);
        QVERIFY2(estimate.has_value(), qPrintable(seen));
        QVERIFY2(truth == 0 ? *estimate == 0 : *estimate > 0, qPrintable(seen));
        if (second >= closeFrom)
            QVERIFY2(*estimate >= truth / 2 - 1 && *estimate <= truth * 2 + 1, qPrintable(seen));
    }
}

void TestMainWindow::remainingTimeEdges()
{
    const auto once = [](RemainingTime::Sample sample) { return RemainingTime().update(sample); };
    QVERIFY2(!once({0, 0, 0, 0, 0}), "a job with nothing to do has no time left to tell");
    QVERIFY2(!once({3000, 0, 40, 0, 1 << 20}), "nothing done yet: no estimate");
    QCOMPARE(once({250, 0, 1, 1999000, 2000000}), 1u); // a quarter second in: never 0 seconds
    // A file that grew after it was counted: bytes past the total, files still to come.
    QCOMPARE(once({4000, 2, 4, 5000, 4000}), 4u);
    // A pause: the job's clock stands still, and samples taken meanwhile change nothing.
    RemainingTime paused;
    RemainingTime straight;
    for (const qint64 ms : {1000, 2000, 2000, 2000, 3000})
        paused.update({ms, quint64(ms / 100), 100, quint64(ms) << 10, 100 << 20});
    for (const qint64 ms : {1000, 2000, 3000})
        straight.update({ms, quint64(ms / 100), 100, quint64(ms) << 10, 100 << 20});
    QCOMPARE(paused.update({4000, 40, 100, 40960, 100 << 20}),
             straight.update({4000, 40, 100, 40960, 100 << 20}));
}

void TestMainWindow::accessibleNamesAndTabOrder()
{
    QCOMPARE(accessibleText(m_form->buttonSource), QStringLiteral("Choose source folder"));
    QCOMPARE(accessibleText(m_form->buttonTarget), QStringLiteral("Choose destination folder"));
    for (QWidget *unnamed : std::initializer_list<QWidget *>{
             m_form->lineEditSource, m_form->lineEditTarget, m_form->progressBarTotal,
             m_form->progressBarFile, m_form->treeView})
        QVERIFY2(!accessibleText(unnamed).isEmpty(), qPrintable(unnamed->objectName()));
    QVERIFY(accessibleText(m_form->progressBarTotal) != accessibleText(m_form->progressBarFile));
    QVERIFY(!accessibleText(m_form->treeView, QAccessible::Description).isEmpty());
    m_window->hideInfoPanel();
    QCOMPARE(accessibleText(m_form->buttonInfo), QStringLiteral("Show copy details"));
    m_window->showInfoPanel();
    QCOMPARE(accessibleText(m_form->buttonInfo), QStringLiteral("Hide copy details"));

    QApplication::setActiveWindow(m_window.get());
    QCOMPARE(tabCycle(m_form->lineEditSource),
             QStringList({"lineEditSource", "buttonSource", "lineEditTarget", "buttonTarget",
                          "radioButtonOverwriteNone", "checkBoxSubFolders", "checkBoxHidden",
                          "buttonStart", "buttonCancel", "buttonInfo"}));
    m_window->showCopyErrors({CopyError(QStringLiteral("/a"), SourceReadError)});
    QCOMPARE(tabCycle(m_form->treeView),
             QStringList({"treeView", "buttonSelectAll", "buttonDeselectAll", "buttonRetry",
                          "buttonCancelRetry"}));
}

void TestMainWindow::failureListCopiesAndSorts()
{
    m_window->showCopyErrors(
        {{QStringLiteral("/src/b"), SourceReadError, "Input/output error"},
         {QStringLiteral("/src/a"), TargetWriteError, "No space left on device"}});
    QTreeView *view = m_form->treeView;
    const QAbstractItemModel *model = view->model();
    QHeaderView *header = view->header();
    QVERIFY2(header->sortIndicatorSection() < 0, "a sort arrow over rows in failure order");
    QCOMPARE(model->index(0, 0).data(Qt::ToolTipRole).toString(), "Input/output error");
    QCOMPARE(model->index(1, 1).data(Qt::ToolTipRole).toString(), "No space left on device");

    // Select All ticks and selects nothing; Ctrl+C and the menu's Copy copy the selected rows.
    m_form->buttonSelectAll->click();
    QVERIFY(view->selectionModel()->selectedRows().isEmpty());
    view->selectAll();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             "/src/b\tSource file could not be read\tInput/output error\n"
             "/src/a\tTarget file could not be written\tNo space left on device\n");
    QCOMPARE(view->contextMenuPolicy(), Qt::ActionsContextMenu);
    view->selectionModel()->select(model->index(1, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->actions().value(0)->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(),
             "/src/a\tTarget file could not be written\tNo space left on device\n");

    // Either column sorts, and then the arrow shows it.
    for (const int column : {0, 1}) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, 5));
        QCOMPARE(header->sortIndicatorSection(), column);
        QCOMPARE(model->index(0, 0).data().toString(), column == 0 ? "/src/a" : "/src/b");
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_ui.moc"
