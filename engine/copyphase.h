#pragma once

#include "engine/jobphase.h"
#include "engine/treewalk.h"

// The copy: walks the tree again as the count did, makes the destination folders and copies each
// file through a temporary file (filecopy.cpp). It leaves for the phases after it the folders to
// write out and, with verification, what it put in place and the digests of what it read.
class CopyPhase : public JobPhase, private TreeWalk::Visitor
{
public:
    CopyPhase() : JobPhase(PhaseKind::Copy) {}
    void run(Job &job) override;

private:
    void file(TreeWalk &walk, Frame &frame, const NativeFs::Path &name,
              const NativeFs::Path *listed) override;

    class FileCopy;
    Job *m_job = nullptr;
};
