#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/identity.h"
#include "engine/processor.h"
#include "glass/glassframe.h"

#include "engine/pathcheck.h"
#include "ui/writebacklog.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTabBar>
#include <QWindow>

#include <algorithm>

namespace {

// Where a copy-errors row keeps the index of its failure record.
constexpr int RecordRole = Qt::UserRole + 1;

// Every read or write opens the store afresh, so nothing stale is ever held by the window. The
// default format is the system's own store (the registry on Windows) unless a test has chosen a
// file.
QSettings openSettings()
{
    return QSettings(QSettings::defaultFormat(), QSettings::UserScope,
                     QLatin1String(Identity::Organisation), QLatin1String(Identity::Application));
}

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

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), m_form(new MainWindowForm), m_processor(nullptr), m_errorModel(nullptr),
      m_state(StateIdle)
{
    m_form->setupUi(this);
    wrapInScrollArea();

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
    m_form->treeView->setModel(m_errorModel);
    // Rows stand in failure order until a header is clicked: no sort arrow may claim otherwise.
    m_form->treeView->header()->setSortIndicator(-1, Qt::AscendingOrder);
    // Rows can be selected, several at once, to be copied; ticking stays what Retry reads.
    m_form->treeView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_form->treeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    auto *copy = new QAction(tr("Copy"), m_form->treeView);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &MainWindow::copySelectedFailures);
    m_form->treeView->addAction(copy);
    // Space ticks what the keyboard selected, as a click on a tick box does.
    auto *tick = new QAction(tr("Tick or Untick"), m_form->treeView);
    tick->setShortcut(Qt::Key_Space);
    tick->setShortcutContext(Qt::WidgetShortcut);
    connect(tick, &QAction::triggered, this, &MainWindow::toggleSelectedChecks);
    m_form->treeView->addAction(tick);
    m_form->treeView->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_form->treeView->setTextElideMode(Qt::ElideMiddle);

    for (QLineEdit *field : {m_form->lineEditSource, m_form->lineEditTarget}) {
        field->setAcceptDrops(true);
        field->installEventFilter(this);
    }

    m_processor = nullptr;
    m_state = StateIdle;

    applyGlassFrame();
    resetInfoPanel();

    m_timer.setInterval(500);
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &MainWindow::updateInfo);

    const QSettings settings = openSettings();
    m_form->checkBoxSubFolders->setChecked(settings.value(SettingsKey::SubFolder, true).toBool());
    m_form->checkBoxHidden->setChecked(settings.value(SettingsKey::Hidden, false).toBool());
    m_form->checkBoxVerify->setChecked(settings.value(SettingsKey::VerifyCopies, false).toBool());
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

void MainWindow::wrapInScrollArea()
{
    auto *scroll = new FormScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    // The form paints its own background, and where there is glass the glass shows through.
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setWidget(takeCentralWidget());
    setCentralWidget(scroll);
}

void MainWindow::fitToContents()
{
    m_form->tab->adjustSize();
    m_form->tabWidget->adjustSize();
    m_form->centralWidget->adjustSize();
    centralWidget()->updateGeometry(); // the scroll area: its hint is the form's, now
    adjustSize();
    // adjustSize() stops at two thirds of the screen, and at the form's minimum if the screen
    // is smaller: the window may use the screen's whole free area, and never more.
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const QRect room = screen()->availableGeometry().marginsRemoved(frame);
    resize(sizeHint().expandedTo(minimumSize()).boundedTo(room.size()));
    if (isVisible() && !room.contains(geometry()))
        move(std::clamp(x(), room.left(), std::max(room.left(), room.right() - width() + 1)),
             std::clamp(y(), room.top(), std::max(room.top(), room.bottom() - height() + 1)));
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
    auto *model = new QStandardItemModel(0, 3, this);
    model->setHeaderData(0, Qt::Horizontal, tr("File"), Qt::EditRole);
    model->setHeaderData(1, Qt::Horizontal, tr("Error"), Qt::EditRole);
    // The system's own words, in a column of their own: reachable by keyboard and screen reader.
    model->setHeaderData(2, Qt::Horizontal, tr("Reason"), Qt::EditRole);
    return model;
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
    switch (m_state) {
    case StateRunning:
        m_form->buttonStart->setText(tr("Pause"));
        m_form->buttonStart->setIcon(QIcon(QStringLiteral(":/resources/pause.png")));
        break;
    case StatePaused:
        m_form->buttonStart->setText(tr("Resume"));
        m_form->buttonStart->setIcon(QIcon(QStringLiteral(":/resources/start.png")));
        break;
    case StateIdle:
        m_form->buttonStart->setText(tr("Start"));
        m_form->buttonStart->setIcon(QIcon(QStringLiteral(":/resources/start.png")));
        break;
    }
}

