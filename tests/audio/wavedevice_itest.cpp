// The recording source and the playback sink on the virtual devices, under the manual clock:
// buffer sizes, refused devices, the stop modes and their notices, objects that dispose of
// themselves, devices that disappear, and a tone that goes through a cable and back.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>

#include "AudioTestUtil.h"
#include "audio/WaveSinkToAudioDevice.h"
#include "audio/WaveSourceFromAudioDevice.h"
#include "platform/Clock.h"
#include "platform/Sync.h"
#include "platform/audio/VirtualWave.h"

using namespace audiotest;

namespace {

constexpr UINT kSpeakers = 0;
constexpr UINT kCable1 = 1;
constexpr UINT kCable2 = 2;

// Tells a waiting test how many blocks have arrived.
class CCountingSink : public CCollectSink {
public:
    void WriteBuffer(const void* data, uint32_t len) override {
        CCollectSink::WriteBuffer(data, len);
        std::lock_guard g(m_m);
        ++m_nBlocks;
        m_cv.notify_all();
    }
    void WaitBlocks(size_t n) {
        std::unique_lock lk(m_m);
        m_cv.wait(lk, [&] { return m_nBlocks >= n; });
    }
    size_t Count() {
        std::lock_guard g(m_m);
        return m_nBlocks;
    }

private:
    std::mutex m_m;
    std::condition_variable m_cv;
    size_t m_nBlocks = 0;
};

class CNotify : public CWaveNotify {
public:
    void NotifyStopped(void* who) override {
        m_pWho = who;
        m_uThread = GetCurrentThreadId();
        m_uAtMs = Clock().NowMs();
        ++m_nCount;
        m_ev.Set();
    }
    std::atomic<int> m_nCount{0};
    void* m_pWho = nullptr;
    uint32_t m_uThread = 0;
    uint64_t m_uAtMs = 0;
    CEvent m_ev{true, false};
};

class DeviceAudioTest : public ::testing::Test {
protected:
    CManualClock m_clock;
    CScopedClock m_scoped{m_clock};
    CLogCapture m_log;
    CVirtualWaveBackend* m_pWave = nullptr;

