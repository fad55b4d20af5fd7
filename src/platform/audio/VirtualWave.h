#pragma once
// The "virtual" wave backend: devices that live inside the process. Two loopback cables carry
// what is played into a cable's playback end to the same cable's recording end, in real time and
// only there; "Speakers" plays nowhere and "Microphone" records silence. Every open device runs
// on the process clock: a device thread of the backend wakes every kTickMs, consumes what the
// players have queued, mixes each cable and fills the recorders' buffers. Under a manual clock
// nothing moves until the test advances it.
//
// A cable carries 32-bit float stereo at kCableRate; each end converts from or to the format it
// was opened with (libsoxr for the rate, exactly when the rates are equal). A cable mixes all its
// players; each recording end takes one recorder at a time.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/WaveDevice.h"

std::unique_ptr<IWaveBackend> CreateVirtualWaveBackend();

// One device of the virtual backend.
struct CVirtualDeviceDesc {
    std::string strName;
    EWaveKind kind = EWaveKind::Out;
    int nCable = 0;  // the cable this is an end of (1, 2, ...); 0: plays nowhere or is silent
    std::vector<DWORD> vRates;  // the only rates it accepts; empty: any from 8,000 to 192,000 Hz
    bool bDefault = false;      // opened by WAVE_MAPPER
};

class CVirtualWaveBackend : public IWaveBackend {
public:
    static constexpr uint32_t kTickMs = 10;
    static constexpr DWORD kCableRate = 48000;
    static constexpr DWORD kMinRate = 8000;
    static constexpr DWORD kMaxRate = 192000;

    // "Speakers" and "Microphone" (the defaults), then the two ends of "Vokra Virtual Cable 1"
    // and "Vokra Virtual Cable 2".
    CVirtualWaveBackend();
    // Ends the device thread. Handles still open are dropped; their queued buffers do not come
    // back.
    ~CVirtualWaveBackend() override;

    const char* Name() const override { return "virtual"; }
    UINT GetNumDevs(EWaveKind kind) override;
    MMRESULT GetDevName(EWaveKind kind, UINT devId, std::string& name) override;
    MMRESULT Open(EWaveKind kind, HWAVE* phDevice, UINT devId, const CPcmSpec& pcm,
                  CMsgLoop* pCallback) override;
    MMRESULT Prepare(HWAVE hDevice, WAVEHDR* pHdr) override;
    MMRESULT Unprepare(HWAVE hDevice, WAVEHDR* pHdr) override;
    MMRESULT Queue(HWAVE hDevice, WAVEHDR* pHdr) override;
    MMRESULT Start(HWAVE hDevice) override;
    MMRESULT Stop(HWAVE hDevice) override;
    MMRESULT Reset(HWAVE hDevice) override;
    // Closing a device that was removed succeeds (once its buffers are back): there is nothing
    // left to refuse, and the caller must be able to let go of the handle.
    MMRESULT Close(HWAVE hDevice) override;

    // --- Test hooks -------------------------------------------------------------------------
    // Appends a device after those of its kind; returns its id.
    UINT AddDevice(const CVirtualDeviceDesc& desc);
    // Unplugs the first device of the kind with that name: the ids after it move down by one.
    // Every handle open on it gives back its queued buffers at once, marked done (recordings
    // with what they hold); afterwards its calls fail with MMSYSERR_NODRIVER, except Unprepare
    // and Close.
    bool RemoveDevice(EWaveKind kind, const std::string& name);
    // Replaces the rates a device accepts (empty: all); for handles opened later.
    bool SetDeviceRates(EWaveKind kind, const std::string& name, std::vector<DWORD> rates);
    // Returns once the device thread has processed the sound up to the process clock's present
    // (at once when nothing is open). With a manual clock: advance, then call this.
    void WaitProcessed();
    // Handles open now.
    size_t OpenHandles() const;
    // The name of the device a handle was opened on; empty for no such handle.
    std::string HandleDeviceName(HWAVE hDevice) const;

private:
    struct CDevice;
    struct CStream;
    struct CCable;

    CStream* FindLocked(HWAVE hDevice) const;
    std::vector<std::shared_ptr<CDevice>>& ListOf(EWaveKind kind);
    void CompleteLocked(CStream& s, WAVEHDR* pHdr);
    void ReturnAllLocked(CStream& s);
    void ThreadMain();
    void ProcessLocked(uint64_t nowMs);
    void ProcessStepLocked(uint64_t nowMs);
    void PlayLocked(CStream& s, uint64_t frames, uint64_t nowMs);
    void RecordLocked(CStream& s, const std::vector<float>& cableFrames, uint64_t silentFrames);
    void FillLocked(CStream& s, const uint8_t* data, size_t len);

    mutable std::mutex m_m;
    std::condition_variable m_cv;      // wakes the device thread
    std::condition_variable m_cvDone;  // the device thread finished a pass or went idle
    std::vector<std::shared_ptr<CDevice>> m_vOut;
    std::vector<std::shared_ptr<CDevice>> m_vIn;
    std::map<HWAVE, std::unique_ptr<CStream>> m_streams;
    std::map<int, std::unique_ptr<CCable>> m_cables;  // cables with an open end
    HWAVE m_hNext = 0x100;
    uint64_t m_uPasses = 0;  // passes the device thread has completed
    uint64_t m_uLastPassMs = 0;
    bool m_bPassed = false;  // m_uLastPassMs holds the time of a pass since the last idle
    bool m_bKick = false;    // run a pass now
    bool m_bQuit = false;
    bool m_bThreadIdle = true;  // the device thread waits without the clock
    std::thread m_thread;
};
