#include "engine/digest.h"

// Built in, so that no platform needs the library at run time.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <array>

struct Digester::State
{
    State() : xxh(XXH3_createState()) {}
    ~State() { XXH3_freeState(xxh); }
    State(const State &) = delete;
    State &operator=(const State &) = delete;
    XXH3_state_t *const xxh;
};

Digester::Digester() : m_state(std::make_unique<State>())
{
    reset();
}

Digester::~Digester() = default;

void Digester::reset()
{
    XXH3_128bits_reset(m_state->xxh);
}

void Digester::add(const void *data, size_t length)
{
    XXH3_128bits_update(m_state->xxh, data, length);
}

void Digester::addZeros(qint64 length)
{
    static const std::array<char, 65536> zeros = {};
    for (qint64 left = length; left > 0; left -= qint64(zeros.size()))
        add(zeros.data(), size_t(std::min<qint64>(left, qint64(zeros.size()))));
}

Digest Digester::result() const
{
    const XXH128_hash_t hash = XXH3_128bits_digest(m_state->xxh);
    return {hash.low64, hash.high64};
}
