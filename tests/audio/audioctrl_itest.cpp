// The player and the recorder on the virtual devices, in real time with short sounds: one end
// message after every device has played, the 44,100 Hz fallback, files that cannot be played or
// recorded into, a stop, and devices that disappear while in use.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "AudioCtrlTestUtil.h"
#include "app/CableNames.h"
#include "app/Settings.h"
#include "audio/AudioCtrl.h"
#include "platform/audio/VirtualWave.h"

using namespace audiotest;

namespace {

constexpr UINT kEnd = WM_USER + 702;
const char* const kCable1 = "Vokra Virtual Cable 1";
const char* const kCable2 = "Vokra Virtual Cable 2";

class AudioCtrlTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.Ok());
        auto backend = std::make_unique<CVirtualWaveBackend>();
        m_pDevices = backend.get();
        SetWaveBackend(std::move(backend));
        ResetSettingsForTests();
        g_strVac1PlaybackDevice = kCable1;
        g_strVac2RecordingDevice = kCable2;
        ASSERT_TRUE(m_counter.CreateThread());
        WriteTone(Path("tone.wav"), 1000, 0.3);
    }
    void TearDown() override {
        m_counter.StopThread();
        g_strVac1PlaybackDevice.clear();
        g_strVac2RecordingDevice.clear();
        ResetSettingsForTests();
        SetWaveBackend(CreateVirtualWaveBackend());
    }
    std::string Path(const std::string& name) const { return m_tmp.Path(name); }
    size_t Ends() const {
        size_t n = 0;
        for (UINT m : m_counter.Got())
            n += m == kEnd;
        return n;
    }
    // Waits (real time) for the file to hold at least n samples.
    static bool WaitForSamples(const std::string& path, size_t n) {
        const auto end = std::chrono::steady_clock::now() + kGuard;
        while (ReadWav(path).samples.size() < n) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    CTempDir m_tmp{"vokra_audioctrl"};
    CLogCapture m_log;
    CVirtualWaveBackend* m_pDevices = nullptr;
    CMsgCounter m_counter;
};

TEST_F(AudioCtrlTest, CableAndSpeakerGiveOneEndMessageAfterBothHaveFinished) {
    CPlayFile player;
    ASSERT_TRUE(player.Start(Path("tone.wav"), true, true, m_counter.ThreadId(), kEnd));
    // A second start while this one plays is refused and changes nothing.
    EXPECT_FALSE(player.Start(Path("tone.wav"), true, false, m_counter.wnd.GetSafeHwnd(), kEnd));
    ASSERT_TRUE(m_counter.WaitFor(1));
    EXPECT_EQ(m_log.Count("CPlayFile::DoneSinkPlay"), 2) << m_log.Dump();
    EXPECT_EQ(player.GetState(), CPlayFile::PF_IDLE);
    // After a natural end a stop has nothing to do; the sinks stay for the next play.
    EXPECT_FALSE(player.Stop());

    // The next play, to the window this time, gives its own single message.
    ASSERT_TRUE(player.Start(Path("tone.wav"), false, true, m_counter.wnd.GetSafeHwnd(), kEnd));
    ASSERT_TRUE(m_counter.WaitFor(2));
    ASSERT_TRUE(m_counter.Flush());
    EXPECT_EQ(Ends(), 2u);
}

TEST_F(AudioCtrlTest, TheCableCarriesThePlayIntoTheRecording) {
    // The recorder listens at cable 1's recording end for this test.
    g_strVac2RecordingDevice = kCable1;
    CRecordFileFromVAC recorder;
    CPlayFile player;
    ASSERT_TRUE(recorder.Start(Path("rec.wav"), false));
    ASSERT_TRUE(player.Start(Path("tone.wav"), true, false, m_counter.ThreadId(), kEnd));
    ASSERT_TRUE(m_counter.WaitFor(1));
    // The end of the play is in the cable now; one more full buffer and it is in the file.
    ASSERT_TRUE(WaitForSamples(Path("rec.wav"), ReadWav(Path("rec.wav")).samples.size() + 12800));
    EXPECT_TRUE(recorder.Stop());
    EXPECT_FALSE(recorder.Stop());

    const CWavContent w = ReadWav(Path("rec.wav"));
    ASSERT_TRUE(w.bOk);
    EXPECT_EQ(w.nChannels, 1);
    EXPECT_EQ(w.nRate, 16000u);
    EXPECT_EQ(w.nBits, 16);
    EXPECT_EQ(w.uDataLen, w.samples.size() * 2);
    ASSERT_GE(w.samples.size(), 16000u * 3 / 10);
    // The tone is there, and only it.
    EXPECT_GT(ToneLevel(w.samples, 1000, 16000), 1000.0);
    EXPECT_LT(ToneLevel(w.samples, 1500, 16000), 200.0);
}

TEST_F(AudioCtrlTest, ACableThatRefuses48kHzIsPlayedAndRecordedAt44100) {
    m_pDevices->AddDevice({"Vokra Virtual Cable 9", EWaveKind::Out, 9, {44100}});
    m_pDevices->AddDevice({"Vokra Virtual Cable 9", EWaveKind::In, 9, {44100}});
    g_strVac1PlaybackDevice = "Vokra Virtual Cable 9";
    g_strVac2RecordingDevice = "Vokra Virtual Cable 9";
    CRecordFileFromVAC recorder;
    CPlayFile player;
    ASSERT_TRUE(recorder.Start(Path("rec.wav"), false));
    ASSERT_TRUE(player.Start(Path("tone.wav"), true, false, m_counter.ThreadId(), kEnd));
    ASSERT_TRUE(m_counter.WaitFor(1));
    ASSERT_TRUE(WaitForSamples(Path("rec.wav"), ReadWav(Path("rec.wav")).samples.size() + 12800));
    EXPECT_TRUE(recorder.Stop());
    EXPECT_TRUE(m_log.Has("CPlayFile::Start [got FALSE, smplrate: 48000]", WARNING));
    EXPECT_TRUE(m_log.Has("CRecordFileFromVAC::Start [got FALSE, smplrate: 48000]", WARNING));
    EXPECT_FALSE(m_log.HasPrefix("CPlayFile::Start [got FALSE, smplrate: 44100]"));
    const CWavContent w = ReadWav(Path("rec.wav"));
    ASSERT_TRUE(w.bOk);
    EXPECT_GT(ToneLevel(w.samples, 1000, 16000), 1000.0);
}

