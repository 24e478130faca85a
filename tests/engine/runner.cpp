// Runs one copy job in a process of its own, so that a test can run it with fewer privileges,
// under resource limits, under strace or with faults injected into the C library, none of which
// it may do to itself. Usage:
//   engine_runner [--mode N] [--no-subfolders] [--hidden] [--verify] [--keep-dates]
//   [--retry PATH]... SOURCE TARGET
// Prints the job's counters and per record a "failure CODE PATH" line and a "reason TEXT" line,
// in the platform's native form of names (UTF-8 on Windows).

#include "engine/nativefs.h"
#include "engine/processor.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    int mode = OverwriteAll;
    bool subFolders = true;
    bool hidden = false;
    bool verify = false;
    bool keepDates = false;
    QStringList retry;
    QStringList roots;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(arg, "--mode") && hasValue)
            mode = std::atoi(argv[++i]);
        else if (!std::strcmp(arg, "--no-subfolders"))
            subFolders = false;
        else if (!std::strcmp(arg, "--hidden"))
            hidden = true;
        else if (!std::strcmp(arg, "--verify"))
            verify = true;
        else if (!std::strcmp(arg, "--keep-dates"))
            keepDates = true;
        else if (!std::strcmp(arg, "--retry") && hasValue)
            retry.append(QFile::decodeName(argv[++i]));
        else
            roots.append(QFile::decodeName(arg));
    }
    if (roots.size() != 2) {
        std::fprintf(stderr, "usage: %s [options] SOURCE TARGET\n", argv[0]);
        return 2;
    }

    Processor processor(roots.at(0), roots.at(1), OverwriteMode(mode), subFolders, hidden);
    if (!retry.isEmpty())
        processor.setRetryFiles(retry);
    if (verify)
        processor.setVerification(Processor::Verification::ReadBack);
    if (keepDates)
        processor.setDates(Processor::Dates::Keep);
    processor.start();
    // Short of room, it copies anyway, as a job always did, and says so.
    while (!processor.wait(QDeadlineTimer(50))) {
        if (const auto room = processor.roomShort()) {
            std::printf("room needed=%llu free=%llu\n",
                        static_cast<unsigned long long>(room->needed),
                        static_cast<unsigned long long>(room->free));
            processor.copyAnyway();
        }
    }

    std::printf("filesTotal=%u\nfilesDone=%u\nbytesTotal=%llu\nbytesDone=%llu\nfilesVerified=%u\n",
                processor.filesTotal(), processor.filesDone(),
                static_cast<unsigned long long>(processor.bytesTotal()),
                static_cast<unsigned long long>(processor.bytesDone()),
                quint32(processor.progress(PhaseKind::Verify).filesSucceeded));
    for (const CopyError &error : processor.failures())
        std::printf("failure %d %s\nreason %s\n", int(error.code()),
                    NativeFs::toNative(error.file()).constData(),
                    error.reason().toUtf8().constData());
    return 0;
}
