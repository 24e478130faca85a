#include "engine/verifyphase.h"

#include "engine/job.h"
#include "engine/reasons.h"

#include <cerrno>

using NativeFs::Folder;
using NativeFs::Links;
using NativeFs::Path;
using NativeFs::ReadBack;

namespace {

// Steps of the read-back: long enough for the device to stream, short enough for a prompt pause
// or cancel.
constexpr qint64 VerifyStep = 512 * 1024;

} // namespace

void VerifyPhase::run(Job &job)
{
    if (!job.verifies() || job.verifyList.files() == 0 || job.cancelled())
        return;
    for (const VerifyList::Folder &folder : job.verifyList.folders()) {
        if (job.cancelled())
            break;
        verifyFolder(job, folder);
    }
}

Folder VerifyPhase::reach(const Job &job, const VerifyList::Folder &folder,
                          SystemError *error) const
{
    Folder reached = Folder::open(job.targetRoot, error);
    for (const Path &name : folder.names) {
        if (!reached.isOpen())
            break;
        reached = reached.openChild(name, Links::Stay, error);
    }
    if (reached.isOpen() && reached.id() != folder.id) {
        reached.close();
        *error = SystemError::posix(ENOENT);
    }
    return reached;
}

void VerifyPhase::verifyFolder(Job &job, const VerifyList::Folder &folder)
{
    SystemError error;
    const Folder reached = reach(job, folder, &error);
    for (const VerifyList::File &file : folder.files) {
        if (job.cancelled())
            return;
        job.waitWhilePaused();
        const Path name = job.verifyList.name(file);
        Job::ShownFile shown = job.showFile(name, quint64(file.size));
        const std::optional<QString> fault =
            reached.isOpen() ? readBack(job, shown, reached, name, file) : Reasons::system(error);
        if (job.cancelled())
            return;
        record().addFile();
        if (fault)
            job.addFailure(job.verifyList.record(folder, file), TargetWriteError, *fault);
        else
            record().addSucceeded();
    }
}

std::optional<QString> VerifyPhase::readBack(Job &job, Job::ShownFile &shown, const Folder &folder,
                                             const Path &name, const VerifyList::File &file)
{
    ReadBack reader(job.transfer);
    SystemError error;
    if (!reader.open(folder, name, &error))
        return Reasons::system(error);
    qint64 done = 0;
    for (;;) {
        qint64 advanced = 0;
        const ReadBack::Result result = reader.step(VerifyStep, &advanced, &error);
        done += advanced;
        record().addBytes(quint64(advanced));
        shown.setDone(quint64(done));
        if (result == ReadBack::Result::Failed)
            return Reasons::system(error);
        if (result == ReadBack::Result::End)
            break;
        job.waitWhilePaused();
        if (job.cancelled())
            return std::nullopt;
    }
    if (done != file.size || reader.digest() != file.digest)
        return Reasons::text(Reasons::Reason::DiffersOnDevice);
    return std::nullopt;
}
