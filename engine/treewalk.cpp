// The walk over the tree from the two roots. Within a folder, sub-folders come before files.

#include "engine/treewalk.h"

#include "engine/reasons.h"

#include <cerrno>

using NativeFs::Folder;
using NativeFs::Links;

namespace {

NativeFs::HiddenEntries hiddenEntries(bool include)
{
    return include ? NativeFs::HiddenEntries::Include : NativeFs::HiddenEntries::Skip;
}

} // namespace

TreeWalk::TreeWalk(Job &job, Phase phase, Visitor &visitor)
    : m_job(job), m_phase(phase), m_visitor(visitor)
{
}

void TreeWalk::run()
{
    if (m_job.retrying())
        walkRetryFiles();
    else
        walk();
}

std::vector<TreeWalk::Path> TreeWalk::namesBelowRoot() const
{
    if (!m_job.retrying())
        return m_stack.namesBelowRoot();
    // A retried file's folders; in a retried folder's walk, those of its parent and the walk's.
    std::vector<Path> names(m_retryFolders.cbegin(), m_retryFolders.cend());
    if (m_inRetriedFolder) {
        const std::vector<Path> below = m_stack.namesBelowRoot();
        names.insert(names.end(), below.cbegin(), below.cend());
    }
    return names;
}

void TreeWalk::walk()
{
    if (m_job.cancelled() || m_job.samePath)
        return;
    m_job.waitWhilePaused();
    if (openRoot())
        walkStack();
}

// Down the folders from the one in hand, each one's sub-folders before its files.
void TreeWalk::walkStack()
{
    while (!m_stack.empty() && !m_job.cancelled()) {
        Frame &frame = m_stack.top();
        if (frame.hasFoldersLeft()) {
            descend();
        } else if (!frame.filesDone) {
            frame.filesDone = true;
            walkFiles(frame);
        } else {
            leaveFolder();
        }
    }
    m_stack.clear();
}

bool TreeWalk::openRoot()
{
    m_job.bounds.find(m_job.sourceRoot, m_job.targetRoot);
    Frame root;
    SystemError error;
    root.source = Folder::open(m_job.sourceRoot, &error);
    if (!root.source.isOpen()) {
        // Nothing to copy is not the same as nothing there: the job must not end as complete.
        if (copying())
            m_job.addFailure(m_job.sourceRoot, SourceOpenError, Reasons::system(error));
        return false;
    }
    root.sourceId = root.source.id();
    m_job.bounds.setSourceRoot(root.sourceId);
    m_job.bounds.visit(m_phase, root.sourceId);
    m_stack.pushRoot(std::move(root), m_job.sourceRoot);
    if (!enterFolder(m_stack.top()))
        m_stack.clear();
    return !m_stack.empty();
}

void TreeWalk::descend()
{
    Frame &parent = m_stack.top();
    const NativeFs::Listing::Item item = parent.folders.folders().at(parent.nextFolder++);
    m_job.waitWhilePaused();
    if (m_job.cancelled())
        return;

    Frame child;
    child.name = parent.folders.name(item);
    child.sourceByLink = item.mayBeLink;
    // A folder listed as one is entered as one: a link put in its place since is not followed.
    const Links links = item.mayBeLink ? Links::Follow : Links::Stay;
    SystemError error;
    child.source = parent.source.openChild(child.name, links, &error);
    if (!child.source.isOpen() && m_stack.relieve(1))
        child.source = m_stack.top().source.openChild(child.name, links, &error);
    const Path childPath = NativeFs::join(m_stack.path(), child.name);
    if (!child.source.isOpen()) {
        if (copying())
            m_job.addFailure(childPath, SourceOpenError, Reasons::system(error));
        return;
    }
    child.sourceId = child.source.id();
    const Reached reached = item.mayBeLink ? Reached::MaybeByLink : Reached::Directly;
    if (const std::optional<QString> refused = m_job.bounds.refusedFolder(child.source, reached)) {
        if (copying() && !refused->isEmpty())
            m_job.addFailure(childPath, SourceOpenError, *refused);
        return;
    }
    // However many links lead to a folder, it is copied once.
    if (!m_job.bounds.visit(m_phase, child.sourceId))
        return;
    m_stack.push(std::move(child));
    if (!enterFolder(m_stack.top()))
        m_stack.top().abandon();
}

// Lists the source folder's sub-folders and, once it could be read, opens or makes its
// destination.
bool TreeWalk::enterFolder(Frame &frame)
{
    const CopyOptions &options = m_job.options();
    SystemError error;
    NativeFs::FolderReader reader(frame.source, hiddenEntries(options.includeHidden));
    NativeFs::Listing batch;
    while (reader.next(batch, &error)) {
        if (options.includeSubFolders) {
            for (const NativeFs::Listing::Item &item : batch.folders())
                frame.folders.add(batch, item);
        }
    }
    if (error.isSet()) {
        // No empty folder in its place that would pass for a complete copy.
        if (copying())
            m_job.addFailure(m_stack.path(), SourceOpenError, Reasons::system(error));
        frame.folders.clear();
        return false;
    }
    openTarget(frame, m_stack.parentOfTop());
    return true;
}

