#pragma once

#include "engine/jobphase.h"
#include "engine/treewalk.h"

#include <QHash>

#include <memory>

class TransferPool;

// The copy: walks the tree again as the count did, makes the destination folders and copies each
// file through a temporary file (filecopy). It leaves for the phases after it the folders to
// write out and, with verification, what it put in place and the digests of what it read.
//
// Where a folder lies on a network file system, on either side, its files are copied several at
// once (transferpool): each one there costs round trips to a server, which a file in flight spends
// waiting. Elsewhere the files go one at a time, in the walk's order.
class CopyPhase : public JobPhase, private TreeWalk::Visitor
{
public:
    // Files in flight at once on a network file system: measured on an SFTP share at 2 ms, 8
    // took under a third of the time of one at a time, 32 under a fifth.
    static constexpr int FilesInFlight = 32;

    CopyPhase();
    ~CopyPhase() override;
    void run(Job &job) override;

private:
    void file(TreeWalk &walk, Frame &frame, const NativeFs::Path &name,
              const NativeFs::Path *listed) override;
    void settle() override;
    bool manyInFlight(const Frame &frame);
    bool isRemote(const NativeFs::Folder &folder);

    Job *m_job = nullptr;
    std::unique_ptr<TransferPool> m_pool;
    // Per device, whether it lies across a network.
    QHash<quint64, bool> m_remote;
};