    void SetUp() override {
        auto p = std::make_unique<CVirtualWaveBackend>();
        m_pWave = p.get();
        SetWaveBackend(std::move(p));
    }
    void TearDown() override {
        // Every device object has disposed of itself before the clock and backend go.
        CWaveDeviceThread::WaitAlive(0);
        EXPECT_EQ(m_pWave->OpenHandles(), 0u);
        SetWaveBackend(nullptr);
    }
    // Lets `ms` of sound pass on the devices.
    void Pass(uint64_t ms) {
        for (uint64_t t = 0; t < ms; t += CVirtualWaveBackend::kTickMs) {
            m_clock.Advance(CVirtualWaveBackend::kTickMs);
            m_pWave->WaitProcessed();
        }
    }
    // Lets sound pass while pred holds. Only sound through an open device takes the device
    // thread's time, so a condition that follows a device's close must be waited for after.
    void PassWhile(const std::function<bool()>& pred) {
        for (int i = 0; pred(); ++i) {
            ASSERT_LT(i, 10000) << "100 s of sound passed";
            Pass(CVirtualWaveBackend::kTickMs);
        }
    }
    // "line:<n> - WAVEIN[<handle>]: <code> - <text>" (or WAVEOUT) was logged at WARNING.
    bool HasDeviceError(const char* kind, MMRESULT code) {
        const std::string head = std::string(" - ") + kind + "[";
        const std::string tail = StrFormat("]: %x - ", code) + WaveErrorText(code);
        for (const CLogCapture::CEntry& e : m_log.Entries()) {
            const std::string& s = e.strMessage;
            if (e.nLevel == WARNING && s.rfind("line:", 0) == 0 &&
                s.find(head) != std::string::npos && s.size() > tail.size() &&
                s.compare(s.size() - tail.size(), tail.size(), tail) == 0)
                return true;
        }
        return false;
    }
};

// A sink whose source is a test source of the given format; released at the end of the scope
// unless the test has done so.
struct CSinkRig {
    explicit CSinkRig(const CWaveFormat& srcFormat) : source(&srcFormat) {}
    CTestSource source;
    CWaveSinkToAudioDevice* pSink = new CWaveSinkToAudioDevice;
};

TEST_F(DeviceAudioTest, SinkSizesItsBuffersForTheDeviceFormatAndRefusesWhatItCannotPlay) {
    struct Case {
        const char* what;
        CWaveFormat src;
        std::optional<CWaveFormat> dev;
        uint32_t dstLen;  // 0: Start refuses
        const char* refusal;
    } cases[] = {
        {"22.05 kHz to the cable at 48 kHz", Pcm(1, 16, 22050), Pcm(1, 16, 48000), 76800, nullptr},
        {"stereo to the cable at 44.1 kHz", Pcm(2, 16, 22050), Pcm(1, 16, 44100), 70560, nullptr},
        {"the speaker plays the source's format", Pcm(2, 8, 22050), std::nullopt, 35280, nullptr},
        {"no mono to stereo", Pcm(1, 16, 22050), Pcm(2, 16, 48000), 0,
         "CWaveSinkToAudioDevice::Start[ FAILED: Channel Convertion - convertion to MONO only]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSinkRig rig(c.src);
        ASSERT_TRUE(rig.pSink->Init(c.dev ? kCable1 : kSpeakers, c.dev ? &*c.dev : nullptr));
        rig.pSink->WaveSourceAttach(&rig.source);
        EXPECT_EQ(rig.pSink->Start(), c.dstLen != 0);
        if (c.dstLen != 0) {
            EXPECT_EQ(rig.pSink->GetDstBufLen(), c.dstLen);
            EXPECT_EQ(m_pWave->HandleDeviceName(rig.pSink->GetWaveOut()),
                      c.dev ? "Vokra Virtual Cable 1" : "Speakers");
            EXPECT_TRUE(rig.pSink->Stop(nullptr));
        } else {
            EXPECT_TRUE(m_log.Has(c.refusal, WARNING)) << m_log.Dump();
        }
        rig.pSink->WaveSourceRemove();
        EXPECT_TRUE(rig.pSink->Release());
    }
}

TEST_F(DeviceAudioTest, SinkLogsARefusedDeviceAndFallsBackToAnotherRate) {
    ASSERT_TRUE(m_pWave->SetDeviceRates(EWaveKind::Out, "Vokra Virtual Cable 1", {44100}));
    const CWaveFormat src = Pcm(1, 16, 16000);
    CSinkRig rig(src);
    rig.pSink->WaveSourceAttach(&rig.source);
    ASSERT_TRUE(rig.pSink->Init(7, nullptr));
    EXPECT_FALSE(rig.pSink->Start());
    EXPECT_TRUE(HasDeviceError("WAVEOUT", MMSYSERR_BADDEVICEID)) << m_log.Dump();

    // As the player does: 48,000 Hz first, then 44,100 Hz.
    const CWaveFormat f48 = Pcm(1, 16, 48000), f44 = Pcm(1, 16, 44100);
    ASSERT_TRUE(rig.pSink->Init(kCable1, &f48));
    EXPECT_FALSE(rig.pSink->Start());
    EXPECT_TRUE(HasDeviceError("WAVEOUT", WAVERR_BADFORMAT)) << m_log.Dump();
    ASSERT_TRUE(rig.pSink->Init(kCable1, &f44));
    EXPECT_TRUE(rig.pSink->Start());
    EXPECT_EQ(rig.pSink->GetState(), ST_RUNNING);
    EXPECT_FALSE(rig.pSink->Release()) << "not while running";
    EXPECT_FALSE(rig.pSink->Init(kCable1, &f44)) << "not while running";
    EXPECT_TRUE(rig.pSink->Stop(nullptr));
    EXPECT_FALSE(rig.pSink->Stop(nullptr)) << "not when stopped";
    rig.pSink->WaveSourceRemove();
    EXPECT_TRUE(rig.pSink->Release());
}

TEST_F(DeviceAudioTest, DrainStopNotifiesAfterTheLastQueuedBufferHasPlayed) {
    const CWaveFormat src = Pcm(1, 16, 8000);  // 800 ms blocks of 12,800 bytes
    CSinkRig rig(src);
    ASSERT_TRUE(rig.pSink->Init(kSpeakers, nullptr));
    rig.pSink->WaveSourceAttach(&rig.source);
    ASSERT_TRUE(rig.pSink->Start());
    const Bytes block = Samples16(Tone(400, 8000, 6400));
    for (int i = 0; i < 3; ++i)
        rig.source.Deliver(block);
    rig.pSink->WaveSourceRemove();
    const uint64_t t0 = Clock().NowMs();
    CNotify notify;
    EXPECT_TRUE(rig.pSink->Stop(&notify));  // returns at once: the notice comes later
    EXPECT_EQ(notify.m_nCount, 0);
    EXPECT_EQ(rig.pSink->GetState(), ST_RUNNING);
    PassWhile([&] { return m_pWave->OpenHandles() > 0; });
    notify.m_ev.Wait();
    EXPECT_GE(notify.m_uAtMs, t0 + 2400) << "three buffers of 800 ms played first";
    EXPECT_EQ(notify.m_pWho, static_cast<void*>(rig.pSink));
    EXPECT_EQ(notify.m_uThread, rig.pSink->ThreadId());
    EXPECT_EQ(m_pWave->OpenHandles(), 0u);
    EXPECT_EQ(rig.pSink->GetState(), ST_READY);

    // A drained sink starts again for the next sound; with nothing queued the notice comes
    // while the request is handled, after the requester has been let go.
    rig.pSink->WaveSourceAttach(&rig.source);
    ASSERT_TRUE(rig.pSink->Init(kSpeakers, nullptr));
    ASSERT_TRUE(rig.pSink->Start());
    rig.pSink->WaveSourceRemove();
    CNotify again;
    EXPECT_TRUE(rig.pSink->Stop(&again));
    again.m_ev.Wait();
    EXPECT_EQ(again.m_nCount, 1);
    EXPECT_EQ(again.m_uThread, rig.pSink->ThreadId());
    EXPECT_EQ(m_pWave->OpenHandles(), 0u);
    EXPECT_TRUE(rig.pSink->Release());
}

TEST_F(DeviceAudioTest, AbortStopReturnsOnceTheDeviceIsClosedWithoutANotice) {
    const CWaveFormat src = Pcm(1, 16, 8000);
    CSinkRig rig(src);
    ASSERT_TRUE(rig.pSink->Init(kCable2, nullptr));
    rig.pSink->WaveSourceAttach(&rig.source);
    ASSERT_TRUE(rig.pSink->Start());
    const Bytes block = Samples16(Tone(400, 8000, 6400));
    for (int i = 0; i < 3; ++i)
        rig.source.Deliver(block);
    rig.pSink->WaveSourceRemove();
    Pass(100);
    EXPECT_TRUE(rig.pSink->Stop(nullptr));
    EXPECT_EQ(m_pWave->OpenHandles(), 0u) << "closed before Stop returned";
    EXPECT_EQ(rig.pSink->GetWaveOut(), 0u);
    EXPECT_EQ(rig.pSink->GetRefCntInWaveOut(), 0u);
    EXPECT_TRUE(rig.pSink->Release());
    CWaveDeviceThread::WaitAlive(0);
    EXPECT_EQ(m_log.Count("::ExitInstance"), 1);
    EXPECT_EQ(m_log.Count("::~CWaveSinkToAudioDevice"), 1);
}

TEST_F(DeviceAudioTest, SinkWhoseDeviceDisappearsStillStopsAndGoes) {
    const CWaveFormat src = Pcm(1, 16, 8000);
    CSinkRig rig(src);
    ASSERT_TRUE(rig.pSink->Init(kSpeakers, nullptr));
    rig.pSink->WaveSourceAttach(&rig.source);
    ASSERT_TRUE(rig.pSink->Start());
    const Bytes block = Samples16(Tone(400, 8000, 6400));
    for (int i = 0; i < 3; ++i)
        rig.source.Deliver(block);
    Pass(100);
    ASSERT_TRUE(m_pWave->RemoveDevice(EWaveKind::Out, "Speakers"));
    rig.source.Deliver(block);  // refused by the device: freed, not counted
    rig.pSink->WaveSourceRemove();
    // An abort waits for every buffer to come back: the vanished device has returned them.
    EXPECT_TRUE(rig.pSink->Stop(nullptr));
    EXPECT_EQ(rig.pSink->GetRefCntInWaveOut(), 0u);
    EXPECT_EQ(rig.pSink->GetWaveOut(), 0u);
    EXPECT_TRUE(HasDeviceError("WAVEOUT", MMSYSERR_NODRIVER)) << m_log.Dump();
    EXPECT_TRUE(rig.pSink->Release());
}

TEST_F(DeviceAudioTest, SourceAllocatesTwentyBuffersOfTheBufferRule) {
    struct Case {
        DWORD rate;
        uint32_t size;
    } cases[] = {{48000, 76800}, {44100, 70560}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        auto* pSource = new CWaveSourceFromAudioDevice;
        const CWaveFormat f = Pcm(1, 16, c.rate);
        ASSERT_TRUE(pSource->Init(kCable2, &f));
        EXPECT_EQ(pSource->GetState(), ST_READY);
        EXPECT_EQ(pSource->GetBufferPeriod(), 100u);
        EXPECT_EQ(pSource->GetBufferSizes(), std::vector<uint32_t>(20, c.size));
        EXPECT_FALSE(pSource->Init(kCable2, &f)) << "the device is open already";
        EXPECT_TRUE(pSource->Release());
        CWaveDeviceThread::WaitAlive(0);
    }
}

TEST_F(DeviceAudioTest, SourceLogsARefusedDeviceAndCanStillBeReleased) {
    auto* pSource = new CWaveSourceFromAudioDevice;
    const CWaveFormat f = Pcm(1, 16, 48000);
    EXPECT_FALSE(pSource->Init(9, &f));
    EXPECT_TRUE(HasDeviceError("WAVEIN", MMSYSERR_BADDEVICEID)) << m_log.Dump();
    EXPECT_EQ(pSource->GetState(), ST_IDLE);
    EXPECT_FALSE(pSource->Start(nullptr));
    EXPECT_FALSE(pSource->Stop());
    // Its thread would otherwise stay for the rest of the process.
    EXPECT_TRUE(pSource->Release());
}

TEST_F(DeviceAudioTest, SourceStartsOnceStopsOnceAndResumesWithTheSameBuffers) {
    auto* pSource = new CWaveSourceFromAudioDevice;
    const CWaveFormat f = Pcm(1, 16, 8000);
    ASSERT_TRUE(pSource->Init(0, &f));  // the microphone: silence
    CCountingSink sink;
    sink.WaveSourceAttach(pSource);
    ASSERT_TRUE(pSource->Start(nullptr));
    EXPECT_FALSE(pSource->Start(nullptr));
    EXPECT_FALSE(pSource->Release()) << "not while running";
    Pass(1600);
    sink.WaitBlocks(2);
    ASSERT_TRUE(pSource->Stop());
    EXPECT_FALSE(pSource->Stop());
    EXPECT_EQ(pSource->GetState(), ST_READY);
    ASSERT_TRUE(pSource->Start(nullptr));
    Pass(1600);
    sink.WaitBlocks(4);
    sink.WaveSourceRemove();
    ASSERT_TRUE(pSource->Stop());
    EXPECT_TRUE(pSource->Release());
    const auto blocks = sink.Blocks();
    ASSERT_GE(blocks.size(), 4u);
    for (const Bytes& b : blocks)
        EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](uint8_t v) { return v == 0; }));
    EXPECT_EQ(blocks[3].size(), 12800u);
    EXPECT_EQ(m_log.Warnings(), 0) << m_log.Dump();
}

