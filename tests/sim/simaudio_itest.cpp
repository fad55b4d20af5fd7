// The substitute client's call sound on the virtual backend, in real time: its voice goes into
// the cable it was told as AUDIO_OUT and arrives at that cable's recording end; what is played
// into the cable told as AUDIO_IN lands in its recording of what the caller heard. A second
// CSimCallAudio plays the program's side of the cables.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "TestFiles.h"
#include "WaveTestUtil.h"
#include "audio/AudioTestUtil.h"
#include "platform/Desktop.h"
#include "platform/MsgLoop.h"
#include "platform/StrUtil.h"
#include "platform/audio/VirtualWave.h"
#include "sim/SkypeSim.h"
#include "sim/SkypeSimAudio.h"
#include "skype/SkypeAccessAPI.h"
#include "skype/SkypeApi.h"

using namespace std::string_literals;

namespace {

const std::string kCable1 = "Vokra Virtual Cable 1";
const std::string kCable2 = "Vokra Virtual Cable 2";
constexpr uint32_t kHeardBytesPerSec = 48000 * 2;

bool VoicePlayedAndHeard(const CSimCallAudioState& s, double seconds) {
    return s.m_bVoiceDone && s.m_uHeardBytes >= seconds * kHeardBytesPerSec;
}

class SimAudioTest : public ::testing::Test {
protected:
    CTempDir m_dir{"simaudio"};
    CVirtualWaveBackend* m_pWave = nullptr;

    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        auto wave = std::make_unique<CVirtualWaveBackend>();
        m_pWave = wave.get();
        SetWaveBackend(std::move(wave));
    }
    void TearDown() override { SetWaveBackend(nullptr); }

    std::string Folder(const std::string& name) {
        std::filesystem::create_directory(m_dir.Path(name));
        return m_dir.Path(name);
    }
    // A WAV file holding a tone.
    std::string ToneFile(const std::string& name, double freq, const CPcmSpec& spec,
                         double seconds) {
        const auto frames = static_cast<size_t>(seconds * spec.nSamplesPerSec);
        const std::string path = m_dir.Path(name);
        audiotest::WriteFile(
            path, audiotest::SimpleWav(spec.nChannels, spec.nSamplesPerSec, spec.wBitsPerSample,
                                       wavetest::ToneBytes(freq, spec, frames)));
        return path;
    }
    // The samples of a recording, after checking its format.
    static std::vector<double> Heard(const std::string& path) {
        CSimSound sound;
        EXPECT_TRUE(ReadSimSound(path, sound)) << path;
        EXPECT_EQ(sound.m_spec, CSimCallAudio::kHeardSpec);
        return wavetest::FirstChannel(sound.m_vData, sound.m_spec);
    }
    static double Level(const std::vector<double>& s, double freq) {
        return wavetest::ToneLevel(s, freq, CSimCallAudio::kHeardSpec.nSamplesPerSec);
    }
};

TEST_F(SimAudioTest, EachSideHearsOnlyTheOthersVoiceThroughTheCables) {
    CSimCallAudio client(Folder("client"));    // the caller's client
    CSimCallAudio program(Folder("program"));  // plays into cable 1, records cable 2
    client.SetCallerVoice(1, ToneFile("caller.wav", 440, {1, 16000, 16}, 0.6));
    program.SetCallerVoice(7, ToneFile("greeting.wav", 1000, {2, 22050, 16}, 0.6));

    client.OnCallAudioStart(1, kCable1, kCable2);
    program.OnCallAudioStart(7, kCable2, kCable1);
    auto done = [](const CSimCallAudioState& s) { return VoicePlayedAndHeard(s, 0.9); };
    ASSERT_TRUE(client.WaitFor(1, done));
    ASSERT_TRUE(program.WaitFor(7, done));
    client.OnCallAudioStop(1);
    program.OnCallAudioStop(7);
    ASSERT_TRUE(client.WaitUntilQuiet(1));
    ASSERT_TRUE(program.WaitUntilQuiet(7));

    const CSimCallAudioState s = client.State(1);
    ASSERT_EQ(s.m_vecHeardFiles.size(), 1u);
    EXPECT_EQ(s.m_vecHeardFiles[0], m_dir.Path("client/call1-heard-1.wav"));
    EXPECT_EQ(s.m_uVoiceBytesQueued, 16000u * 2 * 6 / 10);
    const std::vector<double> heardByCaller = Heard(s.m_vecHeardFiles[0]);
    const std::vector<double> heardByProgram = Heard(program.State(7).m_vecHeardFiles[0]);
    // The whole file is its true length: everything recorded is in it.
    EXPECT_EQ(heardByCaller.size() * 2, s.m_uHeardBytes);
    EXPECT_GT(Level(heardByCaller, 1000), 2000);
    EXPECT_LT(Level(heardByCaller, 440), 200);
    EXPECT_GT(Level(heardByProgram, 440), 2000);
    EXPECT_LT(Level(heardByProgram, 1000), 200);
}

