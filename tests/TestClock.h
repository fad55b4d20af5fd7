#pragma once
// Deterministic time for tests in which real threads (the sender, a simulator thread) take part.
//
// CTestClock is a manual clock that also knows who waits on it. Time moves only when the test
// thread (the "driver", which pumps the loops it owns) lets it, and only once every other
// thread that uses the clock is blocked: waiting on a condition that is false, with a deadline
// still ahead. Time then jumps to the next thing due: a timer of the driver's loops or the end
// of another thread's sleep. A sleep of the driver itself moves time the same way. So a line
// that goes through the sender thread, its 10 ms pause, the simulator and back happens at
// exactly the same virtual moment on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <limits>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "app/Logger.h"
#include "platform/Clock.h"
#include "platform/MsgLoop.h"

class CTestClock : public IClock {
public:
    static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

    explicit CTestClock(CWallTime wallStart = {1700000000, 0})
        : m_wallStart(wallStart), m_driver(std::this_thread::get_id()) {
        s_pLive.store(this);
    }
    ~CTestClock() override { s_pLive.store(nullptr); }

    uint64_t NowMs() const override { return m_uNow.load(); }
    CWallTime WallNow() const override {
        const uint64_t total = static_cast<uint64_t>(m_wallStart.ms) + m_uNow.load();
        return CWallTime{m_wallStart.sec + static_cast<int64_t>(total / 1000),
                         static_cast<uint16_t>(total % 1000)};
    }

    bool WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                   uint64_t deadlineMs, const std::function<bool()>& pred) override {
        if (std::this_thread::get_id() == m_driver)
            return DriverWait(lk, cv, deadlineMs, pred);
        auto entry = Register(lk, cv, deadlineMs, pred);
        while (!pred() && m_uNow.load() < deadlineMs)
            cv.wait(lk);
        const bool result = pred();
        Unregister(lk, entry);
        return result;
    }

    // Moves time forward to t and wakes the waiters whose deadline passed.
    void AdvanceTo(uint64_t t) {
        std::lock_guard g(m_m);
        if (t > m_uNow.load())
            m_uNow.store(t);
        for (const Waiter& w : m_waiters) {
            { std::lock_guard wl(*w.m); }
            w.cv->notify_all();
        }
    }

    // Waits (in real time) until n threads other than the driver have used the clock.
    bool WaitForParticipants(size_t n) {
        std::unique_lock lk(m_m);
        return m_cvChanged.wait_for(lk, kGuard, [&] { return m_participants.size() >= n; });
    }

    // Every other thread that uses the clock is blocked right now.
    bool OthersBlocked() {
        std::lock_guard g(m_m);
        for (const auto& tid : m_participants) {
            auto it = std::find_if(m_waiters.begin(), m_waiters.end(),
                                   [&](const Waiter& w) { return w.tid == tid; });
            if (it == m_waiters.end())
                return false;  // running
            std::lock_guard wl(*it->m);
            if ((*it->pred)() || it->deadline <= m_uNow.load())
                return false;  // about to wake
        }
        return true;
    }

    // The earliest end of another thread's timed wait; kNever when there is none.
    uint64_t NextSleeperDeadline() {
        std::lock_guard g(m_m);
        uint64_t next = kNever;
        for (const Waiter& w : m_waiters)
            next = std::min(next, w.deadline);
        return next;
    }

    // Waits briefly (real time) for a change among the waiters.
    void WaitForChange() {
        std::unique_lock lk(m_m);
        m_cvChanged.wait_for(lk, std::chrono::milliseconds(1));
    }

    // ---- Driving the loops of the test thread ----

    // Runs everything that is due now, on the loops and the other threads, until all is quiet.
    void Settle(std::initializer_list<CMsgLoop*> loops) { Settle(std::vector<CMsgLoop*>(loops)); }
    void Settle(const std::vector<CMsgLoop*>& loops) {
        const auto guardEnd = std::chrono::steady_clock::now() + kGuard;
        for (;;) {
            bool bBusy = false;
            for (CMsgLoop* l : loops)
                bBusy |= l->Pump() > 0;
            if (bBusy || AnyDue(loops))
                continue;
            if (OthersBlocked() && !AnyDue(loops))
                return;
            if (std::chrono::steady_clock::now() > guardEnd) {
                ADD_FAILURE() << "CTestClock::Settle: another thread never came to rest";
                return;
            }
            WaitForChange();
        }
    }

    // Lets ms of virtual time pass, stopping at every moment something falls due.
    void RunFor(uint64_t ms, std::initializer_list<CMsgLoop*> loops) {
        RunUntil([] { return false; }, ms, loops);
    }

    // Like RunFor, but stops as soon as pred() holds (checked whenever all is quiet).
    bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs,
                  std::initializer_list<CMsgLoop*> loops) {
        const std::vector<CMsgLoop*> v(loops);
        const uint64_t target = NowMs() + maxMs;
        for (;;) {
            Settle(v);
            if (pred())
                return true;
            uint64_t next = NextSleeperDeadline();
            for (CMsgLoop* l : v)
                next = std::min(next, l->NextDeadlineMs());
            if (next > target) {
                if (NowMs() < target) {
                    AdvanceTo(target);
                    Settle(v);
                }
                return pred();
            }
            AdvanceTo(next);
        }
    }

