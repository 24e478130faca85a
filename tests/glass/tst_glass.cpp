// The glass frame against stand-ins for the window manager library. TRASKO_GLASS_STANDIN names
// the library situation this process runs in: "none" (no library on the path), "full", or the
// one function the stand-in lacks ("extend", "blur", "color", "composition").

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

// Hands the notifier one message (none at all when message is 0); true when it claimed it,
// which it never should.
bool deliver(const QByteArray &eventType, unsigned int message, qintptr *result)
{
    WindowNotifier *notifier = notifiers().value(0);
    Dwm::MSG msg{};
    msg.hwnd = reinterpret_cast<Dwm::HWND>(notifier->internalWinId());
    msg.message = message;
    return (notifier->*&NativeEventAccess::nativeEvent)(eventType, message ? &msg : nullptr,
                                                        result);
}

Dwm::HWND handleOf(const QWidget &widget)
{
    return reinterpret_cast<Dwm::HWND>(widget.internalWinId());
}

StandinState *standin()
{
    const auto state = reinterpret_cast<StandinStateFunction>(
        QLibrary(QStringLiteral("dwmapi")).resolve("standin_state"));
    return state ? state() : nullptr;
}

} // namespace

// The full stand-in: every branch that depends on what the library answers.
class TestWithStandin : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY2(m_state, "the stand-in library is not on the path");
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

    void compositionEnabled()
    {
        struct Case
        {
            Dwm::HRESULT result;
            Dwm::BOOL flag;
            bool writes; // false: the library reports without writing the flag, which must then
                         // read as off
            bool expected;
        };
        for (const Case &c : {Case{StandinOk, 1, true, true}, Case{StandinOk, 0, true, false},
                              Case{StandinFalse, 1, true, true}, Case{StandinFail, 1, true, false},
                              Case{StandinOk, 1, false, false}}) {
            m_state->composition.result = c.result;
            m_state->compositionOn = c.flag;
            m_state->writeOutputs = c.writes;
            QVERIFY2(GlassFrame::compositionEnabled() == c.expected,
                     qPrintable(QString::number(c.result)));
        }
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
        m_state->extend.result = StandinFalse;
        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QCOMPARE(timesListed(&widget), 2);
        // One hidden native top-level window serves every widget.
        QCOMPARE(notifiers().size(), 1);
        QVERIFY(!notifiers().first()->isVisible() && notifiers().first()->internalWinId() != 0);
    }

    void enableBlurBehind()
    {
        // The attributes must be in place when the library is called.
        static QWidget *target = nullptr;
        static bool readyInCall = false;
        m_state->hook = [](void *enable) {
            const bool on = *static_cast<bool *>(enable);
            readyInCall = target->testAttribute(Qt::WA_TranslucentBackground) == on &&
                          target->testAttribute(Qt::WA_NoSystemBackground) == on;
        };
        for (bool enable : {true, false}) {
            for (const Dwm::HRESULT result : {StandinOk, StandinFail}) {
                m_state->blur.result = result;
                m_state->hookContext = &enable;
                QWidget widget;
                target = &widget;
                widget.setAttribute(Qt::WA_TranslucentBackground, !enable);
                widget.setAttribute(Qt::WA_NoSystemBackground, !enable);
                QCOMPARE(GlassFrame::enableBlurBehind(&widget, enable), result == StandinOk);
                QVERIFY2(readyInCall, "the attributes were set after the library call");
                QCOMPARE(m_state->blur.hwnd, handleOf(widget));
                QVERIFY(m_state->blurBehind.dwFlags == Dwm::BlurBehindEnable &&
                        m_state->blurBehind.fEnable == (enable ? 1 : 0));
                QCOMPARE(timesListed(&widget), result == StandinOk ? 1 : 0);
            }
        }
        m_state->hook = nullptr;
    }

    void colorizationColor()
    {
        // The value is 0xAARRGGBB: its alpha goes, and a failure leaves the window colour.
        m_state->colorValue = 0x80123456u;
        QCOMPARE(GlassFrame::colorizationColor(), QColor(0x12, 0x34, 0x56));
        QVERIFY2(m_state->colorOnEntry == 0 && m_state->opaqueOnEntry == 0, "outputs unset");
        m_state->color.result = StandinFail;
        QCOMPARE(GlassFrame::colorizationColor(), FallbackWindowColor);
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
        qintptr result = 4711;
        for (const bool on : {false, true, false}) {
            m_state->compositionOn = on ? 1 : 0;
            const int paints = m_paints;
            QVERIFY2(!deliver("windows_generic_MSG", Dwm::CompositionChangedMessage, &result),
                     "the handler claimed the message");
            QCOMPARE(widget.testAttribute(Qt::WA_NoSystemBackground), on);
            QVERIFY(widget.testAttribute(Qt::WA_TranslucentBackground));
            QTRY_VERIFY2(m_paints > paints, "no repaint was scheduled");
        }
        // Other messages, other platforms' events and no message at all pass untouched.
        const int asked = m_state->composition.count;
        QVERIFY(!deliver("windows_generic_MSG", 0x0005u, &result));
        QVERIFY(!deliver("xcb_generic_event_t", Dwm::CompositionChangedMessage, &result));
        QVERIFY(!deliver("windows_generic_MSG", 0, &result));
        QCOMPARE(m_state->composition.count, asked);
        QCOMPARE(result, qintptr(4711));
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
    StandinState *m_state = standin();
    int m_paints = 0;
};

