// Crashes on purpose in the way the first argument names, with the crash handler installed.

#include "exception/exceptionhandler.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

extern "C" {

// Kept out of line and exported so that the report's backtrace can name them.
// The pointer is volatile itself, so the compiler cannot see that it is null and turn the
// store into something else.
int *volatile nowhere = nullptr;

__attribute__((noinline)) void crashByNullPointer()
{
    *nowhere = 1;
}

volatile int zero = 0;
volatile int one = 1;

// What abort() does, but from a call that returns, so that this frame shows in the backtrace.
__attribute__((noinline)) void crashByAbort()
{
    std::raise(SIGABRT);
    zero = 1;
}

__attribute__((noinline)) int crashByDivision()
{
    // Both operands from memory: a constant numerator lets the compiler avoid the division.
    return one / zero;
}

__attribute__((noinline)) int crashByRecursion(int depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    // The bound is far beyond any stack; it only keeps the compiler from calling this endless.
    if (depth > 1000000000)
        return frame[0];
    return crashByRecursion(depth + 1) + frame[0];
}

void previousHandler(int)
{
    const char text[] = "previous handler ran\n";
    (void)::write(STDERR_FILENO, text, sizeof text - 1);
    _exit(42);
}
}

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    // No core files in the test's folder.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    const char *mode = argv[1];
    if (std::strcmp(mode, "chain") == 0)
        std::signal(SIGSEGV, previousHandler);

    Quorvex::ExceptionHandler handler;
    if (!handler.initExceptionHandler())
        return 3;

    if (std::strcmp(mode, "segv") == 0 || std::strcmp(mode, "chain") == 0)
        crashByNullPointer();
    else if (std::strcmp(mode, "abort") == 0)
        crashByAbort();
    else if (std::strcmp(mode, "fpe") == 0)
        return crashByDivision();
    else if (std::strcmp(mode, "overflow") == 0)
        return crashByRecursion(0);
    return 4;
}
