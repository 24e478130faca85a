// The verify phase: every file the job put in place is read back from the device and its
// digest compared with that of what was read from its source.

#include "engine/verification.h"
#include "engine/reasons.h"

#include "engine/job_p.h"

using NativeFs::Folder;
using NativeFs::Links;
using NativeFs::Path;
using NativeFs::ReadBack;

namespace {

// Steps of the read-back: long enough for the device to stream, short enough for a prompt pause
// or cancel.
constexpr qint64 VerifyStep = 512 * 1024;

} // namespace

bool VerifyList::inFolder(const NativeFs::FolderId &id) const
{
    return !m_folders.empty() && m_folders.back().id == id;
}

void VerifyList::enter(const NativeFs::FolderId &id, std::vector<Path> names,
                       const Path &sourcePath)
{
    m_folders.push_back({std::move(names), id, sourcePath, {}});
}

void VerifyList::add(const Path &name, qint64 size, const Digest &digest, const Path *listed)
{
    File file{m_names.size(), name.size(), size, digest, -1, 0};
    m_names.append(name);
    if (listed) {
        file.listedOffset = m_names.size();
        file.listedLength = listed->size();
        m_names.append(*listed);
    }
    m_folders.back().files.push_back(file);
    ++m_files;
    m_bytes += quint64(size);
}

Path VerifyList::name(const File &file) const
{
    return m_names.mid(file.nameOffset, file.nameLength);
}

Path VerifyList::record(const Folder &folder, const File &file) const
{
    if (file.listedOffset >= 0)
        return m_names.mid(file.listedOffset, file.listedLength);
    return NativeFs::join(folder.sourcePath, name(file));
}

void Processor::Job::noteCopied(const Frame &frame, const Path &name, qint64 size,
                                const Digest &digest, const Path *listed)
{
    if (!verifyList.inFolder(frame.targetId))
        verifyList.enter(frame.targetId,
                         p.m_retryMode
                             ? std::vector<Path>(retryFolders.cbegin(), retryFolders.cend())
                             : stack.namesBelowRoot(),
                         p.m_retryMode ? Path() : stack.path());
    verifyList.add(name, size, digest, listed);
    p.m_filesToVerify.store(quint32(verifyList.files()));
    p.m_bytesToVerify.store(verifyList.bytes());
}

void Processor::Job::verify()
{
    if (p.m_verification != Verification::ReadBack || verifyList.files() == 0 || cancelled())
        return;
    p.m_verifying.store(true);
    for (const VerifyList::Folder &folder : verifyList.folders()) {
        if (cancelled())
            break;
        verifyFolder(folder);
    }
    p.m_verifying.store(false);
}

// Down from the target root by name, never through a link, to the very folder the copy went to.
Folder Processor::Job::reachForVerify(const VerifyList::Folder &folder, SystemError *error) const
{
    Folder reached = Folder::open(targetRoot, error);
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

void Processor::Job::verifyFolder(const VerifyList::Folder &folder)
{
    SystemError error;
    const Folder reached = reachForVerify(folder, &error);
    for (const VerifyList::File &file : folder.files) {
        if (cancelled())
            return;
        p.waitWhilePaused();
        const Path name = verifyList.name(file);
        p.setCurrentFile(name);
        p.m_currentFileSize.store(quint64(file.size));
        p.m_currentFileDone.store(0);
        const std::optional<QString> fault =
            reached.isOpen() ? readBack(reached, name, file) : Reasons::system(error);
        if (cancelled())
            return;
        if (fault)
            addFailure(verifyList.record(folder, file), TargetWriteError, *fault);
        else
            p.m_filesVerified.fetch_add(1);
    }
}

// Nothing when the copy on the device holds what was read from the source; otherwise why not.
std::optional<QString> Processor::Job::readBack(const Folder &folder, const Path &name,
                                                const VerifyList::File &file)
{
    ReadBack reader(transfer);
    SystemError error;
    if (!reader.open(folder, name, &error))
        return Reasons::system(error);
    qint64 done = 0;
    for (;;) {
        qint64 advanced = 0;
        const ReadBack::Result result = reader.step(VerifyStep, &advanced, &error);
        done += advanced;
        p.m_bytesVerified.fetch_add(quint64(advanced));
        p.m_currentFileDone.store(quint64(done));
        if (result == ReadBack::Result::Failed)
            return Reasons::system(error);
        if (result == ReadBack::Result::End)
            break;
        p.waitWhilePaused();
        if (cancelled())
            return std::nullopt;
    }
    if (done != file.size || reader.digest() != file.digest)
        return Reasons::text(Reasons::Reason::DiffersOnDevice);
    return std::nullopt;
}
