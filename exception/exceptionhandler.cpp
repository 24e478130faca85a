#include "exception/exceptionhandler.h"

#if defined(__unix__) || defined(__APPLE__)
#define TRASKO_POSIX_SIGNALS 1
#include <atomic>
#include <csignal>
#include <cstring>
#include <execinfo.h>
#include <unistd.h>
#endif

namespace Quorvex {

#ifdef TRASKO_POSIX_SIGNALS

namespace {

struct FatalSignal
{
    int number;
    const char *name;
    const char *meaning;
};

// strsignal() may allocate; a crash report has to make do with fixed texts.
constexpr FatalSignal fatalSignals[] = {
    {SIGSEGV, "SIGSEGV", "segmentation fault"},
    {SIGBUS, "SIGBUS", "bus error"},
    {SIGFPE, "SIGFPE", "arithmetic exception"},
    {SIGILL, "SIGILL", "illegal instruction"},
    {SIGABRT, "SIGABRT", "aborted"},
    {SIGSYS, "SIGSYS", "bad system call"},
    {SIGTRAP, "SIGTRAP", "trace trap"},
};
constexpr int fatalSignalCount = sizeof(fatalSignals) / sizeof(fatalSignals[0]);

struct sigaction previousActions[fatalSignalCount];
std::atomic<bool> handlerActive{false};
std::atomic<bool> reporting{false};

// A stack overflow leaves no room on the faulting stack, so the report runs on its own.
constexpr size_t alternateStackSize = 64 * 1024;
alignas(16) char alternateStack[alternateStackSize];
stack_t previousAlternateStack;
bool alternateStackInstalled = false;

void writeText(const char *text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, left);
        if (written <= 0)
            return;
        text += written;
        left -= size_t(written);
    }
}

int indexOf(int signalNumber)
{
    for (int i = 0; i < fatalSignalCount; ++i) {
        if (fatalSignals[i].number == signalNumber)
            return i;
    }
    return -1;
}

void onFatalSignal(int signalNumber)
{
    const int index = indexOf(signalNumber);

    // Only the first crashing thread reports; the others go straight to the old disposition.
    if (!reporting.exchange(true)) {
        writeText("\nTrasko crashed: ");
        writeText(index >= 0 ? fatalSignals[index].name : "signal");
        writeText(" (");
        writeText(index >= 0 ? fatalSignals[index].meaning : "unknown");
        writeText(")\nBacktrace:\n");
        void *frames[64];
        const int depth = backtrace(frames, 64);
        backtrace_symbols_fd(frames, depth, STDERR_FILENO);
        writeText("End of crash report.\n");
    }

    // Hand the signal to whatever was in force before us. It is blocked while we run, so the
    // raise below is delivered on return; a hardware fault would simply recur on return.
    if (index >= 0)
        sigaction(signalNumber, &previousActions[index], nullptr);
    else
        signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

} // namespace

bool ExceptionHandler::initExceptionHandler()
{
    if (m_installed)
        return true;
    if (handlerActive.exchange(true))
        return false;

    // backtrace() loads its unwinder on first use, which allocates: do that now, not mid-crash.
    void *warmUp[1];
    backtrace(warmUp, 1);

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = alternateStackSize;
    stack.ss_flags = 0;
    alternateStackInstalled = sigaltstack(&stack, &previousAlternateStack) == 0;

    struct sigaction action
    {
    };
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK;
    for (int i = 0; i < fatalSignalCount; ++i)
        sigaction(fatalSignals[i].number, &action, &previousActions[i]);

    reporting = false;
    m_installed = true;
    return true;
}

ExceptionHandler::~ExceptionHandler()
{
    if (!m_installed)
        return;
    for (int i = 0; i < fatalSignalCount; ++i)
        sigaction(fatalSignals[i].number, &previousActions[i], nullptr);
    if (alternateStackInstalled) {
        sigaltstack(&previousAlternateStack, nullptr);
        alternateStackInstalled = false;
    }
    handlerActive = false;
}

#else

// No signal interface to hook into here: the handler stays a harmless no-op.
bool ExceptionHandler::initExceptionHandler()
{
    m_installed = true;
    return true;
}

ExceptionHandler::~ExceptionHandler() = default;

#endif

} // namespace Quorvex
