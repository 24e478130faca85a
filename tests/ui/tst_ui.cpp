// The main window without a job: what a person sees at rest, the information panel, and the
// texts the progress display is made of.

#include "app/identity.h"
#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QImageReader>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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

QTEST_MAIN(TestMainWindow)
#include "tst_ui.moc"
