// A call answered for real, in real time on the virtual devices: the transport, the handler, the
// answering stages with the player and the recorder, and the substitute client carrying the
// call's sound through the two cables. The caller hears beep, greeting, beep in that order; the
// message filed holds the caller's voice, as long as its name says.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>

#include "app/CableNames.h"
#include "audio/AudioCtrlTestUtil.h"
#include "audio/CableSearch.h"
#include "calls/Call.h"
#include "calls/CallsTestSupport.h"
#include "main/VokraWndCore.h"
#include "messages/Message.h"
#include "messages/MessageAudioStages.h"
#include "platform/audio/VirtualWave.h"
#include "sim/SkypeSim.h"
#include "sim/SkypeSimAudio.h"

using namespace callstest;
using namespace audiotest;

namespace {

constexpr uint32_t kRate = 16000;
constexpr double kVoiceSeconds = 4.0;

class CQuietFrontEnd : public IVokraWndListener {
public:
    void OnShowSheet(int) override {}
    void OnRefreshPage(int) override {}
    void OnShowBalloon(int, int) override {}
    void OnUpdateTrayIcon() override {}
};

// The caller's voice: a rising tone whose loudness comes and goes, so that it matches itself at
// one offset only.
std::vector<int16_t> Voice() {
    const auto n = static_cast<size_t>(kVoiceSeconds * kRate);
    std::vector<int16_t> v(n);
    double phase = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += 2 * M_PI * (300 + 150 * t) / kRate;
        const double envelope = 0.6 + 0.4 * std::sin(2 * M_PI * 1.7 * t);
        v[i] = static_cast<int16_t>(std::lround(9000 * envelope * std::sin(phase)));
    }
    return v;
}

// Averages of four samples: 4,000 Hz is plenty for a voice below 1 kHz, and 16 times cheaper to
// correlate.
std::vector<double> Quarter(const std::vector<int16_t>& s) {
    std::vector<double> q(s.size() / 4);
    for (size_t i = 0; i < q.size(); ++i)
        q[i] = (s[4 * i] + s[4 * i + 1] + s[4 * i + 2] + s[4 * i + 3]) / 4.0;
    return q;
}

// The best normalised correlation of part with whole, over every offset.
double BestCorrelation(const std::vector<double>& part, const std::vector<double>& whole) {
    double best = 0;
    double partEnergy = 0;
    for (double x : part)
        partEnergy += x * x;
    for (size_t lag = 0; lag + part.size() <= whole.size(); ++lag) {
        double dot = 0, energy = 0;
        for (size_t i = 0; i < part.size(); ++i) {
            dot += part[i] * whole[lag + i];
            energy += whole[lag + i] * whole[lag + i];
        }
        if (energy > 0 && partEnergy > 0)
            best = std::max(best, dot / std::sqrt(energy * partEnergy));
    }
    return best;
}

// The first moment (seconds) from which freq is the loudest of the given tones for 60 ms.
double FirstTime(const std::vector<int16_t>& s, uint32_t rate, double freq,
                 const std::vector<double>& tones) {
    const double step = 0.02;
    for (double t = 0; t + 0.06 <= static_cast<double>(s.size()) / rate; t += step) {
        const double level = ToneIn(s, rate, t, t + 0.06, freq);
        bool loudest = level > 1000;
        for (double other : tones)
            if (other != freq && ToneIn(s, rate, t, t + 0.06, other) >= level)
                loudest = false;
        if (loudest)
            return t;
    }
    return -1;
}

}  // namespace

