#include "engine/roomphase.h"

#include "engine/copyphase.h"
#include "engine/job.h"

#include <algorithm>
#include <limits>
#include <numeric>

void RoomNeed::add(quint64 size, quint64 replaced)
{
    m_growth += size > replaced ? size - replaced : 0;
    const quint64 kept = qMin(size, replaced);
    if (kept == 0 || (m_kept.size() == CopyPhase::FilesInFlight && kept <= m_kept.back()))
        return;
    m_kept.insert(std::upper_bound(m_kept.begin(), m_kept.end(), kept, std::greater<>()), kept);
    if (m_kept.size() > CopyPhase::FilesInFlight)
        m_kept.pop_back();
}

quint64 RoomNeed::needed(size_t inFlight) const
{
    const auto end = m_kept.begin() + qsizetype(qMin(inFlight, m_kept.size()));
    return std::accumulate(m_kept.begin(), end, m_growth);
}

void RoomPhase::run(Job &job)
{
    if (job.cancelled() || job.samePath)
        return;
    const NativeFs::Folder destination = NativeFs::nearestFolder(job.targetRoot);
    // Where the system will not say, there is no question to ask.
    const quint64 free = destination.isOpen()
                             ? destination.freeBytes().value_or(std::numeric_limits<quint64>::max())
                             : std::numeric_limits<quint64>::max();
    // On network shares several files are copied at once, each keeping its old file's room.
    const NativeFs::Folder source = NativeFs::nearestFolder(job.sourceRoot);
    const bool onShare =
        (destination.isOpen() && destination.isRemote()) || (source.isOpen() && source.isRemote());
    const size_t inFlight = onShare ? size_t(CopyPhase::FilesInFlight) : 1;
    const Job::Room &room = job.room;
    if (room.written.needed(inFlight) <= free)
        return;
    // Asked only now, and once: whether copies from the same device would share blocks.
    const bool clones = room.fromSameDevice && destination.sharesBlocks(NativeFs::temporaryName(
                                                   job.tempPrefix(), QByteArrayLiteral("clone")));
    const quint64 need = (clones ? room.cloned : room.written).needed(inFlight);
    if (need > free)
        job.askForRoom(need, free);
}
