#pragma once
// The audio engine's face to the rest of the program: a player that sends one sound file to the
// call's cable and/or the user's speaker and says when every device has finished, a recorder
// that writes the caller's cable into a WAV file, and the lists of playback and recording
// devices with the system default first.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/WaveSinkToFileWAV.h"
#include "audio/WaveSourceFromFile.h"
#include "platform/Sync.h"
#include "platform/Types.h"
#include "platform/audio/WaveDevice.h"

class CWaveSinkToAudioDevice;
class CWaveSourceFromAudioDevice;

// Entry 0 of every device list: the system's default device.
inline constexpr const char* g_szDefaultDeviceName = "System Default";
// What the default entry was called in older settings files; it still means the default.
inline constexpr const char* g_szLegacyDefaultDeviceName = "Windows Default";

// The devices of one kind, with the default first: entry 0 is {0, WAVE_MAPPER, "System
// Default"}, entry i is {i, i - 1, the device's name (at most 31 characters)}; at most 31 devices.
class CWaveDeviceList {
public:
    static constexpr uint32_t kMaxEntries = 32;
    static constexpr size_t kMaxNameLen = 31;

    uint32_t GetCount() const { return m_nCount; }
    // An index at or beyond the count gives entry 0.
    uint32_t GetDevId(uint32_t index) const;
    std::string GetName(uint32_t index) const;
    // The first entry with exactly this name (letter case counts); none: WAVE_MAPPER.
    uint32_t GetDevIdByName(const std::string& name) const;
    // The first entry with this id; none: the default entry's name.
    std::string GetNameByDevId(uint32_t devId) const;
    EWaveKind GetKind() const { return m_eKind; }

protected:
    CWaveDeviceList(EWaveKind kind, const char* logName, const char* capsCall);

private:
    struct CEntry {
        uint32_t m_nIndex;
        uint32_t m_uDevId;
        std::string m_strName;
    };
    EWaveKind m_eKind;
    uint32_t m_nCount = 0;
    std::vector<CEntry> m_Entries;
};

class CPlaybackDeviceList : public CWaveDeviceList {
public:
    CPlaybackDeviceList();
};

class CRecordingDeviceList : public CWaveDeviceList {
public:
    CRecordingDeviceList();
};

// Plays one sound file to the cable that Skype takes as its microphone and/or to the user's
// playback device, and posts one message when every device has played the last of it.
class CPlayFile : public CWaveNotify {
public:
    enum : int {
        PF_IDLE = 0,
        PF_STARTING = 1,
        PF_PLAYING = 2,   // the file is being read
        PF_DRAINING = 3,  // the file has ended, the devices are still playing
    };

    CPlayFile();
    // Stops a play still running and releases the devices.
    ~CPlayFile() override;
    CPlayFile(const CPlayFile&) = delete;
    CPlayFile& operator=(const CPlayFile&) = delete;

    // The end is posted as msg (0, 0) to the thread (PostThreadMessage by id) or the window.
    // False, and no message ever, when the play could not start.
    bool Start(const std::string& path, bool toCable, bool toSpeaker, uint32_t threadId, UINT msg);
    bool Start(const std::string& path, bool toCable, bool toSpeaker, HWND wnd, UINT msg);
    // Stops at once, without the end message. False when nothing was playing.
    bool Stop();
    void NotifyStopped(void* who) override;

    int GetState() const { return m_nState.load(); }

private:
    bool CommonStart(const std::string& path, bool toCable, bool toSpeaker);
    bool StartCableSink();
    bool StartSpeakerSink();
    void UndoStart();
    void DoneSrcFile(void* who);
    void DoneSinkPlay(void* who);
    // Clears the sink's active flag; when no sink is active any more, the play has ended.
    void SinkFinishedLocked(CWaveSinkToAudioDevice* sink);
    // Releases a sink this player holds (or deletes one that never got its thread).
    static void DisposeSink(CWaveSinkToAudioDevice*& sink, bool& bHasThread);

    std::atomic<int> m_nState{PF_IDLE};
    CWaveSourceFromFile m_WaveSource;
    // Written by Start and Stop on the owner's thread, read by the notices under m_Lock.
    CWaveSinkToAudioDevice* m_pSinkVAC = nullptr;
    int m_bSinkVACActive = 0;
    bool m_bSinkVACThread = false;
    CWaveSinkToAudioDevice* m_pSinkSpkr = nullptr;
    int m_bSinkSpkrActive = 0;
    bool m_bSinkSpkrThread = false;
    CCriticalSection m_Lock;
    uint32_t m_nNotifyThreadId = 0;
    HWND m_hNotifyWnd = 0;
    UINT m_uNotifyMsg = 0;
    // Notices being handled right now; the destructor waits for them.
    std::atomic<int> m_nNoticesInFlight{0};
};

// Records the cable that carries Skype's output into a 16-bit mono 16,000 Hz WAV file, and can
// let the user listen on the playback device at the same time. All calls on one thread.
class CRecordFileFromVAC {
public:
    enum : int { RF_IDLE = 0, RF_STARTING = 1, RF_RECORDING = 2 };

    CRecordFileFromVAC();
    // Finishes a recording still running.
    ~CRecordFileFromVAC();
    CRecordFileFromVAC(const CRecordFileFromVAC&) = delete;
    CRecordFileFromVAC& operator=(const CRecordFileFromVAC&) = delete;

    bool Start(const std::string& path, bool toSpeaker);
    // Finishes the file (its lengths then describe every sample in it).
    bool Stop();
    int GetState() const { return m_nState; }

private:
    // The WAV sink, which tells when the ending source has let it go.
    class CFileSink;

    void UndoStart();
    bool DisposeSource();

    int m_nState = RF_IDLE;
    CWaveSourceFromAudioDevice* m_pSource = nullptr;
    bool m_bSourceReady = false;  // initialised: Release may end it
    std::unique_ptr<CFileSink> m_pFileSink;
    CWaveSinkToAudioDevice* m_pSpkrSink = nullptr;
    bool m_bSpkrSinkThread = false;
};

// The player the dialogs use to let the user hear greetings and messages (speaker only). Created
// at start-up; null before and after.
extern CPlayFile* g_pPlayFile;
