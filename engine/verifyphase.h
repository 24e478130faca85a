#pragma once

#include "engine/job.h"
#include "engine/jobphase.h"
#include "engine/verifylist.h"

#include <optional>

#include <QString>

// With verification, the last phase: every file the copy put in place is read back from the
// device, not from the system's cache, and its digest compared with that of what was read from
// its source. A cancel keeps every copy, verified or not.
class VerifyPhase : public JobPhase
{
public:
    VerifyPhase() : JobPhase(PhaseKind::Verify) {}
    void run(Job &job) override;

private:
    void verifyFolder(Job &job, const VerifyList::Folder &folder);
    // Down from the target root by name, never through a link, to the very folder the copy
    // went to.
    NativeFs::Folder reach(const Job &job, const VerifyList::Folder &folder,
                           SystemError *error) const;
    // Nothing when the copy on the device holds what was read from the source; otherwise why
    // not.
    std::optional<QString> readBack(Job &job, Job::ShownFile &shown, const NativeFs::Folder &folder,
                                    const NativeFs::Path &name, const VerifyList::File &file);
};
