#pragma once

#include <QtGlobal>

// Why a call to the system failed, as the system said it, after Qt's QSystemError: on POSIX
// systems an errno value; on Windows an errno value where the engine tells causes apart (a name
// not found, a full disk, too many open files), and the system's own code otherwise, which keeps
// the system's own words.
struct SystemError
{
    enum class Domain : quint8
    {
        None,
        Posix,
        Windows
    };

    int code = 0;
    Domain domain = Domain::None;

    static SystemError posix(int code) { return {code, Domain::Posix}; }
    static SystemError windows(int code) { return {code, Domain::Windows}; }
    bool isSet() const { return domain != Domain::None; }
    // True when this is the errno value given.
    bool is(int errnoValue) const { return domain == Domain::Posix && code == errnoValue; }
    bool operator==(const SystemError &) const = default;
};
