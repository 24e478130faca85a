#pragma once

#include "engine/jobphase.h"
#include "engine/treewalk.h"

// The first phase: walks what the copy will walk and counts the files the overwrite rule lets
// through, and their bytes. It opens no file and makes nothing; its count is the work it plans
// for the copy and, with verification, for the read-back, and the room the copy will take. A file
// the destination's file system cannot hold is listed now, before anything is written, and left
// out.
class CountPhase : public JobPhase, private TreeWalk::Visitor
{
public:
    CountPhase() : JobPhase(PhaseKind::Count) {}
    void run(Job &job) override;

private:
    void file(TreeWalk &walk, Frame &frame, const NativeFs::Path &name,
              const NativeFs::Path *listed) override;

    Job *m_job = nullptr;
};
