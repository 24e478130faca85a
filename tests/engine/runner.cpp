// Runs one copy job in a process of its own, so that a test can run it with fewer privileges,
// under a file-size limit or with faults injected into the C library, none of which it may do
// to itself. Usage:
//   engine_runner [--mode N] [--no-subfolders] [--hidden] [--file-size-limit BYTES]
//                 [--retry PATH]... SOURCE TARGET
// Prints the job's counters and one "failure CODE PATH" line per record.

#include "engine/processor.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

int main(int argc, char **argv)
{
    int mode = OverwriteAll;
    bool subFolders = true;
    bool hidden = false;
    QStringList retry;
    QStringList roots;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(arg, "--mode") && hasValue) {
            mode = std::atoi(argv[++i]);
        } else if (!std::strcmp(arg, "--no-subfolders")) {
            subFolders = false;
        } else if (!std::strcmp(arg, "--hidden")) {
            hidden = true;
        } else if (!std::strcmp(arg, "--retry") && hasValue) {
            retry.append(QString::fromLocal8Bit(argv[++i]));
        } else if (!std::strcmp(arg, "--file-size-limit") && hasValue) {
            // A write past the limit then fails with EFBIG instead of killing the process.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlim_t limit = std::strtoull(argv[++i], nullptr, 10);
            const rlimit value{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &value) != 0) {
                std::perror("setrlimit");
                return 2;
            }
        } else {
            roots.append(QString::fromLocal8Bit(arg));
        }
    }
    if (roots.size() != 2) {
        std::fprintf(stderr, "usage: %s [options] SOURCE TARGET\n", argv[0]);
        return 2;
    }

    Processor processor(roots.at(0), roots.at(1), OverwriteMode(mode), subFolders, hidden);
    if (!retry.isEmpty())
        processor.setRetryFiles(retry);
    processor.start();
    processor.wait();

    std::printf("filesTotal=%u\nfilesDone=%u\nbytesTotal=%llu\nbytesDone=%llu\n",
                processor.filesTotal(), processor.filesDone(),
                static_cast<unsigned long long>(processor.bytesTotal()),
                static_cast<unsigned long long>(processor.bytesDone()));
    for (const CopyError &error : processor.failures())
        std::printf("failure %d %s\n", int(error.code()), error.file().toLocal8Bit().constData());
    return 0;
}
