#include "glass/glassframe.h"

#include "glass/dwmtypes.h"
#include "glass/windownotifier.h"

#include <QApplication>
#include <QLibrary>
#include <QPalette>
#include <QPointer>

namespace {

// Resolved once and kept for the life of the process; the library stays loaded.
// A null entry means that function was not found.
Dwm::PtrDwmIsCompositionEnabled s_isCompositionEnabled = nullptr;
Dwm::PtrDwmExtendFrameIntoClientArea s_extendFrameIntoClientArea = nullptr;
Dwm::PtrDwmEnableBlurBehindWindow s_enableBlurBehindWindow = nullptr;
Dwm::PtrDwmGetColorizationColor s_getColorizationColor = nullptr;

// Guarded: should anyone delete the notifier, the next glass call makes a new one
// instead of writing through a dangling pointer.
QPointer<WindowNotifier> s_notifier;

Dwm::HWND nativeHandle(QWidget *widget)
{
    return reinterpret_cast<Dwm::HWND>(widget->winId());
}

} // namespace

bool GlassFrame::resolveDwm()
{
    if (s_isCompositionEnabled)
        return true;

    // A failed attempt is not remembered: the load is simply tried again next time.
    QLibrary library(QStringLiteral("dwmapi"));
    s_isCompositionEnabled = reinterpret_cast<Dwm::PtrDwmIsCompositionEnabled>(
        library.resolve("DwmIsCompositionEnabled"));
    s_extendFrameIntoClientArea = reinterpret_cast<Dwm::PtrDwmExtendFrameIntoClientArea>(
        library.resolve("DwmExtendFrameIntoClientArea"));
    s_enableBlurBehindWindow = reinterpret_cast<Dwm::PtrDwmEnableBlurBehindWindow>(
        library.resolve("DwmEnableBlurBehindWindow"));
    s_getColorizationColor = reinterpret_cast<Dwm::PtrDwmGetColorizationColor>(
        library.resolve("DwmGetColorizationColor"));
    return s_isCompositionEnabled != nullptr;
}

WindowNotifier *GlassFrame::notifier()
{
    if (!s_notifier)
        s_notifier = new WindowNotifier;
    return s_notifier;
}

bool GlassFrame::compositionEnabled()
{
    if (!resolveDwm())
        return false;
    Dwm::BOOL enabled = 0;
    const Dwm::HRESULT hr = s_isCompositionEnabled(&enabled);
    return !Dwm::failed(hr) && enabled != 0;
}

bool GlassFrame::extendFrame(QWidget *widget, int left, int right, int top, int bottom)
{
    if (!widget || !resolveDwm() || !s_extendFrameIntoClientArea)
        return false;

    const Dwm::MARGINS margins{left, right, top, bottom};
    const bool result = !Dwm::failed(s_extendFrameIntoClientArea(nativeHandle(widget), &margins));
    if (result)
        notifier()->addWidget(widget);
    // A failed call clears the attribute, so the widget is never left half glass.
    widget->setAttribute(Qt::WA_TranslucentBackground, result);
    return result;
}

bool GlassFrame::enableBlurBehind(QWidget *widget, bool enable)
{
    if (!widget || !resolveDwm() || !s_enableBlurBehindWindow)
        return false;

    Dwm::DWM_BLURBEHIND blur{};
    blur.dwFlags = Dwm::BlurBehindEnable;
    blur.fEnable = enable ? 1 : 0;

    widget->setAttribute(Qt::WA_TranslucentBackground, enable);
    widget->setAttribute(Qt::WA_NoSystemBackground, enable);

    if (Dwm::failed(s_enableBlurBehindWindow(nativeHandle(widget), &blur))) {
        // As with the frame: a failed call clears both, so the widget is never left with a
        // see-through background and nothing behind it.
        widget->setAttribute(Qt::WA_TranslucentBackground, false);
        widget->setAttribute(Qt::WA_NoSystemBackground, false);
        return false;
    }
    notifier()->addWidget(widget);
    return true;
}

QColor GlassFrame::colorizationColor()
{
    QColor color = QApplication::palette().color(QPalette::Current, QPalette::Window);
    if (!resolveDwm() || !s_getColorizationColor)
        return color;

    Dwm::DWORD value = 0;
    Dwm::BOOL opaqueBlend = 0;
    // The value is 0xAARRGGBB; building from QRgb drops the alpha byte, so the colour is opaque.
    if (!Dwm::failed(s_getColorizationColor(&value, &opaqueBlend)))
        color = QColor::fromRgb(static_cast<QRgb>(value));
    return color;
}
