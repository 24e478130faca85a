#include "ui/failurelist.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLayout>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>

namespace {

// Where a row keeps the index of its failure record.
constexpr int RecordRole = Qt::UserRole + 1;

QStandardItem *readOnly(const QString &text)
{
    auto *item = new QStandardItem(text);
    item->setEditable(false);
    return item;
}

} // namespace

FailureList::FailureList(QStandardItemModel *model, QTreeView *view) : m_model(model), m_view(view)
{
    m_model->setColumnCount(3);
    m_model->setHeaderData(0, Qt::Horizontal, tr("File"), Qt::EditRole);
    m_model->setHeaderData(1, Qt::Horizontal, tr("Error"), Qt::EditRole);
    // The system's own words, in a column of their own: reachable by keyboard and screen reader.
    m_model->setHeaderData(2, Qt::Horizontal, tr("Reason"), Qt::EditRole);
    m_view->setModel(m_model);
    // Rows stand in failure order until a header is clicked: no sort arrow may claim otherwise.
    m_view->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    const auto addAction = [this](const QString &text, const QKeySequence &keys, auto slot) {
        auto *action = new QAction(text, m_view);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        QObject::connect(action, &QAction::triggered, m_view, [this, slot] { (this->*slot)(); });
        m_view->addAction(action);
    };
    addAction(tr("Copy"), QKeySequence::Copy, &FailureList::copySelected);
    // Space ticks what the keyboard selected, as a click on a tick box does.
    addAction(tr("Tick or Untick"), Qt::Key_Space, &FailureList::toggleSelected);
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_view->setTextElideMode(Qt::ElideMiddle);
}

void FailureList::show(const QList<CopyError> &failures)
{
    m_failures = failures;
    m_view->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_model->removeRows(0, m_model->rowCount());
    m_model->setRowCount(int(failures.size()));
    for (int i = 0; i < failures.size(); ++i) {
        const CopyError &failure = failures.at(i);
        QStandardItem *file = readOnly(failure.file());
        file->setCheckable(true);
        file->setData(i, RecordRole);
        QStandardItem *message = readOnly(failure.message());
        // The system's own words for the cause; the message stays the program's.
        file->setToolTip(failure.reason());
        message->setToolTip(failure.reason());
        m_model->setItem(i, 0, file);
        m_model->setItem(i, 1, message);
        m_model->setItem(i, 2, readOnly(failure.reason()));
    }
    fitColumns();
}

void FailureList::fitColumns()
{
    QHeaderView *header = m_view->header();
    header->resizeSections(QHeaderView::ResizeToContents);
    if (QWidget *page = m_view->parentWidget(); page && page->layout())
        page->layout()->activate();
    const int room = m_view->viewport()->width();
    const int others = header->sectionSize(1) + header->sectionSize(2);
    // A long path gives way, shortened in its middle, down to a third of the list.
    if (header->sectionSize(0) + others > room)
        header->resizeSection(0, std::max(room - others, room / 3));
}

QList<CopyError> FailureList::ticked() const
{
    QList<CopyError> records;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QModelIndex index = m_model->index(row, 0);
        bool isInt = false;
        const int state = index.data(Qt::CheckStateRole).toInt(&isInt);
        if (isInt && state == Qt::Checked)
            records.append(m_failures.value(index.data(RecordRole).toInt()));
    }
    return records;
}

void FailureList::tickAll(Qt::CheckState state)
{
    for (int row = 0; row < m_model->rowCount(); ++row)
        m_model->setData(m_model->index(row, 0), int(state), Qt::CheckStateRole);
}

void FailureList::toggleSelected()
{
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty() && m_view->currentIndex().isValid())
        rows.append(m_view->currentIndex().siblingAtColumn(0));
    const bool allTicked = std::all_of(rows.cbegin(), rows.cend(), [](const QModelIndex &row) {
        return row.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    });
    for (const QModelIndex &row : std::as_const(rows))
        m_model->setData(row, allTicked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

void FailureList::copySelected() const
{
    const QString text = clipboardText(m_view->selectionModel()->selectedRows());
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

QString FailureList::clipboardText(QModelIndexList rows)
{
    std::sort(rows.begin(), rows.end());
    QString text;
    for (const QModelIndex &row : std::as_const(rows)) {
        text += row.data().toString() + u'\t' + row.siblingAtColumn(1).data().toString() + u'\t' +
                row.siblingAtColumn(2).data().toString() + u'\n';
    }
    return text;
}