TEST_F(AudioCtrlTest, AFileThatCannotBePlayedGivesFalseAndNoMessage) {
    CPlayFile player;
    for (const std::string& path : {Path("missing.wav"), Path("tone.ogg")}) {
        SCOPED_TRACE(path);
        m_log.Clear();
        EXPECT_FALSE(player.Start(path, true, true, m_counter.ThreadId(), kEnd));
        EXPECT_TRUE(m_log.Has("CPlayFile::Start [got FALSE]", WARNING)) << m_log.Dump();
        EXPECT_EQ(player.GetState(), CPlayFile::PF_IDLE);
        EXPECT_EQ(m_pDevices->OpenHandles(), 0u);
    }
    EXPECT_TRUE(m_log.Has("CWaveSourceFromFile::Init [Audio file extention not handled]"));
    // The player is fine afterwards; only the good play reports an end.
    ASSERT_TRUE(player.Start(Path("tone.wav"), true, false, m_counter.ThreadId(), kEnd));
    ASSERT_TRUE(m_counter.WaitFor(1));
    ASSERT_TRUE(m_counter.Flush());
    EXPECT_EQ(Ends(), 1u);
}

TEST_F(AudioCtrlTest, AStopDuringPlayClosesTheDevicesAndPostsNothing) {
    WriteTone(Path("long.wav"), 700, 5.0);
    CPlayFile player;
    ASSERT_TRUE(player.Start(Path("long.wav"), true, true, m_counter.ThreadId(), kEnd));
    EXPECT_TRUE(player.Stop());
    EXPECT_EQ(player.GetState(), CPlayFile::PF_IDLE);
    EXPECT_FALSE(player.Stop());
    ASSERT_TRUE(m_counter.Flush());
    EXPECT_EQ(Ends(), 0u);
    // Played again after the stop, with new sinks.
    ASSERT_TRUE(player.Start(Path("tone.wav"), true, false, m_counter.ThreadId(), kEnd));
    ASSERT_TRUE(m_counter.WaitFor(2));
    EXPECT_EQ(Ends(), 1u);
}

TEST_F(AudioCtrlTest, RecordingIntoAnMp3IsRefusedBeforeAnyDeviceOpens) {
    CRecordFileFromVAC recorder;
    EXPECT_FALSE(recorder.Start(Path("message.mp3"), true));
    EXPECT_TRUE(m_log.Has("CRecordFileFromVAC::Start [Audio file extention not handled]", WARNING));
    EXPECT_EQ(m_log.Count("AudioDevice"), 0) << m_log.Dump();
    EXPECT_EQ(m_pDevices->OpenHandles(), 0u);
    EXPECT_FALSE(std::filesystem::exists(Path("message.mp3")));
    EXPECT_EQ(recorder.GetState(), CRecordFileFromVAC::RF_IDLE);
    EXPECT_FALSE(recorder.Stop());
}

TEST_F(AudioCtrlTest, ACableUnpluggedDuringTheRecordingKeepsWhatWasRecorded) {
    WriteTone(Path("long.wav"), 1000, 5.0);
    g_strVac1PlaybackDevice = kCable2;  // the "caller" speaks into cable 2
    CRecordFileFromVAC recorder;
    CPlayFile player;
    ASSERT_TRUE(recorder.Start(Path("rec.wav"), true));
    ASSERT_TRUE(player.Start(Path("long.wav"), true, false, m_counter.ThreadId(), kEnd));
    ASSERT_TRUE(WaitForSamples(Path("rec.wav"), 8000));

    ASSERT_TRUE(m_pDevices->RemoveDevice(EWaveKind::In, kCable2));
    const size_t kept = ReadWav(Path("rec.wav")).samples.size();
    EXPECT_TRUE(recorder.Stop());
    const CWavContent w = ReadWav(Path("rec.wav"));
    ASSERT_TRUE(w.bOk);
    EXPECT_GE(w.samples.size(), kept);
    EXPECT_EQ(w.uDataLen, w.samples.size() * 2);
    EXPECT_GT(ToneLevel(w.samples, 1000, 16000), 1000.0);
    EXPECT_TRUE(player.Stop());
    EXPECT_EQ(m_pDevices->OpenHandles(), 0u);
}

TEST_F(AudioCtrlTest, ACableUnpluggedDuringThePlayStillEndsIt) {
    WriteTone(Path("long.wav"), 1000, 3.0);
    CPlayFile player;
    ASSERT_TRUE(player.Start(Path("long.wav"), true, false, m_counter.ThreadId(), kEnd));
    ASSERT_TRUE(m_pDevices->RemoveDevice(EWaveKind::Out, kCable1));
    ASSERT_TRUE(m_counter.WaitFor(1));
    EXPECT_EQ(Ends(), 1u);
    EXPECT_EQ(player.GetState(), CPlayFile::PF_IDLE);
}

}  // namespace
