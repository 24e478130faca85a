// The glass frame against stand-ins for the window manager library, or against Windows' own.
// TRASKO_GLASS_STANDIN names the situation: "none" (no library), "full", "composition" (a
// library without its marker function), or "system" (the library Windows has).

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
    return notifiers().isEmpty() ? 0 : notifiers().first()->widgets().count(widget);
}

Dwm::HWND handleOf(const QWidget &widget)
{
    return reinterpret_cast<Dwm::HWND>(widget.internalWinId());
}

// Lets the test call the protected hook through the widget, so that the override runs.
struct NativeEventAccess : QWidget
{
    using QWidget::nativeEvent;
};

// Hands the notifier a message (none when 0); true if it claimed it, which it never should.
bool deliver(const QByteArray &eventType, unsigned int message, qintptr *result)
{
    WindowNotifier *notifier = notifiers().value(0);
    Dwm::MSG msg{};
    msg.hwnd = static_cast<decltype(msg.hwnd)>(handleOf(*notifier)); // typed on Windows
    msg.message = message;
    return (notifier->*&NativeEventAccess::nativeEvent)(eventType, message ? &msg : nullptr,
                                                        result);
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
        *m_state = StandinState{{}, {}, {}, {}, /*compositionOn*/ 1, 0, /*writeOutputs*/ true, {}};
    }

    void compositionEnabled()
    {
        m_state->compositionOn = 0;
        QVERIFY(!GlassFrame::compositionEnabled());
        m_state->compositionOn = 1;
        m_state->composition.result = StandinFalse; // a success code too
        QVERIFY(GlassFrame::compositionEnabled());
        m_state->composition.result = StandinFail;
        QVERIFY2(!GlassFrame::compositionEnabled(), "a failure read as composition on");
        m_state->composition.result = StandinOk;
        m_state->writeOutputs = false;
        QVERIFY2(!GlassFrame::compositionEnabled(), "a flag the library did not write read as on");
    }

    void glassFollowsTheOutcome()
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
        // Blur behind a window lists it too; a colour loses its alpha, or falls back on failure.
        QWidget blurred;
        QVERIFY(GlassFrame::enableBlurBehind(&blurred, true));
        QVERIFY(blurred.testAttribute(Qt::WA_NoSystemBackground) && timesListed(&blurred) == 1);
        m_state->blur.result = StandinFail;
        QVERIFY(!GlassFrame::enableBlurBehind(&blurred, true));
        QVERIFY2(!blurred.testAttribute(Qt::WA_TranslucentBackground) &&
                     !blurred.testAttribute(Qt::WA_NoSystemBackground) &&
                     timesListed(&blurred) == 1,
                 "a failed blur left the widget half glass");
        m_state->colorValue = 0x80123456u;
        QCOMPARE(GlassFrame::colorizationColor(), QColor(0x12, 0x34, 0x56));
        m_state->color.result = StandinFail;
        QCOMPARE(GlassFrame::colorizationColor(), FallbackWindowColor);
        // One hidden native top-level window serves every widget.
        QCOMPARE(notifiers().size(), 1);
        QVERIFY(!notifiers().first()->isVisible() && notifiers().first()->internalWinId() != 0);
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

// No usable library: the glass frame is absent, every operation fails, no widget is touched.
class TestWithoutLibrary : public QObject
{
    Q_OBJECT

private slots:
    void everyOperationFailsAndLeavesTheWidgetAlone()
    {
        StandinState *state = standin();
        QWidget widget;
        widget.setAttribute(Qt::WA_TranslucentBackground, true);
        QVERIFY(!GlassFrame::compositionEnabled());
        QVERIFY(!GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY(!GlassFrame::enableBlurBehind(&widget, true));
        QCOMPARE(GlassFrame::colorizationColor(), FallbackWindowColor);
        QVERIFY2(widget.testAttribute(Qt::WA_TranslucentBackground) && widget.internalWinId() == 0,
                 "a widget was touched without a library");
        QVERIFY2(!state || (state->extend.count == 0 && state->blur.count == 0),
                 "a library without the marker function was used");
        MainWindow window;
        QCOMPARE(window.contentsMargins(), QMainWindow().contentsMargins());
        QVERIFY2(notifiers().isEmpty(), "a notifier exists although nothing got glass");
    }
};

// Windows' own library: whatever each call answers, the widget shows glass exactly when the
// call succeeded. Wine's blur call fails, real Windows' succeeds.
class TestWithSystemLibrary : public QObject
{
    Q_OBJECT

private slots:
    void widgetsFollowWhatTheSystemAnswers()
    {
        QVERIFY2(QLibrary(QStringLiteral("dwmapi")).load(), "Windows without its dwmapi");
        QWidget framed;
        const bool extended = GlassFrame::extendFrame(&framed, -1, -1, -1, -1);
        QCOMPARE(framed.testAttribute(Qt::WA_TranslucentBackground), extended);
        for (const bool enable : {true, false}) {
            QWidget blurred;
            const bool blurs = GlassFrame::enableBlurBehind(&blurred, enable) && enable;
            QCOMPARE(blurred.testAttribute(Qt::WA_TranslucentBackground), blurs);
            QCOMPARE(blurred.testAttribute(Qt::WA_NoSystemBackground), blurs);
        }
        QCOMPARE(GlassFrame::colorizationColor().alpha(), 255);
        MainWindow window;
        if (!GlassFrame::compositionEnabled())
            QCOMPARE(window.contentsMargins(), QMainWindow().contentsMargins());
    }
};

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    useOwnSettingsHome(home.path());
    QApplication app(argc, argv);
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, FallbackWindowColor);
    QApplication::setPalette(palette);

    const QByteArray situation = qgetenv("TRASKO_GLASS_STANDIN");
    if (situation == "system") {
        TestWithSystemLibrary test;
        return QTest::qExec(&test, argc, argv);
    }
    if (situation == "full") {
        TestWithStandin test;
        return QTest::qExec(&test, argc, argv);
    }
    TestWithoutLibrary test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_glass.moc"
