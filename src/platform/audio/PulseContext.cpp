#include "platform/audio/PulseContext.h"

#include <pulse/rtclock.h>

namespace {

struct CTimeout {
    pa_threaded_mainloop* pLoop;
    bool bExpired;
};

void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* pTimeout) {
    auto* t = static_cast<CTimeout*>(pTimeout);
    t->bExpired = true;
    pa_threaded_mainloop_signal(t->pLoop, 0);
}

void OnOperationState(pa_operation*, void* pLoop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(pLoop), 0);
}

}  // namespace

CPulseContext::~CPulseContext() {
    Disconnect();
}

bool CPulseContext::Connect(const char* clientName, std::string* pError) {
    auto fail = [&](const std::string& why) {
        if (pError)
            *pError = why;
        Disconnect();
        return false;
    };
    m_pLoop = pa_threaded_mainloop_new();
    if (!m_pLoop)
        return fail("cannot create the PulseAudio main loop");
    m_pContext = pa_context_new(pa_threaded_mainloop_get_api(m_pLoop), clientName);
    if (!m_pContext)
        return fail("cannot create a PulseAudio context");
    pa_context_set_state_callback(m_pContext, &CPulseContext::OnState, this);
    if (pa_context_connect(m_pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail(std::string("no PulseAudio server answers: ") + LastError());
    if (pa_threaded_mainloop_start(m_pLoop) < 0)
        return fail("cannot start the PulseAudio main loop");
    bool bReady = false;
    std::string why;
    {
        CPulseLock lock(*this);
        bReady =
            WaitLocked([this] { return pa_context_get_state(m_pContext) == PA_CONTEXT_READY; });
        if (!bReady)
            why = std::string("no PulseAudio server answers: ") + LastError();
    }
    return bReady || fail(why);  // the loop stops outside its lock
}

void CPulseContext::Disconnect() {
    if (m_pLoop)
        pa_threaded_mainloop_stop(m_pLoop);  // no callback runs after this
    if (m_pContext) {
        pa_context_set_state_callback(m_pContext, nullptr, nullptr);
        pa_context_disconnect(m_pContext);
        pa_context_unref(m_pContext);
        m_pContext = nullptr;
    }
    if (m_pLoop) {
        pa_threaded_mainloop_free(m_pLoop);
        m_pLoop = nullptr;
    }
}

void CPulseContext::OnState(pa_context* c, void* pSelf) {
    auto* self = static_cast<CPulseContext*>(pSelf);
    const pa_context_state_t st = pa_context_get_state(c);
    if ((st == PA_CONTEXT_FAILED || st == PA_CONTEXT_TERMINATED) && !self->m_bFailed) {
        self->m_bFailed = true;
        if (self->m_onLost)
            self->m_onLost();
    }
    self->Signal();
}

bool CPulseContext::WaitLocked(const std::function<bool()>& done, uint32_t timeoutMs) {
    CTimeout timeout{m_pLoop, false};
    pa_time_event* pTimer = pa_context_rttime_new(
        m_pContext, pa_rtclock_now() + pa_usec_t{timeoutMs} * PA_USEC_PER_MSEC, &OnTimeout,
        &timeout);
    bool bDone = done();
    while (!bDone && !timeout.bExpired && !m_bFailed) {
        pa_threaded_mainloop_wait(m_pLoop);
        bDone = done();
    }
    if (pTimer)
        pa_threaded_mainloop_get_api(m_pLoop)->time_free(pTimer);
    return bDone;
}

bool CPulseContext::WaitOperation(pa_operation* pOp, uint32_t timeoutMs) {
    if (!pOp)
        return false;
    pa_operation_set_state_callback(pOp, &OnOperationState, m_pLoop);
    WaitLocked([pOp] { return pa_operation_get_state(pOp) != PA_OPERATION_RUNNING; }, timeoutMs);
    const bool bDone = pa_operation_get_state(pOp) == PA_OPERATION_DONE;
    if (!bDone)
        pa_operation_cancel(pOp);
    pa_operation_set_state_callback(pOp, nullptr, nullptr);
    pa_operation_unref(pOp);
    return bDone;
}

std::string CPulseContext::LastError() const {
    return m_pContext ? pa_strerror(pa_context_errno(m_pContext)) : "no connection";
}