void MainWindow::on_buttonInfo_clicked()
{
    const bool open = !m_form->widgetInfo->isVisible();
    if (open)
        showInfoPanel();
    else
        hideInfoPanel();
    openSettings().setValue(SettingsKey::ShowInfo, open);
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

QString MainWindow::droppedFolder(const QMimeData *data)
{
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return {};
    // What the chooser would have given: an existing folder, named in full.
    const QFileInfo folder(urls.first().toLocalFile());
    return folder.isDir() ? QDir::cleanPath(folder.absoluteFilePath()) : QString();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!field || (field != m_form->lineEditSource && field != m_form->lineEditTarget))
        return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (droppedFolder(drag->mimeData()).isEmpty())
            drag->ignore();
        else
            drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString folder = droppedFolder(drop->mimeData());
        if (folder.isEmpty()) {
            drop->ignore();
        } else {
            field->setText(folder);
            drop->acceptProposedAction();
        }
        return true;
    }
    default:
        return QMainWindow::eventFilter(watched, event);
    }
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

void MainWindow::startJob(const QString &source, const QString &target,
                          const QList<CopyError> &retry)
{
    m_processor =
        new Processor(source, target, overwriteMode(), m_form->checkBoxSubFolders->isChecked(),
                      m_form->checkBoxHidden->isChecked());
    m_jobSource = source;
    m_jobTarget = target;
    if (!retry.isEmpty())
        m_processor->setRetryFiles(retry);
    m_verifyJob = m_form->checkBoxVerify->isChecked();
    m_copyDoneMs.reset();
    if (m_verifyJob)
        m_processor->setVerification(Processor::Verification::ReadBack);
    // What waits to be written before the job began is not the job's to wait for.
    m_remaining = RemainingTime(WriteBacklog::read());
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

    {
        QSettings settings = openSettings();
        settings.setValue(SettingsKey::SubFolder, m_form->checkBoxSubFolders->isChecked());
        settings.setValue(SettingsKey::Hidden, m_form->checkBoxHidden->isChecked());
        settings.setValue(SettingsKey::VerifyCopies, m_form->checkBoxVerify->isChecked());
    }
    m_state = StateRunning;
    updateStartButton();
    const bool showInfo = openSettings().value(SettingsKey::ShowInfo, false).toBool();
    if (showInfo)
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
    if (m_processor && !m_closeWhenDone && !m_processor->isCancelled() &&
        !m_processor->isFlushing() && !confirmCancelOnClose()) {
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
    if (m_processor->isFlushing() && !m_processor->isCancelled()) {
        m_form->labelStatus->setText(tr("Writing to the destination… The window closes once the "
                                        "data is written."));
    } else if (!m_processor->isCancelled()) {
        m_processor->cancel();
        m_sleepInhibitor.hold(); // a paused job cancelled still writes out what it copied
        m_form->labelStatus->setText(tr("Operation cancelling"));
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
    if (m_processor->isCancelled()) {
        m_form->labelStatus->setText(tr("Operation cancelled"));
        // Cancelled while reading back: every copy stays, verified or not; say how many were.
        if (m_verifyJob && m_copyDoneMs)
            m_form->labelStatus->setText(tr("Operation cancelled: %1 of %2 copies verified")
                                             .arg(m_processor->filesVerified())
                                             .arg(m_processor->filesToVerify()));
        announceOutcome(tr("Operation cancelled"));
    } else {
        m_form->labelStatus->setText(tr("Operation complete"));
        announceOutcome(tr("Operation complete"));
        const QList<CopyError> failures = m_processor->failures();
        if (!failures.isEmpty()) {
            m_failedSource = m_jobSource;
            m_failedTarget = m_jobTarget;
            showCopyErrors(failures);
        }
    }
    delete m_processor;
    m_processor = nullptr;
    if (m_closeWhenDone) {
        m_closeWhenDone = false;
        close();
    }
}

void MainWindow::announceOutcome(const QString &outcome)
{
    if (isActiveWindow())
        return;
    const QLocale english(QLocale::English);
    const quint32 files = m_processor->filesCopied();
    // "Verified" only when every file copied was read back whole from the device.
    const bool verified = m_verifyJob && !m_processor->isCancelled() && files > 0 &&
                          m_processor->filesVerified() == files;
    const QString body =
        (verified ? tr("%1 %2 copied and verified, %3 failed") : tr("%1 %2 copied, %3 failed"))
            .arg(english.toString(files), files == 1 ? tr("file") : tr("files"),
                 english.toString(m_processor->failureCount()));
    m_announcer.announce(this, outcome, body);
}

void MainWindow::showCopyErrors(const QList<CopyError> &failures)
{
    m_failures = failures;
    m_errorModel->removeRows(0, m_errorModel->rowCount());
    m_form->treeView->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_errorModel->setColumnCount(3);
    m_errorModel->setRowCount(int(failures.size()));
    for (int i = 0; i < failures.size(); ++i) {
        auto *file = new QStandardItem(failures.at(i).file());
        file->setCheckable(true);
        file->setEditable(false);
        file->setData(i, RecordRole);
        auto *message = new QStandardItem(failures.at(i).message());
        message->setEditable(false);
        // The system's own words for the cause; the message stays the program's.
        file->setToolTip(failures.at(i).reason());
        message->setToolTip(failures.at(i).reason());
        auto *reason = new QStandardItem(failures.at(i).reason());
        reason->setEditable(false);
        m_errorModel->setItem(i, 0, file);
        m_errorModel->setItem(i, 1, message);
        m_errorModel->setItem(i, 2, reason);
    }
    m_form->tabWidget->setTabEnabled(1, true);
    m_form->tabWidget->setCurrentIndex(1);
    fitErrorColumns();
}

void MainWindow::fitErrorColumns()
{
    QHeaderView *header = m_form->treeView->header();
    header->resizeSections(QHeaderView::ResizeToContents);
    m_form->tab_2->layout()->activate();
    const int room = m_form->treeView->viewport()->width();
    const int others = header->sectionSize(1) + header->sectionSize(2);
    // A long path gives way, shortened in its middle, down to a third of the list.
    if (header->sectionSize(0) + others > room)
        header->resizeSection(0, std::max(room - others, room / 3));
}

void MainWindow::setAllChecks(Qt::CheckState state)
{
    for (int row = 0; row < m_errorModel->rowCount(); ++row)
        m_errorModel->setData(m_errorModel->index(row, 0), int(state), Qt::CheckStateRole);
}

void MainWindow::toggleSelectedChecks()
{
    QModelIndexList rows = m_form->treeView->selectionModel()->selectedRows();
    if (rows.isEmpty() && m_form->treeView->currentIndex().isValid())
        rows.append(m_form->treeView->currentIndex().siblingAtColumn(0));
    const bool allTicked = std::all_of(rows.cbegin(), rows.cend(), [](const QModelIndex &row) {
        return row.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    });
    for (const QModelIndex &row : std::as_const(rows))
        m_errorModel->setData(row, allTicked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

void MainWindow::on_buttonSelectAll_clicked()
{
    setAllChecks(Qt::Checked);
}

void MainWindow::on_buttonDeselectAll_clicked()
{
    setAllChecks(Qt::Unchecked);
}

void MainWindow::on_buttonRetry_clicked()
{
    // One job at a time: a second would orphan the first and its pause lock.
    if (m_processor)
        return;
    // The records, not the shown texts: a name that is not valid text is retried as it is.
    QList<CopyError> files;
    for (int row = 0; row < m_errorModel->rowCount(); ++row) {
        const QModelIndex index = m_errorModel->index(row, 0);
        bool isInt = false;
        const int state = index.data(Qt::CheckStateRole).toInt(&isInt);
        if (isInt && state == Qt::Checked)
            files.append(m_failures.value(index.data(RecordRole).toInt()));
    }
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

void MainWindow::copySelectedFailures() const
{
    QModelIndexList rows = m_form->treeView->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QString text;
    for (const QModelIndex &row : std::as_const(rows)) {
        const QModelIndex message = row.siblingAtColumn(1);
        text += row.data().toString() + u'\t' + message.data().toString() + u'\t' +
                row.siblingAtColumn(2).data().toString() + u'\n';
    }
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void MainWindow::on_buttonCancelRetry_clicked()
{
    m_form->tabWidget->setCurrentIndex(0);
    fitToContents();
}

void MainWindow::updateInfo()
{
    if (!m_processor || m_state != StateRunning)
        return;
    const quint64 total = m_processor->bytesTotal();
    const quint64 fileSize = m_processor->currentFileSize();
    const quint32 elapsed = m_processor->elapsedSeconds();
    const quint64 done = m_processor->bytesDone();

    const quint32 filesTotal = m_processor->filesTotal();
    const quint32 filesDone = m_processor->filesDone();
    const QString countTemplate = tr("%1 files (%2)");
    m_form->labelTotal->setText(
        countTemplate.arg(QString::number(filesTotal), formatSize(double(total))));
    m_form->labelProcessed->setText(
        countTemplate.arg(QString::number(filesDone), formatSize(double(done))));
    // The job waits for the device, then (with verification) reads back; no file is copied then.
    if (m_processor->isVerifying())
        m_form->labelStatus->setText(tr("Verifying…"));
    else if (!m_processor->isFlushing())
        m_form->labelStatus->setText(tr("Copying: ") + m_processor->currentFile());
    else if (m_processor->isCancelled())
        m_form->labelStatus->setText(tr("Cancelling: writing what was copied to the destination…"));
    else if (m_closeWhenDone)
        m_form->labelStatus->setText(
            tr("Writing to the destination… The window closes once the data is written."));
    else
        m_form->labelStatus->setText(tr("Writing to the destination…"));
    m_form->labelElapsed->setText(formatDuration(elapsed));
    m_form->labelErrors->setText(QString::number(m_processor->failureCount()));

    if (m_verifyJob && !m_copyDoneMs && (m_processor->isFlushing() || m_processor->isVerifying()))
        m_copyDoneMs = m_processor->elapsedMilliseconds();
    const RemainingTime::Sample work = jobWork();
    double ratio = 0;
    if (work.bytesTotal != 0) {
        ratio = double(work.bytesDone) / double(work.bytesTotal);
        m_form->progressBarTotal->setValue(int(ratio * 100));
    } else {
        m_form->progressBarTotal->setValue(0);
    }
    m_announcer.showProgress(ratio);
    if (fileSize != 0)
        m_form->progressBarFile->setValue(
            int(double(m_processor->currentFileDone()) / double(fileSize) * 100));
    else
        m_form->progressBarFile->setValue(0);

    updateTimeLeft(work.filesDone, work.filesTotal, work.bytesDone, work.bytesTotal);

    // To the millisecond: whole seconds read "0 Bytes/sec" for the first one and jump after. A
    // job that moved bytes within its first millisecond had one going.
    const qint64 ms = m_processor->elapsedMilliseconds();
    if (ms > 0 || done > 0)
        m_form->labelSpeed->setText(formatSize(double(done) * 1000 / double(qMax<qint64>(ms, 1))) +
                                    tr("/sec"));
    else
        m_form->labelSpeed->setText(tr("0 Bytes/sec"));
}

RemainingTime::Sample MainWindow::jobWork() const
{
    RemainingTime::Sample work{m_processor->elapsedMilliseconds(), m_processor->filesDone(),
                               m_processor->filesTotal(), m_processor->bytesDone(),
                               m_processor->bytesTotal()};
    if (!m_verifyJob)
        return work;
    work.filesTotal += m_copyDoneMs ? m_processor->filesToVerify() : work.filesTotal;
    work.bytesTotal += m_copyDoneMs ? m_processor->bytesToVerify() : work.bytesTotal;
    work.filesDone += m_processor->filesVerified();
    work.bytesDone += m_processor->bytesVerified();
    return work;
}

void MainWindow::updateTimeLeft(quint64 filesDone, quint64 filesTotal, quint64 bytesDone,
                                quint64 bytesTotal)
{
    const qint64 ms = m_processor->elapsedMilliseconds();
    // The write-out, which only the kernel's counters measure (they are read only then), and
    // with verification the read-back after it, taken to go at the copy's pace.
    std::optional<quint32> remaining;
    if (m_processor->isFlushing()) {
        remaining = m_remaining.updateWriteOut(ms, WriteBacklog::read());
        const quint64 copied = qMax<quint64>(m_processor->bytesDone(), 1);
        if (remaining && m_verifyJob && m_copyDoneMs)
            *remaining += quint32(double(m_processor->bytesToVerify()) * double(*m_copyDoneMs) /
                                  double(copied) / 1000);
    } else {
        remaining = m_remaining.update({ms, filesDone, filesTotal, bytesDone, bytesTotal});
    }
    m_form->labelRemaining->setText(remaining ? formatDuration(*remaining) : tr("Unknown"));
}

QString MainWindow::formatSize(double bytes)
{
    static const char *const units[] = {" KB", " MB", " GB"};
    if (bytes < 1024)
        return QString::number(bytes, 'f', 0) + QStringLiteral(" Bytes");
    double scaled = bytes;
    for (const char *unit : units) {
        scaled /= 1024;
        if (scaled < 1024)
            return QString::number(scaled, 'f', 2) + QLatin1String(unit);
    }
    return QString::number(scaled / 1024, 'f', 2) + QStringLiteral(" TB");
}

QString MainWindow::formatDuration(quint32 seconds)
{
    const quint32 secs = seconds % 60;
    const quint32 minutes = (seconds / 60) % 60;
    const quint32 hours = (seconds / 3600) % 24;
    const quint32 days = seconds / 86400;

    const auto part = [](quint32 count, const char *unit) {
        QString text = QString::number(count) + QLatin1Char(' ') + QLatin1String(unit);
        if (count != 1)
            text += QLatin1Char('s');
        return text;
    };
    const auto join = [&part](quint32 major, const char *majorUnit, quint32 minor,
                              const char *minorUnit) {
        QString text = part(major, majorUnit);
        if (minor > 0)
            text += QLatin1Char(' ') + part(minor, minorUnit);
        return text;
    };

    if (days > 0)
        return join(days, "day", hours, "hour");
    if (hours > 0)
        return join(hours, "hour", minutes, "minute");
    if (minutes > 0)
        return join(minutes, "minute", secs, "second");
    return part(secs, "second");
}
