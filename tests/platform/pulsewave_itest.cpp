// The pulse backend against a private PulseAudio daemon with the two cables: listing, a tone
// through a cable, buffer order and counts, reset, and devices or a server that go away.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "PulseTestDaemon.h"
#include "WaveInbox.h"
#include "platform/audio/PulseCables.h"
#include "platform/audio/PulseWave.h"
#include "platform/audio/VirtualWave.h"

// libpulse is not built for ThreadSanitizer: its memory pools hand blocks from one thread to
// another with atomics the sanitizer cannot see, so it reports races inside the library alone.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon-*.so\nrace:libpulse.so*\n";
}

namespace {

constexpr CPcmSpec kMono48k{1, 48000, 16};
constexpr DWORD kBytesPerMs = 96;  // 16-bit mono at 48,000 Hz

// A caller-owned buffer and its header.
struct CBuffer {
    std::vector<uint8_t> data;
    WAVEHDR hdr;
    explicit CBuffer(size_t n) : data(n) {
        hdr.lpData = data.data();
        hdr.dwBufferLength = static_cast<DWORD>(n);
    }
    std::vector<int16_t> Samples(DWORD bytes) const {
        std::vector<int16_t> s(bytes / 2);
        if (!s.empty())
            std::memcpy(s.data(), data.data(), s.size() * 2);
        return s;
    }
};

std::unique_ptr<CBuffer> Tone(DWORD ms, double hz, size_t& phase) {
    auto b = std::make_unique<CBuffer>(ms * kBytesPerMs);
    auto* p = reinterpret_cast<int16_t*>(b->data.data());
    for (size_t i = 0; i < b->data.size() / 2; ++i, ++phase)
        p[i] = static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * hz * phase / 48000));
    return b;
}

// Share of the signal's energy at hz (1 for a pure tone, 0 for silence or other sounds).
double ToneShare(const std::vector<int16_t>& s, double hz) {
    const double w = 2 * std::numbers::pi * hz / 48000;
    double re = 0, im = 0, energy = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        re += s[i] * std::cos(w * i);
        im -= s[i] * std::sin(w * i);
        energy += double(s[i]) * s[i];
    }
    return energy == 0 ? 0 : 2 * (re * re + im * im) / (s.size() * energy);
}

class PulseWaveTest : public testing::Test {
protected:
    void SetUp() override {
        if (!m_daemon.Start())
            GTEST_SKIP() << "a private PulseAudio daemon cannot start here: " << m_daemon.Error();
        std::string error;
        ASSERT_TRUE(CreatePulseCables(&error)) << error;
        m_pBackend = CreatePulseWaveBackend(&error);
        ASSERT_TRUE(m_pBackend) << error;
        ASSERT_TRUE(m_inbox.CreateThread());
    }
    void TearDown() override {
        m_pBackend.reset();
        m_inbox.StopThread();
    }

