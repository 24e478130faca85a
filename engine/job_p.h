#pragma once

// The worker's side of a job, shared by the rooms that do its work: processor.cpp (the job and
// its phases), filecopy.cpp (one file), folderstack.cpp and treebounds.cpp.

#include "engine/folderstack.h"
#include "engine/processor.h"
#include "engine/treebounds.h"
#include "engine/verification.h"

#include <QHash>

#include <optional>
#include <vector>

struct Processor::Job
{
    using Path = NativeFs::Path;

    explicit Job(Processor &processor);

    bool cancelled() const { return p.m_cancelled.load(); }
    void addFailure(const NativeFs::Path &path, CopyErrorCode code, const QString &reason)
    {
        p.addFailure(path, code, reason);
    }

    // The two phases, over the tree from the two roots or over the retry list, and the end.
    void scanJob();
    void scanFolder();
    void scanRetryFiles();
    void copyJob();
    void copyFolder();
    void copyRetryFiles();
    void flush();

    // The walk: the scan and the copy go through the same folders in the same order.
    void walk(Phase phase);
    void walkStack(Phase phase);
    bool openRoot(Phase phase);
    bool enterFolder(Frame &frame, Phase phase);
    void descend(Phase phase);
    void walkFiles(Frame &frame, Phase phase);
    void leaveFolder(Phase phase);
    void openTarget(Frame &frame, Frame *parent, Phase phase);
    void openRootTarget(Frame &frame, NativeFs::Permissions permissions, Phase phase);
    void openChildTarget(Frame &frame, Frame &parent, NativeFs::Permissions permissions,
                         Phase phase);
    // The end of opening any destination folder, for the walk and the retry alike.
    void adoptTarget(Frame &frame, Phase phase);

    // A retry: each listed file in a frame of its own folders.
    void walkRetryFiles(Phase phase);
    void retryFile(const Path &listed, Phase phase);
    // What a retry needs of each source folder from the root down, for its copy.
    struct SourceLevel
    {
        NativeFs::Permissions permissions;
        qint64 modifiedNs;
    };
    bool openRetryFolders(const QList<Path> &folders, Phase phase);
    bool openRetrySource(const QList<Path> &folders, Phase phase, std::vector<SourceLevel> *levels);
    void retryFolder(const Path &listed, const Path &name, bool isLink, Phase phase);

    // One file (filecopy.cpp).
    void scanFile(const Frame &frame, const Path &name);
    // listed: the path a retry was given, which its records name; otherwise the walk's own.
    void copyFile(Frame &frame, const Path &name, const Path *listed);

    void keepForFlush(const NativeFs::Folder &folder);

    // Dates (with "Keep dates"): the steps in which the frame's destination keeps a time, and
    // a destination folder given back its source's time once the job has changed it.
    qint64 timeStep(const Frame &frame);
    // The overwrite rule, with times compared in the frame's destination's steps.
    bool rulesAllow(const Frame &frame, const NativeFs::Status &source,
                    const NativeFs::Status &target);
    void keepFolderDate(const Frame &frame, qint64 sourceNs, const Path &record);
    // Before the first file is copied into a folder that was there before the job.
    void clearLeftovers(Frame &frame);

    // The verify phase (verification.cpp).
    void noteCopied(const Frame &frame, const Path &name, qint64 size, const Digest &digest,
                    const Path *listed);
    void verify();
    void verifyFolder(const VerifyList::Folder &folder);
    NativeFs::Folder reachForVerify(const VerifyList::Folder &folder, SystemError *error) const;
    std::optional<QString> readBack(const NativeFs::Folder &folder, const Path &name,
                                    const VerifyList::File &file);

    Processor &p;
    const Path sourceRoot;
    const Path targetRoot;
    // Source and destination of every file are one path: nothing to do.
    const bool samePath;

    const bool keepDates;
    // Per destination device, the steps its times are kept in, once learnt.
    QHash<quint64, qint64> timeSteps;
    NativeFs::TransferContext transfer;
    FolderStack stack;
    TreeBounds bounds;
    // One folder on each destination file system written to, opened before the writes, for
    // the flush at the end.
    std::vector<NativeFs::Folder> flushFolders;
    bool wroteAnything = false;
    VerifyList verifyList;

    // Retry jobs: the frame of the folders in hand, the reason its source could not be opened,
    // and the names written per destination folder.
    Frame retryFrame;
    QList<Path> retryFolders;
    bool retryFrameReady = false;
    std::optional<QString> retrySourceFailure;
    QHash<Path, WrittenNames> retryWritten;

private:
    class FileCopy;
};
