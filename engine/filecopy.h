#pragma once

#include "engine/job.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One file for the copy, with what it needs of its folders, so that it can be copied while the
// walk goes on: then it holds folders of its own, the very folders the walk had open.
struct FileTask
{
    using Path = NativeFs::Path;

    // The walk's own folders, or, apart from the walk, those held for the folder's files.
    const NativeFs::Folder *source = nullptr;
    const NativeFs::Folder *target = nullptr;
    const NativeFs::Folder &sourceFolder() const { return source ? *source : shared->heldSource; }
    const NativeFs::Folder &targetFolder() const { return target ? *target : shared->heldTarget; }
    bool targetNew = false;
    std::shared_ptr<FolderShared> shared;
    Path name;
    // The path a retry was given, which the file's records name; otherwise the walk's path of
    // its folder does.
    std::optional<Path> listed;
    Path sourcePath;
    // The path the file's records name.
    Path recordPath() const { return listed ? *listed : NativeFs::join(sourcePath, name); }
    // Out of descriptors: the walk's folders give theirs back, once; where the walk goes on
    // meanwhile, nothing.
    std::function<bool()> relieve;

    // For a copy apart from the walk: the folders are held open for the folder's files (on the
    // walk's thread), and the names kept.
    void hold();
};

// One file from the overwrite decision to the copy in its place: the transfer in steps, with a
// pause and cancel point after each, and the rules asked again before the copy takes the name.
class FileCopy
{
public:
    using Path = NativeFs::Path;

    FileCopy(Job &job, ProgressRecord &record, FileTask &task, NativeFs::TransferContext &context);
    void run();

private:
    enum class Verdict
    {
        Copy,
        // The rules keep what bears the name.
        Leave,
        Failed
    };
    // Something bears the destination's name, before the copy or since it began.
    Verdict judge(const NativeFs::Status &target);
    bool open(std::optional<NativeFs::Transfer> &transfer);
    // True when the whole file went through, neither failed nor cancelled.
    bool moveBytes(NativeFs::Transfer &transfer);
    void finish(NativeFs::Transfer &transfer, const NativeFs::Status &target);
    void place(NativeFs::Transfer &transfer, const NativeFs::Status &judged);
    bool stillToBeReplaced(NativeFs::Status *target);
    void placed(const NativeFs::Transfer &transfer);
    void fail(CopyErrorCode code, const QString &reason);

    // Looks at what bears the name before placing the copy, and attempts to place it.
    static constexpr int MaxLooks = 3;
    int m_retakes = 0;

    Job &m_job;
    ProgressRecord &m_record;
    FileTask &m_task;
    NativeFs::TransferContext &m_context;
    const NativeFs::Folder &m_source;
    const NativeFs::Folder &m_target;
    const Path &m_name;
    Job::ShownFile m_shown;
};
