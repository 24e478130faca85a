#pragma once

// What the files of the Windows room share: names in the system's long form, its errors as the
// engine's, and an open folder. Not for use outside nativefs_win*.

#include "engine/nativefs.h"

#include <QString>

#include <qt_windows.h>

namespace NativeFs {

constexpr qint64 GatherBytes = 256 * 1024;
constexpr qint64 WriteAlignment = 64 * 1024;

// The long-path form, in which no length is too long and no name is reinterpreted.
QString wide(const Path &path);
const wchar_t *chars(const QString &text);
// The engine speaks errno for the errors it tells apart; any other keeps the system's own code,
// so that errorText() gives the system's own words for it.
SystemError errorOf(DWORD code);
SystemError lastError();
// The name of the file system holding handle ("NTFS", "FAT32", "ReFS"), or empty where the
// system will not say.
QString fileSystemOf(HANDLE handle);

struct Folder::Native
{
    Native(HANDLE folder, Path at) : handle(folder), path(std::move(at)) {}
    ~Native() { ::CloseHandle(handle); }
    Native(const Native &) = delete;
    Native &operator=(const Native &) = delete;
    static HANDLE of(const Folder &folder)
    {
        return folder.m_native ? folder.m_native->handle : INVALID_HANDLE_VALUE;
    }
    static Path pathOf(const Folder &folder)
    {
        return folder.m_native ? folder.m_native->path : Path();
    }
    // Takes the handle, opened on path, if it is a folder to enter.
    static Folder adopt(HANDLE handle, const Path &path, Links links, SystemError *error);

    const HANDLE handle;
    // The system has no calls relative to a handle: children are reached by this path, the one
    // the system resolved the folder to, in which no link can later lead elsewhere.
    const Path path;
};

} // namespace NativeFs
