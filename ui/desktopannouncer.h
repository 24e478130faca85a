#pragma once

#include <QString>

class QWidget;

// Tells the desktop about the window's jobs over the session bus: the overall progress on the
// launcher's task-manager entry while a job runs, and the outcome of a job that ended while the
// window was in the background. Where there is no session bus, or nobody listens, it stays
// quiet: nothing is waited for and nothing is printed.
class DesktopAnnouncer
{
public:
    ~DesktopAnnouncer();

    // fraction 0 to 1; repeats of the shown value are not sent again.
    void showProgress(double fraction);
    void clearProgress();
    // Asks the desktop to draw attention to window, and shows one notification.
    void announce(QWidget *window, const QString &summary, const QString &body);

private:
    void sendProgress(double fraction, bool visible);

    int m_shownPercent = -1; // -1: no progress shown
};
