#include "engine/copyrules.h"

#include <QHash>

namespace CopyRules {

qint64 floorTo(qint64 ns, qint64 step)
{
    return ns >= 0 ? ns / step : -((-ns + step - 1) / step);
}

bool shouldCopy(OverwriteMode mode, const NativeFs::Status &source, const NativeFs::Status &target,
                qint64 timeStep)
{
    switch (mode) {
    case OverwriteNone:
        return false;
    case OverwriteOlder:
        // A time the destination stored coarser than the source's is the same time, not an
        // older one: a stick that keeps two seconds must not get every file again each week.
        return floorTo(target.modifiedNs, timeStep) < floorTo(source.modifiedNs, timeStep);
    case OverwriteSmaller:
        return target.size < source.size;
    case OverwriteAll:
    default:
        return true;
    }
}

} // namespace CopyRules

void WrittenNames::note(const NativeFs::Folder &folder, const NativeFs::Path &name)
{
    const std::lock_guard locker(m_lock);
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
    const std::lock_guard locker(m_lock);
    return m_mode != Mode::CaseSensitive && !m_folded.empty() && m_folded.count(fold(name)) != 0;
}

size_t WrittenNames::fold(const NativeFs::Path &name)
{
    return qHash(QString::fromUtf8(name).normalized(QString::NormalizationForm_C).toCaseFolded());
}
