#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "engine/pathcheck.h"
#include "engine/processor.h"
#include "glass/glassframe.h"
#include "ui/folderdrop.h"
#include "ui/formats.h"
#include "ui/screenfit.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTabBar>

#include <algorithm>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), m_form(new MainWindowForm), m_processor(nullptr), m_errorModel(nullptr),
      m_state(StateIdle), m_folderDrop(new FolderDrop(this))
{
    m_form->setupUi(this);
    ScreenFit::wrapInScrollArea(this);

    // The style sheet collapses the tab bar on this property: the window alone switches pages.
    m_form->tabWidget->setProperty("showTabs", false);
    // Hidden too, so that screen readers are not offered its two empty tabs.
    m_form->tabWidget->tabBar()->hide();
    m_form->tabWidget->setCurrentIndex(0);
    // The hidden tab bar still answers Ctrl+Tab. The copy-errors page stays out of reach except
    // while the window itself shows it, so that its Retry cannot meet a job still running.
    m_form->tabWidget->setTabEnabled(1, false);
    connect(m_form->tabWidget, &QTabWidget::currentChanged, this,
            [this](int index) { m_form->tabWidget->setTabEnabled(1, index == 1); });

    m_errorModel = createErrorModel();
    m_failureList = std::make_unique<FailureList>(m_errorModel, m_form->treeView);
    m_folderDrop->watch(m_form->lineEditSource);
    m_folderDrop->watch(m_form->lineEditTarget);

    m_processor = nullptr;
    m_state = StateIdle;

    applyGlassFrame();
    resetInfoPanel();

    m_timer.setInterval(500);
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &MainWindow::updateInfo);

    showChoices(RememberedChoices::load());
}

MainWindow::~MainWindow()
{
    // Closing the window mid-job must not leave a thread running behind a dying window: the
    // worker's destructor cancels it, releases a held pause and waits for the thread.
    delete m_processor;
    m_processor = nullptr;
    delete m_form;
}

void MainWindow::showAndFit()
{
    setVisible(true);
    fitToContents();
}

void MainWindow::fitToContents()
{
    ScreenFit::fit(this, {m_form->tab, m_form->tabWidget, m_form->centralWidget});
}

void MainWindow::openFolders(const LaunchFolders &folders)
{
    m_form->lineEditSource->setText(folders.source);
    m_form->lineEditTarget->setText(folders.target);
    if (!folders.problem.isEmpty())
        m_form->labelStatus->setText(folders.problem);
    if (folders.start == LaunchStart::AtOnce)
        on_buttonStart_clicked();
}

QStandardItemModel *MainWindow::createErrorModel()
{
    return new QStandardItemModel(0, 3, this);
}

void MainWindow::applyGlassFrame()
{
    if (!GlassFrame::compositionEnabled())
        return;
    GlassFrame::extendFrame(this, -1, -1, -1, -1);
    setContentsMargins(0, 0, 0, 0);
}

void MainWindow::showInfoPanel()
{
    setInfoPanel(true, true);
}

void MainWindow::hideInfoPanel()
{
    setInfoPanel(false, true);
}

void MainWindow::resetInfoPanel()
{
    setInfoPanel(false, false);
}

void MainWindow::setInfoPanel(bool panelShown, bool toggleShown)
{
    m_form->buttonInfo->setText(panelShown ? tr("Less Information") : tr("More Information"));
    m_form->buttonInfo->setIcon(QIcon(panelShown ? QStringLiteral(":/resources/less.png")
                                                 : QStringLiteral(":/resources/more.png")));
    m_form->buttonInfo->setAccessibleName(panelShown ? tr("Hide copy details")
                                                     : tr("Show copy details"));
    m_form->buttonInfo->setVisible(toggleShown);
    m_form->widgetInfo->setVisible(panelShown);
    fitToContents();
}

void MainWindow::updateStartButton()
{
    const bool running = m_state == StateRunning;
    m_form->buttonStart->setText(running                  ? tr("Pause")
                                 : m_state == StatePaused ? tr("Resume")
                                                          : tr("Start"));
    m_form->buttonStart->setIcon(QIcon(running ? QStringLiteral(":/resources/pause.png")
                                               : QStringLiteral(":/resources/start.png")));
}

void MainWindow::on_buttonInfo_clicked()
{
    const bool open = !m_form->widgetInfo->isVisible();
    if (open)
        showInfoPanel();
    else
        hideInfoPanel();
    RememberedChoices::setShowInfo(open);
}

