#include "engine/folderstack.h"
#include "engine/reasons.h"

#include <cerrno>

using NativeFs::Folder;
using NativeFs::FolderId;

namespace {

// Folders open at once on each side of the walk; deeper ones are closed and found again on the
// way back, so that no depth of tree runs out of descriptors.
constexpr size_t MaxOpenFrames = 24;

} // namespace

void Frame::makeUnreachable(const QString &reason)
{
    target.close();
    targetState = TargetState::Unreachable;
    unreachableReason = reason;
}

void Frame::abandon()
{
    filesDone = true;
    nextFolder = folders.folders().size();
}

Frame *FolderStack::parentOfTop()
{
    return m_frames.size() > 1 ? &m_frames[m_frames.size() - 2] : nullptr;
}

std::vector<NativeFs::Path> FolderStack::namesBelowRoot() const
{
    std::vector<NativeFs::Path> names;
    // Copies of the names, which are views into the listings of the walk.
    for (size_t i = 1; i < m_frames.size(); ++i)
        names.emplace_back(m_frames[i].name.constData(), m_frames[i].name.size());
    return names;
}

void FolderStack::clear()
{
    m_frames.clear();
}

void FolderStack::pushRoot(Frame frame, const NativeFs::Path &rootPath)
{
    m_frames.clear();
    m_path = rootPath;
    frame.pathLength = m_path.size();
    m_frames.push_back(std::move(frame));
}

void FolderStack::push(Frame frame)
{
    m_path = NativeFs::join(m_path, frame.name);
    frame.pathLength = m_path.size();
    m_frames.push_back(std::move(frame));
    limitOpenFolders();
}

FolderStack::Lost FolderStack::pop()
{
    Lost lost;
    const size_t index = m_frames.size() - 1;
    if (index > 0) {
        Frame &parent = m_frames[index - 1];
        SystemError error = SystemError::posix(ENOENT);
        if (!parent.source.isOpen() && !reopen(index - 1, Side::Source, &error)) {
            // Not the folder the walk left: what was left of it is not copied.
            lost = {true, error, m_path.left(parent.pathLength)};
            parent.abandon();
        }
        if (parent.targetState == TargetState::Open && !parent.target.isOpen() &&
            !reopen(index - 1, Side::Target, &error))
            parent.makeUnreachable(Reasons::system(error));
    }
    m_frames.pop_back();
    if (!m_frames.empty())
        m_path.truncate(m_frames.back().pathLength);
    return lost;
}

void FolderStack::limitOpenFolders()
{
    size_t open = 0;
    for (const Frame &frame : m_frames)
        open += frame.source.isOpen() ? 1 : 0;
    // The root stays open: it holds the job's ends.
    for (size_t i = 1; open > MaxOpenFrames && i + 1 < m_frames.size(); ++i) {
        if (m_frames[i].source.isOpen()) {
            m_frames[i].source.close();
            --open;
        }
        m_frames[i].target.close();
    }
}

bool FolderStack::relieve(size_t keepLast)
{
    bool closed = false;
    for (size_t i = 1; i + keepLast < m_frames.size(); ++i) {
        closed = closed || m_frames[i].source.isOpen() || m_frames[i].target.isOpen();
        m_frames[i].source.close();
        m_frames[i].target.close();
    }
    return closed;
}

// Finds a closed folder of the walk again: through ".." from its child, which names the real
// parent unless the child was reached by a link, or else down by name from the nearest open
// folder above it. Either way it must be the very folder it was.
bool FolderStack::reopen(size_t index, Side side, SystemError *error)
{
    const bool isSource = side == Side::Source;
    Folder Frame::*folderOf = isSource ? &Frame::source : &Frame::target;
    FolderId Frame::*idOf = isSource ? &Frame::sourceId : &Frame::targetId;
    const Frame &child = m_frames[index + 1];
    Folder &folder = m_frames[index].*folderOf;
    if ((child.*folderOf).isOpen() && !(isSource && child.sourceByLink))
        folder = (child.*folderOf).openParent(error);
    if (folder.isOpen() && folder.id() == m_frames[index].*idOf)
        return true;
    folder.close();
    size_t first = index;
    while (first > 0 && !(m_frames[first - 1].*folderOf).isOpen())
        --first;
    // Links are followed on the source side only, as the walk did.
    const NativeFs::Links links = isSource ? NativeFs::Links::Follow : NativeFs::Links::Stay;
    for (size_t i = qMax<size_t>(first, 1); i <= index; ++i) {
        Folder &reopened = m_frames[i].*folderOf;
        reopened = (m_frames[i - 1].*folderOf).openChild(m_frames[i].name, links, error);
        if (reopened.isOpen() && reopened.id() != m_frames[i].*idOf) {
            reopened.close();
            *error = SystemError::posix(ENOENT);
        }
        if (!reopened.isOpen())
            return false;
    }
    return folder.isOpen();
}
