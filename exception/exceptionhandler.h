#pragma once

namespace Quorvex {

// Reports a crash before the process dies. While initialised, the fatal signals (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS, SIGTRAP) write one short report with the signal
// name and a backtrace to standard error; then the handler that was in force before takes
// over and the process dies the way it would have without us.
//
// One handler is active at a time; initialising a second one while the first is alive fails.
class ExceptionHandler
{
public:
    ExceptionHandler() = default;
    // Puts back the dispositions that were in force before initExceptionHandler().
    ~ExceptionHandler();

    ExceptionHandler(const ExceptionHandler &) = delete;
    ExceptionHandler &operator=(const ExceptionHandler &) = delete;

    // Installs the handlers; true when they are in place. Calling it again does nothing.
    bool initExceptionHandler();

private:
    bool m_installed = false;
};

} // namespace Quorvex
