#include "engine/filesinhand.h"

#include <QMutexLocker>

#include <cstring>

int FilesInHand::take(const QByteArray &name, quint64 size)
{
    const QMutexLocker locker(&m_lock);
    for (int i = 0; i < Slots; ++i) {
        Slot &slot = m_slots[size_t(i)];
        if (slot.taken)
            continue;
        slot.taken = true;
        // The counts go first: a reader that sees the new name must not pair it with the bytes
        // of the file before.
        slot.done.store(0);
        slot.size.store(size);
        // A deep copy into the buffer already held: the name may be a view of the walk's listing.
        slot.name.resize(name.size());
        std::memcpy(slot.name.data(), name.constData(), size_t(name.size()));
        m_last = i;
        return i;
    }
    return -1;
}

void FilesInHand::setSize(int slot, quint64 size)
{
    if (slot >= 0)
        m_slots[size_t(slot)].size.store(size);
}

void FilesInHand::setDone(int slot, quint64 done)
{
    if (slot >= 0)
        m_slots[size_t(slot)].done.store(done);
}

void FilesInHand::give(int slot)
{
    if (slot < 0)
        return;
    const QMutexLocker locker(&m_lock);
    m_slots[size_t(slot)].taken = false;
    m_last = slot;
}

FilesInHand::Shown FilesInHand::shown() const
{
    const QMutexLocker locker(&m_lock);
    int best = -1;
    quint64 mostLeft = 0;
    for (int i = 0; i < Slots; ++i) {
        const Slot &slot = m_slots[size_t(i)];
        const quint64 size = slot.size.load();
        const quint64 left = size - qMin(size, slot.done.load());
        if (slot.taken && (best < 0 || left > mostLeft)) {
            best = i;
            mostLeft = left;
        }
    }
    if (best < 0)
        best = m_last;
    if (best < 0)
        return {};
    const Slot &slot = m_slots[size_t(best)];
    return {slot.name, slot.size.load(), slot.done.load()};
}
