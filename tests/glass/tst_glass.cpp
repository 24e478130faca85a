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
#include <QFile>
#include <QLibrary>
#include <QMainWindow>
#include <QPalette>
#include <QPointer>
#include <QStandardPaths>
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

WindowNotifier *theNotifier()
{
    const QList<WindowNotifier *> found = notifiers();
    return found.size() == 1 ? found.first() : nullptr;
}

qsizetype timesListed(const QWidget *widget)
{
    const WindowNotifier *notifier = theNotifier();
    if (!notifier)
        return 0;
    qsizetype count = 0;
    for (const QPointer<QWidget> &entry : notifier->widgets())
        count += entry == widget ? 1 : 0;
    return count;
}

// The toolkit calls nativeEvent from its own dispatch; a using-declaration lets the test
// name the protected hook and call it through the widget, so the override still runs.
struct NativeEventAccess : QWidget
{
    using QWidget::nativeEvent;
};

bool deliver(QWidget *target, const QByteArray &eventType, unsigned int message, qintptr *result)
{
    Dwm::MSG msg{};
    msg.hwnd = reinterpret_cast<Dwm::HWND>(target->internalWinId());
    msg.message = message;
    const auto hook = &NativeEventAccess::nativeEvent;
    return (target->*hook)(eventType, &msg, result);
}

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

StandinState *standin()
{
    QLibrary library(QStringLiteral("dwmapi"));
    const auto state = reinterpret_cast<StandinStateFunction>(library.resolve("standin_state"));
    return state ? state() : nullptr;
}

void resetStandin(StandinState *state)
{
    *state = StandinState{};
    state->compositionOn = 1;
    state->writeOutputs = true;
}

void useDistinctPalette()
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, FallbackWindowColor);
    QApplication::setPalette(palette);
}

} // namespace

