#pragma once

class MainWindow;

// The milestones of start-up and teardown, in the order they happen.
enum class StartupStep
{
    ApplicationCreated,
    IdentitySet,
    CrashHandlerReady,
    UpdateChecked,
    WindowBuilt,
    WindowShown,
    EventLoopEnded,
    WindowDestroyed,
    CrashHandlerDestroyed,
};

// Lets a caller watch start-up without the program depending on it. The window pointer is
// set from WindowBuilt to EventLoopEnded and null otherwise.
class StartupObserver
{
public:
    virtual ~StartupObserver() = default;
    virtual void stepReached(StartupStep step, MainWindow *window) = 0;
};

// The whole life of the program: application object, identity, crash handler, update check,
// the main window and the event loop, then teardown in reverse. argc and argv go to the
// toolkit unchanged; the program's own options (ui/commandline.h) are read from what it leaves.
// Returns the event loop's result.
int runApplication(int &argc, char **argv, StartupObserver *observer = nullptr);