void MainWindow::chooseFolder(QLineEdit *field, const QString &caption)
{
    QString start = field->text();
    if (start.isEmpty())
        start = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    const QString chosen =
        QFileDialog::getExistingDirectory(this, caption, start, QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        field->setText(chosen);
}

void MainWindow::on_buttonSource_clicked()
{
    chooseFolder(m_form->lineEditSource, tr("Source Location"));
}

void MainWindow::on_buttonTarget_clicked()
{
    chooseFolder(m_form->lineEditTarget, tr("Target Location"));
}

void MainWindow::showMessage(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Information, title, text);
    box.exec();
}

OverwriteMode MainWindow::overwriteMode() const
{
    if (m_form->radioButtonOverwriteAll->isChecked())
        return OverwriteAll;
    if (m_form->radioButtonOverwriteOlder->isChecked())
        return OverwriteOlder;
    if (m_form->radioButtonOverewriteSmaller->isChecked())
        return OverwriteSmaller;
    return OverwriteNone;
}

RememberedChoices MainWindow::choices() const
{
    return {m_form->checkBoxSubFolders->isChecked(), m_form->checkBoxHidden->isChecked(),
            m_form->checkBoxVerify->isChecked(), m_form->checkBoxKeepDates->isChecked()};
}

void MainWindow::showChoices(const RememberedChoices &choices)
{
    m_form->checkBoxSubFolders->setChecked(choices.subFolders);
    m_form->checkBoxHidden->setChecked(choices.hidden);
    m_form->checkBoxVerify->setChecked(choices.verify);
    m_form->checkBoxKeepDates->setChecked(choices.keepDates);
}

void MainWindow::startJob(const QString &source, const QString &target,
                          const QList<CopyError> &retry)
{
    m_processor = new Processor(source, target, choices().options(overwriteMode()));
    m_jobSource = source;
    m_jobTarget = target;
    if (!retry.isEmpty())
        m_processor->setRetryFiles(retry);
    m_figures = JobFigures();
    connect(m_processor, &QThread::finished, this, &MainWindow::processFinished);
    m_sleepInhibitor.hold();
    m_processor->start(QThread::InheritPriority);
    m_timer.start();
}

void MainWindow::on_buttonStart_clicked()
{
    switch (m_state) {
    case StateRunning:
        m_state = StatePaused;
        m_processor->pause();
        m_sleepInhibitor.release();
        m_timer.stop();
        m_form->labelStatus->setText(tr("Operation paused"));
        updateStartButton();
        return;
    case StatePaused:
        m_state = StateRunning;
        // After a cancel the worker is already released; resume() then only flips our state.
        m_processor->resume();
        m_sleepInhibitor.hold();
        m_timer.start();
        m_form->labelStatus->setText(tr("Operation restarting"));
        updateStartButton();
        return;
    case StateIdle:
        break;
    }

    const QString source = m_form->lineEditSource->text();
    const QString target = m_form->lineEditTarget->text();
    if (source.isEmpty()) {
        showMessage(tr("No Source"), tr("Please select a source folder location."));
        return;
    }
    if (target.isEmpty()) {
        showMessage(tr("No Destination"), tr("Please select a destination folder location."));
        return;
    }
    if (PathCheck::isSameOrInside(source, target)) {
        showMessage(tr("Invalid Destination"),
                    tr("The destination location cannot be inside the source location."));
        return;
    }

    choices().save();
    m_state = StateRunning;
    updateStartButton();
    if (RememberedChoices::showInfo())
        showInfoPanel();
    else
        hideInfoPanel();
    startJob(source, target, {});
}

