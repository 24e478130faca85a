#include "engine/transferpool.h"

TransferPool::TransferPool(int workers, NativeFs::TransferContext::Digests digests,
                           NativeFs::TransferContext::Dates dates, Work work)
    : m_work(std::move(work))
{
    for (int i = 0; i < workers; ++i)
        m_workers.emplace_back([this, digests, dates] { serve(digests, dates); });
}

TransferPool::~TransferPool()
{
    drain();
    {
        const std::lock_guard locker(m_lock);
        m_ending = true;
    }
    m_changed.notify_all();
    for (std::thread &worker : m_workers)
        worker.join();
}

void TransferPool::submit(FileTask task)
{
    const FolderShared *folder = task.shared.get();
    std::unique_lock locker(m_lock);
    const auto laneOf = [this, folder] {
        for (auto lane = m_lanes.begin(); lane != m_lanes.end(); ++lane) {
            if (lane->folder == folder)
                return lane;
        }
        return m_lanes.end();
    };
    m_changed.wait(locker, [&] {
        return m_waiting < MaxWaiting && (m_lanes.size() < MaxFolders || laneOf() != m_lanes.end());
    });
    auto lane = laneOf();
    if (lane == m_lanes.end())
        lane = m_lanes.insert(m_lanes.end(), Lane{folder, {}, 0});
    lane->waiting.push_back(std::move(task));
    ++m_waiting;
    locker.unlock();
    m_changed.notify_all();
}

void TransferPool::drain()
{
    std::unique_lock locker(m_lock);
    m_changed.wait(locker, [this] { return m_waiting == 0 && m_busy == 0; });
}

std::list<TransferPool::Lane>::iterator TransferPool::nextLane()
{
    for (auto lane = m_lanes.begin(); lane != m_lanes.end(); ++lane) {
        if (!lane->waiting.empty() && lane->busy < PerFolder)
            return lane;
    }
    return m_lanes.end();
}

void TransferPool::serve(NativeFs::TransferContext::Digests digests,
                         NativeFs::TransferContext::Dates dates)
{
    NativeFs::TransferContext context(digests, dates);
    std::unique_lock locker(m_lock);
    for (;;) {
        m_changed.wait(
            locker, [this] { return (m_ending && m_waiting == 0) || nextLane() != m_lanes.end(); });
        const auto lane = nextLane();
        if (lane == m_lanes.end())
            return;
        FileTask task = std::move(lane->waiting.front());
        lane->waiting.pop_front();
        --m_waiting;
        ++lane->busy;
        ++m_busy;
        locker.unlock();
        m_changed.notify_all();
        m_work(task, context);
        // What the task held of its folder goes before the walk hears of it.
        task = FileTask();
        locker.lock();
        --m_busy;
        if (--lane->busy == 0 && lane->waiting.empty())
            m_lanes.erase(lane);
        m_changed.notify_all();
    }
}
