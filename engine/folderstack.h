#pragma once

#include "engine/copyrules.h"
#include "engine/nativefs.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

enum class TargetState
{
    Open,
    // Nothing there yet (scan only).
    Absent,
    // Files cannot be written here; each gets a failure record with the reason.
    Unreachable
};

// What the files copied into one destination folder share, also once the walk has left it:
// the names written there, whether other jobs' stale temporary files were cleared, and, for
// files copied apart from the walk, the source and destination folders held open for them.
struct FolderShared
{
    WrittenNames written;
    std::once_flag leftoversCleared;
    NativeFs::Folder heldSource;
    NativeFs::Folder heldTarget;
    // Where the folder lies below the target root, for the read-back (with verification only):
    // set by the walk before the first of its files is copied.
    std::optional<std::vector<NativeFs::Path>> namesBelowRoot;
};

// One folder of the walk: a source folder and its destination, with what is left to do there.
struct Frame
{
    NativeFs::Path name; // in its parent; empty for the roots
    qsizetype pathLength = 0;
    NativeFs::Folder source;
    NativeFs::FolderId sourceId;
    bool sourceByLink = false;
    NativeFs::Folder target;
    NativeFs::FolderId targetId;
    TargetState targetState = TargetState::Absent;
    QString unreachableReason;
    // Made by this job: nothing can lie in it yet.
    bool targetNew = false;
    // With "Keep dates", the destination gets its source's time once the job has changed it:
    // every folder below the destination root, and the root if the job made it.
    bool keepsDate = true;
    // Its sub-folders; its files are read when their turn comes, a batch at a time.
    NativeFs::Listing folders;
    size_t nextFolder = 0;
    bool filesDone = false;
    std::shared_ptr<FolderShared> shared = std::make_shared<FolderShared>();

    void makeUnreachable(const QString &reason);
    bool hasFoldersLeft() const { return nextFolder < folders.folders().size(); }
    // Nothing more to do in this folder.
    void abandon();
};

// The folders of the walk from the roots down to the one in hand, and the source path of that
// one. A tree of any depth fits the descriptors a process has: only so many folders stay open
// on each side, deeper ones are closed and found again on the way back, and when the system
// runs out anyway the folders between the root and the one in hand give theirs back.
class FolderStack
{
public:
    bool empty() const { return m_frames.empty(); }
    size_t size() const { return m_frames.size(); }
    Frame &top() { return m_frames.back(); }
    // The folder above the one in hand, if any.
    Frame *parentOfTop();
    const NativeFs::Path &path() const { return m_path; }
    // The names of the folders below the root down to the one in hand.
    std::vector<NativeFs::Path> namesBelowRoot() const;
    void clear();

    void pushRoot(Frame frame, const NativeFs::Path &rootPath);
    void push(Frame frame);
    // What leaving the folder in hand cost: its parent's source could not be found again as
    // the very folder it was (then its remaining work is dropped), with the reason, and the
    // source path it had.
    struct Lost
    {
        bool source = false;
        SystemError error;
        NativeFs::Path path;
    };
    Lost pop();
    // Out of descriptors: closes the open folders between the root and the last keepLast ones,
    // which the walk is using. True when there was any to close.
    bool relieve(size_t keepLast);

private:
    enum class Side
    {
        Source,
        Target
    };
    void limitOpenFolders();
    bool reopen(size_t index, Side side, SystemError *error);

    std::vector<Frame> m_frames;
    NativeFs::Path m_path;
};
