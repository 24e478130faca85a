#pragma once

#include <QtGlobal>

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
