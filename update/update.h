#pragma once

// The automatic update check that start-up triggers. This build has no update service:
// autoCheck() contacts no network, starts nothing and changes nothing.
class Update
{
public:
    // The process-wide updater; never null, owned by the library, valid until exit.
    static Update *getUpdater();

    // Returns at once. False: no check was made.
    bool autoCheck();

private:
    Update() = default;
};
