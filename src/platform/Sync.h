#pragma once
// Events and locks in the style the program was designed with, on the process clock.
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/Types.h"

// Auto-reset (a successful wait consumes the signal) or manual-reset event.
class CEvent {
public:
    explicit CEvent(bool bManualReset = false, bool bInitialState = false);
    void Set();
    void Reset();
    // Waits up to ms milliseconds of the process clock (INFINITE: no limit); true when signalled.
    bool Wait(uint32_t ms = INFINITE);

private:
    mutable std::mutex m_m;
    std::condition_variable m_cv;
    bool m_bManual;
    bool m_bSignalled;
};

// Recursive lock; use with std::lock_guard / std::unique_lock, or Lock/Unlock.
class CCriticalSection {
public:
    void Lock() { m_m.lock(); }
    void Unlock() { m_m.unlock(); }
    void lock() { m_m.lock(); }
    void unlock() { m_m.unlock(); }
    bool try_lock() { return m_m.try_lock(); }

private:
    std::recursive_mutex m_m;
};

// Kernel thread id of the caller and the process id, as 32-bit numbers for logs.
uint32_t GetCurrentThreadId();
uint32_t GetCurrentProcessId();
