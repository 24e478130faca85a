#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

// The handful of file-system operations the copy engine needs, on native names. On Unix they
// are raw bytes and file descriptors: names need not be valid UTF-8, and calls relative to an
// open folder spare the kernel from walking long paths again for every file. Elsewhere Qt's own
// classes do the work.
namespace NativeFs {

#ifdef Q_OS_UNIX
using Path = QByteArray;
#else
using Path = QString;
#endif

Path toNative(const QString &path);
QString fromNative(const Path &path);
// folder + "/" + name, without doubling the separator after a root such as "/".
Path join(const Path &folder, const Path &name);
// Splits at the last separator; the folder of "/a" is "/".
void split(const Path &path, Path *folder, Path *name);

// The temporary name for a destination: prefix + name, with the name cut (never inside a
// character) so that the whole stays within the file system's limit on one name.
Path temporaryName(const Path &prefix, const Path &name);

// Tells one folder from another however it was reached (through links, or by another name).
struct FolderId
{
#ifdef Q_OS_UNIX
    quint64 device = 0;
    quint64 inode = 0;
#else
    QString canonicalPath;
#endif
    bool operator==(const FolderId &) const = default;
};

struct Status
{
    bool exists = false; // as the name resolves, links followed
    bool isDir = false;
    bool isFile = false;
    // What bears the name itself is a plain file or a link, so a rename can put a file there.
    bool replaceable = false;
    qint64 size = 0;
    qint64 modifiedMs = 0;
};

struct Entry
{
    Path name;
    // Filled when the listing had to look the entry up anyway (links), so nobody asks again.
    Status status;
    bool hasStatus = false;
    // The name may be a link, so what it leads to can lie anywhere, the copy being made included.
    bool mayBeLink = false;
};

enum class Listing
{
    SubFolders,
    Files
};

// One open folder: lists its entries and resolves names relative to itself. An object that
// failed to open lists nothing and finds nothing in it, so callers need no extra checks.
class Folder
{
public:
    Folder() = default;
    explicit Folder(const Path &path);
    ~Folder();
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    bool isOpen() const;
    const Path &path() const { return m_path; }
    const FolderId &id() const { return m_id; }

    // Entries in the order the file system gives them. Links count as what they point to;
    // broken links, devices, pipes and sockets are left out, and so are hidden entries unless
    // asked for.
    void list(Listing kind, bool includeHidden, std::vector<Entry> &out) const;
    // With examineName, also tells whether the name itself may be replaced (see Status).
    Status status(const Path &name, bool examineName = false) const;
    // True when this folder is ancestor or lies anywhere below it.
    bool isWithin(const FolderId &ancestor) const;

#ifdef Q_OS_UNIX
    int descriptor() const
    {
        return m_fd;
    }
#endif

private:
    Path m_path;
    FolderId m_id;
#ifdef Q_OS_UNIX
    int m_fd = -1;
#else
    bool m_open = false;
#endif
};

// Creates path and any missing parents. True when it exists as a folder afterwards; *created
// tells whether this call made the last component.
bool makePath(const Path &path, bool *created);

// One file in flight: the source open for reading and the temporary file open for writing.
// Whatever happens, the temporary file is gone when the object is, unless it was put in place.
class Transfer
{
public:
    enum class Open
    {
        Ok,
        SourceFailed,
        TargetFailed
    };
    enum class Chunk
    {
        Ok,
        ReadFailed,
        WriteFailed
    };

    Transfer();
    ~Transfer();
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    // allowRangeCopy lets the kernel move the bytes itself; it is cleared when the kernel
    // cannot do so for this pair of folders, so the next file does not try again.
    Open open(const Folder &source, const Path &sourceName, const Folder &target,
              const Path &temporaryName, bool *allowRangeCopy);
    // The source's size when it was opened: the end the transfer aims at.
    qint64 sourceSize() const { return m_size; }
    // Moves up to maxBytes. *moved is what reached the temporary file; a clean chunk of zero
    // bytes means the source ended early.
    Chunk copyChunk(char *buffer, qint64 maxBytes, qint64 *moved);
    // Closes both files. False when the temporary file did not close cleanly (data lost).
    bool close();
    // Puts the temporary file over targetName in one step.
    bool replace(const Path &targetName);
    // Deletes the temporary file.
    void discard();

private:
    qint64 m_size = 0;
    const Folder *m_target = nullptr;
    Path m_temporaryName;
    bool m_temporaryExists = false;
#ifdef Q_OS_UNIX
    int m_source = -1;
    int m_temporary = -1;
    bool *m_rangeCopy = nullptr;
#else
    struct Files;
    std::unique_ptr<Files> m_files;
#endif
};

} // namespace NativeFs
