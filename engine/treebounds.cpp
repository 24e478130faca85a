#include "engine/treebounds.h"
#include "engine/reasons.h"

using NativeFs::EntryKind;
using NativeFs::Folder;
using NativeFs::FolderId;

namespace {

NativeFs::FolderIds holdersOf(const NativeFs::Path &path)
{
    const std::vector<FolderId> ids = NativeFs::ancestryOf(path);
    return NativeFs::FolderIds(ids.cbegin(), ids.cend());
}

} // namespace

// A link to the root of either side is no holder: one to the source root leads into the tree,
// one to the destination root into the copy.
void TreeBounds::find(const NativeFs::Path &sourceRoot, const NativeFs::Path &targetRoot)
{
    SystemError error;
    m_sourceHolders = holdersOf(sourceRoot);
    m_sourceHolders.erase(Folder::open(sourceRoot, &error).id());
    m_targetHolders = holdersOf(targetRoot);
    if (const Folder root = Folder::open(targetRoot, &error); root.isOpen())
        setTargetRoot(root.id());
}

void TreeBounds::setSourceRoot(const FolderId &id)
{
    m_sourceRoot = id;
}

void TreeBounds::setTargetRoot(const FolderId &id)
{
    m_targetRoot = id;
    m_hasTargetRoot = true;
    m_targetHolders.erase(id);
}

bool TreeBounds::visit(Phase phase, const FolderId &id)
{
    return (phase == Phase::Scan ? m_scanned : m_copied).insert(id).second;
}

bool TreeBounds::isSourceFolder(const FolderId &id) const
{
    return id == m_sourceRoot || m_scanned.count(id) != 0 || m_copied.count(id) != 0;
}

std::optional<QString> TreeBounds::refusedFolder(const Folder &folder, Reached reached) const
{
    const bool byLink = reached == Reached::MaybeByLink;
    const FolderId id = folder.id();
    if (m_sourceHolders.count(id) != 0)
        return Reasons::text(byLink ? Reasons::Reason::HoldsSource
                                    : Reasons::Reason::MountHoldsSource);
    if (m_targetHolders.count(id) != 0)
        return Reasons::text(Reasons::Reason::HoldsDestination);
    if (!byLink)
        return std::nullopt;
    if (folder.isWithin(m_sourceRoot))
        return QString();
    if (m_hasTargetRoot && folder.isWithin(m_targetRoot))
        return Reasons::text(Reasons::Reason::IntoDestination);
    return std::nullopt;
}

std::optional<QString> TreeBounds::notAFile(const Folder &folder, const NativeFs::Path &name) const
{
    using NativeFs::Links;
    const NativeFs::Status status = folder.status(name, Links::Follow);
    if (!status.exists) {
        if (folder.status(name, Links::Stay).exists)
            return Reasons::notCopied(EntryKind::BrokenLink, {});
        return std::nullopt; // gone: the transfer says so
    }
    if (status.kind == EntryKind::Folder) {
        SystemError error;
        const Folder entered = folder.openChild(name, Links::Follow, &error);
        const std::optional<QString> refused =
            entered.isOpen() ? refusedFolder(entered, Reached::MaybeByLink) : std::nullopt;
        return refused && !refused->isEmpty() ? refused : std::nullopt;
    }
    if (status.isFile())
        return std::nullopt;
    return Reasons::notCopied(status.kind, {});
}
