#pragma once

#include "engine/copyerror.h"
#include "engine/jobprogress.h"
#include "engine/overwritemode.h"
#include "engine/processor.h"
#include "ui/commandline.h"
#include "ui/desktopannouncer.h"
#include "ui/failurelist.h"
#include "ui/jobfigures.h"
#include "ui/settings.h"
#include "ui/sleepinhibitor.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <memory>

class FolderDrop;
class QLineEdit;
class QStandardItemModel;

namespace Ui {
class MainWindow;
}
// The form generated from mainwindow.ui; its class carries the window's name so that its
// texts are translated in the "MainWindow" context.
using MainWindowForm = Ui::MainWindow;

// The application's only window: the form, the copy-errors list, the progress timer and,
// while a job exists, its worker. What it shows is worked out by the classes it uses: the job's
// figures (jobfigures), the copy-errors rows (failurelist), the remembered choices (settings),
// the formats of sizes and times (formats).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum RunState
    {
        StateIdle = 0,
        StateRunning = 1,
        StatePaused = 2
    };

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Shows the window and shrinks or grows it to its content.
    void showAndFit();
    // Re-fits the first page, the tab widget, the central widget and the window, in that order.
    void fitToContents();
    // The folders named on the command line, taken as if chosen, then Start pressed if asked.
    void openFolders(const LaunchFolders &folders);

protected:
    // While a job runs the window asks before it goes, and while its data is being written to
    // the destination it stays until that is done: a window never vanishes over unseen work.
    void closeEvent(QCloseEvent *event) override;

private slots:
    // Slot order is the meta-object index order; keep it.
    void on_buttonSource_clicked();
    void on_buttonTarget_clicked();
    void on_buttonInfo_clicked();
    void on_buttonStart_clicked();
    void on_buttonCancel_clicked();
    void processFinished();
    void updateInfo();
    void on_buttonCancelRetry_clicked();
    void on_buttonRetry_clicked();
    void on_buttonSelectAll_clicked();
    void on_buttonDeselectAll_clicked();

private:
    QStandardItemModel *createErrorModel();
    void applyGlassFrame();

    void showInfoPanel();
    void hideInfoPanel();
    void resetInfoPanel();
    void setInfoPanel(bool panelShown, bool toggleShown);
    void updateStartButton();

    void showCopyErrors(const QList<CopyError> &errors);

    void chooseFolder(QLineEdit *field, const QString &caption);
    // Asks whether to cancel the running job; true when the person chose to.
    bool confirmCancelOnClose();
    static void showMessage(const QString &title, const QString &text);
    OverwriteMode overwriteMode() const;
    // The check boxes' choices, and the check boxes set from them.
    RememberedChoices choices() const;
    void showChoices(const RememberedChoices &choices);
    // Starts a job with the form's options; a non-empty list makes it a retry of those files.
    void startJob(const QString &source, const QString &target, const QList<CopyError> &retry);
    // What the job is doing, in the status line: one text per phase.
    QString statusText(PhaseKind phase) const;
    void askForRoom(const Processor::RoomShort &room);

    MainWindowForm *m_form;
    Processor *m_processor;
    QStandardItemModel *m_errorModel;
    QTimer m_timer;
    RunState m_state;

    // The roots of the running job, and of the job whose failures the copy-errors page lists:
    // a retry maps its paths with the roots they were recorded under, whatever the folder
    // fields say by then.
    QString m_jobSource;
    QString m_jobTarget;
    QString m_failedSource;
    QString m_failedTarget;
    std::unique_ptr<FailureList> m_failureList;
    FolderDrop *m_folderDrop;

    JobFigures m_figures;
    // The window was closed while its job was still running or writing out: it goes once the
    // worker has finished.
    bool m_closeWhenDone = false;
    DesktopAnnouncer m_announcer;
    // Held while a job works: copying, writing out, verifying; not while paused.
    SleepInhibitor m_sleepInhibitor;

    // The window suite drives the private operations and reads the state directly.
    friend class TestMainWindow;
};
