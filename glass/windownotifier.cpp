#include "glass/windownotifier.h"

#include "glass/dwmtypes.h"
#include "glass/glassframe.h"

WindowNotifier::WindowNotifier()
{
    // A native window of our own is what makes the system's broadcast reach us.
    winId();
}

WindowNotifier::~WindowNotifier() = default;

void WindowNotifier::addWidget(QWidget *widget)
{
    m_widgets.append(widget);
}

bool WindowNotifier::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    if (message && eventType == "windows_generic_MSG") {
        const auto *msg = static_cast<const Dwm::MSG *>(message);
        if (msg->message == Dwm::CompositionChangedMessage) {
            const bool enabled = GlassFrame::compositionEnabled();
            // A copy: a repaint may run code that calls back into the glass helper.
            const QList<QPointer<QWidget>> widgets = m_widgets;
            for (const QPointer<QWidget> &widget : widgets) {
                if (!widget)
                    continue;
                widget->setAttribute(Qt::WA_NoSystemBackground, enabled);
                widget->update();
            }
        }
    }
    return QWidget::nativeEvent(eventType, message, result);
}
