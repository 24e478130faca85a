#pragma once

#include "engine/nativefs.h"
#include "engine/overwritemode.h"

#include <QString>

#include <mutex>
#include <unordered_set>

// The rules one file is copied by: which existing destination a job may replace, and which names
// fold into one on a destination that ignores letter case.
namespace CopyRules {

// Modification times are compared in whole steps of this many nanoseconds: a millisecond, since
// many programs and file systems keep no finer, or what the destination keeps, if coarser.
inline constexpr qint64 Millisecond = 1000000;
// ns cut down to a whole number of steps.
qint64 floorTo(qint64 ns, qint64 step);

// Whether the overwrite policy lets source replace target, which exists. "Older" compares the
// times in whole steps of timeStep nanoseconds.
bool shouldCopy(OverwriteMode mode, const NativeFs::Status &source, const NativeFs::Status &target,
                qint64 timeStep = Millisecond);

} // namespace CopyRules

// Names the job wrote or entered in one destination folder, kept only where that folder turns
// out to ignore letter case: two source names that fold into one must not meet in one file.
// Several files of one folder may be copied at once: each call is whole.
class WrittenNames
{
public:
    void note(const NativeFs::Folder &folder, const NativeFs::Path &name);
    // True when name, which is found in the folder, is one of the job's own under another case.
    bool collides(const NativeFs::Path &name) const;

private:
    static size_t fold(const NativeFs::Path &name);
    enum class Mode
    {
        Unknown,
        CaseSensitive,
        CaseBlind
    };
    Mode m_mode = Mode::Unknown;
    std::unordered_set<size_t> m_folded;
    mutable std::mutex m_lock;
};
