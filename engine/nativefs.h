#pragma once

#include "engine/digest.h"
#include "engine/systemerror.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

// The handful of file-system operations the copy engine needs, on native names and open
// folders. Names are bytes (on Unix exactly what the kernel stores, so names that are not valid
// text survive; on Windows UTF-8). Below a root, everything is reached relative to an open
// folder: paths of any length work, and a folder once entered stays the folder it was, whatever
// is renamed or linked in its place later.
//
// Errors are SystemError values, so that a failure can carry the system's own words for its
// cause.
namespace NativeFs {

using Path = QByteArray;

// How the platform's usual file system compares names.
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
inline constexpr Qt::CaseSensitivity NameCase = Qt::CaseInsensitive;
#else
inline constexpr Qt::CaseSensitivity NameCase = Qt::CaseSensitive;
#endif

Path toNative(const QString &path);
QString fromNative(const Path &path);
// folder + "/" + name, without doubling the separator after a root such as "/".
Path join(const Path &folder, const Path &name);
// The temporary name for a destination: prefix + name, with the name cut (never inside a
// character) so that the whole stays within the usual limit of 255 bytes on one name.
Path temporaryName(const Path &prefix, const Path &name);
// The system's own words for an error.
QString errorText(const SystemError &error);

// Called once before the first job: a write past a file-size limit must fail with an error
// the job can record, instead of ending the process.
void prepareProcess();

// What the system still has to write to its devices, and how much it has written so far, for the
// whole machine: a copy's last step waits for its share of that backlog, which no counter of the
// job itself shows.
struct WriteBacklog
{
    // Data waiting to be written or being written now.
    quint64 pendingBytes = 0;
    // Data written out since the system started; only its growth means anything.
    quint64 writtenBytes = 0;
};
// Nothing where the system does not publish the counters.
std::optional<WriteBacklog> writeBacklog();

// Tells one folder from another however it was reached (through links, or by another name).
struct FolderId
{
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FolderId &) const = default;
};

struct FolderIdHash
{
    size_t operator()(const FolderId &id) const
    {
        return std::hash<quint64>()(id.inode * 0x9e3779b97f4a7c15ULL ^ id.device);
    }
};

using FolderIds = std::unordered_set<FolderId, FolderIdHash>;

// What bears a name. Only folders and plain files are copied; the rest is listed as not copied.
enum class EntryKind : quint8
{
    Folder,
    File,
    Pipe,
    Socket,
    CharacterDevice,
    BlockDevice,
    // A link that leads nowhere (or round in a circle).
    BrokenLink,
    // The system would not say; the listing's error tells why.
    Unknown
};

// Whether a call goes through a link that bears the name, or speaks of the link itself.
enum class Links
{
    Follow,
    // Never through it: a link is not entered, and its status is the link's own.
    Stay
};

enum class HiddenEntries
{
    Skip,
    Include
};

// The access a folder's copy is made with. On POSIX systems: the original's permission bits
// (never set-user-ID, set-group-ID or sticky), with the owner's write and search added so that
// later jobs can still write into a copy of a read-only folder; the process's umask applies. On
// Windows a new folder takes the access rules of the one it is made in, and this carries nothing.
struct Permissions
{
    quint32 bits = 0777;
};

// What putting a copy in place does to a file that bears its name.
enum class Existing
{
    Keep,
    Replace
};

struct Status
{
    EntryKind kind = EntryKind::Unknown;
    bool exists = false;
    // What bears the name is a plain file or a link, so a rename can put a file there.
    bool replaceable = false;
    // Asked without following links: the name is a link, and the rest describes its target.
    bool isLink = false;
    qint64 size = 0;
    qint64 modifiedNs = 0;

    bool isFile() const { return kind == EntryKind::File; }
    // The same thing, as far as a look can tell: nothing changed it in between.
    bool sameAs(const Status &other) const
    {
        return exists == other.exists && kind == other.kind && size == other.size &&
               modifiedNs == other.modifiedNs;
    }
};

// Entries of one folder, in the order the file system gives them: sub-folders, plain files, and
// the rest (pipes, sockets, devices, broken links), which no copy can hold. Links count as what
// they lead to. Names are packed into one buffer, each followed by a zero byte.
class Listing
{
public:
    struct Item
    {
        qsizetype offset;
        qsizetype length;
        // The name may be a link, so what it leads to can lie anywhere.
        bool mayBeLink;
        EntryKind kind;
        // Why the kind is Unknown.
        SystemError error;
    };

