#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResource>
#include <QSettings>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QtEndian>

#include <memory>

namespace {

QSettings store()
{
    return QSettings(QStringLiteral("Quorvex"), QStringLiteral("Trasko"));
}

QImage iconImage(const QIcon &icon, int size)
{
    return icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage resourceImage(const QString &path, int size)
{
    return iconImage(QIcon(path), size);
}

QString joinLines(const QStringList &lines)
{
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void widgetTree_data();
    void widgetTree();
    void texts_data();
    void texts();
    void statesAtRest();
    void styleSheets();
    void tabBarShowsNothing();
    void sizeLimits();
    void resources_data();
    void resources();
    void applicationIconHoldsSevenImages();
    void iconsOnButtons();
    void formOnABareWindow();
    void errorModelAtRest();
    void slotsInContractOrder();

    void settingsDefaults();
    void settingsReadBack_data();
    void settingsReadBack();

    void infoPanelOperations_data();
    void infoPanelOperations();
    void infoPanelResizesWindow();
    void infoButtonTogglesAndRemembers();
    void startButtonFollowsState_data();
    void startButtonFollowsState();

    void formatSize_data();
    void formatSize();
    void formatDuration_data();
    void formatDuration();

private:
    template <typename T> T *widget(MainWindow &window, const char *name)
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    void showInfo(MainWindow &window) { window.showInfoPanel(); }
    void hideInfo(MainWindow &window) { window.hideInfoPanel(); }
    void resetInfo(MainWindow &window) { window.resetInfoPanel(); }

    QTemporaryDir m_home;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_home.isValid());
    const QString file = useOwnSettingsHome(m_home.path());
    QVERIFY2(file.startsWith(m_home.path()) && file.contains(QLatin1String(".qttest")),
             qPrintable("settings would land in a shared store: " + file));
}

void TestMainWindow::init()
{
    QSettings settings = store();
    settings.clear();
    settings.sync();
}

void TestMainWindow::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    const char *const rows[][3] = {
        {"centralWidget", "QWidget", "MainWindow"},
        {"tabWidget", "QTabWidget", "centralWidget"},
        {"groupBox_3", "QGroupBox", "tab"},
        {"lineEditSource", "QLineEdit", "groupBox_3"},
        {"buttonSource", "QPushButton", "groupBox_3"},
        {"groupBox_2", "QGroupBox", "tab"},
        {"lineEditTarget", "QLineEdit", "groupBox_2"},
        {"buttonTarget", "QPushButton", "groupBox_2"},
        {"groupBox", "QGroupBox", "tab"},
        {"radioButtonOverwriteNone", "QRadioButton", "groupBox"},
        {"radioButtonOverwriteAll", "QRadioButton", "groupBox"},
        {"radioButtonOverwriteOlder", "QRadioButton", "groupBox"},
        {"radioButtonOverewriteSmaller", "QRadioButton", "groupBox"},
        {"groupBox_4", "QGroupBox", "tab"},
        {"checkBoxSubFolders", "QCheckBox", "groupBox_4"},
        {"checkBoxHidden", "QCheckBox", "groupBox_4"},
        {"buttonStart", "QPushButton", "tab"},
        {"buttonCancel", "QPushButton", "tab"},
        {"progressBarTotal", "QProgressBar", "tab"},
        {"progressBarFile", "QProgressBar", "tab"},
        {"label_3", "QLabel", "tab"},
        {"labelStatus", "QLabel", "tab"},
        {"buttonInfo", "QPushButton", "tab"},
        {"widgetInfo", "QWidget", "tab"},
        {"label_4", "QLabel", "widgetInfo"},
        {"label_5", "QLabel", "widgetInfo"},
        {"label_6", "QLabel", "widgetInfo"},
        {"labelElapsed", "QLabel", "widgetInfo"},
        {"labelRemaining", "QLabel", "widgetInfo"},
        {"labelSpeed", "QLabel", "widgetInfo"},
        {"label_7", "QLabel", "widgetInfo"},
        {"label_8", "QLabel", "widgetInfo"},
        {"label_9", "QLabel", "widgetInfo"},
        {"labelProcessed", "QLabel", "widgetInfo"},
        {"labelTotal", "QLabel", "widgetInfo"},
        {"labelErrors", "QLabel", "widgetInfo"},
        {"label_10", "QLabel", "tab_2"},
        {"treeView", "QTreeView", "tab_2"},
        {"buttonSelectAll", "QPushButton", "tab_2"},
        {"buttonDeselectAll", "QPushButton", "tab_2"},
        {"buttonRetry", "QPushButton", "tab_2"},
        {"buttonCancelRetry", "QPushButton", "tab_2"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1])
                              << QString::fromLatin1(row[2]);
}

