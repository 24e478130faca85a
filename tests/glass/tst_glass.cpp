// The glass frame against the stand-in window manager library. TRASKO_GLASS_STANDIN names
// the library situation this process runs in: "none" (no library on the path), "full", or
// the one function the stand-in lacks ("extend", "blur", "color", "composition").

#include "glass/dwmtypes.h"
#include "glass/glassframe.h"
#include "glass/windownotifier.h"
#include "tests/glass/dwmapistandin.h"
#include "tests/support/settingshome.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QLibrary>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QColor FallbackWindowColor(0x10, 0x20, 0x30);

QList<WindowNotifier *> notifiers()
{
    QList<WindowNotifier *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *notifier = dynamic_cast<WindowNotifier *>(widget))
            found.append(notifier);
    }
    return found;
}

qsizetype timesListed(const QWidget *widget)
{
    const QList<WindowNotifier *> found = notifiers();
    return found.isEmpty() ? 0 : found.first()->widgets().count(widget);
}

// The toolkit calls nativeEvent from its own dispatch; a using-declaration lets the test call
// the protected hook through the widget, so the override still runs.
struct NativeEventAccess : QWidget
{
    using QWidget::nativeEvent;
};

// Hands the notifier one message; true when it claimed it, which it never should.
bool deliver(const QByteArray &eventType, unsigned int message, qintptr *result)
{
    WindowNotifier *notifier = notifiers().value(0);
    Dwm::MSG msg{};
    msg.hwnd = reinterpret_cast<Dwm::HWND>(notifier->internalWinId());
    msg.message = message;
    return (notifier->*&NativeEventAccess::nativeEvent)(eventType, &msg, result);
}

StandinState *standin()
{
    const auto state = reinterpret_cast<StandinStateFunction>(
        QLibrary(QStringLiteral("dwmapi")).resolve("standin_state"));
    return state ? state() : nullptr;
}

Dwm::HWND handleOf(const QWidget &widget)
{
    return reinterpret_cast<Dwm::HWND>(widget.internalWinId());
}

} // namespace

