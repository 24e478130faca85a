#pragma once

#include "engine/nativefs.h"
#include "engine/overwritemode.h"

#include <QString>

#include <unordered_set>

// The rules one file is copied by: which existing destination a job may replace, and why an
// entry is not copied, in the job's own words.
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

// The system's words for an error; empty for none.
QString systemReason(int error);
// Why an entry that is neither a folder nor a plain file is not in the copy.
QString notCopiedReason(NativeFs::EntryKind kind, int error);

inline constexpr char DestinationInSource[] = "The destination folder is a folder being copied";
inline constexpr char SourceCutShort[] = "The file became shorter while it was copied";
inline constexpr char SourceChanged[] = "The file changed while it was copied";
inline constexpr char OutsideSource[] = "The file does not lie in the source folder";
inline constexpr char HoldsSource[] = "Link to a folder that holds the source: not followed";
inline constexpr char MountHoldsSource[] =
    "A folder that holds the source, mounted inside it: not copied";
inline constexpr char HoldsDestination[] =
    "Link to a folder that holds the destination: not followed";
inline constexpr char IntoDestination[] = "Link into the destination: not followed";
inline constexpr char DiffersOnDevice[] = "The copy on the device differs from the source";

} // namespace CopyRules

// Names the job wrote or entered in one destination folder, kept only where that folder turns
// out to ignore letter case: two source names that fold into one must not meet in one file.
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
};
