#pragma once

#include "engine/filecopy.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

// Several files in flight at once, for file systems where each file costs round trips to a
// server: a bounded set of workers, each with a transfer context of its own, taking files as the
// walk hands them over. A file's name is made and given in its folder one request at a time (the
// system locks a folder for each), so the files in flight are spread over the folders waiting,
// a few in each; the walk runs ahead over folders to give them some, and waits while a bounded
// number of files and folders wait.
class TransferPool
{
public:
    using Work = std::function<void(FileTask &task, NativeFs::TransferContext &context)>;

    TransferPool(int workers, NativeFs::TransferContext::Digests digests,
                 NativeFs::TransferContext::Dates dates, Work work);
    // Finishes every file handed over, then ends the workers.
    ~TransferPool();
    TransferPool(const TransferPool &) = delete;
    TransferPool &operator=(const TransferPool &) = delete;

    void submit(FileTask task);
    // Waits until every file handed over is done.
    void drain();

    // Files in flight in one folder at once; files waiting; folders with files waiting or in
    // flight.
    static constexpr int PerFolder = 2;
    static constexpr size_t MaxWaiting = 512;
    static constexpr size_t MaxFolders = 32;

private:
    struct Lane
    {
        const FolderShared *folder;
        std::deque<FileTask> waiting;
        int busy = 0;
    };
    void serve(NativeFs::TransferContext::Digests digests, NativeFs::TransferContext::Dates dates);
    // The first folder, in the walk's order, with a file waiting and room for it in flight.
    std::list<Lane>::iterator nextLane();

    const Work m_work;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::list<Lane> m_lanes;
    size_t m_waiting = 0;
    int m_busy = 0;
    bool m_ending = false;
    std::vector<std::thread> m_workers;
};
