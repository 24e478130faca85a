#pragma once

// Which existing destination files a job may replace. Stored and passed as int, so the type is
// fixed to int: any int is then a valid value, and one outside the four behaves as OverwriteAll.
enum OverwriteMode : int
{
    OverwriteAll = 0,
    OverwriteNone = 1,
    OverwriteOlder = 2,
    OverwriteSmaller = 3
};
