#pragma once

// The worker's side of one job, shared by its phases: what the window gave it, the roots and
// where the job may go, what it learns about the destination as it goes, and what the copy
// leaves for the phases after it.

#include "engine/filesinhand.h"
#include "engine/folderstack.h"
#include "engine/processor.h"
#include "engine/roomphase.h"
#include "engine/treebounds.h"
#include "engine/verifylist.h"

#include <QHash>

#include <algorithm>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

class Job
{
public:
    using Path = NativeFs::Path;

    explicit Job(Processor &processor);

    // The window's side.
    bool cancelled() const { return m_p.m_cancelled.load(); }
    // Waits, as if paused, until the person says to copy anyway or cancels.
    void askForRoom(quint64 needed, quint64 free) { m_p.askForRoom(needed, free); }
    void waitWhilePaused() { m_p.waitWhilePaused(); }
    void addFailure(const Path &path, CopyErrorCode code, const QString &reason)
    {
        m_p.addFailure(path, code, reason);
    }
    const CopyOptions &options() const { return m_p.m_options; }
    bool retrying() const { return m_p.m_retryMode; }
    const QList<Path> &retryFiles() const { return m_p.m_retryFiles; }
    const Path &tempPrefix() const { return m_p.m_tempPrefix; }
    ProgressRecord &record(PhaseKind kind);
    // A file in hand, its size and how far it got, shown to the window while it lives.
    class ShownFile
    {
    public:
        ShownFile(FilesInHand &files, const Path &name, quint64 size)
            : m_files(files), m_slot(files.take(name, size))
        {
        }
        ~ShownFile() { m_files.give(m_slot); }
        ShownFile(const ShownFile &) = delete;
        ShownFile &operator=(const ShownFile &) = delete;
        void setSize(quint64 size) { m_files.setSize(m_slot, size); }
        void setDone(quint64 done) { m_files.setDone(m_slot, done); }

    private:
        FilesInHand &m_files;
        const int m_slot;
    };
    ShownFile showFile(const Path &name, quint64 size) { return {m_p.m_filesInHand, name, size}; }

    // Dates (with "Keep dates"): the steps in which the frame's destination keeps a time, the
    // overwrite rule with times compared in those steps, and a destination folder given back
    // its source's time once the job has changed it.
    qint64 timeStep(const NativeFs::Folder &target);
    bool rulesAllow(const NativeFs::Folder &target, const NativeFs::Status &source,
                    const NativeFs::Status &targetStatus);
    void keepFolderDate(const Frame &frame, qint64 sourceNs, const Path &record);
    bool keepsDates() const { return options().dates == CopyOptions::Dates::Keep; }
    bool verifies() const { return options().verification == CopyOptions::Verification::ReadBack; }
    // Before the first file is copied into a folder that was there before the job.
    void clearLeftovers(const NativeFs::Folder &target, FolderShared &shared);
    // A destination folder written to: its file system is written out at the end.
    void keepForFlush(const NativeFs::Folder &folder);
    // A copy put in place, by the folder it went to as the walk reached it, with the digest of
    // what was read from its source, for the read-back to find and judge it.
    void noteCopied(const NativeFs::FolderId &folder, const std::vector<Path> &namesBelowRoot,
                    const Path &sourceFolder, const Path &name, qint64 size, const Digest &digest,
                    const std::optional<Path> &listed);

    const Path sourceRoot;
    const Path targetRoot;
    // Where the copy goes, learnt before the count from the folder it goes into (or would be
    // made in): its device and the largest file its file system holds (-1 for no limit).
    struct Destination
    {
        quint64 device = 0;
        qint64 largestFile = -1;
    } destination;
    bool tooLarge(qint64 size) const
    {
        return destination.largestFile >= 0 && size > destination.largestFile;
    }
    // Listed by the count as too large for the destination, and never begun; the copy phase
    // asks by the path the file is listed under. Written by the count only, before the copy.
    void listTooLarge(const Path &path);
    bool listedAsTooLarge(const Path &path) const
    {
        return std::find(m_tooLarge.cbegin(), m_tooLarge.cend(), path) != m_tooLarge.cend();
    }
    bool listedAnyAsTooLarge() const { return !m_tooLarge.empty(); }
    // The room the copy will take there, as the count found it: with every file written, and
    // with those from the same device as clones, which take none.
    struct Room
    {
        RoomNeed written;
        RoomNeed cloned;
        bool fromSameDevice = false;
    } room;
    // Source and destination of every file are one path: nothing to do.
    const bool samePath;
    TreeBounds bounds;
    NativeFs::TransferContext transfer;

    // What the copy leaves for the phases after it: one folder on each destination file system
    // written to, opened before the writes; and the files it put in place, with the digests of
    // what was read from their sources.
    std::vector<NativeFs::Folder> flushFolders;
    std::atomic<bool> wroteAnything{false};
    VerifyList verifyList;

private:
    Processor &m_p;
    // Per destination device, the steps its times are kept in, once learnt.
    QHash<quint64, qint64> m_timeSteps;
    // Several files may be copied at once: what they share of the job is taken in turn.
    std::mutex m_timeStepsLock;
    std::mutex m_verifyListLock;
    std::vector<Path> m_tooLarge;
};