void TestMainWindow::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    const auto *found = window.findChild<QWidget *>(name);
    QVERIFY2(found, qPrintable("no widget named " + name));
    QCOMPARE(QString::fromLatin1(found->metaObject()->className()), className);
    // The pages sit inside the tab widget's stack; the others hang directly under their parent.
    QVERIFY2(found->parentWidget(), qPrintable(name + " has no parent"));
    QCOMPARE(found->parentWidget()->objectName(), parentName);
}

void TestMainWindow::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("text");

    const char *const rows[][3] = {
        {"MainWindow", "windowTitle", "Trasko"},
        {"groupBox_3", "title", "Source Location"},
        {"lineEditSource", "text", ""},
        {"buttonSource", "text", "..."},
        {"groupBox_2", "title", "Destination Location"},
        {"lineEditTarget", "text", ""},
        {"buttonTarget", "text", "..."},
        {"groupBox", "title", "Overwrite Options"},
        {"radioButtonOverwriteNone", "text", "No files"},
        {"radioButtonOverwriteAll", "text", "All files"},
        {"radioButtonOverwriteOlder", "text", "Older files"},
        {"radioButtonOverewriteSmaller", "text", "Smaller files"},
        {"groupBox_4", "title", "Include Options"},
        {"checkBoxSubFolders", "text", "Include sub-folders"},
        {"checkBoxHidden", "text", "Include hidden files"},
        {"buttonStart", "text", "Start"},
        {"buttonCancel", "text", "Cancel"},
        {"label_3", "text", "Status: "},
        {"labelStatus", "text", "Waiting for user input."},
        {"buttonInfo", "text", "More Information"},
        {"label_4", "text", "Time elapsed:"},
        {"label_5", "text", "Time remaining:"},
        {"label_6", "text", "Speed:"},
        {"labelElapsed", "text", "Elapsed"},
        {"labelRemaining", "text", "Remaining"},
        {"labelSpeed", "text", "Speed"},
        {"label_7", "text", "Processed:"},
        {"label_8", "text", "Total:"},
        {"label_9", "text", "Errors:"},
        {"labelProcessed", "text", "Processed"},
        {"labelTotal", "text", "Total"},
        {"labelErrors", "text", "Errors"},
        {"label_10", "text", "Copy Errors"},
        {"buttonSelectAll", "text", "Select All"},
        {"buttonDeselectAll", "text", "Deselect All"},
        {"buttonRetry", "text", "Retry"},
        {"buttonCancelRetry", "text", "Cancel"},
    };
    for (const auto &row : rows) {
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QByteArray(row[1])
                              << QString::fromLatin1(row[2]);
    }
}

void TestMainWindow::texts()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QString, text);

    MainWindow window;
    QObject *object = name == window.objectName() ? &window : window.findChild<QObject *>(name);
    QVERIFY2(object, qPrintable("no object named " + name));
    const QVariant value = object->property(property.constData());
    QVERIFY2(value.isValid(), qPrintable(name + " has no property " + property));
    QCOMPARE(value.toString(), text);
}