    // The id of the device with that name, or WAVE_MAPPER when there is none.
    UINT Find(EWaveKind kind, const std::string& name) {
        const UINT n = m_pBackend->GetNumDevs(kind);
        for (UINT id = 0; id < n; ++id) {
            std::string got;
            if (m_pBackend->GetDevName(kind, id, got) == MMSYSERR_NOERROR && got == name)
                return id;
        }
        return WAVE_MAPPER;
    }
    HWAVE OpenCable(EWaveKind kind, int n) {
        const UINT id = Find(kind, PulseCableDescription(n));
        EXPECT_NE(id, WAVE_MAPPER);
        HWAVE h = 0;
        EXPECT_EQ(m_pBackend->Open(kind, &h, id, kMono48k, &m_inbox.Loop()), MMSYSERR_NOERROR);
        return h;
    }
    void Queue(HWAVE h, CBuffer& b) {
        ASSERT_EQ(m_pBackend->Prepare(h, &b.hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(m_pBackend->Queue(h, &b.hdr), MMSYSERR_NOERROR);
    }

    CPulseTestDaemon m_daemon;
    std::unique_ptr<IWaveBackend> m_pBackend;
    CWaveInbox m_inbox;
};

TEST_F(PulseWaveTest, ListsCableEndsByDescriptionAndLeavesMonitorsOut) {
    for (EWaveKind kind : {EWaveKind::Out, EWaveKind::In}) {
        SCOPED_TRACE(kind == EWaveKind::Out ? "playback" : "recording");
        EXPECT_NE(Find(kind, "Vokra Virtual Cable 1"), WAVE_MAPPER);
        EXPECT_NE(Find(kind, "Vokra Virtual Cable 2"), WAVE_MAPPER);
        std::string name;
        EXPECT_EQ(m_pBackend->GetDevName(kind, m_pBackend->GetNumDevs(kind), name),
                  MMSYSERR_BADDEVICEID);
    }
    const UINT nIn = m_pBackend->GetNumDevs(EWaveKind::In);
    EXPECT_EQ(nIn, 2u);  // the two recording ends; every monitor is left out
    for (UINT id = 0; id < nIn; ++id) {
        std::string name;
        ASSERT_EQ(m_pBackend->GetDevName(EWaveKind::In, id, name), MMSYSERR_NOERROR);
        EXPECT_EQ(name.find("Monitor"), std::string::npos) << name;
    }
    EXPECT_EQ(m_pBackend->GetNumDevs(EWaveKind::Out), 3u);  // the test's speakers and two cables
}

TEST_F(PulseWaveTest, RefusesBadFormatsDevicesAndHandles) {
    HWAVE h = 0;
    const UINT nOut = m_pBackend->GetNumDevs(EWaveKind::Out);
    struct Case {
        const char* what;
        UINT devId;
        CPcmSpec pcm;
        MMRESULT expected;
    } cases[] = {
        {"24-bit samples", WAVE_MAPPER, {1, 48000, 24}, WAVERR_BADFORMAT},
        {"no channels", WAVE_MAPPER, {0, 48000, 16}, WAVERR_BADFORMAT},
        {"rate 0", WAVE_MAPPER, {1, 0, 16}, WAVERR_BADFORMAT},
        {"id past the last device", nOut, kMono48k, MMSYSERR_BADDEVICEID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(m_pBackend->Open(EWaveKind::Out, &h, c.devId, c.pcm, &m_inbox.Loop()),
                  c.expected);
    }
    CBuffer b(100);
    EXPECT_EQ(m_pBackend->Prepare(12345, &b.hdr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(m_pBackend->Queue(12345, &b.hdr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(m_pBackend->Close(12345), MMSYSERR_INVALHANDLE);
}

TEST_F(PulseWaveTest, ToneIntoCableOneArrivesAtItsRecordingEndOnly) {
    const HWAVE hIn1 = OpenCable(EWaveKind::In, 1);
    const HWAVE hIn2 = OpenCable(EWaveKind::In, 2);
    const HWAVE hOut = OpenCable(EWaveKind::Out, 1);
    ASSERT_TRUE(hIn1 && hIn2 && hOut);
    // Recording: up to 6 s on each end, in buffers of 100 ms.
    constexpr size_t kRecBuffers = 60;
    std::vector<std::unique_ptr<CBuffer>> rec1, rec2;
    for (size_t i = 0; i < kRecBuffers; ++i) {
        rec1.push_back(std::make_unique<CBuffer>(100 * kBytesPerMs));
        rec2.push_back(std::make_unique<CBuffer>(100 * kBytesPerMs));
        Queue(hIn1, *rec1.back());
        Queue(hIn2, *rec2.back());
    }
    ASSERT_EQ(m_pBackend->Start(hIn1), MMSYSERR_NOERROR);
    ASSERT_EQ(m_pBackend->Start(hIn2), MMSYSERR_NOERROR);
    // Playback: 1 s of 1 kHz in four buffers cut inside samples, each queued once the one
    // before has come back: the server takes whole frames only, so the half sample left over
    // must wait for the next buffer.
    size_t phase = 0;
    const auto tone = Tone(1000, 1000, phase);
    std::vector<std::unique_ptr<CBuffer>> play;
    const size_t cuts[] = {0, 24001, 48000, 72001, tone->data.size()};
    for (size_t i = 0; i < 4; ++i) {
        play.push_back(std::make_unique<CBuffer>(cuts[i + 1] - cuts[i]));
        std::memcpy(play.back()->data.data(), tone->data.data() + cuts[i],
                    play.back()->data.size());
        Queue(hOut, *play.back());
        ASSERT_TRUE(m_inbox.WaitCount(MM_WOM_DONE, hOut, i + 1));
    }
    ASSERT_TRUE(m_inbox.WaitCount(MM_WOM_DONE, hOut, 4));
    // The server has taken all of the tone and plays it within its target latency: half a
    // second more of recorded sound holds the rest, however late this thread gets here.
    const size_t seen = m_inbox.Of(MM_WIM_DATA, hIn1).size();
    ASSERT_LE(seen + 5, kRecBuffers);
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, hIn1, seen + 5));
    ASSERT_EQ(m_pBackend->Reset(hIn1), MMSYSERR_NOERROR);
    ASSERT_EQ(m_pBackend->Reset(hIn2), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, hIn1, kRecBuffers));
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, hIn2, kRecBuffers));

    const auto done = m_inbox.Of(MM_WOM_DONE, hOut);
    ASSERT_EQ(done.size(), 4u);
    for (size_t i = 0; i < done.size(); ++i) {
        EXPECT_EQ(done[i].pHdr, &play[i]->hdr) << "played out of order at " << i;
        EXPECT_EQ(done[i].uFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    }
    std::vector<int16_t> got1, got2;
    const auto data1 = m_inbox.Of(MM_WIM_DATA, hIn1);
    const auto data2 = m_inbox.Of(MM_WIM_DATA, hIn2);
    for (size_t i = 0; i < kRecBuffers; ++i) {
        ASSERT_EQ(data1[i].pHdr, &rec1[i]->hdr);
        ASSERT_EQ(data2[i].pHdr, &rec2[i]->hdr);
        const auto s1 = rec1[i]->Samples(data1[i].uBytes);
        const auto s2 = rec2[i]->Samples(data2[i].uBytes);
        got1.insert(got1.end(), s1.begin(), s1.end());
        got2.insert(got2.end(), s2.begin(), s2.end());
    }
    // All of the tone's energy arrived (12000² / 2 per sample for one second) ...
    double energy1 = 0;
    for (int16_t x : got1)
        energy1 += double(x) * x;
    const double toneEnergy = 48000 * 12000.0 * 12000.0 / 2;
    EXPECT_GT(energy1, 0.9 * toneEnergy);
    EXPECT_LT(energy1, 1.1 * toneEnergy);
    // ... at its pitch, judged in 10 ms windows: a machine too busy to feed the server in time
    // leaves a gap, and a gap breaks the tone's phase in the one window that holds it.
    int loud = 0, pure = 0;
    for (size_t i = 0; i + 480 <= got1.size(); i += 480) {
        const std::vector<int16_t> w(got1.begin() + i, got1.begin() + i + 480);
        double e = 0;
        for (int16_t x : w)
            e += double(x) * x;
        if (std::sqrt(e / w.size()) < 8000)
            continue;  // silence, or a window the tone fills only partly
        ++loud;
        pure += ToneShare(w, 1000) > 0.9;
    }
    EXPECT_GE(loud, 80);
    EXPECT_GE(pure, loud * 9 / 10);
    int peak2 = 0;
    for (int16_t x : got2)
        peak2 = std::max(peak2, std::abs(int{x}));
    EXPECT_LE(peak2, 1) << "cable 2 carried sound";

    for (HWAVE h : {hIn1, hIn2, hOut})
        EXPECT_EQ(m_pBackend->Close(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(m_inbox.WaitCount(MM_WOM_CLOSE, hOut, 1));
    EXPECT_EQ(m_inbox.Of(MM_WOM_OPEN, hOut).size(), 1u);
}

TEST_F(PulseWaveTest, RecordingBuffersComeBackInOrderFullOrWithTheirCount) {
    const HWAVE h = OpenCable(EWaveKind::In, 1);
    ASSERT_TRUE(h);
    // A's odd length splits a sample, so B already holds a byte when A comes back.
    CBuffer a(4801), b(60000 * kBytesPerMs), c(100 * kBytesPerMs), d(60000 * kBytesPerMs);
    for (CBuffer* p : {&a, &b, &c, &d})
        Queue(h, *p);
    ASSERT_EQ(m_pBackend->Start(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, h, 1));
    // Stop: the buffer being filled comes back with what it holds; the others stay queued.
    ASSERT_EQ(m_pBackend->Stop(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, h, 2));
    EXPECT_TRUE(c.hdr.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(m_pBackend->Close(h), WAVERR_STILLPLAYING);
    EXPECT_EQ(m_pBackend->Unprepare(h, &c.hdr), WAVERR_STILLPLAYING);
    // Start again: recording goes on into the same queue.
    ASSERT_EQ(m_pBackend->Start(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, h, 3));
    // Reset: every buffer left comes back, the partly filled one with its count.
    ASSERT_EQ(m_pBackend->Reset(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, h, 4));

    const auto got = m_inbox.Of(MM_WIM_DATA, h);
    ASSERT_EQ(got.size(), 4u);
    const CBuffer* order[] = {&a, &b, &c, &d};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i].pHdr, &order[i]->hdr) << i;
        EXPECT_EQ(got[i].uFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE) << i;
    }
    EXPECT_EQ(got[0].uBytes, a.hdr.dwBufferLength);
    EXPECT_GT(got[1].uBytes, 0u);
    EXPECT_LT(got[1].uBytes, b.hdr.dwBufferLength);
    EXPECT_EQ(got[2].uBytes, c.hdr.dwBufferLength);
    EXPECT_LT(got[3].uBytes, d.hdr.dwBufferLength);
    for (CBuffer* p : {&a, &b, &c, &d})
        EXPECT_EQ(m_pBackend->Unprepare(h, &p->hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(m_pBackend->Close(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(m_inbox.WaitCount(MM_WIM_CLOSE, h, 1));
}

TEST_F(PulseWaveTest, PlaybackResetReturnsEveryQueuedBufferInOrder) {
    const HWAVE h = OpenCable(EWaveKind::Out, 1);
    ASSERT_TRUE(h);
    CBuffer unprepared(100);
    EXPECT_EQ(m_pBackend->Queue(h, &unprepared.hdr), WAVERR_UNPREPARED);
    EXPECT_EQ(m_pBackend->Start(h), MMSYSERR_INVALHANDLE);  // recording only
    std::vector<std::unique_ptr<CBuffer>> play;
    size_t phase = 0;
    for (int i = 0; i < 4; ++i) {
        play.push_back(Tone(1000, 440, phase));
        Queue(h, *play.back());
    }
    EXPECT_EQ(m_pBackend->Close(h), WAVERR_STILLPLAYING);
    ASSERT_EQ(m_pBackend->Reset(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_inbox.WaitCount(MM_WOM_DONE, h, 4));
    const auto done = m_inbox.Of(MM_WOM_DONE, h);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(done[i].pHdr, &play[i]->hdr) << i;
        EXPECT_FALSE(play[i]->hdr.dwFlags & WHDR_INQUEUE);
    }
    EXPECT_EQ(m_pBackend->Close(h), MMSYSERR_NOERROR);
}

TEST_F(PulseWaveTest, KilledServerReturnsEveryBufferAndLaterCallsFail) {
    const HWAVE hIn = OpenCable(EWaveKind::In, 1);
    const HWAVE hOut = OpenCable(EWaveKind::Out, 1);
    ASSERT_TRUE(hIn && hOut);
    std::vector<std::unique_ptr<CBuffer>> rec, play;
    for (int i = 0; i < 3; ++i) {
        rec.push_back(std::make_unique<CBuffer>(i == 0 ? 50 * kBytesPerMs : 60000 * kBytesPerMs));
        Queue(hIn, *rec.back());
    }
    size_t phase = 0;
    for (int i = 0; i < 4; ++i) {
        play.push_back(Tone(30000, 440, phase));  // far more than the server takes at once
        Queue(hOut, *play.back());
    }
    ASSERT_EQ(m_pBackend->Start(hIn), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, hIn, 1));  // sound is flowing

    m_daemon.Kill();
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, hIn, 3));
    ASSERT_TRUE(m_inbox.WaitCount(MM_WOM_DONE, hOut, 4));
    const auto back = m_inbox.Of(MM_WIM_DATA, hIn);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(back[i].pHdr, &rec[i]->hdr) << i;

    EXPECT_EQ(m_pBackend->Queue(hIn, &rec[0]->hdr), MMSYSERR_NODRIVER);
    EXPECT_EQ(m_pBackend->Start(hIn), MMSYSERR_NODRIVER);
    EXPECT_EQ(m_pBackend->Reset(hOut), MMSYSERR_NODRIVER);
    HWAVE h = 0;
    EXPECT_EQ(m_pBackend->Open(EWaveKind::Out, &h, WAVE_MAPPER, kMono48k, &m_inbox.Loop()),
              MMSYSERR_NODRIVER);
    EXPECT_EQ(m_pBackend->GetNumDevs(EWaveKind::Out), 3u);  // the ids known stay
    // The caller can still let go of everything.
    EXPECT_EQ(m_pBackend->Unprepare(hIn, &rec[0]->hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(m_pBackend->Close(hIn), MMSYSERR_NOERROR);
    EXPECT_EQ(m_pBackend->Close(hOut), MMSYSERR_NOERROR);
}

TEST_F(PulseWaveTest, IdsStayWhenDevicesComeAndGo) {
    std::string error;
    ASSERT_TRUE(RemovePulseCables(&error)) << error;
    auto pBackend = CreatePulseWaveBackend(&error);  // one that has not seen the cables yet
    ASSERT_TRUE(pBackend) << error;
    m_pBackend.swap(pBackend);
    pBackend.reset();
    ASSERT_EQ(m_pBackend->GetNumDevs(EWaveKind::Out), 1u);
    const UINT speakers = Find(EWaveKind::Out, "Null Output");
    ASSERT_EQ(speakers, 0u);

    // New devices get the next ids.
    ASSERT_TRUE(CreatePulseCables(&error)) << error;
    const UINT out1 = Find(EWaveKind::Out, "Vokra Virtual Cable 1");
    const UINT in2 = Find(EWaveKind::In, "Vokra Virtual Cable 2");
    EXPECT_EQ(out1, 1u);
    EXPECT_EQ(Find(EWaveKind::Out, "Null Output"), speakers);
    EXPECT_EQ(in2, 1u);

    // A cable unplugged while recording: its buffers come back, and it no longer opens.
    const HWAVE hIn = OpenCable(EWaveKind::In, 2);
    ASSERT_TRUE(hIn);
    CBuffer big(60000 * kBytesPerMs);
    Queue(hIn, big);
    ASSERT_EQ(m_pBackend->Start(hIn), MMSYSERR_NOERROR);
    ASSERT_TRUE(RemovePulseCables(&error)) << error;
    ASSERT_TRUE(m_inbox.WaitCount(MM_WIM_DATA, hIn, 1));
    EXPECT_EQ(m_pBackend->Queue(hIn, &big.hdr), MMSYSERR_NODRIVER);
    EXPECT_EQ(m_pBackend->Close(hIn), MMSYSERR_NOERROR);
    EXPECT_EQ(m_pBackend->GetNumDevs(EWaveKind::Out), 3u);
    std::string name;
    EXPECT_EQ(m_pBackend->GetDevName(EWaveKind::Out, out1, name), MMSYSERR_NOERROR);
    EXPECT_EQ(name, "Vokra Virtual Cable 1");
    HWAVE h = 0;
    EXPECT_EQ(m_pBackend->Open(EWaveKind::Out, &h, out1, kMono48k, &m_inbox.Loop()),
              MMSYSERR_NODRIVER);

    // Made again, the cables come back under their old ids.
    ASSERT_TRUE(CreatePulseCables(&error)) << error;
    EXPECT_EQ(Find(EWaveKind::Out, "Vokra Virtual Cable 1"), out1);
    EXPECT_EQ(Find(EWaveKind::In, "Vokra Virtual Cable 2"), in2);
    ASSERT_EQ(m_pBackend->Open(EWaveKind::Out, &h, out1, kMono48k, &m_inbox.Loop()),
              MMSYSERR_NOERROR);
    EXPECT_EQ(m_pBackend->Close(h), MMSYSERR_NOERROR);
}

TEST_F(PulseWaveTest, SelectsTheBackendByNameEnvironmentOrServer) {
    CEnvOverride outer;  // puts the caller's VOKRA_AUDIO back at the end
    outer.Set("VOKRA_AUDIO", "");
    struct Case {
        const char* what;
        const char* name;
        const char* envAudio;  // VOKRA_AUDIO, null: unset
        bool bServer;
        bool bResult;
        const char* backend;  // the backend afterwards
    } cases[] = {
        {"by name", "virtual", "pulse", true, true, "virtual"},
        {"by name", "pulse", "virtual", true, true, "pulse"},
        {"pulse without a server", "pulse", nullptr, false, false, "virtual"},
        {"unknown name", "alsa", nullptr, true, false, "virtual"},
        {"from the environment", "", "pulse", true, true, "pulse"},
        {"unknown in the environment", "", "alsa", true, false, "virtual"},
        {"default with a server", "", nullptr, true, true, "pulse"},
        {"default without a server", "", nullptr, false, true, "virtual"},
    };
    const std::string server = "unix:" + m_daemon.Socket();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " '" + c.name + "'");
        SetWaveBackend(CreateVirtualWaveBackend());
        CEnvOverride env;
        if (c.envAudio)
            env.Set("VOKRA_AUDIO", c.envAudio);
        else
            unsetenv("VOKRA_AUDIO");
        env.Set("PULSE_SERVER", c.bServer ? server : "unix:/nonexistent/vokra-socket");
        EXPECT_EQ(SelectWaveBackend(c.name), c.bResult);
        EXPECT_STREQ(WaveDevices().Name(), c.backend);
    }
    SetWaveBackend(nullptr);
}

TEST(PulseWaveNoServerTest, NoServerGivesNoBackendAndAReason) {
    CTempDir dir("vokra_nopulse");
    CEnvOverride env;
    env.Set("PULSE_SERVER", "unix:" + dir.Path("no-such-socket"));
    env.Set("PULSE_COOKIE", dir.Path("cookie"));
    std::string error;
    EXPECT_FALSE(CreatePulseWaveBackend(&error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(CreatePulseCables(&error));
    EXPECT_FALSE(error.empty());
    const CPulseCablesStatus status = PulseCablesStatus();
    EXPECT_FALSE(status.bServer);
    EXPECT_FALSE(status.Complete());
}

}  // namespace