class AudioEndToEndTest : public CCallsEnv {
protected:
    void SetUp() override {
        CCallsEnv::SetUp();
        SetWaveBackend(std::make_unique<CVirtualWaveBackend>());
        ASSERT_TRUE(FindCableDevices());
        const std::string prog = m_strRoot + "prog/";
        WriteTone(prog + "beep1.wav", 1000, 0.25);
        WriteTone(prog + "greeting.wav", 440, 0.8);
        WriteTone(prog + "beep2.wav", 1500, 0.25);
        m_strVoice = m_strRoot + "voice.wav";
        WriteFile(m_strVoice, SimpleWav(1, kRate, 16, Samples16(Voice())));
        std::filesystem::create_directories(m_strRoot + "heard");
        SecB4AnsweringOnline = 0;
        MuteVolumeOnAnswer = 1;
        ASSERT_TRUE(CreateAudioControl());

        m_pSimAudio = std::make_unique<CSimCallAudio>(m_strRoot + "heard/");
        m_pSimAudio->SetDefaultVoice(m_strVoice);
        m_loop.Bind();
        m_sim.SetCurrentUser("me", "Me Myself");
        m_sim.AddContact("alice", "Alice Liddell");
        m_sim.SetAudioDevices({"Microphone", g_strVac1RecordingDevice},
                              {"Speakers", g_strVac2PlaybackDevice}, "Microphone", "Speakers");
        m_sim.SetCallAudio(m_pSimAudio.get());
        ASSERT_TRUE(m_sim.Start(&m_loop));
        ASSERT_TRUE(m_core.Create(m_loop));
        m_core.SetListener(&m_front);
        ASSERT_TRUE(m_core.StartHandler());
        ASSERT_TRUE(RunUntil([this] {
            CCallsDataLock lock;
            return gCurrentUser.m_strUserName == "me" && gCurrentUser.m_nOnlineStatus != 0 &&
                   m_core.Handler().GetDefaultAudioOut() == "Speakers";
        }));
    }
    void TearDown() override {
        m_core.Shutdown();
        m_loop.PumpUntilIdle();
        m_sim.Stop();
        m_pSimAudio.reset();
        DestroyAudioControl();
        SetWaveBackend(CreateVirtualWaveBackend());
        g_strVac1PlaybackDevice.clear();
        g_strVac1RecordingDevice.clear();
        g_strVac2PlaybackDevice.clear();
        g_strVac2RecordingDevice.clear();
        CCallsEnv::TearDown();
    }
    // Pumps the test thread's loop in real time until pred holds.
    bool RunUntil(const std::function<bool()>& pred, int seconds = 30) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            m_loop.PumpUntilIdle();
            if (pred())
                return true;
            if (std::chrono::steady_clock::now() > end)
                return false;
            pollfd p{m_loop.WakeFd(), POLLIN, 0};
            ::poll(&p, 1, 10);
        }
    }

    std::string m_strVoice;
    CMsgLoop m_loop;
    CSkypeSim m_sim;
    std::unique_ptr<CSimCallAudio> m_pSimAudio;
    CQuietFrontEnd m_front;
    CVokraWndCore m_core;
};

TEST_F(AudioEndToEndTest, TheCallerHearsTheGreetingAndTheMessageHoldsTheirVoice) {
    const int id = m_sim.IncomingCall("alice");
    ASSERT_TRUE(RunUntil([&] {
        auto call = m_sim.GetCall(id);
        return call && call->m_nStatus == CALLSTATUS_INPROGRESS;
    })) << m_log.Dump();
    // Alice says all she has to say, then hangs up.
    ASSERT_TRUE(RunUntil([&] { return m_pSimAudio->State(id).m_bVoiceDone; }));
    m_sim.CallerHangsUp(id);
    // The recording is stopped and filed after the call has let go of the machine, so wait for
    // the message under its final name.
    ASSERT_TRUE(RunUntil([&] {
        CCallsDataLock lock;
        const std::vector<std::string> names = FilesIn(UserFolder("me"));
        CVoiceMessageName name;
        return g_pCurrentCall == nullptr && names.size() == 1 &&
               ParseVoiceMessageFileName(names[0], name);
    })) << m_log.Dump();
    ASSERT_TRUE(m_pSimAudio->WaitUntilQuiet(id));

    // The message: alice's voice, as long as its name says.
    const std::vector<std::string> files = FilesIn(UserFolder("me"));
    CVoiceMessageName parsed;
    ASSERT_TRUE(ParseVoiceMessageFileName(files[0], parsed)) << files[0];
    EXPECT_EQ(parsed.m_strUserName, "alice");
    const CWavContent rec = ReadWav(UserFolder("me") + files[0]);
    ASSERT_TRUE(rec.bOk);
    EXPECT_EQ(rec.nRate, kRate);
    EXPECT_EQ(rec.nChannels, 1);
    const double recSeconds = static_cast<double>(rec.samples.size()) / kRate;
    EXPECT_GE(parsed.m_nDuration, 1);
    EXPECT_NEAR(recSeconds, parsed.m_nDuration, 1.0);
    // Everything after the beeps and greeting (about 1.3 s) of a 4 s voice was recorded.
    EXPECT_GT(recSeconds, kVoiceSeconds - 2.0);
    const std::vector<double> recorded = Quarter(rec.samples);
    const size_t skip = 4000 / 4;  // the first quarter second may hold the line settling
    ASSERT_GT(recorded.size(), skip + 4000);
    const std::vector<double> part(recorded.begin() + skip, recorded.begin() + skip + 4000);
    EXPECT_GT(BestCorrelation(part, Quarter(Voice())), 0.8);

    // What alice heard: beep, greeting, beep, in that order.
    const CSimCallAudioState heard = m_pSimAudio->State(id);
    ASSERT_FALSE(heard.m_vecHeardFiles.empty());
    CSimSound sound;
    ASSERT_TRUE(ReadSimSound(heard.m_vecHeardFiles[0], sound));
    const std::vector<int16_t> h = ToSamples16(sound.m_vData.data(), sound.m_vData.size());
    const uint32_t rate = sound.m_pcm.nSamplesPerSec;
    const std::vector<double> tones{1000, 440, 1500};
    const double tBeep1 = FirstTime(h, rate, 1000, tones);
    const double tGreeting = FirstTime(h, rate, 440, tones);
    const double tBeep2 = FirstTime(h, rate, 1500, tones);
    EXPECT_GE(tBeep1, 0);
    EXPECT_GT(tGreeting, tBeep1);
    EXPECT_GT(tBeep2, tGreeting + 0.6);
}
