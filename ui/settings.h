#pragma once

#include "engine/copyoptions.h"

// The choices the window remembers between runs, in the toolkit's settings store (the registry
// on Windows). Every read or write opens the store afresh, so nothing stale is held. The overwrite
// rule is chosen anew each time and is not remembered.
struct RememberedChoices
{
    bool subFolders = true;
    bool hidden = false;
    bool verify = false;
    bool keepDates = false;

    static RememberedChoices load();
    void save() const;
    // A job's options: these choices with the overwrite rule of the moment.
    CopyOptions options(OverwriteMode overwrite) const;

    // Whether the information panel is open during a job; kept apart, as the panel's button
    // changes it whenever it is clicked.
    static bool showInfo();
    static void setShowInfo(bool shown);
};
