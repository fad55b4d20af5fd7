#include "platform/audio/PulseStream.h"

#include "platform/MsgLoop.h"

namespace {

MMRESULT ResultFromError(int error) {
    switch (error) {
        case PA_ERR_NOENTITY:
            return MMSYSERR_BADDEVICEID;
        case PA_ERR_INVALID:
        case PA_ERR_NOTSUPPORTED:
            return WAVERR_BADFORMAT;
        case PA_ERR_CONNECTIONTERMINATED:
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_KILLED:
            return MMSYSERR_NODRIVER;
        default:
            return MMSYSERR_ERROR;
    }
}

}  // namespace

CPulseStream::CPulseStream(CPulseContext& ctx, EWaveKind kind, HWAVE hDevice, const CPcmSpec& pcm,
                           CMsgLoop* pCallback)
    : m_ctx(ctx), m_kind(kind), m_hDevice(hDevice), m_pcm(pcm), m_pCallback(pCallback) {}

CPulseStream::~CPulseStream() {
    Disconnect();
}

bool CPulseStream::ToSampleSpec(const CPcmSpec& pcm, pa_sample_spec* pSpec) {
    if (pcm.wBitsPerSample == 16)
        pSpec->format = PA_SAMPLE_S16LE;
    else if (pcm.wBitsPerSample == 8)
        pSpec->format = PA_SAMPLE_U8;
    else
        return false;
    pSpec->rate = pcm.nSamplesPerSec;
    pSpec->channels = static_cast<uint8_t>(pcm.nChannels);
    return pcm.nChannels <= PA_CHANNELS_MAX && pa_sample_spec_valid(pSpec);
}

MMRESULT CPulseStream::Open(const char* devName) {
    if (!ToSampleSpec(m_pcm, &m_sampleSpec))
        return WAVERR_BADFORMAT;
    if (!m_ctx.IsAlive())
        return MMSYSERR_NODRIVER;
    m_pStream =
        pa_stream_new(m_ctx.Get(), m_kind == EWaveKind::Out ? "Vokra playback" : "Vokra recording",
                      &m_sampleSpec, nullptr);
    if (!m_pStream)
        return ResultFromError(pa_context_errno(m_ctx.Get()));
    pa_stream_set_state_callback(m_pStream, &CPulseStream::OnState, this);
    // A named device is the one the caller chose (a cable end): if it goes away the stream
    // must fail rather than be moved to some other device.
    const pa_stream_flags_t flags = devName ? PA_STREAM_DONT_MOVE : PA_STREAM_NOFLAGS;
    if (ConnectStream(devName, flags) != 0)
        return ResultFromError(pa_context_errno(m_ctx.Get()));
    const bool bReady = m_ctx.WaitLocked([this] {
        const pa_stream_state_t st = pa_stream_get_state(m_pStream);
        return st != PA_STREAM_CREATING && st != PA_STREAM_UNCONNECTED;
    });
    if (!bReady || pa_stream_get_state(m_pStream) != PA_STREAM_READY) {
        const MMRESULT r =
            m_ctx.IsAlive() ? ResultFromError(pa_context_errno(m_ctx.Get())) : MMSYSERR_NODRIVER;
        Disconnect();
        return r == MMSYSERR_NOERROR ? MMSYSERR_ERROR : r;
    }
    m_pCallback->PostThreadMessage(m_kind == EWaveKind::Out ? MM_WOM_OPEN : MM_WIM_OPEN, m_hDevice,
                                   0);
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseStream::Queue(WAVEHDR* pHdr) {
    if (m_bLost)
        return MMSYSERR_NODRIVER;
    pHdr->dwFlags &= ~WHDR_DONE;
    pHdr->dwFlags |= WHDR_INQUEUE;
    pHdr->lpNext = nullptr;
    if (m_kind == EWaveKind::In)
        pHdr->dwBytesRecorded = 0;
    m_queue.push_back(pHdr);
    OnQueued();
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseStream::Close() {
    if (!m_queue.empty())
        return WAVERR_STILLPLAYING;
    if (!m_bLost)
        Drain();
    Disconnect();
    m_pCallback->PostThreadMessage(m_kind == EWaveKind::Out ? MM_WOM_CLOSE : MM_WIM_CLOSE,
                                   m_hDevice, 0);
    return MMSYSERR_NOERROR;
}

void CPulseStream::Lose() {
    if (m_bLost)
        return;
    m_bLost = true;
    ReturnAll();
}

void CPulseStream::Return(WAVEHDR* pHdr) {
    pHdr->dwFlags &= ~WHDR_INQUEUE;
    pHdr->dwFlags |= WHDR_DONE;
    m_pCallback->PostThreadMessage(m_kind == EWaveKind::Out ? MM_WOM_DONE : MM_WIM_DATA, m_hDevice,
                                   reinterpret_cast<LPARAM>(pHdr));
}

void CPulseStream::ReturnAll() {
    while (!m_queue.empty()) {
        WAVEHDR* pHdr = m_queue.front();
        m_queue.pop_front();
        Return(pHdr);
    }
}

void CPulseStream::Forget(pa_operation* pOp) {
    if (pOp)
        pa_operation_unref(pOp);
}

void CPulseStream::OnState(pa_stream* s, void* pSelf) {
    auto* self = static_cast<CPulseStream*>(pSelf);
    const pa_stream_state_t st = pa_stream_get_state(s);
    if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED)
        self->Lose();
    self->m_ctx.Signal();
}

void CPulseStream::Disconnect() {
    if (!m_pStream)
        return;
    // No callback may reach this object once it is gone.
    pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
    pa_stream_set_write_callback(m_pStream, nullptr, nullptr);
    pa_stream_set_read_callback(m_pStream, nullptr, nullptr);
    if (pa_stream_get_state(m_pStream) == PA_STREAM_READY)
        pa_stream_disconnect(m_pStream);
    pa_stream_unref(m_pStream);
    m_pStream = nullptr;
}
