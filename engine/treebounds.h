#pragma once

#include "engine/nativefs.h"

#include <QString>

#include <optional>

enum class Phase
{
    Scan,
    Copy
};

// How the walk came upon a folder.
enum class Reached
{
    Directly,
    // Through a name that may be a link, so the folder can lie anywhere.
    MaybeByLink
};

// Where a job may go: its two roots, the source folders it walked, and the folders that hold
// either root. It writes into no source folder, copies no folder twice, and follows no link out
// to what holds the source or the destination.
class TreeBounds
{
public:
    // The folders that hold the roots, as they stand when a phase begins.
    void find(const NativeFs::Path &sourceRoot, const NativeFs::Path &targetRoot);
    void setSourceRoot(const NativeFs::FolderId &id);
    void setTargetRoot(const NativeFs::FolderId &id);
    const NativeFs::FolderId &sourceRoot() const { return m_sourceRoot; }

    // False when the phase walked this source folder already: each is copied once.
    bool visit(Phase phase, const NativeFs::FolderId &id);
    // The job never writes into its own source, whatever name leads there.
    bool isSourceFolder(const NativeFs::FolderId &id) const;

    // Why the job does not enter a folder it came upon, or nothing when it may. An empty reason
    // means nothing is lost: the folder lies in the tree and is copied under its own name.
    std::optional<QString> refusedFolder(const NativeFs::Folder &folder, Reached reached) const;
    // Why a listed name is not a file the job can copy, or nothing when it may try.
    std::optional<QString> notAFile(const NativeFs::Folder &folder,
                                    const NativeFs::Path &name) const;

private:
    NativeFs::FolderId m_sourceRoot;
    NativeFs::FolderId m_targetRoot;
    bool m_hasTargetRoot = false;
    NativeFs::FolderIds m_scanned;
    NativeFs::FolderIds m_copied;
    // Above the source root; the destination root and above it. A link to one of them would
    // copy the source's surroundings, or the copy into itself.
    NativeFs::FolderIds m_sourceHolders;
    NativeFs::FolderIds m_targetHolders;
};