    void clear();
    void add(EntryKind kind, const char *name, qsizetype length, bool mayBeLink,
             SystemError error = {});
    void add(const Listing &from, const Item &item);
    const std::vector<Item> &folders() const { return m_folders; }
    const std::vector<Item> &files() const { return m_files; }
    const std::vector<Item> &others() const { return m_others; }
    // A view into the listing, valid while it lives and is not cleared.
    Path name(const Item &item) const
    {
        return Path::fromRawData(m_names.constData() + item.offset, item.length);
    }

private:
    QByteArray m_names;
    std::vector<Item> m_folders;
    std::vector<Item> m_files;
    std::vector<Item> m_others;
};

// One open folder. Moves, never copies; closes itself.
class Folder
{
public:
    Folder();
    ~Folder();
    Folder(Folder &&other) noexcept;
    Folder &operator=(Folder &&other) noexcept;
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    // By path, links followed: for the two roots the user named.
    static Folder open(const Path &path, SystemError *error);
    Folder openChild(const Path &name, Links links, SystemError *error) const;
    // The real parent, however this folder was reached.
    Folder openParent(SystemError *error) const;

    bool isOpen() const { return m_native != nullptr; }
    const FolderId &id() const { return m_id; }
    void close();

    Status status(const Path &name, Links links) const;
    // This folder's modification time as it stands now; 0 when the system will not say.
    qint64 modifiedNs() const;
    bool setModified(qint64 ns, SystemError *error) const;
    // What a copy of this folder is made with.
    Permissions permissionsForCopy() const;
    // Creates a sub-folder; fails with EEXIST when the name is taken.
    bool makeFolder(const Path &name, Permissions permissions, SystemError *error) const;
    // Removes a file, never a folder, and never what a link leads to.
    bool removeFile(const Path &name, SystemError *error) const;
    // The steps in which this folder's file system keeps a file's modification time, in
    // nanoseconds, learnt from the file system itself: where its kind does not tell, by setting a
    // time on a file of probeName and reading it back. 0 when it cannot be learnt.
    qint64 timeResolutionNs(const Path &probeName) const;
    // This folder, its real parent, and so on up to the root, however this one was reached.
    std::vector<FolderId> ancestry() const;
    // True when this folder is ancestor or lies anywhere below it.
    bool isWithin(const FolderId &ancestor) const;
    // The folder lies on a network file system (NFS, SMB, SSHFS and the like), where each file
    // costs round trips to a server.
    bool isRemote() const;
    // The largest file this folder's file system can hold, known from its kind: 4 GiB less a
    // byte on FAT; -1 where it sets no limit a copy would meet.
    qint64 largestFile() const;
    // What this user may still write to this folder's file system; nothing where it will not say.
    std::optional<quint64> freeBytes() const;
    // Whether copies within this folder's file system can share blocks (a clone takes no room),
    // learnt from the file system itself: where its kind does not tell, by cloning one file of
    // probeName into another.
    bool sharesBlocks(const Path &probeName) const;
    // Waits until what was written to this folder's file system is on the device. Reports
    // write-back failures since this folder was opened.
    bool syncFileSystem(SystemError *error) const;
    Folder duplicate() const;

private:
    friend class FolderReader;
    friend class Transfer;
    friend class ReadBack;
    // The platform's handle on the folder.
    struct Native;
    std::unique_ptr<Native> m_native;
    FolderId m_id;
};

// The folder at path, or the nearest one above it that exists, and every folder above that: the
// folders that hold path, however they are reached.
std::vector<FolderId> ancestryOf(const Path &path);
// The folder at path, or the nearest one above it that exists: where path would be made.
Folder nearestFolder(Path path);

// Creates path and any missing parents, path itself with the given permissions. *error is set
// when it is not a folder afterwards. True when it made path itself: *made.
bool makePath(const Path &path, Permissions permissions, bool *made, SystemError *error);

// Reads an open folder from its start, a batch of entries at a time, so that a folder of a
// million files costs the memory of one batch. Reads through the folder's own handle: one
// reader at a time per folder, and none while the folder is closed or moved.
class FolderReader
{
public:
    FolderReader(const Folder &folder, HiddenEntries hidden);
    ~FolderReader();
    FolderReader(const FolderReader &) = delete;
    FolderReader &operator=(const FolderReader &) = delete;

