// The main window without a job: what a person sees at rest, the information panel, the texts
// and the time-left estimate of the progress display, access by keyboard and screen reader, and
// the copy-errors list.

#include "app/identity.h"
#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"
#include "ui/remainingtime.h"
#include "ui_mainwindow.h"

#include <QAccessible>
#include <QClipboard>
#include <QHeaderView>
#include <QImageReader>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Replays a job of these files at a fixed cost per file and per byte, as the window's
// half-second ticks see it: each tick's estimate, and the seconds truly left.
QList<std::pair<std::optional<quint32>, double>> replay(const QList<quint64> &sizes)
{
    const double msPerFile = 0.1;
    const double bytesPerMs = 500 * 1024; // a fast local disk
    double duration = 0;
    for (const quint64 size : sizes)
        duration += msPerFile + double(size) / bytesPerMs;
    RemainingTime estimate;
    QList<std::pair<std::optional<quint32>, double>> ticks;
    for (double now = 500; now < duration + 500; now += 500) {
        RemainingTime::Sample sample{qint64(now), 0, quint64(sizes.size()), 0, 0};
        double start = 0;
        for (const quint64 size : sizes) {
            const double end = start + msPerFile + double(size) / bytesPerMs;
            sample.filesDone += end <= now ? 1 : 0;
            sample.bytesDone += quint64(qBound(0.0, (now - start) * bytesPerMs, double(size)));
            sample.bytesTotal += size;
            start = end;
        }
        ticks.append({estimate.update(sample), std::max(0.0, (duration - now) / 1000)});
    }
    return ticks;
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
        const QString file = useOwnSettingsHome(m_home.path());
        QVERIFY2(file.startsWith(m_home.path()), qPrintable("settings in a shared store: " + file));
    }

    void init()
    {
        programSettings().clear();
        m_window = std::make_unique<MainWindow>();
        m_form = m_window->m_form;
        m_window->showAndFit();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    void cleanup() { m_window.reset(); }

    void atRest()
    {
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
        // The pages are the window's to switch: no tab shows, so a click where one would stand
        // leaves the main page.
        QTabBar *tabs = m_form->tabWidget->tabBar();
        QCOMPARE(tabs->tabRect(1).height(), 0);
        QTabBar unstyled;
        unstyled.addTab("Tab 1");
        unstyled.addTab("Tab 2");
        QTest::mouseClick(tabs, Qt::LeftButton, {}, unstyled.tabRect(1).center());
        QCOMPARE(m_form->tabWidget->currentIndex(), 0);
        QCOMPARE(m_form->treeView->model()->headerData(1, Qt::Horizontal).toString(), "Error");
        // The window icon holds all seven sizes.
        QCOMPARE(QImageReader(":/resources/icon.ico").imageCount(), 7);
    }

    void infoPanelTogglesAndRemembers()
    {
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

    void formatSize_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        const double gib = 1024.0 * 1024 * 1024;
        for (const auto &[bytes, text] : {std::pair{0.0, "0 Bytes"},
                                          {1023, "1023 Bytes"},
                                          {511.6, "512 Bytes"},
                                          {1024, "1.00 KB"},
                                          {1536, "1.50 KB"},
                                          {1048575, "1024.00 KB"},
                                          {1048576, "1.00 MB"},
                                          {gib * 4 + 1, "4.00 GB"},
                                          {gib * 1024, "1.00 TB"},
                                          {gib * 1024 * 2048, "2048.00 TB"}})
            QTest::addRow("%s", text) << bytes << QString(text);
    }

    void formatSize()
    {
        QFETCH(double, bytes);
        QTEST(MainWindow::formatSize(bytes), "text");
    }

    void formatDuration_data()
    {
        QTest::addColumn<quint32>("seconds");
        QTest::addColumn<QString>("text");
        for (const auto &[seconds, text] : {std::pair{0u, "0 seconds"},
                                            {1u, "1 second"},
                                            {61u, "1 minute 1 second"},
                                            {120u, "2 minutes"},
                                            {3601u, "1 hour"},
                                            {86399u, "23 hours 59 minutes"},
                                            {90061u, "1 day 1 hour"},
                                            {180000u, "2 days 2 hours"},
                                            {4294967295u, "49710 days 6 hours"}})
            QTest::addRow("%s", text) << seconds << QString(text);
    }

    void formatDuration()
    {
        QFETCH(quint32, seconds);
        QTEST(MainWindow::formatDuration(seconds), "text");
    }

    void remainingTime_data()
    {
        QTest::addColumn<QList<quint64>>("sizes");
        // From this second on, the estimate lies within half and twice the truth, give or take one.
        QTest::addColumn<double>("closeFrom");
        const QList<quint64> big(4, 512 << 20);
        const QList<quint64> small(40000, 4096);
        QTest::newRow("large files first, then a small-file tail") << big + small << 4.5;
        QTest::newRow("small files first, then large ones") << small + big << 5.0;
        QTest::newRow("one large file") << QList<quint64>{2ULL << 30} << 0.5;
        QTest::newRow("even files") << QList<quint64>(1000, 1 << 20) << 0.5;
    }

    void remainingTime()
    {
        QFETCH(QList<quint64>, sizes);
        QFETCH(double, closeFrom);
        const auto ticks = replay(sizes);
        for (int i = 0; i < ticks.size(); ++i) {
            const auto [estimate, truth] = ticks.at(i);
            const QByteArray seen = QStringLiteral("at %1 s: %2 s estimated, %3 s left")
                                        .arg((i + 1) / 2.0)
                                        .arg(estimate ? qint64(*estimate) : -1)
                                        .arg(truth)
                                        .toUtf8();
            QVERIFY2(estimate && (truth == 0) == (*estimate == 0), seen);
            QVERIFY2((i + 1) / 2.0 < closeFrom ||
                         (*estimate >= truth / 2 - 1 && *estimate <= truth * 2 + 1),
                     seen);
        }
    }

    void remainingTimeEdges()
    {
        const auto once = [](RemainingTime::Sample sample) {
            return RemainingTime().update(sample);
        };
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

    void accessibleNamesAndTabOrder()
    {
        QCOMPARE(accessible(m_form->buttonSource), "Choose source folder");
        QCOMPARE(accessible(m_form->buttonTarget), "Choose destination folder");
        for (QWidget *unnamed : std::initializer_list<QWidget *>{
                 m_form->lineEditSource, m_form->lineEditTarget, m_form->progressBarTotal,
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
                              "buttonStart", "buttonCancel", "buttonInfo"}));
        m_window->showCopyErrors({CopyError("/a", SourceReadError)});
        QCOMPARE(tabCycle(m_form->treeView),
                 QStringList({"treeView", "buttonSelectAll", "buttonDeselectAll", "buttonRetry",
                              "buttonCancelRetry"}));
    }

    void failureListCopiesAndSorts()
    {
        m_window->showCopyErrors({{"/src/b", SourceReadError, "Input/output error"},
                                  {"/src/a", TargetWriteError, "No space left on device"}});
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
        view->selectionModel()->select(model->index(1, 0), QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
        QCOMPARE(view->contextMenuPolicy(), Qt::ActionsContextMenu);
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

private:
    QTemporaryDir m_home;
    std::unique_ptr<MainWindow> m_window;
    MainWindowForm *m_form = nullptr;
};

QTEST_MAIN(TestMainWindow)
#include "tst_ui.moc"
