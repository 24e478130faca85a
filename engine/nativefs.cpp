#include "engine/nativefs.h"

#include <algorithm>

namespace NativeFs {

namespace {

constexpr char Separator = '/';
constexpr qsizetype MaxNameLength = 255; // bytes on Unix; Windows counts UTF-16 units, fewer

// Cuts a UTF-8 name to at most limit bytes without splitting a character.
qsizetype characterBoundary(const Path &name, qsizetype limit)
{
    if (limit >= name.size())
        return name.size();
    qsizetype cut = qMax<qsizetype>(limit, 0);
    // Continuation bytes are 10xxxxxx; a character starts at any other byte.
    while (cut > 0 && (static_cast<unsigned char>(name.at(cut)) & 0xC0) == 0x80)
        --cut;
    return cut;
}

} // namespace

Path join(const Path &folder, const Path &name)
{
    Path result;
    result.reserve(folder.size() + 1 + name.size());
    result.append(folder);
    if (!folder.endsWith(Separator))
        result.append(Separator);
    result.append(name);
    return result;
}

Path temporaryName(const Path &prefix, const Path &name)
{
    Path result;
    result.reserve(prefix.size() + name.size());
    result.append(prefix);
    result.append(name.left(characterBoundary(name, MaxNameLength - prefix.size())));
    return result;
}

std::vector<FolderId> Folder::ancestry() const
{
    std::vector<FolderId> ids;
    if (!isOpen())
        return ids;
    ids.push_back(m_id);
    SystemError error;
    // The root is its own parent; the bound only guards against a system that never says so.
    for (Folder up = openParent(&error); up.isOpen() && up.id() != ids.back() && ids.size() < 4096;
         up = up.openParent(&error))
        ids.push_back(up.id());
    return ids;
}

bool Folder::isWithin(const FolderId &ancestor) const
{
    const std::vector<FolderId> ids = ancestry();
    return std::find(ids.cbegin(), ids.cend(), ancestor) != ids.cend();
}

std::vector<FolderId> ancestryOf(const Path &path)
{
    return nearestFolder(path).ancestry();
}

Folder nearestFolder(Path path)
{
    for (;;) {
        SystemError error;
        Folder folder = Folder::open(path, &error);
        if (folder.isOpen())
            return folder;
        const qsizetype cut = path.lastIndexOf(Separator);
        // Keep the separator of a root such as "/" or "C:/"; a root that cannot be opened (a
        // drive that is not there) ends the climb.
        const qsizetype keep = cut == 0 || (cut > 0 && path.at(cut - 1) == ':') ? cut + 1 : cut;
        if (cut < 0 || keep >= path.size())
            return Folder();
        path.truncate(keep);
    }
}

void Listing::clear()
{
    m_names.clear();
    m_folders.clear();
    m_files.clear();
    m_others.clear();
}

void Listing::add(EntryKind kind, const char *name, qsizetype length, bool mayBeLink,
                  SystemError error)
{
    const Item item{m_names.size(), length, mayBeLink, kind, error};
    // Each name ends in a zero byte, so that a view of it can be handed to the system as is.
    m_names.append(name, length).append('\0');
    (kind == EntryKind::Folder ? m_folders
     : kind == EntryKind::File ? m_files
                               : m_others)
        .push_back(item);
}

void Listing::add(const Listing &from, const Item &item)
{
    add(item.kind, from.m_names.constData() + item.offset, item.length, item.mayBeLink, item.error);
}

} // namespace NativeFs
