#include "ui/folderdrop.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>

void FolderDrop::watch(QLineEdit *field)
{
    field->setAcceptDrops(true);
    field->installEventFilter(this);
}

QString FolderDrop::folderIn(const QMimeData *data)
{
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return {};
    const QFileInfo folder(urls.first().toLocalFile());
    return folder.isDir() ? QDir::cleanPath(folder.absoluteFilePath()) : QString();
}

bool FolderDrop::eventFilter(QObject *watched, QEvent *event)
{
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!field)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (folderIn(drag->mimeData()).isEmpty())
            drag->ignore();
        else
            drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString folder = folderIn(drop->mimeData());
        if (folder.isEmpty()) {
            drop->ignore();
        } else {
            field->setText(folder);
            drop->acceptProposedAction();
        }
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
