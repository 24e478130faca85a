#pragma once

#include "engine/jobphase.h"

// Between the count and the copy, before anything is written: where the files to write need more
// room than the destination has free, the job waits to be told whether to copy anyway. A clone
// takes no room, and a file replaced gives back its own.
class RoomPhase : public JobPhase
{
public:
    RoomPhase() : JobPhase(PhaseKind::Room) {}
    void run(Job &job) override;
};
