#include "messages/MessageAudioStages.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "app/WindowMessages.h"
#include "audio/AudioCtrl.h"
#include "platform/Clock.h"
#include "platform/FileUtil.h"

IMessageAudioStages* g_pMessageAudioStages = nullptr;

namespace {
constexpr uint32_t kStopWaitMs = 10000;
constexpr int kStageRecord = 4;
constexpr int kStageNone = 6;

// The player and the recorder of the answering stages: the greeting goes into cable 1, the
// caller is recorded from cable 2.
class CStagesDeviceAudio : public IStagesAudio {
public:
    bool PlayFile(const std::string& path, bool toSpeaker, uint32_t threadId, UINT msg) override {
        return m_PlayFile.Start(path, true, toSpeaker, threadId, msg);
    }
    bool StopPlay() override { return m_PlayFile.Stop(); }
    bool IsPlaying() const override { return m_PlayFile.GetState() != CPlayFile::PF_IDLE; }
    bool StartRecording(const std::string& path, bool toSpeaker) override {
        return m_RecordFile.Start(path, toSpeaker);
    }
    bool StopRecording() override { return m_RecordFile.Stop(); }

private:
    CPlayFile m_PlayFile;
    CRecordFileFromVAC m_RecordFile;
};

std::unique_ptr<CPlayFile> g_pOwnedPlayFile;
std::unique_ptr<CMessageAudioStages> g_pOwnedStages;
}  // namespace

CMessageAudioStages::CMessageAudioStages()
    : CMessageAudioStages(std::make_unique<CStagesDeviceAudio>()) {}

CMessageAudioStages::CMessageAudioStages(std::unique_ptr<IStagesAudio> audio)
    : m_pAudio(std::move(audio)) {}

CMessageAudioStages::~CMessageAudioStages() {
    StopThread();
}

int CMessageAudioStages::ExitInstance() {
    // The player and the recorder belong to this thread: a recording still running is
    // finished here, so its file is complete.
    StopAll();
    return 0;
}

void CMessageAudioStages::MsgAudioStageStart(const std::string& greeting,
                                             const std::string& recordPath) {
    VLOG(INFO, "CMessageAudioStages::MsgAudioStageStart()");
    m_nRecordedSeconds = 0;
    m_bRecordingStarted = false;
    auto paths = std::make_unique<CStartPaths>(CStartPaths{greeting, recordPath});
    if (!PostThreadMessage(WM_STAGES_START, std::move(paths)))
        VLOG(WARNING, "CMessageAudioStages::MsgAudioStageStart [the stages thread is not running]");
}

int CMessageAudioStages::MsgAudioStageStop() {
    VLOG(INFO, "CMessageAudioStages::MsgAudioStageStop()");
    // A signal left from an earlier sequence must not end this wait before the stop is done.
    m_evStopped.Reset();
    if (!PostThreadMessage(WM_STAGES_STOP))
        VLOG(WARNING, "CMessageAudioStages::MsgAudioStageStop [the stages thread is not running]");
    else if (!m_evStopped.Wait(kStopWaitMs))
        VLOG(WARNING, "CMessageAudioStages::MsgAudioStageStop [no stop within %d ms]",
             static_cast<int>(kStopWaitMs));
    // Counted once: a second stop of the same sequence gives the same seconds.
    if (m_bRecordingStarted.exchange(false))
        m_nRecordedSeconds = static_cast<int>((Clock().NowMs() - m_tRecordingStart.load()) / 1000);
    return m_nRecordedSeconds;
}

void CMessageAudioStages::OnThreadMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_STAGES_START:
            onMsgAudioStgStart(TakePayload<CStartPaths>(wParam));
            break;
        case WM_STAGES_STOP:
            onMsgAudioStgStop();
            break;
        case WM_STAGES_PLAY_ENDED:
            onMsgAudioStgAnnouncementEnd();
            break;
        default:
            break;
    }
}

