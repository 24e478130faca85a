#include "ui/screenfit.h"

#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QWindow>

#include <algorithm>

namespace {

// Asks for the whole form, however tall; the window then bounds itself by its screen. (The
// toolkit's scroll area asks for no more than 24 lines of text.)
class FormScrollArea : public QScrollArea
{
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override
    {
        const int frame = 2 * frameWidth();
        return widget() ? widget()->sizeHint() + QSize(frame, frame) : QScrollArea::sizeHint();
    }
};

} // namespace

namespace ScreenFit {

void wrapInScrollArea(QMainWindow *window)
{
    auto *scroll = new FormScrollArea(window);
    scroll->setObjectName(QStringLiteral("scrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    // The form paints its own background, and where there is glass the glass shows through.
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setWidget(window->takeCentralWidget());
    window->setCentralWidget(scroll);
}

void fit(QMainWindow *window, std::initializer_list<QWidget *> innerFirst)
{
    for (QWidget *widget : innerFirst)
        widget->adjustSize();
    window->centralWidget()->updateGeometry(); // the scroll area: its hint is the form's, now
    window->adjustSize();
    // adjustSize() stops at two thirds of the screen, and at the form's minimum if the screen
    // is smaller: the window may use the screen's whole free area, and never more.
    const QWindow *handle = window->windowHandle();
    const QMargins frame = handle ? handle->frameMargins() : QMargins();
    const QRect room = window->screen()->availableGeometry().marginsRemoved(frame);
    window->resize(window->sizeHint().expandedTo(window->minimumSize()).boundedTo(room.size()));
    const QRect at = window->geometry();
    if (window->isVisible() && !room.contains(at))
        window->move(
            std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - at.width() + 1)),
            std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - at.height() + 1)));
}

} // namespace ScreenFit