void TestMainWindow::statesAtRest()
{
    MainWindow window;
    QCOMPARE(window.m_state, MainWindow::StateIdle);
    QVERIFY(!window.m_processor);
    QVERIFY2(!window.m_timer.isActive(), "the progress timer runs only during a job");
    QCOMPARE(window.m_timer.interval(), 500);
    QVERIFY(!window.m_timer.isSingleShot());

    QVERIFY(widget<QRadioButton>(window, "radioButtonOverwriteNone")->isChecked());
    QVERIFY(!widget<QRadioButton>(window, "radioButtonOverwriteAll")->isChecked());
    QVERIFY(!widget<QRadioButton>(window, "radioButtonOverwriteOlder")->isChecked());
    QVERIFY(!widget<QRadioButton>(window, "radioButtonOverewriteSmaller")->isChecked());

    for (const char *name : {"lineEditSource", "lineEditTarget"}) {
        const auto *edit = widget<QLineEdit>(window, name);
        QVERIFY2(edit->isReadOnly(), name);
        QVERIFY2(edit->text().isEmpty(), name);
    }
    for (const char *name : {"progressBarTotal", "progressBarFile"}) {
        const auto *bar = widget<QProgressBar>(window, name);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QVERIFY2(!bar->isTextVisible(), name);
    }
    QVERIFY(!widget<QLabel>(window, "labelStatus")->wordWrap());
    QVERIFY(widget<QPushButton>(window, "buttonInfo")->isFlat());
    for (const char *name : {"label_4", "label_5", "label_6", "label_7", "label_8", "label_9"}) {
        QCOMPARE(widget<QLabel>(window, name)->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    }
    QCOMPARE(widget<QLabel>(window, "labelElapsed")->alignment(), Qt::AlignLeft | Qt::AlignVCenter);

    const auto *tree = widget<QTreeView>(window, "treeView");
    QCOMPARE(tree->indentation(), 0);
    QVERIFY(!tree->rootIsDecorated());
    QVERIFY(tree->isSortingEnabled());

    const auto *tabs = widget<QTabWidget>(window, "tabWidget");
    QCOMPARE(tabs->focusPolicy(), Qt::NoFocus);
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("tab"));
    QCOMPARE(tabs->widget(1)->objectName(), QStringLiteral("tab_2"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("Tab 1"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Tab 2"));
    const QVariant showTabs = tabs->property("showTabs");
    QCOMPARE(showTabs.typeId(), QMetaType::Bool);
    QCOMPARE(showTabs.toBool(), false);

    // At rest the information panel and its toggle are both closed.
    QVERIFY(widget<QPushButton>(window, "buttonInfo")->isHidden());
    QVERIFY(widget<QWidget>(window, "widgetInfo")->isHidden());
}

void TestMainWindow::styleSheets()
{
    const QString sheetA = joinLines({
        "QWidget#centralWidget {",
        "\t border: 1px solid;",
        "     border-radius: 3px;",
        "     border-color: rgb(141, 178, 227);",
        "     background-color: rgba(228, 238, 249,200);",
        "} ",
    });
    const QString sheetB = joinLines({
        "  QTabWidget::pane { ",
        "      border: 0px;",
        "  }",
        "",
        "\tQTabBar {",
        "\t  background-color: rgba(255, 255, 255, 0);",
        "\t}",
        "",
        "   QTabWidget[showTabs=\"false\"] QTabBar::tab {",
        "\theight: 0px;",
        "\tpadding:0px;",
        "\tborder-width:0px;",
        "\t}",
        "",
        " QGroupBox {",
        "     border: 1px solid;",
        "     border-radius: 5px;",
        "     margin-top: 7px; /* leave space at the top for the title */",
        "     padding-top: 7px; /* leave space at the top for the title */",
        "     border-color: rgb(141, 178, 227);",
        " }",
        "",
        " QGroupBox::title {",
        "     subcontrol-origin: margin;",
        "     subcontrol-position: top centre; /* position at the top center */",
        "     padding: 0px 0px;     ",
        " }",
    });

    MainWindow window;
    QCOMPARE(window.styleSheet().toUtf8(), sheetA.toUtf8());
    QCOMPARE(widget<QTabWidget>(window, "tabWidget")->styleSheet().toUtf8(), sheetB.toUtf8());
    QVERIFY2(widget<QWidget>(window, "centralWidget")->styleSheet().isEmpty(),
             "only the window and the tab widget carry a style sheet");
}

void TestMainWindow::tabBarShowsNothing()
{
    MainWindow window;
    window.showAndFit();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QTabBar *bar = widget<QTabWidget>(window, "tabWidget")->tabBar();
    QCOMPARE(bar->count(), 2);
    for (int i = 0; i < bar->count(); ++i) {
        QVERIFY2(
            bar->tabRect(i).height() == 0,
            qPrintable(
                QStringLiteral("tab %1 is %2 pixels high").arg(i).arg(bar->tabRect(i).height())));
    }
    // With nothing to click on, a click where the second tab would stand leaves page 0 current.
    QTabBar unstyled;
    unstyled.addTab(QStringLiteral("Tab 1"));
    unstyled.addTab(QStringLiteral("Tab 2"));
    const QPoint secondTab = unstyled.tabRect(1).center();
    QVERIFY(!unstyled.tabRect(0).contains(secondTab));
    QTest::mouseClick(const_cast<QTabBar *>(bar), Qt::LeftButton, {}, secondTab);
    QCOMPARE(widget<QTabWidget>(window, "tabWidget")->currentIndex(), 0);
}

void TestMainWindow::sizeLimits()
{
    MainWindow window;
    // The content's own minimum height adds to the form's 490 x 0 once the layout is active.
    QCOMPARE(window.minimumWidth(), 490);
    QCOMPARE(window.sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(window.sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    window.showAndFit();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.resize(200, window.height());
    QTRY_VERIFY2(window.width() >= 490, "the window became narrower than 490 pixels");

    window.resize(1200, 900);
    QTRY_COMPARE(window.size(), QSize(1200, 900));
    for (const char *name : {"buttonSource", "buttonTarget"}) {
        const auto *button = widget<QPushButton>(window, name);
        QCOMPARE(button->maximumSize(), QSize(23, 23));
        QVERIFY2(button->width() <= 23 && button->height() <= 23, name);
    }
    const auto *fileBar = widget<QProgressBar>(window, "progressBarFile");
    QCOMPARE(fileBar->maximumSize(), QSize(16777215, 10));
    QVERIFY2(fileBar->height() <= 10, qPrintable(QString::number(fileBar->height())));
    QVERIFY2(fileBar->width() > 23, "the file bar's width is not limited");
}

void TestMainWindow::resources_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");

    for (const char *name : {"start", "pause", "remove", "add", "minus", "ok"})
        QTest::newRow(name) << QStringLiteral(":/resources/%1.png").arg(QLatin1String(name)) << 59;
    for (const char *name : {"more", "less"})
        QTest::newRow(name) << QStringLiteral(":/resources/%1.png").arg(QLatin1String(name)) << 19;
}

void TestMainWindow::resources()
{
    QFETCH(QString, path);
    QFETCH(int, size);

    const QResource resource(path);
    QVERIFY2(resource.isValid(), qPrintable(path + " is not in the resource bundle"));
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    // PNG signature, then the IHDR chunk: width, height, bit depth 8, colour type 6 (RGBA).
    QVERIFY2(bytes.startsWith("\x89PNG\r\n\x1a\n"), "not a PNG");
    QCOMPARE(bytes.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 16), quint32(size));
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 20), quint32(size));
    QCOMPARE(int(quint8(bytes.at(24))), 8);
    QCOMPARE(int(quint8(bytes.at(25))), 6);

    const QImage image(path);
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY2(image.hasAlphaChannel(), "the image has no alpha channel");
}

void TestMainWindow::applicationIconHoldsSevenImages()
{
    const QString path = QStringLiteral(":/resources/icon.ico");
    QCOMPARE(QResource(path).compressionAlgorithm(), QResource::NoCompression);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.size() > 6 + 7 * 16);
    const auto word = [&bytes](int at) {
        return qFromLittleEndian<quint16>(bytes.constData() + at);
    };
    QCOMPARE(word(0), quint16(0));
    QCOMPARE(word(2), quint16(1));
    QCOMPARE(word(4), quint16(7));

    const int sizes[] = {256, 128, 64, 48, 32, 24, 16};
    for (int i = 0; i < 7; ++i) {
        const int entry = 6 + 16 * i;
        const int stored = quint8(bytes.at(entry));
        QCOMPARE(stored == 0 ? 256 : stored, sizes[i]);
        QCOMPARE(word(entry + 6), quint16(32));
    }

    // The toolkit itself must be able to read every image back.
    QImageReader reader(path);
    QCOMPARE(reader.imageCount(), 7);
    for (int i = 0; i < 7; ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), QSize(sizes[i], sizes[i]));
        QVERIFY(image.hasAlphaChannel());
    }
}

