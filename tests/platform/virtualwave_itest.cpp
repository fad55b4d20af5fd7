// The virtual wave backend under the manual clock: its devices, what Open refuses, the buffer
// rules of playback and recording, the loopback cables, and devices that disappear.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "WaveTestUtil.h"
#include "platform/Clock.h"
#include "platform/audio/VirtualWave.h"

using namespace wavetest;

namespace {

constexpr CPcmSpec kMono16_48k{1, 48000, 16};
constexpr CPcmSpec kMono16_8k{1, 8000, 16};
constexpr CPcmSpec kMono8_8k{1, 8000, 8};

class VirtualWaveTest : public ::testing::Test {
protected:
    CManualClock m_clock;
    CScopedClock m_scoped{m_clock};
    CVirtualWaveBackend m_wave;
    CMsgRecorder m_rec;

    // Lets `ms` of sound pass, tick by tick as a device thread sees it, and handles the messages.
    void Pass(uint64_t ms) {
        for (uint64_t t = 0; t < ms; t += CVirtualWaveBackend::kTickMs) {
            m_clock.Advance(std::min<uint64_t>(CVirtualWaveBackend::kTickMs, ms - t));
            m_wave.WaitProcessed();
        }
        m_rec.Pump();
    }
    HWAVE Open(EWaveKind kind, UINT id, const CPcmSpec& pcm) {
        HWAVE h = 0;
        EXPECT_EQ(m_wave.Open(kind, &h, id, pcm, m_rec.Loop()), MMSYSERR_NOERROR);
        return h;
    }
    void QueueAll(HWAVE h, std::vector<std::unique_ptr<CWaveBuf>>& bufs) {
        for (auto& b : bufs) {
            ASSERT_EQ(m_wave.Prepare(h, &b->hdr), MMSYSERR_NOERROR);
            ASSERT_EQ(m_wave.Queue(h, &b->hdr), MMSYSERR_NOERROR);
        }
    }
    // Resets, unprepares and closes.
    void CloseAll(HWAVE h, std::vector<std::unique_ptr<CWaveBuf>>& bufs) {
        m_wave.Reset(h);
        for (auto& b : bufs)
            EXPECT_EQ(m_wave.Unprepare(h, &b->hdr), MMSYSERR_NOERROR);
        EXPECT_EQ(m_wave.Close(h), MMSYSERR_NOERROR);
    }
    std::vector<std::string> Names(EWaveKind kind) {
        std::vector<std::string> v;
        for (UINT i = 0; i < m_wave.GetNumDevs(kind); ++i) {
            std::string name;
            EXPECT_EQ(m_wave.GetDevName(kind, i, name), MMSYSERR_NOERROR);
            v.push_back(name);
        }
        return v;
    }
};

TEST_F(VirtualWaveTest, ListsTheCablesAndOpensTheDefaultsThroughTheMapper) {
    const std::vector<std::string> out = {"Speakers", "Vokra Virtual Cable 1",
                                          "Vokra Virtual Cable 2"};
    const std::vector<std::string> in = {"Microphone", "Vokra Virtual Cable 1",
                                         "Vokra Virtual Cable 2"};
    EXPECT_EQ(Names(EWaveKind::Out), out);
    EXPECT_EQ(Names(EWaveKind::In), in);
    std::string name;
    EXPECT_EQ(m_wave.GetDevName(EWaveKind::In, 3, name), MMSYSERR_BADDEVICEID);

    const HWAVE hOut = Open(EWaveKind::Out, WAVE_MAPPER, kMono16_48k);
    const HWAVE hIn = Open(EWaveKind::In, WAVE_MAPPER, kMono16_48k);
    EXPECT_EQ(m_wave.HandleDeviceName(hOut), "Speakers");
    EXPECT_EQ(m_wave.HandleDeviceName(hIn), "Microphone");
    EXPECT_NE(hOut, hIn);
    // The open notice comes first, the close notice last.
    EXPECT_EQ(m_wave.Close(hOut), MMSYSERR_NOERROR);
    EXPECT_EQ(m_wave.Close(hIn), MMSYSERR_NOERROR);
    const auto& msgs = m_rec.Pump();
    ASSERT_EQ(msgs.size(), 4u);
    EXPECT_EQ(msgs[0].message, MM_WOM_OPEN);
    EXPECT_EQ(msgs[1].message, MM_WIM_OPEN);
    EXPECT_EQ(msgs[2].message, MM_WOM_CLOSE);
    EXPECT_EQ(msgs[2].h, hOut);
    EXPECT_EQ(msgs[3].message, MM_WIM_CLOSE);
    EXPECT_EQ(m_wave.Close(hIn), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(m_wave.OpenHandles(), 0u);

    // Added devices follow in order (a device list shows only the first 31).
    for (int i = 0; i < 40; ++i)
        m_wave.AddDevice({"Extra " + std::to_string(i), EWaveKind::Out, 0, {}, false});
    EXPECT_EQ(m_wave.GetNumDevs(EWaveKind::Out), 43u);
    EXPECT_EQ(Names(EWaveKind::Out)[42], "Extra 39");
    EXPECT_EQ(m_wave.GetNumDevs(EWaveKind::In), 3u);
}

TEST_F(VirtualWaveTest, OpenRefusesUnknownDevicesFormatsAndASecondRecorder) {
    ASSERT_TRUE(m_wave.SetDeviceRates(EWaveKind::Out, "Vokra Virtual Cable 1", {44100}));
    struct Case {
        const char* what;
        EWaveKind kind;
        UINT id;
        CPcmSpec pcm;
        MMRESULT expected;
    } cases[] = {
        {"no such id", EWaveKind::Out, 3, kMono16_48k, MMSYSERR_BADDEVICEID},
        {"rate too low", EWaveKind::In, 1, {1, 7999, 16}, WAVERR_BADFORMAT},
        {"rate too high", EWaveKind::Out, 0, {1, 192001, 16}, WAVERR_BADFORMAT},
        {"three channels", EWaveKind::Out, 0, {3, 48000, 16}, WAVERR_BADFORMAT},
        {"no channels", EWaveKind::In, 0, {0, 48000, 16}, WAVERR_BADFORMAT},
        {"24 bits", EWaveKind::Out, 0, {1, 48000, 24}, WAVERR_BADFORMAT},
        {"refused rate", EWaveKind::Out, 1, kMono16_48k, WAVERR_BADFORMAT},
        {"accepted rate", EWaveKind::Out, 1, {1, 44100, 16}, MMSYSERR_NOERROR},
        {"the extremes", EWaveKind::In, 2, {2, 192000, 8}, MMSYSERR_NOERROR},
        {"second recorder", EWaveKind::In, 2, kMono16_8k, MMSYSERR_ALLOCATED},
        {"second player", EWaveKind::Out, 1, {2, 44100, 8}, MMSYSERR_NOERROR},
    };
    std::vector<HWAVE> open;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWAVE h = 0;
        EXPECT_EQ(m_wave.Open(c.kind, &h, c.id, c.pcm, m_rec.Loop()), c.expected);
        EXPECT_EQ(h != 0, c.expected == MMSYSERR_NOERROR);
        if (h != 0)
            open.push_back(h);
    }
    HWAVE h = 0;
    EXPECT_EQ(m_wave.Open(EWaveKind::Out, &h, 0, kMono16_48k, nullptr), MMSYSERR_INVALPARAM);
    for (HWAVE x : open)
        EXPECT_EQ(m_wave.Close(x), MMSYSERR_NOERROR);
    // Closing frees the recording end again.
    const HWAVE hIn = Open(EWaveKind::In, 2, kMono16_8k);
    EXPECT_EQ(m_wave.Close(hIn), MMSYSERR_NOERROR);
}

TEST_F(VirtualWaveTest, PlaybackReturnsBuffersInOrderAtThePlayingSpeed) {
    const HWAVE h = Open(EWaveKind::Out, 0, kMono16_8k);
    auto bufs = MakeBufs(3, 1600);  // 100 ms each
    WAVEHDR unprepared;
    unprepared.lpData = bufs[0]->vData.data();
    unprepared.dwBufferLength = 2;
    EXPECT_EQ(m_wave.Queue(h, &unprepared), WAVERR_UNPREPARED);
    QueueAll(h, bufs);
    EXPECT_EQ(m_wave.Queue(h, &bufs[0]->hdr), WAVERR_STILLPLAYING);
    EXPECT_TRUE(bufs[0]->hdr.dwFlags & WHDR_INQUEUE);

    Pass(90);
    EXPECT_TRUE(m_rec.Of(MM_WOM_DONE).empty());
    Pass(20);
    auto done = m_rec.Of(MM_WOM_DONE);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].pHdr, &bufs[0]->hdr);
    EXPECT_EQ(done[0].h, h);
    EXPECT_EQ(done[0].dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED),
              WHDR_DONE | WHDR_PREPARED);

    EXPECT_EQ(m_wave.Unprepare(h, &bufs[1]->hdr), WAVERR_STILLPLAYING);
    EXPECT_EQ(m_wave.Close(h), WAVERR_STILLPLAYING);
    EXPECT_EQ(m_wave.Start(h), MMSYSERR_INVALHANDLE);  // recording only
    EXPECT_EQ(m_wave.Reset(h), MMSYSERR_NOERROR);
    done = m_rec.Of(MM_WOM_DONE);
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[1].pHdr, &bufs[1]->hdr);
    EXPECT_EQ(done[2].pHdr, &bufs[2]->hdr);
    EXPECT_TRUE(done[2].dwFlags & WHDR_DONE);

    // A buffer queued again plays again; the queue runs on after a reset.
    ASSERT_EQ(m_wave.Queue(h, &bufs[0]->hdr), MMSYSERR_NOERROR);
    EXPECT_FALSE(bufs[0]->hdr.dwFlags & WHDR_DONE);
    Pass(110);
    EXPECT_EQ(m_rec.Of(MM_WOM_DONE).size(), 4u);
    CloseAll(h, bufs);
    EXPECT_EQ(m_wave.Queue(h, &bufs[0]->hdr), MMSYSERR_INVALHANDLE);
}

