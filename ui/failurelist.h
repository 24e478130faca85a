#pragma once

#include "engine/copyerror.h"

#include <QCoreApplication>
#include <QList>
#include <QModelIndexList>
#include <QString>

class QStandardItemModel;
class QTreeView;

// The copy-errors page's list: one row per failure record, the file with its tick box, the
// program's message and the system's reason, each row keeping the index of its record, since a
// sort may reorder the rows. Rows are selected to be copied (Ctrl+C) or ticked by Space; ticking
// stays what Retry reads.
class FailureList
{
    Q_DECLARE_TR_FUNCTIONS(FailureList)

public:
    FailureList(QStandardItemModel *model, QTreeView *view);

    void show(const QList<CopyError> &failures);
    // The records behind the ticked rows, as recorded: a name that is not valid text is retried
    // as it is.
    QList<CopyError> ticked() const;
    void tickAll(Qt::CheckState state);
    // Path, message and reason of the given rows, tab-separated, one row a line, in the
    // list's order.
    static QString clipboardText(QModelIndexList rows);

private:
    // Ticks the selected rows, or unticks them when all are ticked.
    void toggleSelected();
    void copySelected() const;
    // Leaves the message and reason columns readable beside a long path.
    void fitColumns();

    QStandardItemModel *m_model;
    QTreeView *m_view;
    QList<CopyError> m_failures;
};
