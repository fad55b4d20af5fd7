#include "platform/audio/PulsePlayback.h"

#include <algorithm>

int CPulsePlayback::ConnectStream(const char* devName, pa_stream_flags_t flags) {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(
        pa_usec_to_bytes(pa_usec_t{kTargetLatencyMs} * PA_USEC_PER_MSEC, &m_sampleSpec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    pa_stream_set_write_callback(m_pStream, &CPulsePlayback::OnWrite, this);
    return pa_stream_connect_playback(
        m_pStream, devName, &attr, static_cast<pa_stream_flags_t>(flags | PA_STREAM_ADJUST_LATENCY),
        nullptr, nullptr);
}

void CPulsePlayback::OnWrite(pa_stream*, size_t, void* pSelf) {
    static_cast<CPulsePlayback*>(pSelf)->Fill();
}

void CPulsePlayback::Fill() {
    if (IsLost() || !m_pStream || pa_stream_get_state(m_pStream) != PA_STREAM_READY)
        return;
    const size_t frame = pa_frame_size(&m_sampleSpec);
    size_t writable = pa_stream_writable_size(m_pStream);
    if (writable == static_cast<size_t>(-1))
        writable = 0;
    const size_t limit = writable - writable % frame;

    m_chunk.assign(m_carry.begin(), m_carry.end());
    std::vector<WAVEHDR*> written;
    while (!m_queue.empty()) {
        WAVEHDR* pHdr = m_queue.front();
        const size_t room = limit > m_chunk.size() ? limit - m_chunk.size() : 0;
        const size_t take = std::min<size_t>(pHdr->dwBufferLength - m_uHeadOffset, room);
        m_chunk.insert(m_chunk.end(), pHdr->lpData + m_uHeadOffset,
                       pHdr->lpData + m_uHeadOffset + take);
        m_uHeadOffset += static_cast<DWORD>(take);
        if (m_uHeadOffset < pHdr->dwBufferLength)
            break;  // the server is full
        m_queue.pop_front();
        m_uHeadOffset = 0;
        written.push_back(pHdr);
    }
    const size_t whole = m_chunk.size() - m_chunk.size() % frame;
    m_carry.assign(m_chunk.begin() + static_cast<std::ptrdiff_t>(whole), m_chunk.end());
    // A write fails only on a failing stream; the buffers come back all the same.
    if (whole > 0 &&
        pa_stream_write(m_pStream, m_chunk.data(), whole, nullptr, 0, PA_SEEK_RELATIVE) == 0) {
        m_bUnplayed = true;
        // The last sound may be shorter than the prebuffer: start it rather than keep it.
        if (m_queue.empty())
            Forget(pa_stream_trigger(m_pStream, nullptr, nullptr));
    }
    for (WAVEHDR* pHdr : written)
        Return(pHdr);
}

MMRESULT CPulsePlayback::Reset() {
    if (IsLost())
        return MMSYSERR_NODRIVER;
    ReturnAll();
    m_uHeadOffset = 0;
    m_carry.clear();
    Forget(pa_stream_flush(m_pStream, nullptr, nullptr));
    m_bUnplayed = false;
    return MMSYSERR_NOERROR;
}

void CPulsePlayback::Drain() {
    // A close after the last buffer came back still lets the server play what it holds.
    if (m_bUnplayed && m_pStream)
        m_ctx.WaitOperation(pa_stream_drain(m_pStream, nullptr, nullptr));
    m_bUnplayed = false;
}
