#pragma once

#include "engine/job.h"

#include <QHash>
#include <QList>

#include <optional>
#include <vector>

// The walk of a job's count and its copy, which go through the same folders in the same order
// and skip the same ones, so that the count measures what the copy does: the tree from the two
// roots, each folder's sub-folders before its files, or a retry's list of files (each in a frame
// of its own folders). Only the copy makes folders and lists what it cannot reach.
class TreeWalk
{
public:
    using Path = NativeFs::Path;

    // What a phase does with each file the walk comes upon.
    class Visitor
    {
    public:
        // listed: the path a retry was given, which the file's records name; otherwise the
        // walk's own path names it.
        virtual void file(TreeWalk &walk, Frame &frame, const Path &name, const Path *listed) = 0;
        // Before a folder's date is given back: every file of it must be done.
        virtual void settle() {}

    protected:
        ~Visitor() = default;
    };

    TreeWalk(Job &job, Phase phase, Visitor &visitor);
    void run();

    FolderStack &stack() { return m_stack; }
    // The source path of the folder in hand, which records of the walk's own files name.
    const Path &path() const { return m_stack.path(); }
    // The names of the folders below the target root down to the one in hand.
    std::vector<Path> namesBelowRoot() const;

private:
    // The tree (treewalk.cpp).
    void walk();
    void walkStack();
    bool openRoot();
    bool enterFolder(Frame &frame);
    void descend();
    void walkFiles(Frame &frame);
    void leaveFolder();
    void openTarget(Frame &frame, Frame *parent);
    void openRootTarget(Frame &frame, NativeFs::Permissions permissions);
    void openChildTarget(Frame &frame, Frame &parent, NativeFs::Permissions permissions);
    // The end of opening any destination folder, for the walk and the retry alike.
    void adoptTarget(Frame &frame);
    bool copying() const { return m_phase == Phase::Copy; }

    // A retry (retrywalk.cpp): each listed file in a frame of its own folders.
    void walkRetryFiles();
    void retryFile(const Path &listed);
    // What a retry needs of each source folder from the root down, for its copy.
    struct SourceLevel
    {
        NativeFs::Permissions permissions;
        qint64 modifiedNs;
    };
    bool openRetryFolders(const QList<Path> &folders);
    bool openRetrySource(const QList<Path> &folders, std::vector<SourceLevel> *levels);
    void retryFolder(const Path &listed, const Path &name, bool isLink);

    Job &m_job;
    const Phase m_phase;
    Visitor &m_visitor;
    FolderStack m_stack;

    // A retry: the frame of the folders in hand, the reason its source could not be opened,
    // and the names written per destination folder.
    Frame m_retryFrame;
    QList<Path> m_retryFolders;
    bool m_retryFrameReady = false;
    // Walking a listed folder, below the folders of the retry.
    bool m_inRetriedFolder = false;
    std::optional<QString> m_retrySourceFailure;
    QHash<Path, std::shared_ptr<FolderShared>> m_retryShared;
};
