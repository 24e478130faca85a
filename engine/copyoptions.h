#pragma once

#include "engine/overwritemode.h"

// What one job copies and how, filled once by the job's constructor and setters and read by its
// phases: the overwrite rule, what the walk takes in, and what this program adds to a copy.
struct CopyOptions
{
    enum class Verification
    {
        Off,
        // After the write-out, every file the job put in place is read back from the device,
        // not from memory, and compared with what was read from its source.
        ReadBack
    };
    enum class Dates
    {
        // Copies get the time they are written, so that "older files" then means "changed
        // since the last copy".
        New,
        // Each file's copy keeps its source's modification time, each folder's too.
        Keep
    };

    OverwriteMode overwrite = OverwriteAll;
    bool includeSubFolders = true;
    bool includeHidden = false;
    Verification verification = Verification::Off;
    Dates dates = Dates::New;
};