TEST_F(SimAudioTest, AnUnpluggedRecordingDeviceEndsItsFileWithWhatItHeld) {
    CLogCapture log;
    CSimCallAudio client(Folder("client"));
    client.SetCallerVoice(3, m_dir.Path("no such voice.wav"));  // the caller stays silent
    client.OnCallAudioStart(3, kCable1, kCable2);
    ASSERT_TRUE(client.WaitFor(3, [](const CSimCallAudioState& s) { return s.m_uHeardBytes > 0; }));
    ASSERT_TRUE(m_pWave->RemoveDevice(EWaveKind::In, kCable1));
    // Nothing else carried the call's sound: it goes quiet by itself, the file finished.
    ASSERT_TRUE(client.WaitUntilQuiet(3));
    const CSimCallAudioState s = client.State(3);
    EXPECT_EQ(s.m_uVoiceBytesQueued, 0u);
    ASSERT_EQ(s.m_vecHeardFiles.size(), 1u);
    EXPECT_EQ(Heard(s.m_vecHeardFiles[0]).size() * 2, s.m_uHeardBytes);
    EXPECT_TRUE(log.HasPrefix("CSimCallAudio call 3 recording stops"));
    client.OnCallAudioStop(3);  // the call's own end finds nothing left to stop
    EXPECT_TRUE(client.WaitUntilQuiet(3));
    EXPECT_EQ(client.State(3).m_nFinishedFiles, 1);
}

// The program's window on a thread of its own: attaches and keeps what the client sends.
class CProgramThread : public CMsgThread {
public:
    ~CProgramThread() override { StopThread(); }
    HWND Hwnd() const { return m_wnd.GetSafeHwnd(); }
    void Discover() {
        Desktop().PostMessage(HWND_BROADCAST, RegisterWindowMessage(g_szSkypeControlAPIDiscover),
                              Hwnd(), 0);
    }
    bool WaitForLine(const std::string& line) {
        std::unique_lock lk(m_m);
        return m_cv.wait_for(lk, std::chrono::seconds(20), [&] {
            return std::find(m_vecLines.begin(), m_vecLines.end(), line) != m_vecLines.end();
        });
    }
    bool WaitForAttach() {
        std::unique_lock lk(m_m);
        return m_cv.wait_for(lk, std::chrono::seconds(20), [&] { return m_bAttached; });
    }
    // Sends a command and waits for the reply that is given.
    bool Ask(HWND hWndSim, const std::string& line, const std::string& reply) {
        Desktop().SendCopyData(hWndSim, Hwnd(), 0, line.c_str(),
                               static_cast<uint32_t>(line.size() + 1));
        return WaitForLine(reply);
    }

protected:
    bool InitInstance() override { return m_wnd.CreateWindowOn(Loop(), "program"); }

private:
    class CWnd : public CWindow {
    public:
        explicit CWnd(CProgramThread& owner) : m_owner(owner) {}
        LRESULT WindowProc(UINT message, WPARAM, LPARAM lParam) override {
            std::lock_guard g(m_owner.m_m);
            if (message == RegisterWindowMessage(g_szSkypeControlAPIAttach)) {
                m_owner.m_bAttached = lParam == SKYPE_ATTACH_SUCCESS;
            } else if (message == WM_COPYDATA) {
                std::string line;
                if (ReadSkypeCopyData(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), line))
                    m_owner.m_vecLines.push_back(line);
            }
            m_owner.m_cv.notify_all();
            return 1;
        }

