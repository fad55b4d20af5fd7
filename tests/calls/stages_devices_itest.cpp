// The answering stages with the real player and recorder on the virtual devices, in real time
// with short sounds: the caller's voice in cable 2 ends up in the recording, a stop during the
// greeting records nothing, and a greeting that cannot be played is left out.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/CableNames.h"
#include "app/Settings.h"
#include "audio/AudioCtrl.h"
#include "audio/AudioCtrlTestUtil.h"
#include "messages/MessageAudioStages.h"
#include "platform/FileUtil.h"
#include "platform/audio/VirtualWave.h"

using namespace audiotest;

namespace {

const char* const kCable1 = "Vokra Virtual Cable 1";
const char* const kCable2 = "Vokra Virtual Cable 2";

// Plays one buffer of sound into a playback device, as the caller's side would.
class CCallerVoice {
public:
    bool Start(const std::string& device, const std::vector<int16_t>& samples, CMsgLoop* loop) {
        const CPlaybackDeviceList list;
        m_vData = Samples16(samples);
        m_hdr.lpData = m_vData.data();
        m_hdr.dwBufferLength = static_cast<DWORD>(m_vData.size());
        const CPcmSpec pcm{1, 16000, 16};
        return WaveDevices().Open(EWaveKind::Out, &m_h, list.GetDevIdByName(device), pcm, loop) ==
                   MMSYSERR_NOERROR &&
               WaveDevices().Prepare(m_h, &m_hdr) == MMSYSERR_NOERROR &&
               WaveDevices().Queue(m_h, &m_hdr) == MMSYSERR_NOERROR;
    }
    ~CCallerVoice() {
        if (m_h == 0)
            return;
        WaveDevices().Reset(m_h);
        WaveDevices().Unprepare(m_h, &m_hdr);
        WaveDevices().Close(m_h);
    }

private:
    HWAVE m_h = 0;
    WAVEHDR m_hdr;
    Bytes m_vData;
};

class StagesOnDevicesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.Ok());
        SetWaveBackend(std::make_unique<CVirtualWaveBackend>());
        ResetSettingsForTests();
        SetProgramFolder(m_tmp.Dir());
        g_strVac1PlaybackDevice = kCable1;
        g_strVac2RecordingDevice = kCable2;
        WriteTone(m_tmp.Path("beep1.wav"), 1000, 0.15);
        WriteTone(m_tmp.Path("greeting.wav"), 440, 0.6);
        WriteTone(m_tmp.Path("beep2.wav"), 1500, 0.15);
        ASSERT_TRUE(m_counter.CreateThread());
        ASSERT_TRUE(m_stages.CreateThread());
    }
    void TearDown() override {
        m_stages.StopThread();
        m_counter.StopThread();
        g_strVac1PlaybackDevice.clear();
        g_strVac2RecordingDevice.clear();
        SetProgramFolder("");
        ResetSettingsForTests();
        SetWaveBackend(CreateVirtualWaveBackend());
    }
    // Waits (real time) until the log holds a record that begins with prefix.
    bool WaitForLog(const std::string& prefix) {
        const auto end = std::chrono::steady_clock::now() + kGuard;
        while (!m_log.HasPrefix(prefix)) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    std::string Rec() const { return m_tmp.Path("lastvoicemsg.wav"); }

    CTempDir m_tmp{"vokra_stages_dev"};
    CLogCapture m_log;
    CMsgCounter m_counter;
    CMessageAudioStages m_stages;
};

TEST_F(StagesOnDevicesTest, TheCallersVoiceIsRecordedAfterTheGreeting) {
    CCallerVoice caller;
    ASSERT_TRUE(caller.Start(kCable2, Tone(600, 16000, 16000 * 8), &m_counter.Loop()));
    m_stages.MsgAudioStageStart("greeting.wav", Rec());
    ASSERT_TRUE(WaitForLog("CRecordFileFromVAC::Start [File Path: " + Rec()));
    EXPECT_LT(m_log.IndexOf("CPlayFile::Start [File Path: " + m_tmp.Path("beep1.wav") +
                            ", VAC: YES, Spkr:YES]"),
              m_log.IndexOf("CPlayFile::Start [File Path: " + m_tmp.Path("greeting.wav") +
                            ", VAC: YES, Spkr:YES]"));
    // A second and a bit of the caller.
    const auto end = std::chrono::steady_clock::now() + kGuard;
    while (ReadWav(Rec()).samples.size() < 16000 * 1.2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int seconds = m_stages.MsgAudioStageStop();
    EXPECT_GE(seconds, 1);
    const CWavContent w = ReadWav(Rec());
    ASSERT_TRUE(w.bOk);
    EXPECT_EQ(w.nRate, 16000u);
    // The file holds the seconds counted, give or take the last buffer.
    EXPECT_NEAR(w.samples.size() / 16000.0, seconds, 1.0);
    EXPECT_GT(ToneLevel(w.samples, 600, 16000), 1000.0);
    EXPECT_LT(ToneLevel(w.samples, 440, 16000), 200.0);  // the greeting went to the caller only
}

TEST_F(StagesOnDevicesTest, AStopDuringTheGreetingRecordsNothing) {
    WriteTone(m_tmp.Path("greeting.wav"), 440, 5.0);
    m_stages.MsgAudioStageStart("greeting.wav", Rec());
    ASSERT_TRUE(WaitForLog("CPlayFile::Start [File Path: " + m_tmp.Path("greeting.wav")));
    EXPECT_EQ(m_stages.MsgAudioStageStop(), 0);
    EXPECT_FALSE(std::filesystem::exists(Rec()));
    EXPECT_EQ(m_log.Count("CRecordFileFromVAC::Start"), 0);
}

TEST_F(StagesOnDevicesTest, AGreetingThatCannotBePlayedIsLeftOut) {
    MuteVolumeOnAnswer = 1;
    m_stages.MsgAudioStageStart(m_tmp.Path("gone.wav"), Rec());
    ASSERT_TRUE(WaitForLog("CRecordFileFromVAC::Start [File Path: " + Rec() + ", Spkr:NO]"));
    EXPECT_TRUE(m_log.HasPrefix("CPlayFile::Start [File Path: " + m_tmp.Path("beep2.wav")));
    EXPECT_EQ(m_log.Warnings("could not be played, skipped"), 1);
    m_stages.MsgAudioStageStop();
    EXPECT_TRUE(ReadWav(Rec()).bOk);
}

}  // namespace
