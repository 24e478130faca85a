#pragma once

#include "engine/jobphase.h"

#include <QtGlobal>

#include <vector>

// The room a copy needs at its destination beyond what is there, in any order of its files:
// what each file grows the destination by, and the room the largest replaced files keep while
// their copies are written, since an old file goes only once its copy is whole (one for each
// file in flight at once).
class RoomNeed
{
public:
    void add(quint64 size, quint64 replaced);
    quint64 needed(size_t inFlight) const;

private:
    quint64 m_growth = 0;
    std::vector<quint64> m_kept; // the largest, largest first
};

// Between the count and the copy, before anything is written: where the files to write need more
// room than the destination has free, the job waits to be told whether to copy anyway. A clone
// takes no room, and a file replaced gives back its own.
class RoomPhase : public JobPhase
{
public:
    RoomPhase() : JobPhase(PhaseKind::Room) {}
    void run(Job &job) override;
};
