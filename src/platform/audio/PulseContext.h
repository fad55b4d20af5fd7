#pragma once
// One connection to a PulseAudio (or PipeWire) server: a threaded main loop and its context.
// The loop's lock serialises everything that touches the connection; libpulse calls our
// callbacks on the loop's thread with that lock already held, so a callback must never take it.
#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <string>

class CPulseContext {
public:
    CPulseContext() = default;
    ~CPulseContext();
    CPulseContext(const CPulseContext&) = delete;
    CPulseContext& operator=(const CPulseContext&) = delete;

    // Connects to the server named by PULSE_SERVER (else the user's default one) and never
    // starts a server. False with a reason when none answers.
    bool Connect(const char* clientName, std::string* pError);

    pa_context* Get() const { return m_pContext; }
    void Lock() { pa_threaded_mainloop_lock(m_pLoop); }
    void Unlock() { pa_threaded_mainloop_unlock(m_pLoop); }
    // Wakes the waiters (from a callback).
    void Signal() { pa_threaded_mainloop_signal(m_pLoop, 0); }

    // Lock held. Waits until done() holds, the connection fails, or timeoutMs passes; returns
    // done(). The limit only guards against a server that stops answering: a healthy one
    // answers in milliseconds, and a dead one fails the wait at once.
    bool WaitLocked(const std::function<bool()>& done, uint32_t timeoutMs = kReplyTimeoutMs);
    // Lock held. Waits for the operation to complete and releases it; false when it did not.
    bool WaitOperation(pa_operation* pOp, uint32_t timeoutMs = kReplyTimeoutMs);

    // Lock held. The connection is up (not failed, not yet lost).
    bool IsAlive() const { return m_pContext && !m_bFailed; }
    // The server's text for its last error.
    std::string LastError() const;
    // Runs on the loop's thread, lock held, once the connection is lost.
    void SetLostHandler(std::function<void()> onLost) { m_onLost = std::move(onLost); }

    static constexpr uint32_t kReplyTimeoutMs = 10000;

private:
    static void OnState(pa_context* c, void* self);
    void Disconnect();

    pa_threaded_mainloop* m_pLoop = nullptr;
    pa_context* m_pContext = nullptr;
    bool m_bFailed = false;
    std::function<void()> m_onLost;
};

// Holds the main loop's lock for a scope. Never on the loop's own thread.
class CPulseLock {
public:
    explicit CPulseLock(CPulseContext& ctx) : m_ctx(ctx) { m_ctx.Lock(); }
    ~CPulseLock() { m_ctx.Unlock(); }
    CPulseLock(const CPulseLock&) = delete;
    CPulseLock& operator=(const CPulseLock&) = delete;

private:
    CPulseContext& m_ctx;
};