TEST_F(DeviceAudioTest, SourceWhoseDeviceDisappearsKeepsWhatWasRecordedAndEndsCleanly) {
    auto* pSource = new CWaveSourceFromAudioDevice;
    const CWaveFormat f = Pcm(1, 16, 48000);
    ASSERT_TRUE(pSource->Init(kCable2, &f));
    CCountingSink sink;
    sink.WaveSourceAttach(pSource);
    ASSERT_TRUE(pSource->Start(nullptr));
    Pass(1200);
    sink.WaitBlocks(1);
    ASSERT_TRUE(m_pWave->RemoveDevice(EWaveKind::In, "Vokra Virtual Cable 2"));
    sink.WaitBlocks(2);  // the part of the second buffer
    EXPECT_EQ(sink.All().size(), 115200u) << "1.2 s of 16-bit mono 48 kHz";
    EXPECT_FALSE(pSource->Stop()) << "the device is gone";
    EXPECT_TRUE(HasDeviceError("WAVEIN", MMSYSERR_NODRIVER)) << m_log.Dump();
    sink.WaveSourceRemove();
    EXPECT_TRUE(pSource->Release());
    EXPECT_EQ(sink.Count(), 2u);
}

TEST_F(DeviceAudioTest, ATonePlayedIntoACableIsRecordedFromItAndNotFromTheOther) {
    // The greeting's road: a 22,050 Hz tone to cable 1 at 48 kHz, recorded at 16 kHz.
    const CWaveFormat toneFormat = Pcm(1, 16, 22050);
    CSinkRig rig(toneFormat);
    const CWaveFormat dev = Pcm(1, 16, 48000);
    ASSERT_TRUE(rig.pSink->Init(kCable1, &dev));
    rig.pSink->WaveSourceAttach(&rig.source);
    ASSERT_TRUE(rig.pSink->Start());

    const CWaveFormat rec = Pcm(1, 16, 16000);
    auto* pRec1 = new CWaveSourceFromAudioDevice;
    auto* pRec2 = new CWaveSourceFromAudioDevice;
    ASSERT_TRUE(pRec1->Init(kCable1, &rec));
    ASSERT_TRUE(pRec2->Init(kCable2, &rec));
    CCountingSink got1, got2;
    got1.WaveSourceAttach(pRec1);
    got2.WaveSourceAttach(pRec2);
    ASSERT_TRUE(pRec1->Start(nullptr));
    ASSERT_TRUE(pRec2->Start(nullptr));

    const std::vector<int16_t> tone = Tone(700, 22050, 17640 * 2);  // 1.6 s in two blocks
    const Bytes all = Samples16(tone);
    rig.source.Deliver(Bytes(all.begin(), all.begin() + all.size() / 2));
    rig.source.Deliver(Bytes(all.begin() + all.size() / 2, all.end()));
    rig.pSink->WaveSourceRemove();
    CNotify played;
    ASSERT_TRUE(rig.pSink->Stop(&played));
    PassWhile([&] { return played.m_nCount == 0 || got1.Count() < 3 || got2.Count() < 3; });
    got1.WaitBlocks(3);
    got2.WaitBlocks(3);
    got1.WaveSourceRemove();
    got2.WaveSourceRemove();
    for (auto* p : {pRec1, pRec2}) {
        ASSERT_TRUE(p->Stop());
        ASSERT_TRUE(p->Release());
    }
    EXPECT_TRUE(rig.pSink->Release());

    const std::vector<int16_t> s1 = ToSamples16(got1.All().data(), got1.All().size());
    const std::vector<int16_t> s2 = ToSamples16(got2.All().data(), got2.All().size());
    ASSERT_GE(s1.size(), 16000u * 2);
    // Well inside the tone: past the cable's delay, before its end.
    const std::vector<int16_t> mid(s1.begin() + 4000, s1.begin() + 24000);
    EXPECT_GT(ToneLevel(mid, 700, 16000), 12000 * 0.9);
    EXPECT_LT(ToneLevel(mid, 1100, 16000), 12000 * 0.02);
    EXPECT_TRUE(std::all_of(s2.begin(), s2.end(), [](int16_t v) { return v == 0; }));
}

}  // namespace
