#pragma once
// One open wave device of the pulse backend: a libpulse stream and its queue of caller buffers.
// Every member runs with the main loop's lock held, whether called by the backend (any thread)
// or by libpulse (the loop's thread); buffers go back to the caller's loop as posted messages.
#include <pulse/pulseaudio.h>

#include <deque>

#include "platform/audio/PulseContext.h"
#include "platform/audio/WaveDevice.h"

class CMsgLoop;

class CPulseStream {
public:
    CPulseStream(CPulseContext& ctx, EWaveKind kind, HWAVE hDevice, const CPcmSpec& pcm,
                 CMsgLoop* pCallback);
    virtual ~CPulseStream();
    CPulseStream(const CPulseStream&) = delete;
    CPulseStream& operator=(const CPulseStream&) = delete;

    // The sample layout for a device format; false when libpulse cannot carry it.
    static bool ToSampleSpec(const CPcmSpec& pcm, pa_sample_spec* pSpec);

    // Connects to the device named devName (null: the server's default) and waits until the
    // stream runs. Posts the open message on success.
    MMRESULT Open(const char* devName);
    MMRESULT Queue(WAVEHDR* pHdr);
    virtual MMRESULT Start() { return MMSYSERR_INVALHANDLE; }
    virtual MMRESULT Stop() { return MMSYSERR_INVALHANDLE; }
    virtual MMRESULT Reset() = 0;
    // Refused while buffers are queued; otherwise plays out what the server holds (playback),
    // disconnects and posts the close message.
    MMRESULT Close();

    HWAVE Handle() const { return m_hDevice; }
    // The device or its server went away: every buffer has come back.
    bool IsLost() const { return m_bLost; }
    // The stream failed under us: give every buffer back and refuse further use.
    void Lose();

protected:
    virtual int ConnectStream(const char* devName, pa_stream_flags_t flags) = 0;
    virtual void OnQueued() {}
    // Waits for what the server still holds to be played (playback).
    virtual void Drain() {}

    // Marks the buffer done and sends it back.
    void Return(WAVEHDR* pHdr);
    // Sends back every queued buffer, in order.
    void ReturnAll();
    // Sends an operation off without waiting for it.
    static void Forget(pa_operation* pOp);

    CPulseContext& m_ctx;
    pa_stream* m_pStream = nullptr;
    pa_sample_spec m_sampleSpec{};
    std::deque<WAVEHDR*> m_queue;

private:
    static void OnState(pa_stream* s, void* self);
    void Disconnect();

    const EWaveKind m_kind;
    const HWAVE m_hDevice;
    const CPcmSpec m_pcm;
    CMsgLoop* const m_pCallback;
    bool m_bLost = false;
};
