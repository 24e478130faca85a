#pragma once

#include "engine/jobprogress.h"

class Job;

// One phase of a job: its work on the worker thread, and its progress, which the window reads
// the same way for every phase. A phase keeps what it needs in itself; what the phases after it
// need of it it leaves in the job.
class JobPhase
{
public:
    explicit JobPhase(PhaseKind kind) : m_record(kind) {}
    virtual ~JobPhase() = default;
    JobPhase(const JobPhase &) = delete;
    JobPhase &operator=(const JobPhase &) = delete;

    PhaseKind kind() const { return m_record.kind(); }
    // Worker thread, once. Each phase decides for itself what a cancel leaves it to do.
    virtual void run(Job &job) = 0;
    // Any thread.
    virtual PhaseProgress progress() const { return m_record.read(); }
    ProgressRecord &record() { return m_record; }

private:
    ProgressRecord m_record;
};
