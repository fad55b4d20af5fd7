#pragma once
// One injectable clock for the whole process. Everything that looks at time, sleeps, or waits
// with a time-out goes through Clock(), so tests can swap in a CManualClock and make every timer,
// sleep and timed wait deterministic: the test advances time, nothing waits for real.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <set>

struct CWallTime {
    int64_t sec = 0;  // seconds since 1 January 1970, UTC
    uint16_t ms = 0;  // 0..999
};

class IClock {
public:
    virtual ~IClock() = default;
    // Monotonic milliseconds from an arbitrary origin.
    virtual uint64_t NowMs() const = 0;
    virtual CWallTime WallNow() const = 0;
    // Waits on cv (whose mutex lk holds) until pred() is true or the clock reaches deadlineMs
    // (UINT64_MAX: no deadline). Returns pred(). The lock may be released and re-taken while
    // waiting, as with any condition-variable wait.
    virtual bool WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                           uint64_t deadlineMs, const std::function<bool()>& pred) = 0;
    virtual void Sleep(uint32_t ms);
};

class CSystemClock : public IClock {
public:
    uint64_t NowMs() const override;
    CWallTime WallNow() const override;
    bool WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                   uint64_t deadlineMs, const std::function<bool()>& pred) override;
};

// Time stands still until Advance(). Waiters on any thread wake when their deadline is passed.
class CManualClock : public IClock {
public:
    explicit CManualClock(CWallTime wallStart = {1700000000, 0});
    uint64_t NowMs() const override { return m_uNow.load(); }
    CWallTime WallNow() const override;
    bool WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                   uint64_t deadlineMs, const std::function<bool()>& pred) override;
    void Advance(uint64_t ms);
    // Number of threads currently blocked in a timed wait or sleep on this clock.
    int Waiters() const;

private:
    struct Waiter {
        std::mutex* m;
        std::condition_variable* cv;
    };
    std::atomic<uint64_t> m_uNow{0};
    CWallTime m_wallStart;
    mutable std::mutex m_mWaiters;
    std::multiset<std::pair<std::mutex*, std::condition_variable*>> m_waiters;
};

IClock& Clock();
// Installs a clock for the whole process (nullptr restores the system clock). Tests only; the
// clock must outlive every thread that uses it.
void SetClock(IClock* clock);

// RAII helper for tests.
class CScopedClock {
public:
    explicit CScopedClock(IClock& c) { SetClock(&c); }
    ~CScopedClock() { SetClock(nullptr); }
    CScopedClock(const CScopedClock&) = delete;
    CScopedClock& operator=(const CScopedClock&) = delete;
};

// Sleeps on the process clock.
inline void Sleep(uint32_t ms) {
    Clock().Sleep(ms);
}
// Seconds since 1970 times 1000 plus milliseconds, in 32-bit wrap-around arithmetic: the stamp
// the transport puts on commands and the sender uses to time deliveries.
uint32_t WallMs32();
// Broken-down local time of a wall-clock second.
std::tm LocalTime(int64_t sec);
