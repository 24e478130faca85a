#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

// Hidden top-level window that receives the system's composition-changed broadcast and
// brings the widgets that got glass in line with the new state.
class WindowNotifier : public QWidget
{
public:
    WindowNotifier();
    ~WindowNotifier() override;

    void addWidget(QWidget *widget);
    // A widget appears once per successful glass call; destroyed ones read as null.
    const QList<QPointer<QWidget>> &widgets() const { return m_widgets; }

protected:
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    // Guarded so that a widget destroyed while still listed is never touched again.
    QList<QPointer<QWidget>> m_widgets;
};
