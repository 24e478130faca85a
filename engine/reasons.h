#pragma once

#include "engine/nativefs.h"

#include <QString>

// Every reason the program gives in its own words, for a file it did not copy or a copy it
// could not vouch for, in one place: each is written once, in the "Reasons" translation context.
// The system's own words come from the system, in its language.
namespace Reasons {

enum class Reason
{
    DestinationInSource,
    SourceCutShort,
    SourceChanged,
    OutsideSource,
    HoldsSource,
    MountHoldsSource,
    HoldsDestination,
    IntoDestination,
    DiffersOnDevice,
    TooLargeForFat32,
};

QString text(Reason reason);
// The system's words for an error; empty for none.
QString system(const SystemError &error);
// Why an entry that is neither a folder nor a plain file is not in the copy.
QString notCopied(NativeFs::EntryKind kind, const SystemError &error);
// The message of a failure record's code; "Unknown error" for any value outside the six.
QString message(int code);

} // namespace Reasons
