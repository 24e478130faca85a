// The walk of a retry: each listed file, or folder, in a frame of its own folders.

#include "engine/treewalk.h"

#include "engine/pathcheck.h"
#include "engine/reasons.h"

using NativeFs::Folder;
using NativeFs::Links;

// A listed file belongs to the job only if it lies below the source root; blindly replacing its
// first characters could otherwise write anywhere. Its destination folders are made below the
// target root, as in a first copy.
void TreeWalk::walkRetryFiles()
{
    if (m_job.cancelled())
        return;
    m_job.bounds.find(m_job.sourceRoot, m_job.targetRoot);
    SystemError error;
    if (const Folder root = Folder::open(m_job.sourceRoot, &error); root.isOpen()) {
        m_job.bounds.setSourceRoot(root.id());
        m_job.bounds.visit(Phase::Scan, root.id());
    }
    m_retryFrameReady = false;
    for (const Path &listed : std::as_const(m_job.retryFiles())) {
        if (m_job.cancelled())
            break;
        m_job.waitWhilePaused();
        retryFile(listed);
    }
}

void TreeWalk::retryFile(const Path &listed)
{
    // The source root's own record (it could not be read): the whole tree again.
    if (listed == m_job.sourceRoot) {
        walk();
        return;
    }
    QList<Path> folders;
    if (!PathCheck::namesBelow(m_job.sourceRoot, listed, &folders)) {
        if (copying())
            m_job.addFailure(listed, TargetOpenError,
                             Reasons::text(Reasons::Reason::OutsideSource));
        return;
    }
    const Path name = folders.takeLast();
    if (!m_retryFrameReady || folders != m_retryFolders)
        openRetryFolders(folders);
    Frame &frame = m_retryFrame;
    if (m_retrySourceFailure) {
        if (copying())
            m_job.addFailure(listed, SourceOpenError, *m_retrySourceFailure);
        return;
    }
    Path target = m_job.targetRoot;
    for (const Path &folder : std::as_const(folders))
        target = NativeFs::join(target, folder);
    if (NativeFs::join(target, name) == listed)
        return; // the same path: nothing to do
    const std::optional<QString> reason = m_job.bounds.notAFile(frame.source, name);
    const NativeFs::Status status = frame.source.status(name, Links::Stay);
    if (!reason && status.kind == NativeFs::EntryKind::Folder) {
        retryFolder(listed, name, status.isLink);
    } else if (!copying()) {
        m_visitor.file(*this, frame, name, &listed);
    } else if (reason) {
        m_job.addFailure(listed, SourceOpenError, *reason);
    } else if (frame.targetState != TargetState::Open) {
        m_job.addFailure(listed, TargetOpenError, frame.unreachableReason);
    } else {
        std::shared_ptr<FolderShared> &shared = m_retryShared[target];
        if (!shared)
            shared = std::make_shared<FolderShared>();
        frame.shared = shared;
        m_visitor.file(*this, frame, name, &listed);
        // No walk leaves this folder: its date is given back file by file.
        if (m_job.keepsDates()) {
            m_visitor.settle();
            m_job.keepFolderDate(frame, frame.source.modifiedNs(),
                                 listed.left(listed.size() - name.size() - 1));
        }
    }
}

// The folders of a retried file, on both sides, made below the target root as the walk makes
// them. A folder the retry made a folder in gets its date back at once, with "Keep dates": no
// walk leaves it later.
bool TreeWalk::openRetryFolders(const QList<Path> &folders)
{
    m_retryFolders = folders;
    m_retryFrame = Frame();
    m_retryFrameReady = true;
    m_retrySourceFailure.reset();
    std::vector<SourceLevel> levels;
    if (!openRetrySource(folders, &levels))
        return false;
    Frame down;
    openRootTarget(down, levels.front().permissions);
    Path source = m_job.sourceRoot;
    for (qsizetype i = 0; i < folders.size() && down.targetState == TargetState::Open; ++i) {
        Frame child;
        child.name = folders.at(i);
        openChildTarget(child, down, levels[size_t(i) + 1].permissions);
        if (child.targetNew && copying() && m_job.keepsDates()) {
            m_visitor.settle();
            m_job.keepFolderDate(down, levels[size_t(i)].modifiedNs, source);
        }
        down = std::move(child);
        source = NativeFs::join(source, folders.at(i));
    }
    Frame &frame = m_retryFrame;
    frame.target = std::move(down.target);
    frame.targetId = down.targetId;
    frame.targetState = down.targetState;
    frame.unreachableReason = down.unreachableReason;
    frame.targetNew = down.targetNew;
    frame.keepsDate = down.keepsDate;
    return frame.targetState == TargetState::Open;
}

// A folder on the list (one that could not be read before, say) is copied as the walk copies
// one, below the folders of the retry.
void TreeWalk::retryFolder(const Path &listed, const Path &name, bool isLink)
{
    Frame parent = std::move(m_retryFrame);
    m_retryFrameReady = false; // its folders go with the walk
    parent.sourceId = parent.source.id();
    parent.filesDone = true;
    parent.folders.add(NativeFs::EntryKind::Folder, name.constData(), name.size(), isLink);
    m_stack.pushRoot(std::move(parent), listed.left(listed.size() - name.size() - 1));
    m_inRetriedFolder = true;
    walkStack();
    m_inRetriedFolder = false;
}

// Below the root every folder lies in the tree, unless a link leads out of it.
bool TreeWalk::openRetrySource(const QList<Path> &folders, std::vector<SourceLevel> *levels)
{
    Frame &frame = m_retryFrame;
    SystemError error;
    frame.source = Folder::open(m_job.sourceRoot, &error);
    for (const Path &name : folders) {
        if (!frame.source.isOpen())
            break;
        levels->push_back({frame.source.permissionsForCopy(), frame.source.modifiedNs()});
        frame.source = frame.source.openChild(name, Links::Follow, &error);
        if (!frame.source.isOpen())
            break;
        const std::optional<QString> refused =
            m_job.bounds.refusedFolder(frame.source, Reached::MaybeByLink);
        if (refused && !refused->isEmpty()) {
            m_retrySourceFailure = *refused;
            return false;
        }
        m_job.bounds.visit(m_phase, frame.source.id());
    }
    if (!frame.source.isOpen()) {
        m_retrySourceFailure = Reasons::system(error);
        return false;
    }
    levels->push_back({frame.source.permissionsForCopy(), frame.source.modifiedNs()});
    return true;
}
