#pragma once

#include <initializer_list>

class QMainWindow;
class QWidget;

// A window that always fits its screen: its form inside a scroll area that asks for the whole
// form, and the window sized to its content within the screen's free area.
namespace ScreenFit {

// Puts the window's central widget inside a scroll area.
void wrapInScrollArea(QMainWindow *window);
// Sizes the window to its content once the given widgets, innermost first, have taken theirs;
// never larger than the screen's free area, and moved onto it when shown.
void fit(QMainWindow *window, std::initializer_list<QWidget *> innerFirst);

} // namespace ScreenFit
