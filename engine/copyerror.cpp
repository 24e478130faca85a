#include "engine/copyerror.h"

CopyError::CopyError(const QString &file, CopyErrorCode code, const QString &reason,
                     const QByteArray &nativeFile)
    : m_file(file), m_code(code), m_reason(reason), m_nativeFile(nativeFile)
{
}

QString CopyError::message() const
{
    return message(m_code);
}

QString CopyError::message(int code)
{
    switch (code) {
    case SourceOpenError:
        return QStringLiteral("Source file could not be opened");
    case TargetOpenError:
        return QStringLiteral("Target file could not be opened");
    case SourceReadError:
        return QStringLiteral("Source file could not be read");
    case TargetWriteError:
        return QStringLiteral("Target file could not be written");
    case TargetRemoveError:
        return QStringLiteral("Target file could not be removed");
    case TargetReplaceError:
        return QStringLiteral("Target file could not be replaced");
    default:
        return QStringLiteral("Unknown error");
    }
}
