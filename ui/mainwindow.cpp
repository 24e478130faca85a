#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "engine/processor.h"
#include "glass/glassframe.h"

#include <QIcon>
#include <QSettings>
#include <QStandardItemModel>

namespace {

// Every read or write opens the store afresh, so nothing stale is ever held by the window.
constexpr const char *settingsOrganisation = "Quorvex";
constexpr const char *settingsApplication = "Trasko";

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), m_form(new MainWindowForm), m_processor(nullptr), m_errorModel(nullptr),
      m_state(StateIdle)
{
    m_form->setupUi(this);

    // The style sheet collapses the tab bar on this property: the window alone switches pages.
    m_form->tabWidget->setProperty("showTabs", false);
    m_form->tabWidget->setCurrentIndex(0);

    m_errorModel = createErrorModel();
    m_form->treeView->setModel(m_errorModel);

    m_processor = nullptr;
    m_state = StateIdle;

    applyGlassFrame();
    resetInfoPanel();

    m_timer.setInterval(500);
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &MainWindow::updateInfo);

    const QSettings settings(settingsOrganisation, settingsApplication);
    m_form->checkBoxSubFolders->setChecked(settings.value("subFolder", true).toBool());
    m_form->checkBoxHidden->setChecked(settings.value("hidden", false).toBool());
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
    m_form->buttonInfo->setText(tr("Less Information"));
    m_form->buttonInfo->setIcon(QIcon(QStringLiteral(":/resources/less.png")));
    m_form->buttonInfo->setVisible(true);
    m_form->widgetInfo->setVisible(true);
    fitToContents();
}

void MainWindow::hideInfoPanel()
{
    m_form->buttonInfo->setText(tr("More Information"));
    m_form->buttonInfo->setIcon(QIcon(QStringLiteral(":/resources/more.png")));
    m_form->buttonInfo->setVisible(true);
    m_form->widgetInfo->setVisible(false);
    fitToContents();
}

void MainWindow::resetInfoPanel()
{
    m_form->buttonInfo->setText(tr("More Information"));
    m_form->buttonInfo->setIcon(QIcon(QStringLiteral(":/resources/more.png")));
    m_form->buttonInfo->setVisible(false);
    m_form->widgetInfo->setVisible(false);
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
    QSettings settings(settingsOrganisation, settingsApplication);
    settings.setValue("showInfo", open);
}

// The job controller, progress display and copy-errors page fill the slots below.

void MainWindow::on_buttonSource_clicked() {}

void MainWindow::on_buttonTarget_clicked() {}

void MainWindow::on_buttonStart_clicked() {}

void MainWindow::on_buttonCancel_clicked() {}

void MainWindow::processFinished() {}

void MainWindow::updateInfo() {}

void MainWindow::on_buttonCancelRetry_clicked() {}

void MainWindow::on_buttonRetry_clicked() {}

void MainWindow::on_buttonSelectAll_clicked() {}

void MainWindow::on_buttonDeselectAll_clicked() {}

void MainWindow::showCopyErrors(const QList<CopyError> &errors)
{
    Q_UNUSED(errors);
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