// No window manager library at all: the glass frame is simply absent.
class TestWithoutLibrary : public QObject
{
    Q_OBJECT

private slots:
    void everyOperationFailsAndLeavesTheWidgetAlone()
    {
        QVERIFY2(!QLibrary(QStringLiteral("dwmapi")).load(), "a dwmapi library is on the path");
        QWidget widget;
        QVERIFY(!GlassFrame::compositionEnabled());
        QVERIFY(!GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY(!GlassFrame::enableBlurBehind(&widget, true));
        QCOMPARE(GlassFrame::colorizationColor(), FallbackWindowColor);
        QVERIFY(!widget.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY2(widget.internalWinId() == 0, "a native window was made for nothing");

        MainWindow window;
        QVERIFY(!window.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(window.contentsMargins(), QMainWindow().contentsMargins());
        QVERIFY2(notifiers().isEmpty(), "a notifier exists although nothing got glass");
    }
};

// The full stand-in: every branch that depends on what the library answers.
class TestWithStandin : public QObject
{
    Q_OBJECT

private:
    StandinState *m_state = nullptr;

private slots:
    void initTestCase()
    {
        m_state = standin();
        QVERIFY2(m_state, "the stand-in library is not on the path");
    }

    void init()
    {
        *m_state = StandinState{};
        m_state->compositionOn = 1;
        m_state->writeOutputs = true;
    }

    // Runs first: once any call succeeds the notifier exists for good.
    void failedCallsCreateNoNotifier()
    {
        m_state->extend.result = m_state->blur.result = StandinFail;
        QWidget widget;
        QVERIFY(!GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY(!GlassFrame::enableBlurBehind(&widget, true));
        QVERIFY(!GlassFrame::extendFrame(nullptr, -1, -1, -1, -1));
        QCOMPARE(m_state->extend.count, 1);
        QVERIFY2(notifiers().isEmpty(), "a failed call created the notifier");
    }

    void compositionEnabled_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("flag");
        QTest::addColumn<bool>("writes");
        QTest::addColumn<bool>("expected");
        QTest::newRow("on") << int(StandinOk) << 1 << true << true;
        QTest::newRow("off") << int(StandinOk) << 0 << true << false;
        QTest::newRow("other success code") << int(StandinFalse) << 1 << true << true;
        QTest::newRow("failure with the flag set") << int(StandinFail) << 1 << true << false;
        // The flag must start false: a library may report success without writing it.
        QTest::newRow("success, flag unwritten") << int(StandinOk) << 1 << false << false;
    }

    void compositionEnabled()
    {
        QFETCH(int, result);
        QFETCH(int, flag);
        QFETCH(bool, writes);
        m_state->composition.result = result;
        m_state->compositionOn = flag;
        m_state->writeOutputs = writes;
        QTEST(GlassFrame::compositionEnabled(), "expected");
        QCOMPARE(m_state->composition.count, 1);
    }

    void extendFrameFollowsTheOutcome()
    {
        QWidget widget;
        QVERIFY(GlassFrame::extendFrame(&widget, 1, 2, 3, 4));
        QCOMPARE(m_state->extend.hwnd, handleOf(widget));
        const Dwm::MARGINS &margins = m_state->margins;
        QVERIFY(margins.cxLeftWidth == 1 && margins.cxRightWidth == 2 && margins.cyTopHeight == 3 &&
                margins.cyBottomHeight == 4);
        QVERIFY(widget.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(timesListed(&widget), 1);

        m_state->extend.result = StandinFail;
        QVERIFY(!GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY2(!widget.testAttribute(Qt::WA_TranslucentBackground), "left half glass");
        QCOMPARE(timesListed(&widget), 1);

        m_state->extend.result = StandinFalse;
        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QCOMPARE(timesListed(&widget), 2);
        // One hidden native top-level window serves every widget.
        const QList<WindowNotifier *> found = notifiers();
        QCOMPARE(found.size(), 1);
        QVERIFY(!found.first()->isVisible() && found.first()->internalWinId() != 0);
    }

    void enableBlurBehind_data()
    {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<int>("result");
        QTest::newRow("enable, success") << true << int(StandinOk);
        QTest::newRow("enable, failure") << true << int(StandinFail);
        QTest::newRow("disable, success") << false << int(StandinOk);
    }

    void enableBlurBehind()
    {
        QFETCH(bool, enable);
        QFETCH(int, result);
        m_state->blur.result = result;
        QWidget widget;
        widget.setAttribute(Qt::WA_TranslucentBackground, !enable);
        widget.setAttribute(Qt::WA_NoSystemBackground, !enable);
        // The attributes must be in place before the library is called.
        struct Seen
        {
            QWidget *widget;
            bool ready = false;
        } seen{&widget};
        m_state->hook = [](void *context) {
            auto *s = static_cast<Seen *>(context);
            const bool enable = s->widget->testAttribute(Qt::WA_TranslucentBackground);
            s->ready = enable == s->widget->testAttribute(Qt::WA_NoSystemBackground);
        };
        m_state->hookContext = &seen;
        QCOMPARE(GlassFrame::enableBlurBehind(&widget, enable), result >= 0);
        m_state->hook = nullptr;

        QVERIFY2(seen.ready, "the attributes were set after the library call");
        QCOMPARE(widget.testAttribute(Qt::WA_TranslucentBackground), enable);
        QCOMPARE(m_state->blur.hwnd, handleOf(widget));
        QCOMPARE(m_state->blurBehind.dwFlags, Dwm::BlurBehindEnable);
        QCOMPARE(m_state->blurBehind.fEnable, enable ? 1 : 0);
        QVERIFY(!m_state->blurBehind.hRgnBlur && !m_state->blurBehind.fTransitionOnMaximized);
        QCOMPARE(timesListed(&widget), result >= 0 ? 1 : 0);
    }

    void colorizationColor_data()
    {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<int>("result");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("translucent") << 0x80123456u << int(StandinOk) << QColor(0x12, 0x34, 0x56);
        QTest::newRow("zero alpha") << 0x00abcdefu << int(StandinOk) << QColor(0xab, 0xcd, 0xef);
        QTest::newRow("failure") << 0x80123456u << int(StandinFail) << FallbackWindowColor;
    }

    void colorizationColor()
    {
        QFETCH(quint32, value);
        QFETCH(int, result);
        m_state->colorValue = value;
        m_state->color.result = result;
        QTEST(GlassFrame::colorizationColor(), "expected");
        QVERIFY2(m_state->colorOnEntry == 0 && m_state->opaqueOnEntry == 0, "outputs unset");
    }

    void compositionChangeFollowsNewState()
    {
        QWidget widget;
        auto doomed = std::make_unique<QWidget>();
        QVERIFY(GlassFrame::extendFrame(doomed.get(), -1, -1, -1, -1));
        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        doomed.reset(); // a destroyed widget is skipped, and the walk goes on past it
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        widget.installEventFilter(this);

        for (const bool on : {false, true, false}) {
            m_state->compositionOn = on ? 1 : 0;
            const int asked = m_state->composition.count;
            const int before = m_paints;
            qintptr result = 4711;
            QVERIFY2(!deliver("windows_generic_MSG", Dwm::CompositionChangedMessage, &result),
                     "the handler claimed the message");
            QCOMPARE(result, qintptr(4711));
            QCOMPARE(m_state->composition.count, asked + 1);
            QCOMPARE(widget.testAttribute(Qt::WA_NoSystemBackground), on);
            QVERIFY(widget.testAttribute(Qt::WA_TranslucentBackground));
            QTRY_VERIFY2(m_paints > before, "no repaint was scheduled");
        }
    }

    void otherMessagesPassUntouched_data()
    {
        QTest::addColumn<QByteArray>("eventType");
        QTest::addColumn<unsigned int>("message");
        QTest::newRow("another message") << QByteArray("windows_generic_MSG") << 0x0005u;
        QTest::newRow("X11 event")
            << QByteArray("xcb_generic_event_t") << Dwm::CompositionChangedMessage;
    }

    void otherMessagesPassUntouched()
    {
        QFETCH(QByteArray, eventType);
        QFETCH(unsigned int, message);
        const int asked = m_state->composition.count;
        qintptr result = 99;
        QVERIFY(!deliver(eventType, message, &result));
        const auto hook = &NativeEventAccess::nativeEvent;
        QVERIFY(!(notifiers().value(0)->*hook)("windows_generic_MSG", nullptr, &result));
        QCOMPARE(result, qintptr(99));
        QCOMPARE(m_state->composition.count, asked);
    }

    void mainWindowGetsGlassOnlyWithComposition()
    {
        MainWindow window;
        QCOMPARE(m_state->extend.hwnd, handleOf(window));
        QCOMPARE(m_state->margins.cyBottomHeight, -1);
        QCOMPARE(window.contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(timesListed(&window), 1);
        m_state->compositionOn = 0;
        MainWindow plain;
        QCOMPARE(m_state->extend.count, 1);
        QVERIFY(!plain.testAttribute(Qt::WA_TranslucentBackground));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        m_paints += event->type() == QEvent::Paint ? 1 : 0;
        return QObject::eventFilter(watched, event);
    }

private:
    int m_paints = 0;
};

// A stand-in lacking one function: only the operation that needs it fails, cleanly.
class TestLackingFunction : public QObject
{
    Q_OBJECT

public:
    explicit TestLackingFunction(QByteArray lacking) : m_lacking(std::move(lacking)) {}

private:
    QByteArray m_lacking;

private slots:
    void operationsFailOnlyWhereTheirFunctionIsMissing()
    {
        StandinState *state = standin();
        QVERIFY2(state, "the stand-in library is not on the path");
        state->colorValue = 0xff112233u;
        // Without the marker function the library counts as absent, present or not.
        const bool none = m_lacking == "composition";
        QWidget glass;
        QWidget blurred;
        glass.setAttribute(Qt::WA_TranslucentBackground, true);

        QCOMPARE(GlassFrame::compositionEnabled(), !none);
        QCOMPARE(GlassFrame::extendFrame(&glass, -1, -1, -1, -1), !none && m_lacking != "extend");
        QCOMPARE(GlassFrame::enableBlurBehind(&blurred, true), !none && m_lacking != "blur");
        QCOMPARE(GlassFrame::colorizationColor(),
                 none || m_lacking == "color" ? FallbackWindowColor : QColor(0x11, 0x22, 0x33));
        if (none || m_lacking == "extend")
            QVERIFY2(glass.testAttribute(Qt::WA_TranslucentBackground), "a widget was touched");
        if (none || m_lacking == "blur")
            QVERIFY(!blurred.testAttribute(Qt::WA_TranslucentBackground));
        if (none)
            QVERIFY(state->extend.count == 0 && state->blur.count == 0 && notifiers().isEmpty());
    }
};

int main(int argc, char *argv[])
{
    // The main window reads its settings: from a home of this run's own, not a shared store.
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    useOwnSettingsHome(home.path());
    QApplication app(argc, argv);
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, FallbackWindowColor);
    QApplication::setPalette(palette);

    const QByteArray situation = qgetenv("TRASKO_GLASS_STANDIN");
    if (situation.isEmpty() || situation == "none") {
        TestWithoutLibrary test;
        return QTest::qExec(&test, argc, argv);
    }
    if (situation == "full") {
        TestWithStandin test;
        return QTest::qExec(&test, argc, argv);
    }
    TestLackingFunction test(situation);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_glass.moc"
