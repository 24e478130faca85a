// Putting a finished copy in its place on POSIX systems, by the best means the file system offers:
// an unnamed copy linked in under its name, a rename that never replaces, a second name and the
// first dropped, or a look and a rename.

#include "engine/nativefs_posix_p.h"

#include <cerrno>

namespace NativeFs {

Transfer::Placed Transfer::place(const Path &name, Existing existing, SystemError *error)
{
    Files &f = *m_files;
    TransferContext::State &context = *m_context.m_state;
    const bool createdNamed = !f.unnamed;
    const Placed placed = f.placeAs(context, name, existing, error);
    // Some file systems (FAT through FUSE) date a file again when it is renamed; the date the
    // copy had under its temporary name is given back. Only what the system refuses is lost.
    struct stat st;
    if (placed == Placed::Done && createdNamed && context.keepDates &&
        ::fstatat(f.targetFolder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        nanoseconds(st.st_mtim) != nanoseconds(f.dated)) {
        SystemError ignored;
        setModifiedTimeAt(f.targetFolder, name, f.opened.st_mtim, &ignored);
    }
    return placed;
}

Transfer::Placed Transfer::Files::placeAs(TransferContext::State &context, const Path &name,
                                          Existing existing, SystemError *error)
{
    const bool replace = existing == Existing::Replace;
    if (unnamed) {
        // A replace goes through the temporary name: a link cannot take a name that is taken.
        const Placed given =
            replace ? giveName(context, Naming::Temporary, temporaryName.constData(), error)
                    : giveName(context, Naming::Final, name.constData(), error);
        if (given != Placed::Done || !replace)
            return given == Placed::NameTaken && replace ? Placed::Failed : given;
    }
    if (!replace)
        return renameKeeping(context, name.constData(), error);
    if (::renameat(targetFolder, temporaryName.constData(), targetFolder, name.constData()) != 0) {
        *error = SystemError::posix(errno);
        return Placed::Failed;
    }
    named = false;
    return Placed::Done;
}

// Links the unnamed copy in under name, then closes it: a full disk may only show then.
Transfer::Placed Transfer::Files::giveName(TransferContext::State &context, Naming naming,
                                           const char *name, SystemError *error)
{
    if (Linux::linkUnnamed(temporary, targetFolder, name, &context.linkWays) != 0) {
        *error = SystemError::posix(errno);
        return errno == EEXIST ? Placed::NameTaken : Placed::Failed;
    }
    const int fd = temporary;
    temporary = -1;
    unnamed = false;
    named = naming == Naming::Temporary;
    if (!closeDescriptor(fd, error)) {
        ::unlinkat(targetFolder, name, 0);
        named = false;
        return Placed::WriteFailed;
    }
    return Placed::Done;
}

// From the temporary name to name, never replacing what bears it, by the best means the file
// system offers.
Transfer::Placed Transfer::Files::renameKeeping(TransferContext::State &context, const char *name,
                                                SystemError *error)
{
    const char *from = temporaryName.constData();
    if (context.noReplaceRename) {
        if (Linux::renameNoReplace(targetFolder, from, name) == 0) {
            named = false;
            return Placed::Done;
        }
        if (errno == EEXIST)
            return Placed::NameTaken;
        if (!isUnsupported(errno)) {
            *error = SystemError::posix(errno);
            return Placed::Failed;
        }
        context.noReplaceRename = false;
    }
    if (context.hardLinks) {
        // A second name, then the temporary one dropped: never replaces anything.
        if (::linkat(targetFolder, from, targetFolder, name, 0) == 0) {
            // Should the temporary name stay, the destructor tries once more to drop it.
            named = ::unlinkat(targetFolder, from, 0) != 0;
            return Placed::Done;
        }
        if (errno == EEXIST)
            return Placed::NameTaken;
        if (!isUnsupported(errno) && errno != EPERM && errno != EMLINK) {
            *error = SystemError::posix(errno);
            return Placed::Failed;
        }
        context.hardLinks = false;
    }
    // A file system with neither: look, then rename; only a file made in between is at risk.
    struct stat st;
    if (::fstatat(targetFolder, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return Placed::NameTaken;
    if (::renameat(targetFolder, from, targetFolder, name) != 0) {
        *error = SystemError::posix(errno);
        return Placed::Failed;
    }
    named = false;
    return Placed::Done;
}

} // namespace NativeFs
