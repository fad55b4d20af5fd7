#pragma once
// The sound of the substitute client's calls, carried through the machine's wave devices
// (platform/audio) as the real client carries it: while a call is in progress it records the
// device it was told as AUDIO_IN (what the caller hears) into a WAV file, and plays the caller's
// voice, a sound file chosen per call, into the device told as AUDIO_OUT.
//
// Plug it into the client with CSkypeSim::SetCallAudio. Each stretch of sound of a call (from
// the call going in progress to its hold, its end or a change of device) records into a file of
// its own, "call<id>-heard-<n>.wav" in the folder given; the voice goes on where it stopped.
// Devices are found by name; "" or a name no device has means the default device.
//
// Threads: the devices are driven from a thread of its own; every public function may be
// called from any thread, and the ISimCallAudio calls return at once.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/WaveDevice.h"
#include "sim/SkypeSim.h"

// A whole sound in memory, in a format a wave device takes.
struct CSimSound {
    CPcmSpec m_spec;
    std::vector<uint8_t> m_vData;  // interleaved frames

    uint32_t BlockAlign() const { return m_spec.nChannels * (m_spec.wBitsPerSample / 8u); }
    uint32_t BytesPerSecond() const { return m_spec.nSamplesPerSec * BlockAlign(); }
};

// Reads a WAV or MP3 file with the program's own sound-file reader. False, with a WARNING log
// line, when it cannot be read or holds no sound.
bool ReadSimSound(const std::string& strPath, CSimSound& sound);

// What is known of one call's sound; a snapshot.
struct CSimCallAudioState {
    bool m_bCarrying = false;                  // devices of the call are open or still closing
    bool m_bVoiceDone = false;                 // the whole voice has been played
    uint64_t m_uVoiceBytesQueued = 0;          // bytes of the voice handed to the playback device
    uint64_t m_uHeardBytes = 0;                // bytes recorded, over every stretch
    std::vector<std::string> m_vecHeardFiles;  // one per stretch, oldest first
    int m_nFinishedFiles = 0;                  // of those, the ones closed with their final lengths
    int m_nPendingCommands = 0;                // starts and stops told but not yet carried out
};

class CSimCallAudio : public ISimCallAudio {
public:
    // The format the caller's side records in: what a call client's microphone gives.
    static constexpr CPcmSpec kHeardSpec{1, 48000, 16};

    // Recordings go into strFolder (created beforehand by the caller). Starts the thread.
    explicit CSimCallAudio(const std::string& strFolder);
    // Stops the sound of every call, finishing its files, and ends the thread.
    ~CSimCallAudio() override;
    CSimCallAudio(const CSimCallAudio&) = delete;
    CSimCallAudio& operator=(const CSimCallAudio&) = delete;

    // The caller's voice for a call, read when its sound starts; an empty path: silent.
    void SetCallerVoice(int nCallId, const std::string& strPath);
    // For calls without a voice of their own.
    void SetDefaultVoice(const std::string& strPath);

    CSimCallAudioState State(int nCallId) const;
    // Waits until pred holds for the call's state (checked at every change), at most nTimeoutMs.
    bool WaitFor(int nCallId, const std::function<bool(const CSimCallAudioState&)>& pred,
                 uint32_t nTimeoutMs = 20000) const;
    // Waits until the call carries no sound and every file of it is finished.
    bool WaitUntilQuiet(int nCallId, uint32_t nTimeoutMs = 20000) const;

    void OnCallAudioStart(int nCallId, const std::string& strAudioIn,
                          const std::string& strAudioOut) override;
    void OnCallAudioStop(int nCallId) override;

private:
    class CThread;
    struct CStream;
    struct CCallSound;

    // On the thread.
    void OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void StartCall(int nCallId, const std::string& strIn, const std::string& strOut);
    void StopCall(int nCallId);
    void BeginStretch(int nCallId, CCallSound& call, const std::string& strIn,
                      const std::string& strOut);
    bool HasStreams(int nCallId) const;
    void StartPlaying(int nCallId, CCallSound& call, const std::string& strDevice);
    void StartRecording(int nCallId, CCallSound& call, const std::string& strDevice);
    void OnBufferBack(EWaveKind kind, HWAVE hDevice, WAVEHDR* pHdr);
    bool FillAndQueue(CStream& s, WAVEHDR& hdr);
    // Both may close the stream, which is then gone.
    void StopStream(CStream& s);
    void ResetStream(CStream& s);
    void CloseStream(CStream& s);
    void UpdateCarrying(int nCallId);
    void Shutdown();
    // With m_mState held.
    template <class F>
    void Change(int nCallId, F&& fn);

    std::string m_strFolder;
    std::unique_ptr<CThread> m_pThread;

    // Thread only.
    std::map<int, std::unique_ptr<CCallSound>> m_mapCalls;
    std::map<std::pair<EWaveKind, HWAVE>, std::unique_ptr<CStream>> m_mapStreams;
    bool m_bShuttingDown = false;

    mutable std::mutex m_mState;
    mutable std::condition_variable m_cvState;
    std::map<int, CSimCallAudioState> m_mapState;
    std::map<int, std::string> m_mapVoices;
    std::string m_strDefaultVoice;
};
