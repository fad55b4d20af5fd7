#include "platform/Sync.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <limits>

#include "platform/Clock.h"

CEvent::CEvent(bool bManualReset, bool bInitialState)
    : m_bManual(bManualReset), m_bSignalled(bInitialState) {}

void CEvent::Set() {
    std::lock_guard g(m_m);
    m_bSignalled = true;
    m_cv.notify_all();
}

void CEvent::Reset() {
    std::lock_guard g(m_m);
    m_bSignalled = false;
}

bool CEvent::Wait(uint32_t ms) {
    std::unique_lock lk(m_m);
    const uint64_t deadline =
        ms == INFINITE ? std::numeric_limits<uint64_t>::max() : Clock().NowMs() + ms;
    if (!Clock().WaitUntil(lk, m_cv, deadline, [this] { return m_bSignalled; }))
        return false;
    if (!m_bManual)
        m_bSignalled = false;
    return true;
}

uint32_t GetCurrentThreadId() {
    // Not cached: a forked child's thread must report its own id.
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

uint32_t GetCurrentProcessId() {
    return static_cast<uint32_t>(::getpid());
}
