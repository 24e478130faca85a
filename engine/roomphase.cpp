#include "engine/roomphase.h"

#include "engine/job.h"

#include <limits>

void RoomPhase::run(Job &job)
{
    if (job.cancelled() || job.samePath)
        return;
    const Job::Room &room = job.room;
    const NativeFs::Folder destination = NativeFs::nearestFolder(job.targetRoot);
    // Where the system will not say, there is no question to ask.
    const quint64 free = destination.isOpen()
                             ? destination.freeBytes().value_or(std::numeric_limits<quint64>::max())
                             : std::numeric_limits<quint64>::max();
    // What is written, less what it replaces, but for the one file replaced last: its copy is
    // whole before the old file goes.
    const auto needed = [&room](quint64 fromSameDevice) {
        const quint64 written = room.toWrite + fromSameDevice;
        return written - qMin(written, room.replaced) + room.largestReplaced;
    };
    if (needed(room.fromSameDevice) <= free)
        return;
    // Asked only now, and once: whether copies from the same device would share blocks.
    const bool clones = room.fromSameDevice > 0 &&
                        destination.sharesBlocks(
                            NativeFs::temporaryName(job.tempPrefix(), QByteArrayLiteral("clone")));
    const quint64 need = needed(clones ? 0 : room.fromSameDevice);
    if (need > free)
        job.askForRoom(need, free);
}