// No library, or a stand-in lacking one function: only what needs the missing part fails,
// cleanly, and leaves the widget alone. Without the marker function, composition, the library
// counts as absent.
class TestWithoutAFunction : public QObject
{
    Q_OBJECT

public:
    explicit TestWithoutAFunction(QByteArray lacking) : m_lacking(std::move(lacking)) {}

private slots:
    void operationsFailOnlyWhereTheirFunctionIsMissing()
    {
        StandinState *state = standin();
        QVERIFY2((m_lacking == "none") == !state,
                 "the library on the path is not the expected one");
        if (state)
            state->colorValue = 0xff112233u;
        const bool none = m_lacking == "none" || m_lacking == "composition";
        QWidget glass;
        QWidget blurred;
        glass.setAttribute(Qt::WA_TranslucentBackground, true);
        QCOMPARE(GlassFrame::compositionEnabled(), !none);
        QCOMPARE(GlassFrame::extendFrame(&glass, -1, -1, -1, -1), !none && m_lacking != "extend");
        QCOMPARE(GlassFrame::enableBlurBehind(&blurred, true), !none && m_lacking != "blur");
        QCOMPARE(GlassFrame::colorizationColor(),
                 none || m_lacking == "color" ? FallbackWindowColor : QColor(0x11, 0x22, 0x33));
        if (none || m_lacking == "extend")
            QVERIFY2(glass.testAttribute(Qt::WA_TranslucentBackground) &&
                         glass.internalWinId() == 0,
                     "a widget was touched although its function is missing");
        if (none || m_lacking == "blur")
            QVERIFY(!blurred.testAttribute(Qt::WA_TranslucentBackground));
        if (none) {
            QVERIFY(!state || (state->extend.count == 0 && state->blur.count == 0));
            MainWindow window;
            QCOMPARE(window.contentsMargins(), QMainWindow().contentsMargins());
            QVERIFY2(notifiers().isEmpty(), "a notifier exists although nothing got glass");
        }
    }

private:
    QByteArray m_lacking;
};

int main(int argc, char *argv[])
{
    // The main window reads its settings: from a home of this run's own, not a shared store.
    QTemporaryDir home;
    useOwnSettingsHome(home.path());
    QApplication app(argc, argv);
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, FallbackWindowColor);
    QApplication::setPalette(palette);

    const QByteArray situation = qgetenv("TRASKO_GLASS_STANDIN");
    if (situation == "full") {
        TestWithStandin test;
        return QTest::qExec(&test, argc, argv);
    }
    TestWithoutAFunction test(situation.isEmpty() ? QByteArray("none") : situation);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_glass.moc"