void TestMainWindow::iconsOnButtons()
{
    MainWindow window;
    QVERIFY2(!window.windowIcon().isNull(), "the window has no icon");
    QCOMPARE(iconImage(window.windowIcon(), 32), resourceImage(":/resources/icon.ico", 32));

    const struct
    {
        const char *button;
        const char *image;
        QSize iconSize;
    } rows[] = {
        {"buttonStart", ":/resources/start.png", QSize(20, 20)},
        {"buttonCancel", ":/resources/remove.png", QSize(20, 20)},
        {"buttonRetry", ":/resources/ok.png", QSize(20, 20)},
        {"buttonCancelRetry", ":/resources/remove.png", QSize(20, 20)},
        {"buttonInfo", ":/resources/more.png", QSize(19, 19)},
    };
    for (const auto &row : rows) {
        const auto *button = widget<QPushButton>(window, row.button);
        QCOMPARE(button->iconSize(), row.iconSize);
        QVERIFY2(iconImage(button->icon(), 20) == resourceImage(row.image, 20), row.button);
    }
    for (const auto &[button, image] : {std::pair{"buttonSelectAll", ":/resources/add.png"},
                                        std::pair{"buttonDeselectAll", ":/resources/minus.png"}}) {
        const auto *list = widget<QPushButton>(window, button);
        QVERIFY2(iconImage(list->icon(), 16) == resourceImage(image, 16), button);
    }

    // One icon object serves both cancel buttons.
    QCOMPARE(widget<QPushButton>(window, "buttonCancelRetry")->icon().cacheKey(),
             widget<QPushButton>(window, "buttonCancel")->icon().cacheKey());
    QVERIFY(widget<QPushButton>(window, "buttonStart")->icon().cacheKey() !=
            widget<QPushButton>(window, "buttonCancel")->icon().cacheKey());
}

