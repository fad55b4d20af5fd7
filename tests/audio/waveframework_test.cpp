// The format record, the buffer rule and the sink list shared by every source and sink.
#include <gtest/gtest.h>

#include "AudioTestUtil.h"
#include "audio/WaveFormat.h"
#include "audio/WaveSink.h"
#include "audio/WaveSource.h"

using namespace audiotest;

TEST(WaveFormat, InitPcmFormatFillsTheRecordAndItsBytes) {
    CWaveFormat f;
    f.cbSize = 7;
    f.abExtra = {1, 2, 3, 4, 5, 6, 7};
    InitPcmFormat(f, 1, 16, 48000);
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nChannels, 1);
    EXPECT_EQ(f.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.nAvgBytesPerSec, 96000u);
    EXPECT_EQ(f.nBlockAlign, 2);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_EQ(f.ToBytes(),
              (Bytes{1, 0, 1, 0, 0x80, 0xBB, 0, 0, 0x00, 0x77, 1, 0, 2, 0, 16, 0, 0, 0}));

    // The byte rate is one channel's, even for stereo.
    InitPcmFormat(f, 2, 16, 44100);
    EXPECT_EQ(f.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(f.nBlockAlign, 4);
}

TEST(WaveFormat, RecordWithExtraBytesRoundTrips) {
    CWaveFormat f;
    InitPcmFormat(f, 2, 8, 22050);
    const uint8_t extra[3] = {9, 8, 7};
    f.SetExtra(extra, 3);
    const Bytes bytes = f.ToBytes();
    ASSERT_EQ(bytes.size(), 21u);
    CWaveFormat back;
    ASSERT_TRUE(CWaveFormat::FromBytes(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back, f);
    // cbSize promising more than is there is refused.
    EXPECT_FALSE(CWaveFormat::FromBytes(bytes.data(), bytes.size() - 1, back));
    EXPECT_FALSE(CWaveFormat::FromBytes(bytes.data(), 17, back));
}

TEST(WaveFormat, BufferRuleHoldsEightPeriodsOfMilliseconds) {
    struct Case {
        WORD channels, bits;
        DWORD rate;
        uint32_t period, bytes;
    } cases[] = {
        {1, 16, 16000, 100, 25600}, {1, 16, 48000, 100, 76800},  {1, 16, 44100, 100, 70560},
        {2, 8, 22050, 100, 35280},  {2, 16, 44100, 100, 141120}, {2, 16, 96000, 100, 307200},
        {1, 16, 16000, 50, 12800},
    };
    for (const Case& c : cases) {
        CWaveFormat f;
        InitPcmFormat(f, c.channels, c.bits, c.rate);
        EXPECT_EQ(WaveBufferSize(f, c.period), c.bytes)
            << c.channels << "x" << c.bits << "@" << c.rate;
    }
}

namespace {
CWaveFormat Mono16(DWORD rate) {
    CWaveFormat f;
    InitPcmFormat(f, 1, 16, rate);
    return f;
}
}  // namespace

TEST(WaveSource, AttachIsRefusedUntilTheSourceIsReadyButTheSinkKeepsThePointer) {
    CLogCapture log;
    CTestSource notReady;
    CCollectSink sink;
    EXPECT_FALSE(sink.WaveSourceAttach(&notReady));
    EXPECT_EQ(sink.GetWaveSource(), &notReady);
    EXPECT_EQ(notReady.GetSinkCount(), 0u);
    sink.WaveSourceRemove();
    EXPECT_EQ(sink.GetWaveSource(), nullptr);

    const CWaveFormat f = Mono16(16000);
    CTestSource ready(&f);
    EXPECT_TRUE(sink.WaveSourceAttach(&ready));
    EXPECT_EQ(ready.GetSinkCount(), 1u);
    EXPECT_TRUE(log.Has(
        StrFormat("CWaveSourceBase[%8.8x]::SinkAttach [%#x]", LogAddr(&ready), LogAddr(&sink)),
        INFO));
    EXPECT_TRUE(log.Has(StrFormat("CWaveSinkBase[%8.8x]::WaveSourceAttach [hWvSrc: %#x]",
                                  LogAddr(&sink), LogAddr(&ready))));
    sink.WaveSourceRemove();
    EXPECT_TRUE(log.Has(StrFormat("CWaveSinkBase[%8.8x]::WaveSourceRemove [hWvSrc: %#x]",
                                  LogAddr(&sink), LogAddr(&ready))));
    EXPECT_EQ(ready.GetSinkCount(), 0u);
    EXPECT_FALSE(ready.SinkRemove(&sink));
}

TEST(WaveSource, BlocksReachSinksInAttachOrderAndATwiceAttachedSinkTwice) {
    const CWaveFormat f = Mono16(16000);
    CTestSource src(&f);
    CCollectSink a, b;
    ASSERT_TRUE(src.SinkAttach(&a));
    ASSERT_TRUE(src.SinkAttach(&b));
    ASSERT_TRUE(src.SinkAttach(&a));
    src.Deliver({1, 2});
    src.Deliver({3, 4});
    EXPECT_EQ(a.All(), (Bytes{1, 2, 1, 2, 3, 4, 3, 4}));
    EXPECT_EQ(b.All(), (Bytes{1, 2, 3, 4}));
    // Removed twice before it is gone.
    EXPECT_TRUE(src.SinkRemove(&a));
    src.Deliver({5, 6});
    EXPECT_EQ(a.Blocks().size(), 5u);
    EXPECT_TRUE(src.SinkRemove(&a));
    EXPECT_FALSE(src.SinkRemove(&a));
    src.Deliver({7, 8});
    EXPECT_EQ(a.Blocks().size(), 5u);
    EXPECT_EQ(b.All(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    src.SinkRemove(&b);
}

TEST(WaveSource, ASinkMayLeaveDuringDeliveryAndTheWalkGoesOn) {
    const CWaveFormat f = Mono16(16000);
    CTestSource src(&f);
    CCollectSink first, leaver, last;
    first.WaveSourceAttach(&src);
    leaver.WaveSourceAttach(&src);
    last.WaveSourceAttach(&src);
    leaver.m_nLeaveAfter = 1;
    src.Deliver({1, 1});
    src.Deliver({2, 2});
    EXPECT_EQ(first.Blocks().size(), 2u);
    EXPECT_EQ(leaver.Blocks().size(), 1u);
    EXPECT_EQ(last.Blocks().size(), 2u);
    EXPECT_EQ(src.GetSinkCount(), 2u);
}

// A sink that removes the next sink in the list while it is being delivered to.
class CRemoverSink : public CCollectSink {
public:
    CWaveSourceBase* m_pSrc = nullptr;
    CWaveSinkBase* m_pVictim = nullptr;
    void WriteBuffer(const void* data, uint32_t len) override {
        CCollectSink::WriteBuffer(data, len);
        if (m_pVictim != nullptr)
            m_pSrc->SinkRemove(m_pVictim);
        m_pVictim = nullptr;
    }
};

TEST(WaveSource, RemovingTheNextSinkDuringDeliverySkipsIt) {
    const CWaveFormat f = Mono16(16000);
    CTestSource src(&f);
    CRemoverSink remover;
    CCollectSink victim, last;
    src.SinkAttach(&remover);
    src.SinkAttach(&victim);
    src.SinkAttach(&last);
    remover.m_pSrc = &src;
    remover.m_pVictim = &victim;
    src.Deliver({1, 1});
    EXPECT_EQ(victim.Blocks().size(), 0u);
    EXPECT_EQ(last.Blocks().size(), 1u);
    src.SinkRemove(&remover);
    src.SinkRemove(&last);
}

TEST(WaveSource, DestructionTerminatesEverySinkAndReturnsOnceTheyLeft) {
    CLogCapture log;
    const CWaveFormat f = Mono16(16000);
    CCollectSink a, b;
    unsigned addr = 0;
    {
        CTestSource src(&f);
        addr = LogAddr(&src);
        a.WaveSourceAttach(&src);
        b.WaveSourceAttach(&src);
        src.SinkAttach(&b);  // listed twice: leaving once takes it out entirely
    }
    EXPECT_EQ(a.m_nTerminates.load(), 1);
    EXPECT_EQ(b.m_nTerminates.load(), 1);
    EXPECT_EQ(a.GetWaveSource(), nullptr);
    EXPECT_EQ(b.GetWaveSource(), nullptr);
    EXPECT_TRUE(log.Has(
        StrFormat("CWaveSourceBase[%8.8x]::WaitForAllSinksToRemoveThemselves", addr), INFO));

    // With no sinks the wait returns at once.
    { CTestSource empty(&f); }
}

TEST(WaveSource, ASinkDestroyedWhileAttachedLeavesTheSource) {
    const CWaveFormat f = Mono16(16000);
    CTestSource src(&f);
    {
        CCollectSink sink;
        sink.WaveSourceAttach(&src);
        EXPECT_EQ(src.GetSinkCount(), 1u);
    }
    EXPECT_EQ(src.GetSinkCount(), 0u);
    src.Deliver({1, 2});  // nothing left to deliver to
}

TEST(WaveSource, AttachingToAnotherSourceLeavesTheFirst) {
    const CWaveFormat f = Mono16(16000);
    CTestSource one(&f), two(&f);
    CCollectSink sink;
    sink.WaveSourceAttach(&one);
    sink.WaveSourceAttach(&two);
    EXPECT_EQ(one.GetSinkCount(), 0u);
    EXPECT_EQ(two.GetSinkCount(), 1u);
}
