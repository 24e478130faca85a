// One file's transfer on Windows, through a named temporary file, and a copy read back from the
// device without the system's cache.

#include "engine/nativefs_win_p.h"

#include <cstring>
#include <utility>
#include <vector>

namespace NativeFs {

namespace {

// ReFS shares blocks between files through this control code, which the compiler's headers
// may not know.
constexpr DWORD DuplicateExtents = 0x00098344; // FSCTL_DUPLICATE_EXTENTS_TO_FILE
struct DuplicateExtentsData
{
    HANDLE file;
    LARGE_INTEGER sourceOffset;
    LARGE_INTEGER targetOffset;
    LARGE_INTEGER byteCount;
};
// A clone is made in ranges of this much, so that a pause or cancel answers promptly.
constexpr qint64 CloneStep = 64 * 1024 * 1024;

} // namespace

struct TransferContext::State
{
    QByteArray buffer = QByteArray(GatherBytes + 65536, Qt::Uninitialized);
    // Of the file in hand, with digests on.
    std::unique_ptr<Digester> digester;
    bool keepDates = false;
    // The unit a clone is made in on each volume met, 0 where it makes none: asked once, since
    // on a share each question is a trip to the server.
    std::vector<std::pair<DWORD, qint64>> cloneUnits;
    qint64 cloneUnit(DWORD volume, HANDLE onVolume);
};

qint64 TransferContext::State::cloneUnit(DWORD volume, HANDLE onVolume)
{
    for (const auto &[known, unit] : cloneUnits) {
        if (known == volume)
            return unit;
    }
    FILE_STORAGE_INFO storage = {};
    qint64 unit = 0;
    if (fileSystemOf(onVolume) == QLatin1String("ReFS") &&
        ::GetFileInformationByHandleEx(onVolume, FileStorageInfo, &storage, sizeof storage))
        unit = qMax<qint64>(storage.PhysicalBytesPerSectorForPerformance, 4096);
    cloneUnits.emplace_back(volume, unit);
    return unit;
}

TransferContext::TransferContext(Digests digests, Dates dates)
    : m_state(std::make_unique<State>()), m_digests(digests), m_dates(dates)
{
    m_state->keepDates = dates == Dates::Keep;
    if (digests == Digests::On)
        m_state->digester = std::make_unique<Digester>();
}

TransferContext::~TransferContext() = default;

struct Transfer::Files
{
    enum class Drain
    {
        // Only whole aligned pieces; the rest waits for more.
        Aligned,
        All
    };
    bool drain(char *buffer, Drain how, SystemError *error);
    // Readies the copy to share the source's blocks, where both lie on one ReFS volume.
    void beginClone(TransferContext::State &context, const Folder &target, qint64 size);
    enum class Cloned
    {
        Range,
        // Not on this volume after all: the copy goes the ordinary way, from its start.
        Never,
        Failed
    };
    Cloned cloneStep(qint64 size, qint64 *advanced, SystemError *error);

