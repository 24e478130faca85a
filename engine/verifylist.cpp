#include "engine/verifylist.h"

using NativeFs::Path;

bool VerifyList::inFolder(const NativeFs::FolderId &id) const
{
    return !m_folders.empty() && m_folders.back().id == id;
}

void VerifyList::enter(const NativeFs::FolderId &id, std::vector<Path> names,
                       const Path &sourcePath)
{
    m_folders.push_back({std::move(names), id, sourcePath, {}});
}

void VerifyList::add(const Path &name, qint64 size, const Digest &digest, const Path *listed)
{
    File file{m_names.size(), name.size(), size, digest, -1, 0};
    m_names.append(name);
    if (listed) {
        file.listedOffset = m_names.size();
        file.listedLength = listed->size();
        m_names.append(*listed);
    }
    m_folders.back().files.push_back(file);
    ++m_files;
    m_bytes += quint64(size);
}

Path VerifyList::name(const File &file) const
{
    return m_names.mid(file.nameOffset, file.nameLength);
}

Path VerifyList::record(const Folder &folder, const File &file) const
{
    if (file.listedOffset >= 0)
        return m_names.mid(file.listedOffset, file.listedLength);
    return NativeFs::join(folder.sourcePath, name(file));
}
