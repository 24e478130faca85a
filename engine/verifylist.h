#pragma once

#include "engine/digest.h"
#include "engine/nativefs.h"

#include <vector>

// The files a job put in place and the digests of what was read from their sources, by
// destination folder, for the verify phase to read each copy back from the device. A folder
// of many thousand files costs little more than its names.
class VerifyList
{
public:
    struct File
    {
        qsizetype nameOffset;
        qsizetype nameLength;
        qint64 size;
        Digest digest;
        // The path a retry was given, which its records name; -1 for the walk's own.
        qsizetype listedOffset;
        qsizetype listedLength;
    };
    struct Folder
    {
        // Below the target root, as the walk reached it; the folder must still be this one.
        std::vector<NativeFs::Path> names;
        NativeFs::FolderId id;
        // Of the source folder, for the records of the walk's own files.
        NativeFs::Path sourcePath;
        std::vector<File> files;
    };

    // Whether the folder in hand is this one.
    bool inFolder(const NativeFs::FolderId &id) const;
    // Files added from now on lie in this folder.
    void enter(const NativeFs::FolderId &id, std::vector<NativeFs::Path> names,
               const NativeFs::Path &sourcePath);
    void add(const NativeFs::Path &name, qint64 size, const Digest &digest,
             const NativeFs::Path *listed);

    const std::vector<Folder> &folders() const { return m_folders; }
    NativeFs::Path name(const File &file) const;
    // The path the file's failure record names.
    NativeFs::Path record(const Folder &folder, const File &file) const;
    quint64 files() const { return m_files; }
    quint64 bytes() const { return m_bytes; }

private:
    std::vector<Folder> m_folders;
    QByteArray m_names;
    quint64 m_files = 0;
    quint64 m_bytes = 0;
};
