#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

// 128 bits that tell one content from another, as read: a copy read back from the device is
// compared with its source by these alone.
struct Digest
{
    quint64 low = 0;
    quint64 high = 0;
    bool operator==(const Digest &) const = default;
};

// A running digest of a file's bytes (XXH3, 128 bits), fed as the bytes go by.
class Digester
{
public:
    Digester();
    ~Digester();
    Digester(const Digester &) = delete;
    Digester &operator=(const Digester &) = delete;

    void reset();
    void add(const void *data, size_t length);
    // A hole reads as zeros, and is hashed as them.
    void addZeros(qint64 length);
    Digest result() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A digest taken on a thread of its own, behind a copy: the copy says how far it has read, and
// the thread reads that far again, from the system's cache where the copy's reads left the
// bytes, so that hashing takes another core's time rather than the copy's. One file at a time.
class FollowingDigest
{
public:
    // Reads length bytes at offset into into; the count read, 0 at the end, -1 on an error.
    using Reader = std::function<qint64(qint64 offset, char *into, qint64 length)>;

    FollowingDigest();
    ~FollowingDigest();
    FollowingDigest(const FollowingDigest &) = delete;
    FollowingDigest &operator=(const FollowingDigest &) = delete;

    void begin(Reader reader);
    // The copy has read this far.
    void readTo(qint64 end);
    // How far the file is hashed: the copy may let the source's cached pages go up to there.
    qint64 hashedTo() const;
    // Waits until the file is hashed to end. False when a read failed: *error is its errno.
    bool finish(qint64 end, Digest *digest, int *error);
    // Lets go of the file in hand; once it returns, the reader is no longer called.
    void abandon();

private:
    struct State;
    std::unique_ptr<State> m_state;
};
