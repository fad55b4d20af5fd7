#pragma once
// The audio side of an answered call, as the voice messages see it: start the sequence (beep,
// greeting, beep, then recording the caller into a file) and stop it, learning how many
// seconds were recorded. The answering-stages thread implements it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/MsgLoop.h"
#include "platform/Sync.h"

class IMessageAudioStages {
public:
    virtual ~IMessageAudioStages() = default;
    // Starts the sequence and returns at once. greeting: the greeting setting as stored;
    // recordPath: the file the caller is recorded into.
    virtual void MsgAudioStageStart(const std::string& greeting, const std::string& recordPath) = 0;
    // Stops the sequence and returns the seconds recorded (0 when the recording never began).
    // May block for a while (the sequence stops on its own thread).
    virtual int MsgAudioStageStop() = 0;
};

// Set at start-up before the handler thread runs, and cleared only after it has ended; null
// while there are none (an answered call then records nothing).
extern IMessageAudioStages* g_pMessageAudioStages;

// What the stages play and record with: the devices (CStagesDeviceAudio) in the program.
// Every call comes from the stages thread.
class IStagesAudio {
public:
    virtual ~IStagesAudio() = default;
    // Plays into the cable (and the speaker); the end comes as msg to the thread. False, and no
    // message, when the file cannot be played.
    virtual bool PlayFile(const std::string& path, bool toSpeaker, uint32_t threadId, UINT msg) = 0;
    virtual bool StopPlay() = 0;
    // A play has started and not yet ended.
    virtual bool IsPlaying() const = 0;
    virtual bool StartRecording(const std::string& path, bool toSpeaker) = 0;
    virtual bool StopRecording() = 0;
};

// The answering stages on their own thread: 1 "beep1.wav", 2 the greeting, 3 "beep2.wav", each
// started when the previous play has ended, then 4 the recording until a stop.
class CMessageAudioStages : public CMsgThread, public IMessageAudioStages {
public:
    // Plays and records with the devices.
    CMessageAudioStages();
    explicit CMessageAudioStages(std::unique_ptr<IStagesAudio> audio);
    // Ends the thread; a recording still running is finished first.
    ~CMessageAudioStages() override;

    void MsgAudioStageStart(const std::string& greeting, const std::string& recordPath) override;
    int MsgAudioStageStop() override;

protected:
    void OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int ExitInstance() override;

private:
    struct CStartPaths {
        std::string strGreeting;
        std::string strRecordPath;
    };
    void onMsgAudioStgStart(std::unique_ptr<CStartPaths> paths);
    void onMsgAudioStgStop();
    void onMsgAudioStgAnnouncementEnd();
    void RunStage(int n);
    // Ends whatever the last sequence left running.
    void StopAll();

    std::unique_ptr<IStagesAudio> m_pAudio;
    // Stages thread only.
    int m_nStage = 0;
    int m_nNextStage = 0;
    std::string m_strGreetingPath;
    std::string m_strRecordPath;
    // Written on the stages thread, read by the stopping thread.
    std::atomic<bool> m_bRecordingStarted{false};
    std::atomic<uint64_t> m_tRecordingStart{0};  // process clock, ms
    // The stopping thread's own.
    int m_nRecordedSeconds = 0;
    CEvent m_evStopped{false, false};
};

// Start-up: the shared player g_pPlayFile and the answering-stages thread g_pMessageAudioStages,
// started at once. False (and nothing left behind) when the thread cannot start.
bool CreateAudioControl();
// Shutdown, the reverse way: the stages thread ends (a recording still running is finished),
// then the shared player. The handler thread must have ended.
void DestroyAudioControl();
