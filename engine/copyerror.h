#pragma once

#include <QByteArray>
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
    CopyError(const QString &file, CopyErrorCode code, const QString &reason = {},
              const QByteArray &nativeFile = {});

    QString file() const { return m_file; }
    CopyErrorCode code() const { return m_code; }
    // The code's text, translated where a translation is installed; "Unknown error" for any
    // value outside the six codes.
    QString message() const;
    // The operating system's own words for the cause ("Permission denied"); empty when the
    // system reported none.
    QString reason() const { return m_reason; }
    // The path as the file system spells it, so that a retry reaches the same file even when
    // its name is not valid text. Empty when file() is already exact.
    QByteArray nativeFile() const { return m_nativeFile; }

    static QString message(int code);

private:
    QString m_file;
    CopyErrorCode m_code = SourceOpenError;
    QString m_reason;
    QByteArray m_nativeFile;
};

using CopyErrorList = QList<CopyError>;
