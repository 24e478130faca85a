#pragma once

// Which existing destination files a job may replace. Stored and passed as int;
// any value outside the four behaves as OverwriteAll.
enum OverwriteMode
{
    OverwriteAll = 0,
    OverwriteNone = 1,
    OverwriteOlder = 2,
    OverwriteSmaller = 3
};
