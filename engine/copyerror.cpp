#include "engine/copyerror.h"

#include "engine/reasons.h"

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
    return Reasons::message(code);
}