    private:
        CProgramThread& m_owner;
    };

    std::mutex m_m;
    std::condition_variable m_cv;
    bool m_bAttached = false;
    std::vector<std::string> m_vecLines;
    CWnd m_wnd{*this};
};

TEST_F(SimAudioTest, AnAnsweredCallCarriesSoundOnTheDevicesSetAndEveryStretchGetsItsFile) {
    CLogCapture log;
    CSimCallAudio audio(Folder("client"));
    CSimCallAudio program(Folder("program"));
    CSkypeSim sim;
    sim.SetCallAudio(&audio);
    ASSERT_TRUE(sim.Start());
    CProgramThread prog;
    ASSERT_TRUE(prog.CreateThread());
    prog.Discover();
    ASSERT_TRUE(prog.WaitForAttach());

    const int id = sim.IncomingCall("alice");
    audio.SetCallerVoice(id, ToneFile("alice.wav", 700, {1, 16000, 16}, 0.4));
    program.OnCallAudioStart(1, kCable2, "");  // the program records cable 2
    ASSERT_TRUE(prog.Ask(sim.GetHwnd(), "SET AUDIO_IN " + kCable1, "AUDIO_IN " + kCable1));
    ASSERT_TRUE(prog.Ask(sim.GetHwnd(), "SET AUDIO_OUT " + kCable2, "AUDIO_OUT " + kCable2));
    ASSERT_TRUE(prog.Ask(sim.GetHwnd(), StrFormat("SET CALL %d STATUS INPROGRESS", id),
                         StrFormat("CALL %d STATUS INPROGRESS", id)));
    ASSERT_TRUE(audio.WaitFor(id, [](const CSimCallAudioState& s) { return s.m_bVoiceDone; }));
    ASSERT_TRUE(program.WaitFor(
        1, [](const CSimCallAudioState& s) { return s.m_uHeardBytes >= 0.7 * kHeardBytesPerSec; }));

    // A new microphone ends the first stretch's file and starts the next on the new device.
    ASSERT_TRUE(prog.Ask(sim.GetHwnd(), "SET AUDIO_IN Built-in Microphone",
                         "AUDIO_IN Built-in Microphone"));
    ASSERT_TRUE(audio.WaitFor(id, [](const CSimCallAudioState& s) {
        return s.m_vecHeardFiles.size() == 2 && s.m_nFinishedFiles == 1;
    }));
    // On hold and straight back: the third stretch records the same device again.
    const uint64_t uHeard = audio.State(id).m_uHeardBytes;
    sim.HoldCall(id);
    sim.ResumeCall(id);
    ASSERT_TRUE(audio.WaitFor(id, [&](const CSimCallAudioState& s) {
        return s.m_vecHeardFiles.size() == 3 && s.m_uHeardBytes > uHeard + kHeardBytesPerSec / 2;
    }));
    sim.CallerHangsUp(id);
    ASSERT_TRUE(audio.WaitUntilQuiet(id));
    EXPECT_EQ(audio.State(id).m_nFinishedFiles, 3);
    EXPECT_FALSE(log.HasPrefix("CSimCallAudio call "s + std::to_string(id) + " cannot"));
    program.OnCallAudioStop(1);
    ASSERT_TRUE(program.WaitUntilQuiet(1));
    EXPECT_GT(Level(Heard(program.State(1).m_vecHeardFiles[0]), 700), 1000);
    sim.Stop();
    sim.SetCallAudio(nullptr);
}

}  // namespace