// No window manager library at all: the glass frame is simply absent.
class TestWithoutLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!QLibrary(QStringLiteral("dwmapi")).load(),
                 "a dwmapi library is on the path, so this case proves nothing");
        useDistinctPalette();
    }

    void everyOperationFailsAndLeavesTheWidgetAlone()
    {
        QWidget widget;
        QVERIFY(!GlassFrame::compositionEnabled());
        QVERIFY(!GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY(!GlassFrame::enableBlurBehind(&widget, true));
        QCOMPARE(GlassFrame::colorizationColor(), FallbackWindowColor);

        QVERIFY(!widget.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(!widget.testAttribute(Qt::WA_NoSystemBackground));
        QVERIFY2(widget.internalWinId() == 0, "a native window was created for nothing");
        QVERIFY2(notifiers().isEmpty(), "a notifier exists although nothing got glass");
    }

    void mainWindowKeepsItsOrdinaryFrame()
    {
        MainWindow window;
        QVERIFY(!window.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(window.contentsMargins(), QMainWindow().contentsMargins());
        QVERIFY2(notifiers().isEmpty(), "the main window was handed to a notifier");
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
        useDistinctPalette();
    }

    void init() { resetStandin(m_state); }

    // Runs first: once any call succeeds the notifier exists for good.
    void failedCallsCreateNoNotifier()
    {
        m_state->extend.result = StandinFail;
        m_state->blur.result = StandinFail;
        QWidget widget;
        QVERIFY(!GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY(!GlassFrame::enableBlurBehind(&widget, true));
        QCOMPARE(m_state->extend.count, 1);
        QCOMPARE(m_state->blur.count, 1);
        QVERIFY2(notifiers().isEmpty(), "a failed call created the notifier");
    }

    void nullWidgetIsRefused()
    {
        QVERIFY(!GlassFrame::extendFrame(nullptr, -1, -1, -1, -1));
        QVERIFY(!GlassFrame::enableBlurBehind(nullptr, true));
        QCOMPARE(m_state->extend.count, 0);
        QCOMPARE(m_state->blur.count, 0);
    }

    void compositionEnabled_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("flag");
        QTest::addColumn<bool>("expected");
        QTest::newRow("on") << int(StandinOk) << 1 << true;
        QTest::newRow("off") << int(StandinOk) << 0 << false;
        QTest::newRow("other success code") << int(StandinFalse) << 1 << true;
        QTest::newRow("failure with the flag set") << int(StandinFail) << 1 << false;
    }

    void compositionEnabled()
    {
        QFETCH(int, result);
        QFETCH(int, flag);
        QFETCH(bool, expected);
        m_state->composition.result = result;
        m_state->compositionOn = flag;
        QCOMPARE(GlassFrame::compositionEnabled(), expected);
        QCOMPARE(m_state->composition.count, 1);
        QCOMPARE(m_state->enabledOnEntry, 0);
    }

    void compositionFlagStartsFalse()
    {
        // A library that reports success without writing the flag must read as "off".
        m_state->writeOutputs = false;
        QVERIFY(!GlassFrame::compositionEnabled());
    }

    void extendFramePassesMarginsAndNativeWindow()
    {
        QWidget widget;
        QVERIFY(GlassFrame::extendFrame(&widget, 1, 2, 3, 4));
        QVERIFY(widget.internalWinId() != 0);
        QCOMPARE(m_state->extend.hwnd, reinterpret_cast<Dwm::HWND>(widget.internalWinId()));
        QCOMPARE(m_state->margins.cxLeftWidth, 1);
        QCOMPARE(m_state->margins.cxRightWidth, 2);
        QCOMPARE(m_state->margins.cyTopHeight, 3);
        QCOMPARE(m_state->margins.cyBottomHeight, 4);

        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QCOMPARE(m_state->margins.cxLeftWidth, -1);
        QCOMPARE(m_state->margins.cxRightWidth, -1);
        QCOMPARE(m_state->margins.cyTopHeight, -1);
        QCOMPARE(m_state->margins.cyBottomHeight, -1);
    }

    void extendFrameSetsAttributeToOutcome()
    {
        QWidget widget;
        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY(widget.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(timesListed(&widget), 1);

        m_state->extend.result = StandinFail;
        QVERIFY(!GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY2(!widget.testAttribute(Qt::WA_TranslucentBackground),
                 "a failed extension left the widget translucent");
        QCOMPARE(timesListed(&widget), 1);

        m_state->extend.result = StandinFalse;
        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY(widget.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(timesListed(&widget), 2);
        QCOMPARE(notifiers().size(), 1);
    }

    void enableBlurBehind_data()
    {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<int>("result");
        QTest::newRow("enable, success") << true << int(StandinOk);
        QTest::newRow("enable, failure") << true << int(StandinFail);
        QTest::newRow("disable, success") << false << int(StandinOk);
        QTest::newRow("disable, failure") << false << int(StandinFail);
    }

    void enableBlurBehind()
    {
        QFETCH(bool, enable);
        QFETCH(int, result);
        const bool succeeds = result >= 0;
        m_state->blur.result = result;

        QWidget widget;
        // Start from the opposite state so that every attribute has to be written.
        widget.setAttribute(Qt::WA_TranslucentBackground, !enable);
        widget.setAttribute(Qt::WA_NoSystemBackground, !enable);

        struct Seen
        {
            QWidget *widget;
            bool translucent = false;
            bool noBackground = false;
        } seen{&widget};
        m_state->hook = [](void *context) {
            auto *s = static_cast<Seen *>(context);
            s->translucent = s->widget->testAttribute(Qt::WA_TranslucentBackground);
            s->noBackground = s->widget->testAttribute(Qt::WA_NoSystemBackground);
        };
        m_state->hookContext = &seen;

        QCOMPARE(GlassFrame::enableBlurBehind(&widget, enable), succeeds);
        m_state->hook = nullptr;

        QCOMPARE(m_state->blur.count, 1);
        QVERIFY2(seen.translucent == enable && seen.noBackground == enable,
                 "the attributes were not set before the library call");
        QCOMPARE(widget.testAttribute(Qt::WA_TranslucentBackground), enable);
        QCOMPARE(widget.testAttribute(Qt::WA_NoSystemBackground), enable);
        QCOMPARE(m_state->blur.hwnd, reinterpret_cast<Dwm::HWND>(widget.internalWinId()));
        QCOMPARE(m_state->blurBehind.dwFlags, Dwm::BlurBehindEnable);
        QCOMPARE(m_state->blurBehind.fEnable, enable ? 1 : 0);
        QVERIFY(m_state->blurBehind.hRgnBlur == nullptr);
        QCOMPARE(m_state->blurBehind.fTransitionOnMaximized, 0);
        QCOMPARE(timesListed(&widget), succeeds ? 1 : 0);
    }

    void colorizationColor_data()
    {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<int>("result");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("translucent value")
            << 0x80123456u << int(StandinOk) << QColor(0x12, 0x34, 0x56);
        QTest::newRow("zero alpha") << 0x00abcdefu << int(StandinOk) << QColor(0xab, 0xcd, 0xef);
        QTest::newRow("opaque white") << 0xffffffffu << int(StandinOk) << QColor(Qt::white);
        QTest::newRow("failure") << 0x80123456u << int(StandinFail) << FallbackWindowColor;
    }

    void colorizationColor()
    {
        QFETCH(quint32, value);
        QFETCH(int, result);
        QFETCH(QColor, expected);
        m_state->colorValue = value;
        m_state->color.result = result;
        const QColor color = GlassFrame::colorizationColor();
        QCOMPARE(color, expected);
        QCOMPARE(color.alpha(), 255);
        QCOMPARE(m_state->colorOnEntry, 0u);
        QCOMPARE(m_state->opaqueOnEntry, 0);
    }

    void notifierIsOneHiddenNativeTopLevel()
    {
        QWidget first;
        QWidget second;
        QVERIFY(GlassFrame::extendFrame(&first, -1, -1, -1, -1));
        QVERIFY(GlassFrame::enableBlurBehind(&second, true));
        QCOMPARE(notifiers().size(), 1);
        const WindowNotifier *notifier = theNotifier();
        QVERIFY(notifier->isWindow());
        QVERIFY(notifier->parentWidget() == nullptr);
        QVERIFY(!notifier->isVisible());
        QVERIFY2(notifier->internalWinId() != 0, "the notifier has no native window");
    }

    void compositionChangeFollowsNewState()
    {
        QWidget widget;
        widget.resize(120, 80);
        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        QCOMPARE(timesListed(&widget), 2);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        PaintCounter counter(&widget);
        WindowNotifier *notifier = theNotifier();

        for (const bool on : {false, true, false}) {
            m_state->compositionOn = on ? 1 : 0;
            const int asked = m_state->composition.count;
            const int paints = counter.paints;
            qintptr result = 4711;
            QVERIFY2(
                !deliver(notifier, "windows_generic_MSG", Dwm::CompositionChangedMessage, &result),
                "the handler claimed the message");
            QCOMPARE(result, qintptr(4711));
            QCOMPARE(m_state->composition.count, asked + 1);
            QCOMPARE(widget.testAttribute(Qt::WA_NoSystemBackground), on);
            QTRY_VERIFY2(counter.paints > paints, "no repaint was scheduled");
            QVERIFY2(widget.testAttribute(Qt::WA_TranslucentBackground),
                     "the handler touched the translucency");
        }
    }

    void destroyedWidgetIsSkipped()
    {
        QWidget survivor;
        auto doomed = std::make_unique<QWidget>();
        QVERIFY(GlassFrame::extendFrame(doomed.get(), -1, -1, -1, -1));
        QVERIFY(GlassFrame::extendFrame(&survivor, -1, -1, -1, -1));
        const QWidget *gone = doomed.get();
        doomed.reset();
        QCOMPARE(timesListed(gone), 0);

        m_state->compositionOn = 1;
        survivor.setAttribute(Qt::WA_NoSystemBackground, false);
        qintptr result = 0;
        QVERIFY(!deliver(theNotifier(), "windows_generic_MSG", Dwm::CompositionChangedMessage,
                         &result));
        QVERIFY2(survivor.testAttribute(Qt::WA_NoSystemBackground),
                 "the walk stopped at the destroyed widget");
    }

    void otherMessagesPassUntouched_data()
    {
        QTest::addColumn<QByteArray>("eventType");
        QTest::addColumn<unsigned int>("message");
        QTest::newRow("another Windows message") << QByteArray("windows_generic_MSG") << 0x0005u;
        QTest::newRow("dispatcher event type")
            << QByteArray("windows_dispatcher_MSG") << Dwm::CompositionChangedMessage;
        QTest::newRow("X11 event type")
            << QByteArray("xcb_generic_event_t") << Dwm::CompositionChangedMessage;
    }

    void otherMessagesPassUntouched()
    {
        QFETCH(QByteArray, eventType);
        QFETCH(unsigned int, message);
        QWidget widget;
        QVERIFY(GlassFrame::extendFrame(&widget, -1, -1, -1, -1));
        widget.setAttribute(Qt::WA_NoSystemBackground, false);
        m_state->compositionOn = 1;
        const int asked = m_state->composition.count;

        qintptr result = 99;
        QVERIFY(!deliver(theNotifier(), eventType, message, &result));
        QCOMPARE(result, qintptr(99));
        QCOMPARE(m_state->composition.count, asked);
        QVERIFY(!widget.testAttribute(Qt::WA_NoSystemBackground));
    }

    void nullMessageIsPassedOn()
    {
        WindowNotifier *notifier = theNotifier();
        QVERIFY(notifier);
        const int asked = m_state->composition.count;
        qintptr result = 7;
        const auto hook = &NativeEventAccess::nativeEvent;
        QVERIFY(!(notifier->*hook)("windows_generic_MSG", nullptr, &result));
        QCOMPARE(result, qintptr(7));
        QCOMPARE(m_state->composition.count, asked);
    }

    void mainWindowGetsGlassWhenCompositionIsOn()
    {
        MainWindow window;
        QCOMPARE(m_state->extend.count, 1);
        QVERIFY(window.internalWinId() != 0);
        QCOMPARE(m_state->extend.hwnd, reinterpret_cast<Dwm::HWND>(window.internalWinId()));
        QCOMPARE(m_state->margins.cxLeftWidth, -1);
        QCOMPARE(m_state->margins.cxRightWidth, -1);
        QCOMPARE(m_state->margins.cyTopHeight, -1);
        QCOMPARE(m_state->margins.cyBottomHeight, -1);
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(window.contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(timesListed(&window), 1);
    }

    void mainWindowKeepsItsFrameWhenCompositionIsOff()
    {
        m_state->compositionOn = 0;
        MainWindow window;
        QCOMPARE(m_state->extend.count, 0);
        QVERIFY(!window.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(timesListed(&window), 0);
    }
};

// A stand-in lacking one function: only the operation that needs it fails, cleanly.
class TestLackingFunction : public QObject
{
    Q_OBJECT

public:
    explicit TestLackingFunction(QByteArray lacking) : m_lacking(std::move(lacking)) {}

private:
    QByteArray m_lacking;
    StandinState *m_state = nullptr;

private slots:
    void initTestCase()
    {
        m_state = standin();
        QVERIFY2(m_state, "the stand-in library is not on the path");
        useDistinctPalette();
        m_state->colorValue = 0xff112233u;
    }

    void operationsFailOnlyWhereTheirFunctionIsMissing()
    {
        const bool noComposition = m_lacking == "composition";
        QWidget glass;
        QWidget blurred;
        glass.setAttribute(Qt::WA_TranslucentBackground, true);

        QCOMPARE(GlassFrame::compositionEnabled(), !noComposition);
        QCOMPARE(GlassFrame::extendFrame(&glass, -1, -1, -1, -1),
                 !noComposition && m_lacking != "extend");
        QCOMPARE(GlassFrame::enableBlurBehind(&blurred, true),
                 !noComposition && m_lacking != "blur");
        QCOMPARE(GlassFrame::colorizationColor(), noComposition || m_lacking == "color"
                                                      ? FallbackWindowColor
                                                      : QColor(0x11, 0x22, 0x33));

        if (noComposition || m_lacking == "extend") {
            QVERIFY2(glass.testAttribute(Qt::WA_TranslucentBackground),
                     "a widget was touched although its function is missing");
            QVERIFY(glass.internalWinId() == 0);
        }
        if (noComposition || m_lacking == "blur") {
            QVERIFY(!blurred.testAttribute(Qt::WA_TranslucentBackground));
            QVERIFY(!blurred.testAttribute(Qt::WA_NoSystemBackground));
        }
        if (noComposition) {
            // Without the marker function the library counts as absent, present or not.
            QCOMPARE(m_state->extend.count, 0);
            QCOMPARE(m_state->blur.count, 0);
            QCOMPARE(m_state->color.count, 0);
            QVERIFY(notifiers().isEmpty());
        }
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
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvex"));
    QCoreApplication::setApplicationName(QStringLiteral("Trasko"));

    const QByteArray situation = qgetenv("TRASKO_GLASS_STANDIN");
    if (situation.isEmpty() || situation == "none") {
        TestWithoutLibrary test;
        return QTest::qExec(&test, argc, argv);
    }
    if (situation == "full") {
        TestWithStandin test;
        return QTest::qExec(&test, argc, argv);
    }
    if (situation != "extend" && situation != "blur" && situation != "color" &&
        situation != "composition") {
        qCritical("unknown library situation: %s", situation.constData());
        return 2;
    }
    TestLackingFunction test(situation);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_glass.moc"