TEST_F(VirtualWaveTest, ALeapOfTheClockPlaysAndRecordsEverythingDue) {
    const HWAVE hPlay = Open(EWaveKind::Out, 1, kMono16_8k);
    const HWAVE hRec = Open(EWaveKind::In, 1, kMono16_8k);
    auto play = MakeBufs(3, 16000);  // 1 s each
    auto rec = MakeBufs(4, 16000);
    QueueAll(hPlay, play);
    QueueAll(hRec, rec);
    ASSERT_EQ(m_wave.Start(hRec), MMSYSERR_NOERROR);
    m_clock.Advance(3500);  // one pass, as a test pumping from timer to timer makes
    m_wave.WaitProcessed();
    EXPECT_EQ(m_rec.Of(MM_WOM_DONE).size(), 3u);
    EXPECT_GE(m_rec.Of(MM_WIM_DATA).size(), 3u);
    CloseAll(hPlay, play);
    CloseAll(hRec, rec);
}

TEST_F(VirtualWaveTest, RecordingFillsInOrderAndStopAndResetReturnWhatIsHeld) {
    const HWAVE h = Open(EWaveKind::In, 0, kMono8_8k);
    auto bufs = MakeBufs(3, 800);  // 100 ms
    QueueAll(h, bufs);
    Pass(200);
    EXPECT_TRUE(m_rec.Of(MM_WIM_DATA).empty()) << "nothing is recorded before Start";

    ASSERT_EQ(m_wave.Start(h), MMSYSERR_NOERROR);
    Pass(150);
    auto data = m_rec.Of(MM_WIM_DATA);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].pHdr, &bufs[0]->hdr);
    EXPECT_EQ(data[0].dwBytesRecorded, 800u);
    EXPECT_EQ(data[0].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    EXPECT_TRUE(std::all_of(bufs[0]->vData.begin(), bufs[0]->vData.end(), [](uint8_t b) {
        return b == 128;
    })) << "the microphone records 8-bit silence";

    // Stop gives back the buffer being filled with what it holds up to this moment (5 ms after
    // the last pass); the next stays queued.
    m_clock.Advance(5);
    ASSERT_EQ(m_wave.Stop(h), MMSYSERR_NOERROR);
    data = m_rec.Of(MM_WIM_DATA);
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[1].pHdr, &bufs[1]->hdr);
    EXPECT_EQ(data[1].dwBytesRecorded, 440u);
    Pass(200);
    EXPECT_EQ(m_rec.Of(MM_WIM_DATA).size(), 2u);
    EXPECT_EQ(m_wave.Close(h), WAVERR_STILLPLAYING);

    // Recording resumes into the queued buffer and a re-queued one.
    ASSERT_EQ(m_wave.Queue(h, &bufs[0]->hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(m_wave.Start(h), MMSYSERR_NOERROR);
    Pass(130);
    ASSERT_EQ(m_wave.Reset(h), MMSYSERR_NOERROR);
    data = m_rec.Of(MM_WIM_DATA);
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[2].pHdr, &bufs[2]->hdr);
    EXPECT_EQ(data[2].dwBytesRecorded, 800u);
    EXPECT_EQ(data[3].pHdr, &bufs[0]->hdr);
    EXPECT_EQ(data[3].dwBytesRecorded, 240u);  // 30 ms
    CloseAll(h, bufs);
}

