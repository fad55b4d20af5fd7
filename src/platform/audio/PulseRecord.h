#pragma once
// A recording device of the pulse backend. The stream stays corked until Start; what arrives
// fills the queued buffers in order, and a buffer comes back when full.
#include <cstdint>

#include "platform/audio/PulseStream.h"

class CPulseRecord final : public CPulseStream {
public:
    using CPulseStream::CPulseStream;
    MMRESULT Start() override;
    MMRESULT Stop() override;
    MMRESULT Reset() override;

    static constexpr uint32_t kFragmentMs = 50;

private:
    int ConnectStream(const char* devName, pa_stream_flags_t flags) override;

    static void OnRead(pa_stream* s, size_t nbytes, void* self);
    // Takes everything the server has sent so far.
    void ReadAvailable();
    // Fills the queued buffers with the bytes (silence for a hole, pData null).
    void Consume(const uint8_t* pData, size_t n);
    void Cork(bool bCork);

    bool m_bStarted = false;
};
