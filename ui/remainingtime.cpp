#include "ui/remainingtime.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::optional<quint32> RemainingTime::update(const Sample &sample)
{
    // A file that grew after it was counted takes the done count past the total.
    const double bytesLeft =
        double(sample.bytesTotal - std::min(sample.bytesDone, sample.bytesTotal));
    const double filesLeft =
        double(sample.filesTotal - std::min(sample.filesDone, sample.filesTotal));
    if (bytesLeft == 0 && filesLeft == 0) {
        if (sample.filesTotal == 0 && sample.bytesTotal == 0)
            return std::nullopt; // nothing to do, or still counting
        return 0;
    }
    if (sample.elapsedMs <= 0 || (sample.bytesDone == 0 && sample.filesDone == 0))
        return std::nullopt;

    const double bytes = double(sample.bytesDone);
    const double files = double(sample.filesDone);
    const double time = double(sample.elapsedMs);
    m_bytesBytes += bytes * bytes;
    m_filesFiles += files * files;
    m_bytesFiles += bytes * files;
    m_bytesTime += bytes * time;
    m_filesTime += files * time;

    // Each cost alone, for when the samples cannot tell the two apart.
    const double byteOnly = m_bytesBytes > 0 ? m_bytesTime / m_bytesBytes : 0;
    const double fileOnly = m_filesFiles > 0 ? m_filesTime / m_filesFiles : 0;
    const double determinant = m_bytesBytes * m_filesFiles - m_bytesFiles * m_bytesFiles;
    double ms = 0;
    if (determinant <= 1e-9 * m_bytesBytes * m_filesFiles) {
        // Bytes and files grew in step (or one did not grow at all): either cost explains the
        // job so far, and the larger of their estimates is the one that does not promise too much.
        ms = std::max(byteOnly * bytesLeft, fileOnly * filesLeft);
    } else {
        double perByte = (m_bytesTime * m_filesFiles - m_filesTime * m_bytesFiles) / determinant;
        double perFile = (m_filesTime * m_bytesBytes - m_bytesTime * m_bytesFiles) / determinant;
        // A cost cannot be negative: the best fit then lies with the other cost alone.
        if (perByte < 0) {
            perByte = 0;
            perFile = fileOnly;
        } else if (perFile < 0) {
            perFile = 0;
            perByte = byteOnly;
        }
        ms = perByte * bytesLeft + perFile * filesLeft;
    }
    const double seconds = std::max(1.0, std::ceil(ms / 1000));
    if (!std::isfinite(seconds) || seconds > double(std::numeric_limits<quint32>::max()))
        return std::nullopt;
    return quint32(seconds);
}