bool MainWindow::confirmCancelOnClose()
{
    QMessageBox box(QMessageBox::Question, tr("Copy in progress"),
                    tr("The copy has not finished. If you cancel it, the files copied so far stay "
                       "and the file being copied is left as it was."),
                    QMessageBox::NoButton, this);
    QPushButton *keep = box.addButton(tr("Keep copying"), QMessageBox::RejectRole);
    QPushButton *cancel =
        box.addButton(tr("Cancel the copy and close"), QMessageBox::DestructiveRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    return box.clickedButton() == cancel;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const auto writingOut = [this] { return m_processor->phase() == PhaseKind::WriteOut; };
    if (m_processor && !m_closeWhenDone && !m_processor->isCancelled() && !writingOut() &&
        !confirmCancelOnClose()) {
        event->ignore();
        return;
    }
    // The job may have ended, or reached its last step, while the question was open.
    if (!m_processor) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    m_closeWhenDone = true;
    if (writingOut() && !m_processor->isCancelled()) {
        m_form->labelStatus->setText(statusText(PhaseKind::WriteOut));
    } else if (!m_processor->isCancelled()) {
        on_buttonCancel_clicked();
    }
}

void MainWindow::on_buttonCancel_clicked()
{
    if (!m_processor)
        return;
    m_processor->cancel();
    m_sleepInhibitor.hold(); // a paused job cancelled still writes out what it copied
    m_form->labelStatus->setText(tr("Operation cancelling"));
}

void MainWindow::processFinished()
{
    if (!m_processor || sender() != m_processor)
        return;
    m_state = StateIdle;
    resetInfoPanel();
    updateStartButton();
    m_timer.stop();
    m_form->progressBarTotal->setValue(0);
    m_form->progressBarFile->setValue(0);
    m_announcer.clearProgress();
    // finished() is emitted just before the thread ends; the object may only go after it.
    m_processor->wait();
    m_sleepInhibitor.release();
    const JobFigures::Outcome outcome = JobFigures::outcome(*m_processor);
    m_form->labelStatus->setText(outcome.status);
    // The desktop hears of a job that ended while the window was in the background.
    if (!isActiveWindow())
        m_announcer.announce(this, outcome.summary, outcome.body);
    const QList<CopyError> failures = m_processor->failures();
    // A cancelled job's failures are not shown: the copy is not done.
    if (!m_processor->isCancelled() && !failures.isEmpty()) {
        m_failedSource = m_jobSource;
        m_failedTarget = m_jobTarget;
        showCopyErrors(failures);
    }
    delete m_processor;
    m_processor = nullptr;
    if (m_closeWhenDone) {
        m_closeWhenDone = false;
        close();
    }
}

void MainWindow::showCopyErrors(const QList<CopyError> &failures)
{
    m_form->tabWidget->setTabEnabled(1, true);
    m_form->tabWidget->setCurrentIndex(1);
    m_failureList->show(failures);
}

void MainWindow::on_buttonSelectAll_clicked()
{
    m_failureList->tickAll(Qt::Checked);
}

void MainWindow::on_buttonDeselectAll_clicked()
{
    m_failureList->tickAll(Qt::Unchecked);
}

void MainWindow::on_buttonRetry_clicked()
{
    // One job at a time: a second would orphan the first and its pause lock.
    if (m_processor)
        return;
    const QList<CopyError> files = m_failureList->ticked();
    if (files.isEmpty()) {
        showMessage(tr("Select Files"), tr("Please select files to retry."));
        return;
    }
    m_form->tabWidget->setCurrentIndex(0);
    m_state = StateRunning;
    updateStartButton();
    hideInfoPanel();
    // The fields may have been changed while the failed job ran; its own roots map the paths.
    startJob(m_failedSource, m_failedTarget, files);
}

void MainWindow::on_buttonCancelRetry_clicked()
{
    m_form->tabWidget->setCurrentIndex(0);
    fitToContents();
}

QString MainWindow::statusText(PhaseKind phase) const
{
    switch (phase) {
    case PhaseKind::Count:
    case PhaseKind::Copy:
        return tr("Copying: ") + m_processor->currentFile();
    case PhaseKind::Room:
        return tr("Looking at the room at the destination…");
    case PhaseKind::WriteOut:
        if (m_processor->isCancelled())
            return tr("Cancelling: writing what was copied to the destination…");
        return m_closeWhenDone
                   ? tr("Writing to the destination… The window closes once the data is written.")
                   : tr("Writing to the destination…");
    case PhaseKind::Verify:
        return tr("Verifying…");
    }
    return {};
}

// The job waits, as if paused, until the person says whether to copy into too little room.
void MainWindow::askForRoom(const Processor::RoomShort &room)
{
    m_timer.stop();
    m_sleepInhibitor.release();
    QMessageBox box(QMessageBox::Question, tr("Not enough room"),
                    tr("This copy needs %1; the destination has %2 free.")
                        .arg(Formats::size(double(room.needed)), Formats::size(double(room.free))),
                    QMessageBox::NoButton, this);
    QPushButton *copy = box.addButton(tr("Copy anyway"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() != copy) {
        on_buttonCancel_clicked();
        return;
    }
    m_processor->copyAnyway();
    m_sleepInhibitor.hold();
    m_timer.start();
}

void MainWindow::updateInfo()
{
    if (!m_processor || m_state != StateRunning)
        return;
    if (const std::optional<Processor::RoomShort> room = m_processor->roomShort()) {
        askForRoom(*room);
        return;
    }
    const JobFigures::Reading reading = JobFigures::read(*m_processor);
    const JobFigures::Shown shown = m_figures.update(reading);
    m_form->labelTotal->setText(shown.total);
    m_form->labelProcessed->setText(shown.processed);
    m_form->labelStatus->setText(statusText(reading.phase));
    m_form->labelElapsed->setText(shown.elapsed);
    m_form->labelErrors->setText(QString::number(m_processor->failureCount()));
    m_form->progressBarTotal->setValue(int(shown.done * 100));
    m_form->progressBarFile->setValue(shown.filePercent);
    m_announcer.showProgress(shown.done);
    m_form->labelRemaining->setText(shown.remaining);
    m_form->labelSpeed->setText(shown.speed);
}
