#pragma once

#include <QtGlobal>

#include <optional>

// What the system still has to write to its devices, and how much it has written so far: the
// kernel's page-cache counters on Linux, for the whole machine. A copy's last step waits for
// its share of that backlog, which no counter of the job itself shows.
namespace WriteBacklog {

struct Reading
{
    // Data waiting to be written or being written now.
    quint64 pendingBytes = 0;
    // Data written out since the system started; only its growth means anything.
    quint64 writtenBytes = 0;
};

// Nothing where the system does not publish the counters.
std::optional<Reading> read();

} // namespace WriteBacklog
