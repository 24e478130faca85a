#pragma once

#include "engine/jobphase.h"
#include "engine/nativefs.h"

#include <atomic>
#include <optional>

// Waits until the copied data is on the device: "complete" must mean a disk unplugged at that
// word keeps the copy. Its progress is what the system has written since the phase began, out of
// that and what it still has to write, less what waited to be written before the job began,
// which is someone else's; nothing where the system does not publish its counters.
class WriteOutPhase : public JobPhase
{
public:
    WriteOutPhase();
    void run(Job &job) override;
    PhaseProgress progress() const override;

private:
    const std::optional<NativeFs::WriteBacklog> m_atJobStart;
    std::atomic<bool> m_started{false};
    std::atomic<quint64> m_writtenAtStart{0};
};
