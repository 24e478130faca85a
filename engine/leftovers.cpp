#include "engine/leftovers.h"

#include <QDateTime>

namespace Leftovers {

namespace {

// The hyphens of a UUID's text, and the one that ends the prefix.
constexpr int Hyphens[] = {8, 13, 18, 23, 36};
constexpr qsizetype PrefixLength = 37;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

bool isTemporaryName(const NativeFs::Path &name)
{
    if (name.size() <= PrefixLength)
        return false;
    for (qsizetype i = 0, hyphen = 0; i < PrefixLength; ++i) {
        const bool wantHyphen = i == Hyphens[hyphen];
        if (wantHyphen ? name.at(i) != '-' : !isHexDigit(name.at(i)))
            return false;
        hyphen += wantHyphen ? 1 : 0;
    }
    return true;
}

void clear(const NativeFs::Folder &folder, const NativeFs::Path &ownPrefix)
{
    const qint64 staleBefore = QDateTime::currentMSecsSinceEpoch() * 1000000 - StaleAfterNs;
    NativeFs::FolderReader reader(folder, NativeFs::HiddenEntries::Include);
    NativeFs::Listing batch;
    SystemError error;
    while (reader.next(batch, &error)) {
        for (const NativeFs::Listing::Item &item : batch.files()) {
            const NativeFs::Path name = batch.name(item);
            if (item.mayBeLink || !isTemporaryName(name) || name.startsWith(ownPrefix))
                continue;
            const NativeFs::Status status = folder.status(name, NativeFs::Links::Stay);
            if (status.isFile() && !status.isLink && status.modifiedNs < staleBefore)
                folder.removeFile(name, &error);
        }
    }
}

} // namespace Leftovers
