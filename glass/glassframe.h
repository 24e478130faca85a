#pragma once

#include <QColor>

class QWidget;
class WindowNotifier;

// Translucent glass frame through the desktop window manager library, bound at run time.
// Where the library or one of its functions is missing every operation reports failure
// and leaves the widget alone.
class GlassFrame
{
public:
    static bool compositionEnabled();
    static bool extendFrame(QWidget *widget, int left, int right, int top, int bottom);
    static bool enableBlurBehind(QWidget *widget, bool enable);
    static QColor colorizationColor();

private:
    static bool resolveDwm();
    static WindowNotifier *notifier();
};
