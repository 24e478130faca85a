#include "engine/reasons.h"

#include "engine/copyerror.h"

#include <QCoreApplication>

namespace Reasons {

namespace {

QString translated(const char *text)
{
    return QCoreApplication::translate("Reasons", text);
}

} // namespace

QString text(Reason reason)
{
    switch (reason) {
    case Reason::DestinationInSource:
        return translated(
            QT_TRANSLATE_NOOP("Reasons", "The destination folder is a folder being copied"));
    case Reason::SourceCutShort:
        return translated(
            QT_TRANSLATE_NOOP("Reasons", "The file became shorter while it was copied"));
    case Reason::SourceChanged:
        return translated(QT_TRANSLATE_NOOP("Reasons", "The file changed while it was copied"));
    case Reason::OutsideSource:
        return translated(
            QT_TRANSLATE_NOOP("Reasons", "The file does not lie in the source folder"));
    case Reason::HoldsSource:
        return translated(
            QT_TRANSLATE_NOOP("Reasons", "Link to a folder that holds the source: not followed"));
    case Reason::MountHoldsSource:
        return translated(QT_TRANSLATE_NOOP(
            "Reasons", "A folder that holds the source, mounted inside it: not copied"));
    case Reason::HoldsDestination:
        return translated(QT_TRANSLATE_NOOP(
            "Reasons", "Link to a folder that holds the destination: not followed"));
    case Reason::IntoDestination:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Link into the destination: not followed"));
    case Reason::DiffersOnDevice:
        return translated(
            QT_TRANSLATE_NOOP("Reasons", "The copy on the device differs from the source"));
    case Reason::TooLargeForFat32:
        return translated(QT_TRANSLATE_NOOP(
            "Reasons",
            "Too large for the destination's file system (FAT32 holds files under 4 GB)"));
    }
    return {};
}

QString system(const SystemError &error)
{
    return error.isSet() ? NativeFs::errorText(error) : QString();
}

QString notCopied(NativeFs::EntryKind kind, const SystemError &error)
{
    using NativeFs::EntryKind;
    switch (kind) {
    case EntryKind::Pipe:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Not a regular file: pipe"));
    case EntryKind::Socket:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Not a regular file: socket"));
    case EntryKind::CharacterDevice:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Not a regular file: character device"));
    case EntryKind::BlockDevice:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Not a regular file: block device"));
    case EntryKind::BrokenLink:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Broken link"));
    default:
        return error.isSet() ? system(error)
                             : translated(QT_TRANSLATE_NOOP("Reasons", "Not a regular file"));
    }
}

QString message(int code)
{
    switch (code) {
    case SourceOpenError:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Source file could not be opened"));
    case TargetOpenError:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Target file could not be opened"));
    case SourceReadError:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Source file could not be read"));
    case TargetWriteError:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Target file could not be written"));
    case TargetRemoveError:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Target file could not be removed"));
    case TargetReplaceError:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Target file could not be replaced"));
    default:
        return translated(QT_TRANSLATE_NOOP("Reasons", "Unknown error"));
    }
}

} // namespace Reasons
