#pragma once

#include <QObject>
#include <QString>

class QLineEdit;
class QMimeData;

// Lets folders be dropped on read-only folder fields: one existing folder, named in full as the
// chooser would give it, sets the field; anything else is refused.
class FolderDrop : public QObject
{
public:
    explicit FolderDrop(QObject *parent = nullptr) : QObject(parent) {}
    void watch(QLineEdit *field);
    // The one existing folder a drag carries, or nothing.
    static QString folderIn(const QMimeData *data);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
