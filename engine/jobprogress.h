#pragma once

#include <QtGlobal>

#include <atomic>

// The phases of a job, in the order they run.
enum class PhaseKind
{
    // What is to be done: the work of the phases after it.
    Count,
    // Whether there is room for it at the destination.
    Room,
    Copy,
    // Until the copied data is on the device.
    WriteOut,
    // The copies read back from the device.
    Verify
};

// How far one phase of a job has got, the same for every phase: its work in files and bytes,
// and how much of it is done. A phase's work may be planned by an earlier one (the count plans
// the copy and the read-back) and set again once it is known.
struct PhaseProgress
{
    PhaseKind kind = PhaseKind::Count;
    quint64 filesDone = 0;
    quint64 filesTotal = 0;
    quint64 bytesDone = 0;
    quint64 bytesTotal = 0;
    // Of the files done, those that came through: put in place, or found whole on the device.
    quint64 filesSucceeded = 0;
};

// One phase's progress: written by the worker, read by the GUI at any time, each figure whole.
class ProgressRecord
{
public:
    explicit ProgressRecord(PhaseKind kind) : m_kind(kind) {}

    PhaseKind kind() const { return m_kind; }
    void planWork(quint64 files, quint64 bytes)
    {
        m_filesTotal.fetch_add(files);
        m_bytesTotal.fetch_add(bytes);
    }
    void setWork(quint64 files, quint64 bytes)
    {
        m_filesTotal.store(files);
        m_bytesTotal.store(bytes);
    }
    void addBytes(quint64 bytes) { m_bytesDone.fetch_add(bytes); }
    void addFile() { m_filesDone.fetch_add(1); }
    void addSucceeded() { m_filesSucceeded.fetch_add(1); }

    PhaseProgress read() const
    {
        return {m_kind,
                m_filesDone.load(),
                m_filesTotal.load(),
                m_bytesDone.load(),
                m_bytesTotal.load(),
                m_filesSucceeded.load()};
    }

private:
    const PhaseKind m_kind;
    std::atomic<quint64> m_filesDone{0};
    std::atomic<quint64> m_filesTotal{0};
    std::atomic<quint64> m_bytesDone{0};
    std::atomic<quint64> m_bytesTotal{0};
    std::atomic<quint64> m_filesSucceeded{0};
};