// The folder's files, and in the copy what it holds that no copy can, read a batch at a time.
void TreeWalk::walkFiles(Frame &frame)
{
    m_job.waitWhilePaused();
    SystemError error;
    NativeFs::FolderReader reader(frame.source, hiddenEntries(m_job.options().includeHidden));
    NativeFs::Listing batch;
    while (!m_job.cancelled() && reader.next(batch, &error)) {
        for (const NativeFs::Listing::Item &item : batch.files()) {
            if (m_job.cancelled())
                return;
            m_job.waitWhilePaused();
            const Path name = batch.name(item);
            if (copying() && frame.targetState == TargetState::Unreachable)
                m_job.addFailure(NativeFs::join(m_stack.path(), name), TargetOpenError,
                                 frame.unreachableReason);
            else
                m_visitor.file(*this, frame, name, nullptr);
        }
        for (const NativeFs::Listing::Item &item : batch.others()) {
            if (copying())
                m_job.addFailure(NativeFs::join(m_stack.path(), batch.name(item)), SourceOpenError,
                                 Reasons::notCopied(item.kind, item.error));
        }
    }
    // Read only in part: what was not reached is not copied.
    if (error.isSet() && copying())
        m_job.addFailure(m_stack.path(), SourceOpenError, Reasons::system(error));
}

void TreeWalk::leaveFolder()
{
    // Everything below it is done: nothing the job does changes the folder again.
    Frame &frame = m_stack.top();
    if (copying() && m_job.keepsDates() && frame.source.isOpen()) {
        m_visitor.settle();
        m_job.keepFolderDate(frame, frame.source.modifiedNs(), m_stack.path());
    }
    const FolderStack::Lost lost = m_stack.pop();
    if (lost.source && copying())
        m_job.addFailure(lost.path, SourceOpenError, Reasons::system(lost.error));
}

void TreeWalk::openTarget(Frame &frame, Frame *parent)
{
    // Only the copy makes folders.
    const NativeFs::Permissions permissions =
        copying() ? frame.source.permissionsForCopy() : NativeFs::Permissions();
    if (!parent)
        openRootTarget(frame, permissions);
    else if (parent->targetState == TargetState::Unreachable)
        frame.makeUnreachable(parent->unreachableReason);
    else if (parent->targetState == TargetState::Open)
        openChildTarget(frame, *parent, permissions);
}

void TreeWalk::openRootTarget(Frame &frame, NativeFs::Permissions permissions)
{
    const Path &root = m_job.targetRoot;
    SystemError error;
    bool made = false;
    if (copying() && !NativeFs::makePath(root, permissions, &made, &error)) {
        frame.makeUnreachable(Reasons::system(error));
        return;
    }
    // A folder the person chose keeps its own date; one the job made is a copy like any other.
    frame.targetNew = made;
    frame.keepsDate = made;
    frame.target = Folder::open(root, &error);
    if (!frame.target.isOpen()) {
        if (copying())
            frame.makeUnreachable(Reasons::system(error));
        return;
    }
    m_job.bounds.setTargetRoot(frame.target.id());
    if (copying() && frame.target.isWithin(m_job.bounds.sourceRoot())) {
        frame.makeUnreachable(Reasons::text(Reasons::Reason::DestinationInSource));
        return;
    }
    adoptTarget(frame);
}

void TreeWalk::openChildTarget(Frame &frame, Frame &parent, NativeFs::Permissions permissions)
{
    SystemError error;
    if (copying()) {
        frame.targetNew = parent.target.makeFolder(frame.name, permissions, &error);
        if (!frame.targetNew && !error.is(EEXIST)) {
            frame.makeUnreachable(Reasons::system(error));
            return;
        }
        // The folder of another source name that folds into this one on this disk.
        if (!frame.targetNew && parent.shared->written.collides(frame.name)) {
            frame.makeUnreachable(Reasons::system(SystemError::posix(EEXIST)));
            return;
        }
        m_job.wroteAnything = m_job.wroteAnything || frame.targetNew;
    }
    // Never through a link: what the job enters below its root is a folder of the copy.
    frame.target = parent.target.openChild(frame.name, Links::Stay, &error);
    if (!frame.target.isOpen() && (error.is(EMFILE) || error.is(ENFILE)) && m_stack.relieve(2))
        frame.target = parent.target.openChild(frame.name, Links::Stay, &error);
    if (!frame.target.isOpen()) {
        if (copying())
            frame.makeUnreachable(Reasons::system(error));
        return;
    }
    if (copying())
        parent.shared->written.note(parent.target, frame.name);
    adoptTarget(frame);
}

void TreeWalk::adoptTarget(Frame &frame)
{
    frame.targetId = frame.target.id();
    frame.targetState = TargetState::Open;
    if (!copying())
        return;
    if (m_job.bounds.isSourceFolder(frame.targetId)) {
        frame.makeUnreachable(Reasons::text(Reasons::Reason::DestinationInSource));
        return;
    }
    m_job.keepForFlush(frame.target);
}