private:
    static constexpr std::chrono::seconds kGuard{20};

    struct Waiter {
        std::thread::id tid;
        std::mutex* m;
        std::condition_variable* cv;
        uint64_t deadline;
        const std::function<bool()>* pred;
    };

    // Removes the thread from the participants when it ends.
    struct CParticipant {
        CTestClock* pClock = nullptr;
        ~CParticipant() {
            if (pClock && s_pLive.load() == pClock)
                pClock->Leave();
        }
    };

    void Join() {
        thread_local CParticipant t_participant;
        if (t_participant.pClock == this)
            return;
        t_participant.pClock = this;
        std::lock_guard g(m_m);
        m_participants.insert(std::this_thread::get_id());
        m_cvChanged.notify_all();
    }

    void Leave() {
        std::lock_guard g(m_m);
        m_participants.erase(std::this_thread::get_id());
        m_cvChanged.notify_all();
    }

    std::list<Waiter>::iterator Register(std::unique_lock<std::mutex>& lk,
                                         std::condition_variable& cv, uint64_t deadline,
                                         const std::function<bool()>& pred) {
        // Never take our lock while holding the waiter's: OthersBlocked takes them the other way.
        lk.unlock();
        Join();
        std::list<Waiter>::iterator it;
        {
            std::lock_guard g(m_m);
            it = m_waiters.insert(m_waiters.end(), Waiter{std::this_thread::get_id(), lk.mutex(),
                                                          &cv, deadline, &pred});
            m_cvChanged.notify_all();
        }
        lk.lock();
        return it;
    }

    void Unregister(std::unique_lock<std::mutex>& lk, std::list<Waiter>::iterator it) {
        lk.unlock();
        {
            std::lock_guard g(m_m);
            m_waiters.erase(it);
            m_cvChanged.notify_all();
        }
        lk.lock();
    }

    // The driver blocks: once everybody else is blocked too, time moves to the next deadline.
    bool DriverWait(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                    uint64_t deadlineMs, const std::function<bool()>& pred) {
        const auto guardEnd = std::chrono::steady_clock::now() + kGuard;
        for (;;) {
            if (pred())
                return true;
            if (m_uNow.load() >= deadlineMs)
                return false;
            lk.unlock();
            const bool bBlocked = OthersBlocked();
            const uint64_t next = std::min(deadlineMs, NextSleeperDeadline());
            if (bBlocked && next != kNever && next > m_uNow.load())
                AdvanceTo(next);
            lk.lock();
            if (pred())
                return true;
            if (m_uNow.load() >= deadlineMs)
                return false;
            if (std::chrono::steady_clock::now() > guardEnd) {
                ADD_FAILURE() << "CTestClock: the test thread would wait for ever";
                return pred();
            }
            cv.wait_for(lk, std::chrono::milliseconds(1));
        }
    }

    bool AnyDue(const std::vector<CMsgLoop*>& loops) const {
        for (CMsgLoop* l : loops)
            if (l->NextDeadlineMs() <= NowMs())
                return true;
        return false;
    }

    static inline std::atomic<CTestClock*> s_pLive{nullptr};
    std::atomic<uint64_t> m_uNow{0};
    CWallTime m_wallStart;
    std::thread::id m_driver;
    std::mutex m_m;
    std::condition_variable m_cvChanged;
    std::list<Waiter> m_waiters;
    std::set<std::thread::id> m_participants;
};

using CLogRecorder = CLogCapture;