    // The next batch, replacing what batch held. False at the end of the folder, and on a
    // failure, which sets *error.
    bool next(Listing &batch, SystemError *error);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// What a job learns about the machine as it goes, shared by all its transfers: a refusal met
// once is remembered, so later files do not ask again. Holds the job's buffer, pipe and digest.
class TransferContext
{
public:
    enum class Digests
    {
        Off,
        // Every byte a transfer reads is hashed (holes as zeros), so the bytes go through the
        // job's buffer, where the hash can see them.
        On
    };
    enum class Dates
    {
        // A copy gets the time it was written, like any new file.
        New,
        // A copy keeps its source's modification time, set before it is put in place.
        Keep
    };
    explicit TransferContext(Digests digests = Digests::Off, Dates dates = Dates::New);
    ~TransferContext();
    Digests digests() const { return m_digests; }
    Dates dates() const { return m_dates; }
    TransferContext(const TransferContext &) = delete;
    TransferContext &operator=(const TransferContext &) = delete;

private:
    friend class Transfer;
    friend class ReadBack;
    struct State;
    std::unique_ptr<State> m_state;
    Digests m_digests;
    Dates m_dates;
};

// One file in flight: the source open for reading and its copy being written beside the
// destination, without a name where the system allows until it is put in place. Whatever
// happens, the copy is gone when the object is, unless it was put in place. On POSIX systems the
// copy is made with its source's permission bits (less the umask) from its first moment, so that
// it is never readable by more people than its source is.
class Transfer
{
public:
    enum class Result
    {
        Ok,
        SourceOpenFailed,
        TargetOpenFailed,
        ReadFailed,
        // The source ended before the size it had when opened.
        SourceEnded,
        // The source's size or times are not those it had when opened: the copy matches no
        // version of it that ever existed.
        SourceChanged,
        WriteFailed,
    };
    enum class Placed
    {
        Done,
        // Only with Existing::Keep: something bears the name; the copy is kept for another try.
        NameTaken,
        // The last of the copy's data could not be written; nothing was put in place.
        WriteFailed,
        Failed,
    };

    explicit Transfer(TransferContext &context);
    ~Transfer();
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    // temporaryName is the name the copy takes on its way to replace a destination, or all
    // along where there are no unnamed files. A source that is not a plain file is refused,
    // unread.
    Result open(const Folder &source, const Path &sourceName, const Folder &target,
                const Path &temporaryName, SystemError *error);
    // The source's size when it was opened: the end the transfer aims at.
    qint64 size() const { return m_size; }
    // What the refused source was, for SourceOpenFailed.
    EntryKind sourceKind() const { return m_sourceKind; }
    // One step: reads at most maxBytes from the source, or passes over a hole, which is not
    // written. *advanced is how far the file got.
    Result step(qint64 maxBytes, qint64 *advanced, SystemError *error);
    // Writes out what is still held back and sets the final size, once the source is as it was
    // when opened.
    Result finish(SystemError *error);
    // Gives the copy the destination's name.
    Placed place(const Path &name, Existing existing, SystemError *error);
    // Of every byte read, with digests on; valid once finished.
    Digest digest() const;

private:
    struct Files;
    TransferContext &m_context;
    std::unique_ptr<Files> m_files;
    qint64 m_size = 0;
    EntryKind m_sourceKind = EntryKind::File;
};

// A copy read back from the device, not from the system's cache, and hashed as it is read.
class ReadBack
{
public:
    enum class Result
    {
        Ok,
        // The file is read whole.
        End,
        Failed
    };

    explicit ReadBack(TransferContext &context);
    ~ReadBack();
    ReadBack(const ReadBack &) = delete;
    ReadBack &operator=(const ReadBack &) = delete;

    // Opens the plain file that bears name, never through a link, and drops what the system
    // holds of it in memory.
    bool open(const Folder &folder, const Path &name, SystemError *error);
    qint64 size() const { return m_size; }
    // Reads the next bytes, at most maxBytes.
    Result step(qint64 maxBytes, qint64 *advanced, SystemError *error);
    Digest digest() const;

private:
    struct File;
    TransferContext &m_context;
    std::unique_ptr<File> m_file;
    qint64 m_size = 0;
};

} // namespace NativeFs
