#include "platform/audio/PulseRecord.h"

#include <algorithm>
#include <cstring>

int CPulseRecord::ConnectStream(const char* devName, pa_stream_flags_t flags) {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(
        pa_usec_to_bytes(pa_usec_t{kFragmentMs} * PA_USEC_PER_MSEC, &m_sampleSpec));
    pa_stream_set_read_callback(m_pStream, &CPulseRecord::OnRead, this);
    return pa_stream_connect_record(
        m_pStream, devName, &attr,
        static_cast<pa_stream_flags_t>(flags | PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED));
}

void CPulseRecord::OnRead(pa_stream*, size_t, void* pSelf) {
    static_cast<CPulseRecord*>(pSelf)->ReadAvailable();
}

void CPulseRecord::ReadAvailable() {
    if (!m_pStream || pa_stream_get_state(m_pStream) != PA_STREAM_READY)
        return;
    while (pa_stream_readable_size(m_pStream) > 0) {
        const void* pData = nullptr;
        size_t n = 0;
        if (pa_stream_peek(m_pStream, &pData, &n) < 0 || n == 0)
            return;  // nothing there (no drop then)
        // Stopped: what the server still sends is dropped, as a stopped device records nothing.
        if (m_bStarted)
            Consume(static_cast<const uint8_t*>(pData), n);
        pa_stream_drop(m_pStream);  // a hole too, or the stream stalls
    }
}

void CPulseRecord::Consume(const uint8_t* pData, size_t n) {
    const uint8_t silence = m_sampleSpec.format == PA_SAMPLE_U8 ? 0x80 : 0;
    while (n > 0 && !m_queue.empty()) {
        WAVEHDR* pHdr = m_queue.front();
        const size_t take = std::min<size_t>(n, pHdr->dwBufferLength - pHdr->dwBytesRecorded);
        uint8_t* pDst = pHdr->lpData + pHdr->dwBytesRecorded;
        if (pData) {
            std::memcpy(pDst, pData, take);
            pData += take;
        } else {
            std::memset(pDst, silence, take);
        }
        pHdr->dwBytesRecorded += static_cast<DWORD>(take);
        n -= take;
        if (pHdr->dwBytesRecorded == pHdr->dwBufferLength) {
            m_queue.pop_front();
            Return(pHdr);
        }
    }
    // No buffer left: the rest is lost, as with any device the caller does not keep fed.
}

void CPulseRecord::Cork(bool bCork) {
    Forget(pa_stream_cork(m_pStream, bCork ? 1 : 0, nullptr, nullptr));
}

MMRESULT CPulseRecord::Start() {
    if (IsLost())
        return MMSYSERR_NODRIVER;
    if (!m_bStarted) {
        m_bStarted = true;
        Cork(false);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseRecord::Stop() {
    if (IsLost())
        return MMSYSERR_NODRIVER;
    if (!m_bStarted)
        return MMSYSERR_NOERROR;
    ReadAvailable();
    m_bStarted = false;
    Cork(true);
    if (!m_queue.empty() && m_queue.front()->dwBytesRecorded > 0) {
        WAVEHDR* pHdr = m_queue.front();
        m_queue.pop_front();
        Return(pHdr);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseRecord::Reset() {
    if (IsLost())
        return MMSYSERR_NODRIVER;
    if (m_bStarted) {
        ReadAvailable();
        m_bStarted = false;
        Cork(true);
    }
    ReturnAll();
    return MMSYSERR_NOERROR;
}
