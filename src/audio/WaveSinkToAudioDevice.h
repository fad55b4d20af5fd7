#pragma once
// The sink that plays what its source delivers on a wave-out device. Blocks are converted on
// the source's thread and handed to the sink's worker thread, which writes them to the device
// and frees them when the device gives them back. The sink paces its source so that only a few
// blocks wait in the device, and stops either at once (abort) or after the queued sound has
// played (drain), telling its owner when the last buffer is done.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "audio/PCMRateConvert.h"
#include "audio/WaveDeviceThread.h"
#include "audio/WaveSink.h"
#include "platform/Sync.h"
#include "platform/audio/WaveDevice.h"

class CWaveSinkToAudioDevice : public CWaveDeviceThread, public CWaveSinkBase {
public:
    static constexpr UINT WM_WAVESINK_BUFFER_NEW = WM_USER + 401;
    static constexpr UINT WM_WAVESINK_STOP = WM_USER + 402;
    static constexpr UINT WM_WAVESINK_RELEASE = WM_USER + 403;
    // WriteBuffer waits while more than this many buffers are in the device.
    static constexpr uint32_t kMaxQueued = 3;

    CWaveSinkToAudioDevice();
    // Only for a sink that was never initialised (it has no thread): Release disposes of the
    // others.
    ~CWaveSinkToAudioDevice() override;

    // devFormat null: the device plays the source's own format. The record is copied. Starts
    // the worker thread on first use; a sink may be initialised again for every use.
    bool Init(uint32_t devId, const CWaveFormat* devFormat);
    bool Start() override;
    void WriteBuffer(const void* data, uint32_t len) override;
    // notify set: drain, notify null: abort. Returns once the worker has taken the request
    // (abort: once the device is closed).
    bool Stop(CWaveNotify* notify) override;
    void Terminate() override;
    // Ends the thread, which destroys the object: the caller forgets its pointer on success.
    bool Release();

    HWAVE GetWaveOut() const { return m_hWaveOut.load(); }
    uint32_t GetDstBufLen() const { return m_uDstBufLen; }
    uint32_t GetRefCntInWaveOut() const { return m_uRefCntInWaveOut.load(); }

protected:
    bool InitInstance() override;
    int ExitInstance() override;
    void OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // One block on its way to or in the device; owned by the worker's message, then by the
    // worker, so a block is freed even if its message is never handled.
    struct CBuffer {
        WAVEHDR hdr;
        std::vector<uint8_t> vData;
    };

    void OnWaveSinkBufferNew(WPARAM wParam);
    // Prepares and queues a buffer on the device (worker thread); a refused one is freed.
    void QueueToDevice(std::unique_ptr<CBuffer> pBuf);
    // Plays what the converter still holds at the end of a drained stream.
    void QueueConverterTail();
    void OnWaveSinkBufferDone(WAVEHDR* pHdr);
    void OnWaveSinkStop(CWaveNotify* notify, int* pResult);
    void OnReleaseEndThread();
    bool StopWaveOut();
    bool CloseWaveOut();
    void LogWaveOutError(MMRESULT code, HWAVE hDevice, int line) const;

    std::atomic<HWAVE> m_hWaveOut{0};
    uint32_t m_uDevId = 0;
    std::optional<CWaveFormat> m_pDevFormat;
    int m_bChannelChange = 0;
    int m_nChannelChangeByteWidth = -1;
    int m_bRateConvert = 0;
    CPCMRateConvert m_RateConvert;
    CWaveFormat m_OutFormat;  // what the device plays
    CWaveFormat m_SrcFormat;  // the source's format after the channel reduction
    uint32_t m_uDstBufLen = 0;
    uint32_t m_uPeriod = 100;  // the source's buffer period, read at Start
    std::atomic<uint32_t> m_uRefCntInWaveOut{0};
    std::atomic<bool> m_bStopPending{false};  // written by the worker, and cleared by Init
    std::unique_ptr<CEvent> m_pStopDoneEvent;
    bool m_bThreadCreated = false;
    std::map<WAVEHDR*, std::unique_ptr<CBuffer>> m_mapInWaveOut;  // worker only
    std::vector<uint8_t> m_vScratch;                              // source thread only
};