void TestMainWindow::formOnABareWindow()
{
    QMainWindow named;
    named.setObjectName(QStringLiteral("Other"));
    MainWindowForm form;
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("Other"));
    QCOMPARE(named.minimumSize(), QSize(490, 0));
    QCOMPARE(named.size(), QSize(490, 560));

    QMainWindow unnamed;
    MainWindowForm second;
    second.setupUi(&unnamed);
    QCOMPARE(unnamed.objectName(), QStringLiteral("MainWindow"));
}

void TestMainWindow::errorModelAtRest()
{
    MainWindow window;
    auto *model =
        qobject_cast<QStandardItemModel *>(widget<QTreeView>(window, "treeView")->model());
    QVERIFY2(model, "treeView has no copy-errors model");
    QCOMPARE(model, window.m_errorModel);
    QCOMPARE(model->parent(), &window);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->columnCount(), 2);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("File"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Error"));
}

void TestMainWindow::slotsInContractOrder()
{
    const QStringList expected = {
        "on_buttonSource_clicked()",
        "on_buttonTarget_clicked()",
        "on_buttonInfo_clicked()",
        "on_buttonStart_clicked()",
        "on_buttonCancel_clicked()",
        "processFinished()",
        "updateInfo()",
        "on_buttonCancelRetry_clicked()",
        "on_buttonRetry_clicked()",
        "on_buttonSelectAll_clicked()",
        "on_buttonDeselectAll_clicked()",
    };
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(QString::fromLatin1(meta.className()), QStringLiteral("MainWindow"));
    QStringList found;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        found << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(found, expected);
}

