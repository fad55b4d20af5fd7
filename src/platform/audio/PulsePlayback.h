#pragma once
// A playback device of the pulse backend. A buffer comes back once the server has taken all of
// it; the server keeps only a short target latency, so a caller that keeps a few buffers queued
// is paced to the playing speed.
#include <cstdint>
#include <vector>

#include "platform/audio/PulseStream.h"

class CPulsePlayback final : public CPulseStream {
public:
    using CPulseStream::CPulseStream;
    MMRESULT Reset() override;

    static constexpr uint32_t kTargetLatencyMs = 150;

private:
    int ConnectStream(const char* devName, pa_stream_flags_t flags) override;
    void OnQueued() override { Fill(); }
    void Drain() override;

    static void OnWrite(pa_stream* s, size_t nbytes, void* self);
    // Writes as much of the queue as the server will take; sends back the buffers written.
    void Fill();

    // Bytes of the head buffer already written.
    DWORD m_uHeadOffset = 0;
    // The start of a frame split across two buffers: libpulse takes whole frames only.
    std::vector<uint8_t> m_carry;
    std::vector<uint8_t> m_chunk;
    bool m_bUnplayed = false;  // written since the last flush or drain
};
