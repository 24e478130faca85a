#pragma once

#include <QList>
#include <QString>

// Why one file could not be copied. The values are stored as plain ints; keep them stable.
enum CopyErrorCode : int
{
    SourceOpenError = 0,
    TargetOpenError = 1,
    SourceReadError = 2,
    TargetWriteError = 3,
    TargetRemoveError = 4,
    TargetReplaceError = 5
};

// One failed file: the source path as the job formed it, and the reason.
class CopyError
{
public:
    CopyError() = default;
    CopyError(const QString &file, CopyErrorCode code);

    QString file() const { return m_file; }
    CopyErrorCode code() const { return m_code; }
    // Fixed English text; "Unknown error" for any value outside the six codes.
    QString message() const;

    static QString message(int code);

private:
    QString m_file;
    CopyErrorCode m_code = SourceOpenError;
};

using CopyErrorList = QList<CopyError>;