void TestMainWindow::settingsDefaults()
{
    MainWindow window;
    QVERIFY(widget<QCheckBox>(window, "checkBoxSubFolders")->isChecked());
    QVERIFY(!widget<QCheckBox>(window, "checkBoxHidden")->isChecked());
    QVERIFY2(store().allKeys().isEmpty(), "building the window must not write settings");
}

void TestMainWindow::settingsReadBack_data()
{
    QTest::addColumn<bool>("subFolder");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("both off") << false << false;
    QTest::newRow("both on") << true << true;
    QTest::newRow("hidden only") << false << true;
}

void TestMainWindow::settingsReadBack()
{
    QFETCH(bool, subFolder);
    QFETCH(bool, hidden);
    {
        QSettings settings = store();
        settings.setValue("subFolder", subFolder);
        settings.setValue("hidden", hidden);
    }
    MainWindow window;
    QCOMPARE(widget<QCheckBox>(window, "checkBoxSubFolders")->isChecked(), subFolder);
    QCOMPARE(widget<QCheckBox>(window, "checkBoxHidden")->isChecked(), hidden);
}

void TestMainWindow::infoPanelOperations_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<bool>("buttonShown");
    QTest::addColumn<bool>("panelShown");
    QTest::newRow("show") << 0 << "Less Information"
                          << ":/resources/less.png" << true << true;
    QTest::newRow("hide") << 1 << "More Information"
                          << ":/resources/more.png" << true << false;
    QTest::newRow("reset") << 2 << "More Information"
                           << ":/resources/more.png" << false << false;
}

void TestMainWindow::infoPanelOperations()
{
    QFETCH(int, operation);
    QFETCH(QString, text);
    QFETCH(QString, icon);
    QFETCH(bool, buttonShown);
    QFETCH(bool, panelShown);

    MainWindow window;
    window.showAndFit();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Start from the opposite look so that every operation has something to change.
    if (operation == 0)
        hideInfo(window);
    else
        showInfo(window);

    switch (operation) {
    case 0:
        showInfo(window);
        break;
    case 1:
        hideInfo(window);
        break;
    default:
        resetInfo(window);
        break;
    }
    const auto *button = widget<QPushButton>(window, "buttonInfo");
    QCOMPARE(button->text(), text);
    QCOMPARE(iconImage(button->icon(), 19), resourceImage(icon, 19));
    QCOMPARE(button->isVisible(), buttonShown);
    QCOMPARE(widget<QWidget>(window, "widgetInfo")->isVisible(), panelShown);
}

void TestMainWindow::infoPanelResizesWindow()
{
    MainWindow window;
    window.showAndFit();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int atRest = window.height();

    showInfo(window);
    QTRY_VERIFY2(window.height() > atRest, "opening the panel did not grow the window");
    const int open = window.height();

    hideInfo(window);
    QTRY_VERIFY2(window.height() < open, "closing the panel did not shrink the window");

    resetInfo(window);
    QTRY_COMPARE(window.height(), atRest);
}

void TestMainWindow::infoButtonTogglesAndRemembers()
{
    MainWindow window;
    window.showAndFit();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    hideInfo(window); // as a job without "showInfo" leaves it
    auto *button = widget<QPushButton>(window, "buttonInfo");
    auto *panel = widget<QWidget>(window, "widgetInfo");

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(panel->isVisible());
    QCOMPARE(button->text(), QStringLiteral("Less Information"));
    QCOMPARE(store().value("showInfo").toBool(), true);

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!panel->isVisible());
    QVERIFY(button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("More Information"));
    QVERIFY2(store().contains("showInfo"), "closing the panel must be remembered too");
    QCOMPARE(store().value("showInfo").toBool(), false);
}