void CMessageAudioStages::onMsgAudioStgStart(std::unique_ptr<CStartPaths> paths) {
    VLOG(INFO, "CMessageAudioStages::onMsgAudioStgStart()");
    if (!paths)
        return;
    // A sequence whose stop never came (it timed out) must not keep the devices.
    if (m_nStage >= 1 && m_nStage <= kStageRecord && m_nNextStage != kStageNone)
        StopAll();
    m_strGreetingPath = paths->strGreeting;
    m_strRecordPath = paths->strRecordPath;
    RunStage(1);
}

void CMessageAudioStages::onMsgAudioStgStop() {
    VLOG(INFO, "CMessageAudioStages::onMsgAudioStgStop()");
    if (m_nStage >= 1 && m_nStage <= 3) {
        m_nNextStage = kStageNone;
        m_pAudio->StopPlay();
    } else if (m_nStage == kStageRecord || m_nStage == 5) {
        m_nNextStage = kStageNone;
        m_pAudio->StopRecording();
    }
    m_evStopped.Set();
}

void CMessageAudioStages::onMsgAudioStgAnnouncementEnd() {
    VLOG(INFO, "CMessageAudioStages::onMsgAudioStgAnnouncementEnd()");
    // The end of a play that was stopped may still arrive after the next play began: that one
    // has not ended.
    if (m_pAudio->IsPlaying()) {
        VLOG(INFO, "CMessageAudioStages::onMsgAudioStgAnnouncementEnd [a play still runs: late]");
        return;
    }
    m_pAudio->StopPlay();
    RunStage(m_nNextStage);
}

void CMessageAudioStages::RunStage(int n) {
    const std::string folder = GetProgramFolder();
    const bool toSpeaker = MuteVolumeOnAnswer.load() == 0;
    for (;; ++n) {
        m_nStage = n;
        m_nNextStage = n + 1;
        std::string path;
        switch (n) {
            case 1:
                path = folder + "beep1.wav";
                break;
            case 2:
                path = m_strGreetingPath == "greeting.wav" ? folder + "greeting.wav"
                                                           : m_strGreetingPath;
                break;
            case 3:
                path = folder + "beep2.wav";
                break;
            case kStageRecord:
                m_tRecordingStart = Clock().NowMs();
                if (m_pAudio->StartRecording(m_strRecordPath, toSpeaker)) {
                    m_bRecordingStarted = true;
                } else {
                    // Nothing is being recorded: the call must not be filed with a length.
                    VLOG(WARNING, "CMessageAudioStages::RunStage [the recording could not start]");
                }
                return;
            case 5:
                m_pAudio->StopRecording();
                m_evStopped.Set();
                return;
            default:
                return;
        }
        if (m_pAudio->PlayFile(path, toSpeaker, ThreadId(), WM_STAGES_PLAY_ENDED))
            return;
        // A sound that cannot be played (a greeting file moved away, a damaged beep) is left
        // out: the caller still hears the rest and is still recorded.
        VLOG(WARNING, "CMessageAudioStages::RunStage [stage %d: '%s' could not be played, skipped]",
             n, path.c_str());
    }
}

void CMessageAudioStages::StopAll() {
    m_pAudio->StopPlay();
    m_pAudio->StopRecording();
    m_nNextStage = kStageNone;
}

bool CreateAudioControl() {
    if (g_pOwnedStages)
        return true;
    auto player = std::make_unique<CPlayFile>();
    auto stages = std::make_unique<CMessageAudioStages>();
    if (!stages->CreateThread()) {
        VLOG(WARNING, "CreateAudioControl [the answering stages thread did not start]");
        return false;
    }
    g_pOwnedPlayFile = std::move(player);
    g_pPlayFile = g_pOwnedPlayFile.get();
    g_pOwnedStages = std::move(stages);
    g_pMessageAudioStages = g_pOwnedStages.get();
    return true;
}

void DestroyAudioControl() {
    if (g_pMessageAudioStages == g_pOwnedStages.get())
        g_pMessageAudioStages = nullptr;
    g_pOwnedStages.reset();
    g_pPlayFile = nullptr;
    g_pOwnedPlayFile.reset();
}