TEST_F(VirtualWaveTest, ACableCarriesWhatIsPlayedToItsOwnRecordingEndOnly) {
    struct Case {
        const char* what;
        CPcmSpec play;
        CPcmSpec record;
    } cases[] = {
        {"same format", kMono16_48k, kMono16_48k},
        {"44.1 kHz stereo to 16 kHz mono", {2, 44100, 16}, {1, 16000, 16}},
        {"22.05 kHz 8-bit to 48 kHz stereo", {1, 22050, 8}, {2, 48000, 16}},
    };
    constexpr double kFreq = 1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HWAVE hPlay = Open(EWaveKind::Out, 1, c.play);
        const HWAVE hRec1 = Open(EWaveKind::In, 1, c.record);
        const HWAVE hRec2 = Open(EWaveKind::In, 2, c.record);
        const uint32_t recBlock = BytesPerSec(c.record) / 10;
        auto bufs1 = MakeBufs(10, recBlock);
        auto bufs2 = MakeBufs(10, recBlock);
        QueueAll(hRec1, bufs1);
        QueueAll(hRec2, bufs2);
        ASSERT_EQ(m_wave.Start(hRec1), MMSYSERR_NOERROR);
        ASSERT_EQ(m_wave.Start(hRec2), MMSYSERR_NOERROR);
        const std::vector<uint8_t> tone = ToneBytes(kFreq, c.play, c.play.nSamplesPerSec / 2);
        CWaveBuf play(tone.size());
        play.vData = tone;
        play.hdr.lpData = play.vData.data();
        ASSERT_EQ(m_wave.Prepare(hPlay, &play.hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(m_wave.Queue(hPlay, &play.hdr), MMSYSERR_NOERROR);
        Pass(900);
        ASSERT_EQ(m_rec.Of(MM_WOM_DONE).size(), 1u);
        // A resampling end holds back its filter's delay: 8 blocks at least on each end.
        ASSERT_GE(m_rec.Of(MM_WIM_DATA).size(), 16u);

        std::vector<uint8_t> rec1, rec2;
        for (int i = 0; i < 8; ++i) {
            rec1.insert(rec1.end(), bufs1[i]->vData.begin(), bufs1[i]->vData.end());
            rec2.insert(rec2.end(), bufs2[i]->vData.begin(), bufs2[i]->vData.end());
        }
        const std::vector<double> got1 = FirstChannel(rec1, c.record);
        const std::vector<double> got2 = FirstChannel(rec2, c.record);
        const uint32_t rate = c.record.nSamplesPerSec;
        // The middle of the tone: past the cable's delay (up to 150 ms), before its end.
        const std::vector<double> mid(got1.begin() + rate * 2 / 10, got1.begin() + rate * 5 / 10);
        EXPECT_GT(ToneLevel(mid, kFreq, rate), 12000 * 0.9);
        EXPECT_LT(ToneLevel(mid, 1500, rate), 12000 * 0.01);
        EXPECT_TRUE(std::all_of(got2.begin(), got2.end(), [](double v) { return v == 0; }))
            << "cable 2 stays silent";
        EXPECT_LT(ToneLevel({got1.end() - rate / 10, got1.end()}, kFreq, rate), 1.0)
            << "silence after the tone";
        if (c.play == c.record) {
            // Equal formats pass unchanged, only delayed.
            const std::vector<double> sent = FirstChannel(tone, c.play);
            const auto first =
                std::find_if(got1.begin(), got1.end(), [](double v) { return v != 0; });
            ASSERT_NE(first, got1.end());
            const size_t lag = static_cast<size_t>(first - got1.begin()) - 1;  // sin(0) is 0
            EXPECT_LE(lag, rate * 15 / 100);
            ASSERT_GE(got1.size(), lag + sent.size());
            EXPECT_TRUE(std::equal(sent.begin(), sent.end(), got1.begin() + lag));
        }
        std::vector<std::unique_ptr<CWaveBuf>> none;
        CloseAll(hPlay, none);
        CloseAll(hRec1, bufs1);
        CloseAll(hRec2, bufs2);
        m_rec.Pump();
        m_rec.Clear();
    }
}

TEST_F(VirtualWaveTest, ACableMixesItsPlayers) {
    const HWAVE hA = Open(EWaveKind::Out, 2, kMono16_48k);
    const HWAVE hB = Open(EWaveKind::Out, 2, {1, 16000, 16});
    const HWAVE hRec = Open(EWaveKind::In, 2, kMono16_48k);
    CWaveBuf a(0), b(0);
    a.vData = ToneBytes(600, kMono16_48k, 24000, 8000);
    b.vData = ToneBytes(1500, {1, 16000, 16}, 8000, 8000);
    for (auto [h, p] : {std::pair{hA, &a}, std::pair{hB, &b}}) {
        p->hdr.lpData = p->vData.data();
        p->hdr.dwBufferLength = static_cast<DWORD>(p->vData.size());
        ASSERT_EQ(m_wave.Prepare(h, &p->hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(m_wave.Queue(h, &p->hdr), MMSYSERR_NOERROR);
    }
    auto bufs = MakeBufs(1, 96000 * 4 / 10);
    QueueAll(hRec, bufs);
    ASSERT_EQ(m_wave.Start(hRec), MMSYSERR_NOERROR);
    Pass(500);
    ASSERT_EQ(m_rec.Of(MM_WIM_DATA).size(), 1u);
    const std::vector<double> got = FirstChannel(bufs[0]->vData, kMono16_48k);
    const std::vector<double> mid(got.begin() + 9600, got.end());  // past the cable's delay
    EXPECT_GT(ToneLevel(mid, 600, 48000), 8000 * 0.9);
    EXPECT_GT(ToneLevel(mid, 1500, 48000), 8000 * 0.9);
    std::vector<std::unique_ptr<CWaveBuf>> none;
    CloseAll(hA, none);
    CloseAll(hB, none);
    CloseAll(hRec, bufs);
}

TEST_F(VirtualWaveTest, ARemovedDeviceGivesEverythingBackAndThenFails) {
    const HWAVE hPlay = Open(EWaveKind::Out, 2, kMono16_8k);
    const HWAVE hRec = Open(EWaveKind::In, 2, kMono16_48k);
    auto playBufs = MakeBufs(2, 1600);
    auto recBufs = MakeBufs(2, 9600);  // 100 ms each
    QueueAll(hPlay, playBufs);
    QueueAll(hRec, recBufs);
    ASSERT_EQ(m_wave.Start(hRec), MMSYSERR_NOERROR);
    Pass(50);

    ASSERT_TRUE(m_wave.RemoveDevice(EWaveKind::In, "Vokra Virtual Cable 2"));
    ASSERT_TRUE(m_wave.RemoveDevice(EWaveKind::Out, "Vokra Virtual Cable 2"));
    EXPECT_FALSE(m_wave.RemoveDevice(EWaveKind::Out, "Vokra Virtual Cable 2"));
    const auto data = m_rec.Of(MM_WIM_DATA);
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[0].pHdr, &recBufs[0]->hdr);
    EXPECT_EQ(data[0].dwBytesRecorded, 4800u);  // 50 ms
    EXPECT_EQ(data[1].dwBytesRecorded, 0u);
    EXPECT_TRUE(data[1].dwFlags & WHDR_DONE);
    const auto done = m_rec.Of(MM_WOM_DONE);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].pHdr, &playBufs[0]->hdr);
    EXPECT_EQ(done[1].pHdr, &playBufs[1]->hdr);

    EXPECT_EQ(m_wave.Prepare(hRec, &recBufs[0]->hdr), MMSYSERR_NODRIVER);
    EXPECT_EQ(m_wave.Queue(hRec, &recBufs[0]->hdr), MMSYSERR_NODRIVER);
    EXPECT_EQ(m_wave.Start(hRec), MMSYSERR_NODRIVER);
    EXPECT_EQ(m_wave.Stop(hRec), MMSYSERR_NODRIVER);
    EXPECT_EQ(m_wave.Reset(hPlay), MMSYSERR_NODRIVER);
    Pass(100);
    EXPECT_EQ(m_rec.Of(MM_WIM_DATA).size(), 2u);
    // What was handed out can still be let go of.
    for (auto& b : recBufs)
        EXPECT_EQ(m_wave.Unprepare(hRec, &b->hdr), MMSYSERR_NOERROR);
    for (auto& b : playBufs)
        EXPECT_EQ(m_wave.Unprepare(hPlay, &b->hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(m_wave.Close(hRec), MMSYSERR_NOERROR);
    EXPECT_EQ(m_wave.Close(hPlay), MMSYSERR_NOERROR);

    EXPECT_EQ(Names(EWaveKind::In),
              (std::vector<std::string>{"Microphone", "Vokra Virtual Cable 1"}));
    HWAVE h = 0;
    EXPECT_EQ(m_wave.Open(EWaveKind::In, &h, 2, kMono16_8k, m_rec.Loop()), MMSYSERR_BADDEVICEID);
}

// The same backend on the real clock: a buffer comes back once its sound has had its time.
TEST(VirtualWaveRealTimeTest, PlaysAtTheSpeedOfTheSystemClock) {
    CVirtualWaveBackend wave;
    CMsgLoop loop;
    WAVEHDR* pDone = nullptr;
    loop.SetThreadMessageHandler([&](UINT m, WPARAM, LPARAM l) {
        if (m == MM_WOM_DONE) {
            pDone = reinterpret_cast<WAVEHDR*>(l);
            loop.Quit();
        }
    });
    loop.Bind();
    HWAVE h = 0;
    ASSERT_EQ(wave.Open(EWaveKind::Out, &h, 1, kMono16_8k, &loop), MMSYSERR_NOERROR);
    CWaveBuf buf(1600);  // 100 ms
    ASSERT_EQ(wave.Prepare(h, &buf.hdr), MMSYSERR_NOERROR);
    const uint64_t t0 = Clock().NowMs();
    ASSERT_EQ(wave.Queue(h, &buf.hdr), MMSYSERR_NOERROR);
    loop.Run();
    EXPECT_GE(Clock().NowMs() - t0, 90u);  // never sooner than the sound lasts
    EXPECT_EQ(pDone, &buf.hdr);
    EXPECT_EQ(wave.Unprepare(h, &buf.hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(wave.Close(h), MMSYSERR_NOERROR);
}

}  // namespace
