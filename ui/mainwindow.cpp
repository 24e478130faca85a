#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/identity.h"
#include "engine/processor.h"
#include "glass/glassframe.h"

#include "engine/pathcheck.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QHeaderView>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QStandardItemModel>
#include <QStandardPaths>

#include <algorithm>

namespace {

// Where a copy-errors row keeps the index of its failure record.
constexpr int RecordRole = Qt::UserRole + 1;

// Every read or write opens the store afresh, so nothing stale is ever held by the window.
QSettings openSettings()
{
    return QSettings(QLatin1String(Identity::Organisation), QLatin1String(Identity::Application));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), m_form(new MainWindowForm), m_processor(nullptr), m_errorModel(nullptr),
      m_state(StateIdle)
{
    m_form->setupUi(this);

    // The style sheet collapses the tab bar on this property: the window alone switches pages.
    m_form->tabWidget->setProperty("showTabs", false);
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
    m_form->treeView->setContextMenuPolicy(Qt::ActionsContextMenu);

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
    m_form->tab->adjustSize();
    m_form->tabWidget->adjustSize();
    m_form->centralWidget->adjustSize();
    adjustSize();
}

QStandardItemModel *MainWindow::createErrorModel()
{
    auto *model = new QStandardItemModel(0, 2, this);
    model->setHeaderData(0, Qt::Horizontal, tr("File"), Qt::EditRole);
    model->setHeaderData(1, Qt::Horizontal, tr("Error"), Qt::EditRole);
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
    m_remaining = RemainingTime();
    connect(m_processor, &QThread::finished, this, &MainWindow::processFinished);
    m_processor->start(QThread::InheritPriority);
    m_timer.start();
}

void MainWindow::on_buttonStart_clicked()
{
    switch (m_state) {
    case StateRunning:
        m_state = StatePaused;
        m_processor->pause();
        m_timer.stop();
        m_form->labelStatus->setText(tr("Operation paused"));
        updateStartButton();
        return;
    case StatePaused:
        m_state = StateRunning;
        // After a cancel the worker is already released; resume() then only flips our state.
        m_processor->resume();
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

void MainWindow::on_buttonCancel_clicked()
{
    if (!m_processor)
        return;
    m_processor->cancel();
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
    if (m_processor->isCancelled()) {
        m_form->labelStatus->setText(tr("Operation cancelled"));
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
}

void MainWindow::announceOutcome(const QString &outcome)
{
    if (isActiveWindow())
        return;
    const QLocale english(QLocale::English);
    const quint32 files = m_processor->filesCopied();
    const QString body = tr("%1 %2 copied, %3 failed")
                             .arg(english.toString(files), files == 1 ? tr("file") : tr("files"),
                                  english.toString(m_processor->failureCount()));
    m_announcer.announce(this, outcome, body);
}

void MainWindow::showCopyErrors(const QList<CopyError> &failures)
{
    m_failures = failures;
    m_errorModel->removeRows(0, m_errorModel->rowCount());
    m_form->treeView->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_errorModel->setColumnCount(2);
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
        m_errorModel->setItem(i, 0, file);
        m_errorModel->setItem(i, 1, message);
    }
    m_form->treeView->header()->resizeSections(QHeaderView::ResizeToContents);
    m_form->tabWidget->setTabEnabled(1, true);
    m_form->tabWidget->setCurrentIndex(1);
}

void MainWindow::setAllChecks(Qt::CheckState state)
{
    for (int row = 0; row < m_errorModel->rowCount(); ++row)
        m_errorModel->setData(m_errorModel->index(row, 0), int(state), Qt::CheckStateRole);
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
                row.data(Qt::ToolTipRole).toString() + u'\n';
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
    // The job's last step waits for the device; no file is being copied then.
    if (!m_processor->isFlushing())
        m_form->labelStatus->setText(tr("Copying: ") + m_processor->currentFile());
    else if (m_processor->isCancelled())
        m_form->labelStatus->setText(tr("Cancelling: writing what was copied to the destination…"));
    else
        m_form->labelStatus->setText(tr("Writing to the destination…"));
    m_form->labelElapsed->setText(formatDuration(elapsed));
    m_form->labelErrors->setText(QString::number(m_processor->failureCount()));

    double ratio = 0;
    if (total != 0) {
        ratio = double(done) / double(total);
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

    // From bytes and files both, timed to the millisecond: a tail of small files is not
    // estimated at nothing, and no estimate reads "0 seconds" while work remains.
    const std::optional<quint32> remaining = m_remaining.update(
        {m_processor->elapsedMilliseconds(), filesDone, filesTotal, done, total});
    m_form->labelRemaining->setText(remaining ? formatDuration(*remaining) : tr("Unknown"));

    if (elapsed != 0)
        m_form->labelSpeed->setText(formatSize(double(done) / double(elapsed)) + tr("/sec"));
    else
        m_form->labelSpeed->setText(tr("0 Bytes/sec"));
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
