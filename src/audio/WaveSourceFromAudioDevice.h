#pragma once
// The source that records from a wave-in device: twenty buffers rotate between the device and
// the source's worker thread, which hands each filled one to the sinks and queues it again. A
// recording never ends by itself; its owner stops and releases it, and the object then goes
// away with its thread.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/WaveDeviceThread.h"
#include "audio/WaveSource.h"
#include "platform/audio/WaveDevice.h"

class CWaveSourceFromAudioDevice : public CWaveDeviceThread, public CWaveSourceBase {
public:
    static constexpr int kBufferCount = 20;
    static constexpr UINT WM_WAVESOURCE_RELEASE = WM_USER + 451;

    CWaveSourceFromAudioDevice();
    // Only for an object whose thread never ran: Release disposes of the others.
    ~CWaveSourceFromAudioDevice() override;

    // Opens device devId (WAVE_MAPPER: the default) with the PCM format and allocates the
    // buffers. Refused while a device is open.
    bool Init(uint32_t devId, const CWaveFormat* format);
    bool Start(CWaveNotify* notify) override;
    bool Stop() override;
    // Closes the device and ends the thread, which destroys the object: the caller forgets its
    // pointer on success. Refused while running.
    bool Release();

    int GetState() const { return m_nState.load(); }
    std::vector<uint32_t> GetBufferSizes() const;

protected:
    bool InitInstance() override;
    int ExitInstance() override;
    void OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct CBuffer {
        WAVEHDR hdr;
        std::vector<uint8_t> vData;
    };

    void OnWaveSourceDataNew(HWAVE hDevice, WAVEHDR* pHdr);
    void OnReleaseEndThread();
    void LogWaveInError(MMRESULT code, HWAVE hDevice, int line) const;

    std::atomic<HWAVE> m_hWaveIn{0};
    uint32_t m_uDevId = 0;
    bool m_bThreadCreated = false;
    std::vector<std::unique_ptr<CBuffer>> m_BufferList;
    mutable CCriticalSection m_csBuffers;
    // Serialises re-queueing on the worker with the owner's Start and Stop, and counts the
    // buffers out with the device (queued, or on their way back): a buffer can never be queued
    // again after Stop has taken them back, and Start waits until every one is home.
    std::mutex m_mQueue;
    std::condition_variable m_cvQueue;
    int m_nOut = 0;
    bool m_bEnding = false;  // worker only: the release message has been handled
};