void TestMainWindow::startButtonFollowsState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("icon");
    QTest::newRow("running") << int(MainWindow::StateRunning) << "Pause"
                             << ":/resources/pause.png";
    QTest::newRow("paused") << int(MainWindow::StatePaused) << "Resume"
                            << ":/resources/start.png";
    QTest::newRow("idle") << int(MainWindow::StateIdle) << "Start"
                          << ":/resources/start.png";
}

void TestMainWindow::startButtonFollowsState()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(QString, icon);

    MainWindow window;
    // Leave the idle look first, so that the idle row proves the way back.
    window.m_state = MainWindow::StateRunning;
    window.updateStartButton();
    window.m_state = MainWindow::RunState(state);
    window.updateStartButton();

    const auto *button = widget<QPushButton>(window, "buttonStart");
    QCOMPARE(button->text(), text);
    QCOMPARE(iconImage(button->icon(), 20), resourceImage(icon, 20));
}

void TestMainWindow::formatSize_data()
{
    QTest::addColumn<double>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "0 Bytes";
    QTest::newRow("below a kilobyte") << 1023.0 << "1023 Bytes";
    QTest::newRow("rounded bytes") << 511.6 << "512 Bytes";
    QTest::newRow("one kilobyte") << 1024.0 << "1.00 KB";
    QTest::newRow("one and a half") << 1536.0 << "1.50 KB";
    QTest::newRow("unit chosen before rounding") << 1048575.0 << "1024.00 KB";
    QTest::newRow("one megabyte") << 1048576.0 << "1.00 MB";
    QTest::newRow("one gigabyte") << 1073741824.0 << "1.00 GB";
    QTest::newRow("one terabyte") << 1099511627776.0 << "1.00 TB";
    QTest::newRow("no unit above terabytes") << 1099511627776.0 * 2048 << "2048.00 TB";
    // Byte counts are 64-bit: sizes past 4 GiB must read as themselves, not modulo 2^32.
    const double gib = 1024.0 * 1024 * 1024;
    QTest::newRow("megabyte unit before rounding") << gib - 1 << "1024.00 MB";
    QTest::newRow("gigabyte unit before rounding") << gib * 1024 - 1 << "1024.00 GB";
    QTest::newRow("4 GiB and a byte") << gib * 4 + 1 << "4.00 GB";
    QTest::newRow("5.5 GiB") << gib * 5.5 << "5.50 GB";
    QTest::newRow("5 TiB") << gib * 1024 * 5 << "5.00 TB";
    QTest::newRow("largest 64-bit count") << 18446744073709551615.0 << "16777216.00 TB";
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
    QTest::newRow("zero") << 0u << "0 seconds";
    QTest::newRow("one") << 1u << "1 second";
    QTest::newRow("59") << 59u << "59 seconds";
    QTest::newRow("60") << 60u << "1 minute";
    QTest::newRow("61") << 61u << "1 minute 1 second";
    QTest::newRow("3600") << 3600u << "1 hour";
    QTest::newRow("3601 drops seconds") << 3601u << "1 hour";
    QTest::newRow("3661") << 3661u << "1 hour 1 minute";
    QTest::newRow("86399") << 86399u << "23 hours 59 minutes";
    QTest::newRow("86400") << 86400u << "1 day";
    QTest::newRow("90061") << 90061u << "1 day 1 hour";
    QTest::newRow("172800") << 172800u << "2 days";
    QTest::newRow("180000") << 180000u << "2 days 2 hours";
    QTest::newRow("largest") << 4294967295u << "49710 days 6 hours";
}

void TestMainWindow::formatDuration()
{
    QFETCH(quint32, seconds);
    QFETCH(QString, text);
    QCOMPARE(MainWindow::formatDuration(seconds), text);
}

QTEST_MAIN(TestMainWindow)
#include "tst_ui.moc"
