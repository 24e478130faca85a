#include "engine/digest.h"

// Built in, so that no platform needs the library at run time.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

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

// The copy tells the thread how far it may read in steps of at least this much, and the thread
// reads as much at a time: few wake-ups, and every read a cache-sized piece.
namespace {
constexpr qint64 FollowStep = 1 << 20;
}

struct FollowingDigest::State
{
    void run();
    // Under lock: reads and hashes from hashed up to available, outside the lock.
    void hashAvailable(std::unique_lock<std::mutex> &lock);

    std::mutex mutex;
    std::condition_variable wake;   // the thread: more to read, a new file, or the end
    std::condition_variable caught; // the copy: the thread caught up or let go
    Reader reader;
    Digester digester;
    std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(FollowStep);
    bool active = false;  // a file is in hand
    bool reading = false; // the thread is in the reader, outside the lock
    // Read outside the lock: a cancel must not wait for a backlog to be hashed.
    std::atomic<bool> letGo{false};
    bool stop = false;
    int error = 0;
    qint64 available = 0;
    qint64 hashed = 0;
    qint64 told = 0;                 // the copy's side: what it last told
    std::atomic<qint64> progress{0}; // hashed, as it goes, read without the lock
    std::thread thread;
};

FollowingDigest::FollowingDigest() : m_state(std::make_unique<State>())
{
    m_state->thread = std::thread([state = m_state.get()] { state->run(); });
}

FollowingDigest::~FollowingDigest()
{
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stop = true;
    }
    m_state->wake.notify_one();
    m_state->thread.join();
}

void FollowingDigest::begin(Reader reader)
{
    abandon();
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->reader = std::move(reader);
    m_state->digester.reset();
    m_state->letGo.store(false);
    m_state->active = true;
    m_state->error = 0;
    m_state->available = m_state->hashed = m_state->told = 0;
    m_state->progress.store(0);
}

void FollowingDigest::readTo(qint64 end)
{
    if (end - m_state->told < FollowStep)
        return;
    m_state->told = end;
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->available = end;
    }
    m_state->wake.notify_one();
}

qint64 FollowingDigest::hashedTo() const
{
    return m_state->progress.load(std::memory_order_relaxed);
}

bool FollowingDigest::finish(qint64 end, Digest *digest, int *error)
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->available = end;
    m_state->wake.notify_one();
    m_state->caught.wait(lock, [this, end] { return m_state->hashed >= end || m_state->error; });
    m_state->active = false;
    *error = m_state->error;
    *digest = m_state->digester.result();
    return !m_state->error;
}

void FollowingDigest::abandon()
{
    m_state->letGo.store(true);
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->active = false;
    m_state->caught.wait(lock, [this] { return !m_state->reading; });
}

void FollowingDigest::State::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop) {
        if (active && !error && hashed < available)
            hashAvailable(lock);
        else
            wake.wait(lock);
    }
}

void FollowingDigest::State::hashAvailable(std::unique_lock<std::mutex> &lock)
{
    const qint64 from = hashed;
    const qint64 to = available;
    reading = true;
    lock.unlock();
    qint64 at = from;
    int failure = 0;
    while (at < to && !letGo.load()) {
        const qint64 got = reader(at, buffer.get(), std::min(FollowStep, to - at));
        if (got <= 0) {
            failure = got < 0 ? errno : EIO;
            break;
        }
        digester.add(buffer.get(), size_t(got));
        at += got;
        progress.store(at, std::memory_order_relaxed);
    }
    lock.lock();
    reading = false;
    hashed = at;
    error = failure;
    caught.notify_all();
}
