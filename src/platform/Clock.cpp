#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <limits>

namespace {
// Built on first use: objects of other files may log (and so read the clock) while they are
// being constructed, before any namespace-scope object here would be.
IClock& SystemClock() {
    static CSystemClock s_clock;
    return s_clock;
}
std::atomic<IClock*> g_pClock{nullptr};  // null: the system clock
}  // namespace

IClock& Clock() {
    IClock* p = g_pClock.load(std::memory_order_acquire);
    return p ? *p : SystemClock();
}

void SetClock(IClock* clock) {
    g_pClock.store(clock, std::memory_order_release);
}

void IClock::Sleep(uint32_t ms) {
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock lk(m);
    WaitUntil(lk, cv, NowMs() + ms, [] { return false; });
}

uint64_t CSystemClock::NowMs() const {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

CWallTime CSystemClock::WallNow() const {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return CWallTime{ms / 1000, static_cast<uint16_t>(ms % 1000)};
}

bool CSystemClock::WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                             uint64_t deadlineMs, const std::function<bool()>& pred) {
    if (deadlineMs == std::numeric_limits<uint64_t>::max()) {
        cv.wait(lk, pred);
        return true;
    }
    const uint64_t now = NowMs();
    const auto rel = std::chrono::milliseconds(deadlineMs > now ? deadlineMs - now : 0);
    return cv.wait_until(lk, std::chrono::steady_clock::now() + rel, pred);
}

CManualClock::CManualClock(CWallTime wallStart) : m_wallStart(wallStart) {}

CWallTime CManualClock::WallNow() const {
    const uint64_t total = static_cast<uint64_t>(m_wallStart.ms) + m_uNow.load();
    return CWallTime{m_wallStart.sec + static_cast<int64_t>(total / 1000),
                     static_cast<uint16_t>(total % 1000)};
}

bool CManualClock::WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                             uint64_t deadlineMs, const std::function<bool()>& pred) {
    // Register without holding the caller's mutex: Advance() takes the registry lock first and
    // the caller's mutex second, so the opposite order here could deadlock.
    const auto entry = std::make_pair(lk.mutex(), &cv);
    lk.unlock();
    {
        std::lock_guard g(m_mWaiters);
        m_waiters.insert(entry);
    }
    lk.lock();
    while (!pred() && m_uNow.load() < deadlineMs)
        cv.wait(lk);
    const bool result = pred();
    lk.unlock();
    {
        std::lock_guard g(m_mWaiters);
        m_waiters.erase(m_waiters.find(entry));
    }
    lk.lock();
    return result;
}

void CManualClock::Advance(uint64_t ms) {
    std::lock_guard g(m_mWaiters);
    m_uNow.fetch_add(ms);
    // Taking each waiter's mutex before notifying closes the gap between its deadline check and
    // its wait, so no wake-up is lost.
    for (const auto& [m, cv] : m_waiters) {
        { std::lock_guard w(*m); }
        cv->notify_all();
    }
}

int CManualClock::Waiters() const {
    std::lock_guard g(m_mWaiters);
    return static_cast<int>(m_waiters.size());
}

uint32_t WallMs32() {
    const CWallTime t = Clock().WallNow();
    return static_cast<uint32_t>(static_cast<uint64_t>(t.sec) * 1000u + t.ms);
}

std::tm LocalTime(int64_t sec) {
    std::tm tm{};
    const time_t t = static_cast<time_t>(sec);
    localtime_r(&t, &tm);
    return tm;
}
