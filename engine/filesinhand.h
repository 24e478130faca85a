#pragma once

#include <QByteArray>
#include <QMutex>

#include <array>
#include <atomic>

// The files a job has in hand, several where it copies several at once, for the window to
// follow one: the one with the most bytes left, so that the name and its bar move steadily.
// Written by the worker threads, read by the GUI at any time; once none is in hand, the last
// one shown stays shown.
class FilesInHand
{
public:
    static constexpr int Slots = 32;

    // A slot for a file, shown with 0 of size bytes done; -1 when every slot is taken (the file
    // is then copied unseen).
    int take(const QByteArray &name, quint64 size);
    void setSize(int slot, quint64 size);
    void setDone(int slot, quint64 done);
    // The file is done with: another may take its slot.
    void give(int slot);

    struct Shown
    {
        QByteArray name;
        quint64 size = 0;
        quint64 done = 0;
    };
    Shown shown() const;

private:
    struct Slot
    {
        QByteArray name;
        std::atomic<quint64> size{0};
        std::atomic<quint64> done{0};
        bool taken = false;
    };

    // Held for the moment of taking, giving or reading a name; nobody waits behind a file.
    mutable QMutex m_lock;
    std::array<Slot, Slots> m_slots;
    int m_last = -1;
};
