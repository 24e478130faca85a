#include "engine/copyrules.h"

#include <QHash>

namespace CopyRules {

namespace {

qint64 floorToMs(qint64 ns)
{
    return ns >= 0 ? ns / 1000000 : -((-ns + 999999) / 1000000);
}

} // namespace

bool shouldCopy(OverwriteMode mode, const NativeFs::Status &source, const NativeFs::Status &target)
{
    switch (mode) {
    case OverwriteNone:
        return false;
    case OverwriteOlder:
        // To the millisecond: a time set by a program that keeps no finer is the same time.
        return floorToMs(target.modifiedNs) < floorToMs(source.modifiedNs);
    case OverwriteSmaller:
        return target.size < source.size;
    case OverwriteAll:
    default:
        return true;
    }
}

QString systemReason(int error)
{
    return error ? NativeFs::errorText(error) : QString();
}

QString notCopiedReason(NativeFs::EntryKind kind, int error)
{
    using NativeFs::EntryKind;
    switch (kind) {
    case EntryKind::Pipe:
        return QStringLiteral("Not a regular file: pipe");
    case EntryKind::Socket:
        return QStringLiteral("Not a regular file: socket");
    case EntryKind::CharacterDevice:
        return QStringLiteral("Not a regular file: character device");
    case EntryKind::BlockDevice:
        return QStringLiteral("Not a regular file: block device");
    case EntryKind::BrokenLink:
        return QStringLiteral("Broken link");
    default:
        return error ? systemReason(error) : QStringLiteral("Not a regular file");
    }
}

} // namespace CopyRules

void WrittenNames::note(const NativeFs::Folder &folder, const NativeFs::Path &name)
{
    if (m_mode == Mode::CaseSensitive)
        return;
    if (m_mode == Mode::Unknown) {
        // The name just written, in the other case: found only where case is ignored.
        NativeFs::Path swapped = name;
        for (char &c : swapped) {
            if (c >= 'a' && c <= 'z')
                c = char(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        }
        if (swapped != name) {
            m_mode = folder.status(swapped, NativeFs::Links::Stay).exists ? Mode::CaseBlind
                                                                          : Mode::CaseSensitive;
            if (m_mode == Mode::CaseSensitive) {
                m_folded.clear();
                return;
            }
        }
    }
    m_folded.insert(fold(name));
}

bool WrittenNames::collides(const NativeFs::Path &name) const
{
    return m_mode != Mode::CaseSensitive && !m_folded.empty() && m_folded.count(fold(name)) != 0;
}

size_t WrittenNames::fold(const NativeFs::Path &name)
{
    return qHash(QString::fromUtf8(name).normalized(QString::NormalizationForm_C).toCaseFolded());
}