    HANDLE source = INVALID_HANDLE_VALUE;
    HANDLE temporary = INVALID_HANDLE_VALUE;
    Path targetFolder;
    QString temporaryPath;
    qint64 held = 0;
    bool named = false;
    // Sharing the source's blocks on ReFS, a range at a time, up to here; 0 for no clone.
    qint64 clusterBytes = 0;
    qint64 clonedTo = 0;
    // The source as it was opened: a copy is whole only if it still is so at the end.
    BY_HANDLE_FILE_INFORMATION opened = {};
};

bool Transfer::Files::drain(char *buffer, Drain how, SystemError *error)
{
    const qint64 amount = how == Drain::All ? held : held / WriteAlignment * WriteAlignment;
    qint64 written = 0;
    while (written < amount) {
        DWORD n = 0;
        if (!::WriteFile(temporary, buffer + written, DWORD(amount - written), &n, nullptr) ||
            n == 0) {
            *error = lastError();
            return false;
        }
        written += n;
    }
    held -= written;
    if (held > 0)
        std::memmove(buffer, buffer + written, size_t(held));
    return true;
}

void Transfer::Files::beginClone(TransferContext::State &context, const Folder &target, qint64 size)
{
    const qint64 unit = size > 0 && target.id().device == opened.dwVolumeSerialNumber
                            ? context.cloneUnit(opened.dwVolumeSerialNumber, source)
                            : 0;
    if (unit == 0)
        return;
    // The copy is sized first; a sparse source wants a sparse copy.
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    DWORD returned = 0;
    if ((opened.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) &&
        !::DeviceIoControl(temporary, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr))
        return;
    if (::SetFileInformationByHandle(temporary, FileEndOfFileInfo, &end, sizeof end))
        clusterBytes = unit;
}

Transfer::Files::Cloned Transfer::Files::cloneStep(qint64 size, qint64 *advanced,
                                                   SystemError *error)
{
    const qint64 length = qMin(CloneStep, size - clonedTo);
    DuplicateExtentsData range{};
    range.file = source;
    range.sourceOffset.QuadPart = clonedTo;
    range.targetOffset.QuadPart = clonedTo;
    // Whole clusters, the last one past the end of the file too.
    range.byteCount.QuadPart = (length + clusterBytes - 1) / clusterBytes * clusterBytes;
    DWORD returned = 0;
    if (!::DeviceIoControl(temporary, DuplicateExtents, &range, sizeof range, nullptr, 0, &returned,
                           nullptr)) {
        *error = lastError();
        clusterBytes = 0;
        FILE_END_OF_FILE_INFO empty{};
        return clonedTo == 0 && ::SetFileInformationByHandle(temporary, FileEndOfFileInfo, &empty,
                                                             sizeof empty)
                   ? Cloned::Never
                   : Cloned::Failed;
    }
    clonedTo += length;
    *advanced = length;
    return Cloned::Range;
}

Transfer::Transfer(TransferContext &context)
    : m_context(context), m_files(std::make_unique<Files>())
{
}

Transfer::~Transfer()
{
    Files &f = *m_files;
    if (f.source != INVALID_HANDLE_VALUE)
        ::CloseHandle(f.source);
    if (f.temporary != INVALID_HANDLE_VALUE)
        ::CloseHandle(f.temporary);
    if (f.named)
        ::DeleteFileW(chars(f.temporaryPath));
}

Transfer::Result Transfer::open(const Folder &source, const Path &sourceName, const Folder &target,
                                const Path &temporaryName, SystemError *error)
{
    Files &f = *m_files;
    f.source = ::CreateFileW(chars(wide(join(Folder::Native::pathOf(source), sourceName))),
                             GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f.source == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(f.source, &f.opened)) {
        *error = lastError();
        return Result::SourceOpenFailed;
    }
    if (f.opened.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        m_sourceKind = EntryKind::Folder;
        *error = SystemError::posix(EISDIR);
        return Result::SourceOpenFailed;
    }
    m_size = (qint64(f.opened.nFileSizeHigh) << 32) | f.opened.nFileSizeLow;
    if (m_context.m_state->digester)
        m_context.m_state->digester->reset();
    f.targetFolder = Folder::Native::pathOf(target);
    f.temporaryPath = wide(join(f.targetFolder, temporaryName));
    // CREATE_NEW: whatever already bears the name is refused, never opened.
    f.temporary = ::CreateFileW(chars(f.temporaryPath), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f.temporary == INVALID_HANDLE_VALUE) {
        *error = lastError();
        return Result::TargetOpenFailed;
    }
    f.named = true;
    // A clone shows the job no byte: where digests are taken, the bytes are read.
    if (!m_context.m_state->digester)
        f.beginClone(*m_context.m_state, target, m_size);
    return Result::Ok;
}

Transfer::Result Transfer::step(qint64 maxBytes, qint64 *advanced, SystemError *error)
{
    Files &f = *m_files;
    char *buffer = m_context.m_state->buffer.data();
    *advanced = 0;
    if (f.clusterBytes > 0) {
        const Files::Cloned cloned = f.cloneStep(m_size, advanced, error);
        if (cloned != Files::Cloned::Never)
            return cloned == Files::Cloned::Range ? Result::Ok : Result::WriteFailed;
    }
    DWORD got = 0;
    if (!::ReadFile(f.source, buffer + f.held, DWORD(maxBytes), &got, nullptr)) {
        *error = lastError();
        return Result::ReadFailed;
    }
    if (got == 0)
        return Result::SourceEnded;
    if (m_context.m_state->digester)
        m_context.m_state->digester->add(buffer + f.held, got);
    f.held += got;
    *advanced = got;
    if (f.held >= GatherBytes && !f.drain(buffer, Files::Drain::Aligned, error))
        return Result::WriteFailed;
    return Result::Ok;
}

Transfer::Result Transfer::finish(SystemError *error)
{
    Files &f = *m_files;
    BY_HANDLE_FILE_INFORMATION now;
    if (!::GetFileInformationByHandle(f.source, &now)) {
        *error = lastError();
        return Result::ReadFailed;
    }
    if (now.nFileSizeHigh != f.opened.nFileSizeHigh || now.nFileSizeLow != f.opened.nFileSizeLow ||
        ::CompareFileTime(&now.ftLastWriteTime, &f.opened.ftLastWriteTime) != 0)
        return Result::SourceChanged;
    if (!f.drain(m_context.m_state->buffer.data(), Files::Drain::All, error))
        return Result::WriteFailed;
    ::CloseHandle(f.source);
    f.source = INVALID_HANDLE_VALUE;
    // A removable disk must hold the data before the name says the file is complete. The date,
    // once set through the handle, is not moved by the system again.
    const bool flushed = ::FlushFileBuffers(f.temporary) &&
                         (!m_context.m_state->keepDates ||
                          ::SetFileTime(f.temporary, nullptr, nullptr, &f.opened.ftLastWriteTime));
    if (!flushed)
        *error = lastError();
    ::CloseHandle(f.temporary);
    f.temporary = INVALID_HANDLE_VALUE;
    return flushed ? Result::Ok : Result::WriteFailed;
}

Transfer::Placed Transfer::place(const Path &name, Existing existing, SystemError *error)
{
    Files &f = *m_files;
    const bool replace = existing == Existing::Replace;
    const QString target = wide(join(f.targetFolder, name));
    if (::MoveFileExW(chars(f.temporaryPath), chars(target),
                      replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
        f.named = false;
        return Placed::Done;
    }
    *error = lastError();
    return !replace && error->is(EEXIST) ? Placed::NameTaken : Placed::Failed;
}

Digest Transfer::digest() const
{
    const TransferContext::State &context = *m_context.m_state;
    return context.digester ? context.digester->result() : Digest();
}

// --- ReadBack ---------------------------------------------------------------------------------

namespace {

// Unbuffered reads go to the device; they must be whole sectors into memory aligned to them,
// which a page-aligned buffer of whole pages is.
constexpr DWORD ReadBackBytes = 1 << 20;

} // namespace

struct ReadBack::File
{
    ~File()
    {
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        if (buffer)
            ::VirtualFree(buffer, 0, MEM_RELEASE);
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    char *buffer = nullptr;
};

ReadBack::ReadBack(TransferContext &context) : m_context(context), m_file(std::make_unique<File>())
{
}

ReadBack::~ReadBack() = default;

bool ReadBack::open(const Folder &folder, const Path &name, SystemError *error)
{
    File &f = *m_file;
    // Without the system's cache, so that every read reaches the device; never through a link.
    f.handle = ::CreateFileW(
        chars(wide(join(Folder::Native::pathOf(folder), name))), GENERIC_READ, FILE_SHARE_READ,
        nullptr, OPEN_EXISTING,
        FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (f.handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(f.handle, &info)) {
        *error = lastError();
        return false;
    }
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        *error = SystemError::posix(EISDIR);
        return false;
    }
    m_size = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    f.buffer = static_cast<char *>(
        ::VirtualAlloc(nullptr, ReadBackBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!f.buffer) {
        *error = lastError();
        return false;
    }
    if (!m_context.m_state->digester)
        m_context.m_state->digester = std::make_unique<Digester>();
    m_context.m_state->digester->reset();
    return true;
}

ReadBack::Result ReadBack::step(qint64, qint64 *advanced, SystemError *error)
{
    File &f = *m_file;
    DWORD got = 0;
    *advanced = 0;
    if (!::ReadFile(f.handle, f.buffer, ReadBackBytes, &got, nullptr)) {
        *error = lastError();
        return Result::Failed;
    }
    if (got == 0)
        return Result::End;
    m_context.m_state->digester->add(f.buffer, got);
    *advanced = got;
    return Result::Ok;
}

Digest ReadBack::digest() const
{
    return m_context.m_state->digester->result();
}

} // namespace NativeFs
