// Stereo-to-mono reduction and rate/width conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "AudioTestUtil.h"
#include "audio/PCMRateConvert.h"

using namespace audiotest;

TEST(StereoToMono, EightBitHalvesRoundDown) {
    struct Case {
        uint8_t l, r, mono;
    } cases[] = {{100, 200, 150}, {255, 255, 254}, {0, 1, 0}, {128, 128, 128}, {1, 1, 0}};
    for (const Case& c : cases) {
        const uint8_t in[2] = {c.l, c.r};
        uint8_t out[1] = {77};
        EXPECT_EQ(CPCMRateConvert::StereoToMono8(in, 2, out), 1u);
        EXPECT_EQ(out[0], c.mono) << int(c.l) << "," << int(c.r);
    }
    // Several frames in one pass.
    const uint8_t in[6] = {10, 20, 30, 40, 0, 255};
    uint8_t out[3];
    EXPECT_EQ(CPCMRateConvert::StereoToMono8(in, 6, out), 3u);
    EXPECT_EQ(out[0], 15);
    EXPECT_EQ(out[1], 35);
    EXPECT_EQ(out[2], 127);
}

TEST(StereoToMono, SixteenBitHalvesRoundTowardZero) {
    struct Case {
        int16_t l, r, mono;
    } cases[] = {{-3, -3, -2},        {32767, 32767, 32766},
                 {-32768, 32767, -1}, {-32768, -32768, -32768},
                 {3, 3, 2},           {-1, 1, 0},
                 {1000, -3000, -1000}};
    for (const Case& c : cases) {
        const int16_t in[2] = {c.l, c.r};
        int16_t out[1] = {77};
        EXPECT_EQ(CPCMRateConvert::StereoToMono16(in, 4, out), 2u);
        EXPECT_EQ(out[0], c.mono) << c.l << "," << c.r;
    }
    // A trailing partial frame is dropped: 6 bytes are one frame and a half.
    const int16_t in[3] = {100, 300, 5000};
    int16_t out[2] = {0, 77};
    EXPECT_EQ(CPCMRateConvert::StereoToMono16(in, 6, out), 2u);
    EXPECT_EQ(out[0], 200);
    EXPECT_EQ(out[1], 77);
}

TEST(PCMRateConvert, InitAcceptsPcmPairsAndRefusesTheRest) {
    CLogCapture log;
    CPCMRateConvert c;
    EXPECT_TRUE(c.Init(Pcm(1, 16, 22050), Pcm(1, 16, 48000)));
    EXPECT_TRUE(
        log.Has("CPCMRateConvert::Init [From: 22050 Hz, 16 bits, MONO, To: 48000 Hz, 16 "
                "bits, MONO] ",
                INFO));
    EXPECT_TRUE(c.Init(Pcm(2, 8, 96000), Pcm(2, 16, 44100)));
    EXPECT_TRUE(
        log.Has("CPCMRateConvert::Init [From: 96000 Hz, 8 bits, STEREO, To: 44100 Hz, 16 "
                "bits, STEREO] "));

    CWaveFormat mp3 = Pcm(1, 16, 48000);
    mp3.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    EXPECT_FALSE(c.Init(Pcm(1, 16, 48000), mp3));
    EXPECT_TRUE(log.Has(
        "CPCMRateConvert::Init [ FAILED: Rate Convert work with WAVE_FORMAT_PCM only ] ", WARNING));
    EXPECT_FALSE(c.IsOpen());  // a failed Init after a good one leaves it closed

    // Pairs no converter handles: refused without a text of its own.
    EXPECT_FALSE(c.Init(Pcm(1, 24, 48000), Pcm(1, 16, 16000)));
    EXPECT_FALSE(c.Init(Pcm(1, 16, 192000), Pcm(1, 16, 16000)));
    EXPECT_FALSE(c.Init(Pcm(1, 16, 0), Pcm(1, 16, 16000)));
    EXPECT_FALSE(c.Init(Pcm(4, 16, 48000), Pcm(1, 16, 16000)));

    uint8_t in[4] = {}, out[16];
    EXPECT_EQ(c.Convert(in, 4, out, sizeof out), 0u);
    EXPECT_TRUE(log.Has("CPCMRateConvert::Convert [ FAILED: Rate Convert not Init() ] ", WARNING));
}

namespace {
// Converts `in` in blocks of `blockBytes` into outputs of the rule's size for the target, then
// flushes; returns every sample produced.
std::vector<int16_t> ConvertStream(CPCMRateConvert& conv, const Bytes& in, uint32_t blockBytes,
                                   uint32_t outBlockBytes) {
    std::vector<int16_t> out;
    Bytes block(outBlockBytes);
    for (size_t off = 0; off < in.size(); off += blockBytes) {
        const auto len = static_cast<uint32_t>(std::min<size_t>(blockBytes, in.size() - off));
        const uint32_t n = conv.Convert(in.data() + off, len, block.data(), block.size());
        const auto s = ToSamples16(block.data(), n);
        out.insert(out.end(), s.begin(), s.end());
    }
    const uint32_t n = conv.Flush(block.data(), block.size());
    const auto s = ToSamples16(block.data(), n);
    out.insert(out.end(), s.begin(), s.end());
    return out;
}

double Rms(const std::vector<int16_t>& s) {
    double sum = 0;
    for (int16_t v : s)
        sum += static_cast<double>(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / s.size());
}
}  // namespace

TEST(PCMRateConvert, BlocksFollowTheRatesAndTheStreamEndsExact) {
    struct Case {
        DWORD from, to;
        uint32_t inBytes, outBytes;
    } cases[] = {
        {48000, 16000, 76800, 25600}, {44100, 16000, 70560, 25600}, {22050, 48000, 35280, 76800},
        {16000, 48000, 25600, 76800}, {48000, 44100, 76800, 70560}, {8000, 16000, 12800, 25600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << "->" << c.to);
        CPCMRateConvert conv;
        ASSERT_TRUE(conv.Init(Pcm(1, 16, c.from), Pcm(1, 16, c.to)));
        const Bytes in = Samples16(Tone(440, c.from, c.inBytes / 2));
        // Output buffers of the rule's size, as the sinks give.
        Bytes out(WaveBufferSize(Pcm(1, 16, c.to), 100));
        ASSERT_EQ(out.size(), c.outBytes);
        uint32_t total = 0;
        for (int block = 0; block < 5; ++block) {
            const uint32_t n = conv.Convert(in.data(), c.inBytes, out.data(), out.size());
            // The filter holds back its delay (well under 100 ms of sound) and catches up.
            EXPECT_LE(n, c.outBytes);
            EXPECT_GT(n, c.outBytes - c.to / 5);
            EXPECT_EQ(n % 2, 0u);
            total += n;
        }
        EXPECT_LT(total, 5 * c.outBytes);
        EXPECT_GT(conv.GetDelayFrames(), 0.0);
        // The end of the stream hands over the tail: nothing is lost.
        total += conv.Flush(out.data(), out.size());
        EXPECT_NEAR(total, 5.0 * c.outBytes, 2);
        EXPECT_EQ(conv.Flush(out.data(), out.size()), 0u);
    }
}

TEST(PCMRateConvert, BlocksJoinWithoutClicksAndKeepTheTone) {
    // 3.2 seconds of 1 kHz at 48,000 Hz in 800 ms blocks down to 16,000 Hz: the output must be
    // the same sine, with no step at the block edges, to its very end.
    CPCMRateConvert conv;
    ASSERT_TRUE(conv.Init(Pcm(1, 16, 48000), Pcm(1, 16, 16000)));
    const Bytes in = Samples16(Tone(1000, 48000, 38400 * 4, 1, 12000));
    const std::vector<int16_t> out = ConvertStream(conv, in, 76800, 25600);
    ASSERT_NEAR(out.size(), 51200u, 1u);
    // Skip the filter's start and end, where the tone itself starts and stops; in between every
    // sample must lie on a 1 kHz sine: the largest step between neighbours of such a sine at
    // 16 kHz is 2*pi*1000/16000 * 12000 ~ 4712.
    int maxStep = 0;
    for (size_t i = 200; i + 201 < out.size(); ++i)
        maxStep = std::max(maxStep, std::abs(out[i + 1] - out[i]));
    EXPECT_LT(maxStep, 5000);
    const std::vector<int16_t> steady(out.begin() + 200, out.end() - 200);
    EXPECT_NEAR(ToneLevel(steady, 1000, 16000), 12000, 600);
    EXPECT_LT(ToneLevel(steady, 3000, 16000), 300);
    // The last 10 ms before the very end still carry the tone.
    const std::vector<int16_t> tail(out.end() - 200, out.end() - 40);
    EXPECT_NEAR(ToneLevel(tail, 1000, 16000), 12000, 600);
}

TEST(PCMRateConvert, PassbandIsFlatAndAliasesAreSuppressed) {
    // One second of each tone at 16,000 amplitude, down to 16,000 Hz. Speech up to 3.4 kHz
    // keeps its level within 0.5 dB; a tone above the new Nyquist frequency (10 kHz would fold
    // to 6 kHz) is gone by at least 60 dB.
    struct Case {
        DWORD from;
        double freq;
        bool bPass;
    } cases[] = {
        {48000, 300, true},    {48000, 1000, true},   {48000, 3400, true},   {44100, 3400, true},
        {48000, 10000, false}, {44100, 10000, false}, {48000, 15000, false},
    };
    const double amp = 16000;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.freq << " Hz at " << c.from);
        CPCMRateConvert conv;
        ASSERT_TRUE(conv.Init(Pcm(1, 16, c.from), Pcm(1, 16, 16000)));
        const Bytes in = Samples16(Tone(c.freq, c.from, c.from, 1, amp));
        const std::vector<int16_t> out =
            ConvertStream(conv, in, WaveBufferSize(Pcm(1, 16, c.from), 100), 25600);
        ASSERT_NEAR(out.size(), 16000u, 1u);
        // The steady part: away from where the tone starts and stops.
        const std::vector<int16_t> steady(out.begin() + 800, out.end() - 800);
        if (c.bPass) {
            const double dB = 20 * std::log10(ToneLevel(steady, c.freq, 16000) / amp);
            EXPECT_LT(std::abs(dB), 0.5);
        } else {
            const double dB = 20 * std::log10(std::max(Rms(steady), 1e-9) / (amp / std::sqrt(2)));
            EXPECT_LT(dB, -60.0);
        }
    }
}

TEST(PCMRateConvert, FlushEndsTheStreamAndTheNextOneStartsFresh) {
    CPCMRateConvert conv;
    ASSERT_TRUE(conv.Init(Pcm(1, 16, 44100), Pcm(1, 16, 48000)));
    const Bytes in = Samples16(Tone(700, 44100, 4410 * 3));  // 300 ms, 100 ms blocks
    const std::vector<int16_t> first = ConvertStream(conv, in, 8820, 9600);
    EXPECT_NEAR(first.size(), 14400u, 1u);
    EXPECT_EQ(conv.GetDelayFrames(), 0.0);
    // The same sound again gives the same samples: nothing of the first stream carries over.
    EXPECT_EQ(ConvertStream(conv, in, 8820, 9600), first);

    // Output that does not fit waits in the converter for the next call or the flush.
    Bytes small(96), big(20000);
    ASSERT_EQ(conv.Convert(in.data(), 8820, small.data(), small.size()), 96u);
    EXPECT_NEAR(96 + conv.Flush(big.data(), big.size()), 9600, 2);

    // Nothing to flush without a resampler, or when closed.
    CPCMRateConvert widen;
    ASSERT_TRUE(widen.Init(Pcm(1, 8, 16000), Pcm(1, 16, 16000)));
    EXPECT_EQ(widen.Flush(big.data(), big.size()), 0u);
    conv.Close();
    EXPECT_FALSE(conv.IsOpen());
    EXPECT_EQ(conv.Flush(big.data(), big.size()), 0u);
}

TEST(PCMRateConvert, WidthAndChannelsChangeWithTheRate) {
    // 8-bit unsigned to 16-bit signed at the same rate: exact scaling, no resampler.
    CPCMRateConvert widen;
    ASSERT_TRUE(widen.Init(Pcm(1, 8, 16000), Pcm(1, 16, 16000)));
    const uint8_t in8[4] = {128, 255, 0, 129};
    Bytes out(8);
    ASSERT_EQ(widen.Convert(in8, 4, out.data(), out.size()), 8u);
    EXPECT_EQ(ToSamples16(out.data(), 8), (std::vector<int16_t>{0, 32512, -32768, 256}));

    // 16-bit to 8-bit.
    CPCMRateConvert narrow;
    ASSERT_TRUE(narrow.Init(Pcm(1, 16, 16000), Pcm(1, 8, 16000)));
    const Bytes in16 = Samples16({0, 32767, -32768, 256});
    uint8_t out8[4];
    ASSERT_EQ(narrow.Convert(in16.data(), 8, out8, 4), 4u);
    EXPECT_EQ(Bytes(out8, out8 + 4), (Bytes{128, 255, 0, 129}));

    // Stereo 8-bit 22,050 Hz to stereo 16-bit 44,100 Hz: twice the frames, twice the width.
    CPCMRateConvert both;
    ASSERT_TRUE(both.Init(Pcm(2, 8, 22050), Pcm(2, 16, 44100)));
    Bytes st(35280, 128);
    Bytes big(141120 + 256);
    const uint32_t n = both.Convert(st.data(), st.size(), big.data(), big.size());
    EXPECT_EQ(n % 4, 0u);
    EXPECT_NEAR(n + both.Flush(big.data() + n, big.size() - n), 141120, 4);

    // A destination too small is never overrun.
    Bytes small(100, 0xAA);
    EXPECT_EQ(both.Convert(st.data(), st.size(), small.data(), 96), 96u);
    EXPECT_EQ(small[96], 0xAA);
}

TEST(PCMRateConvert, OnlyWholeSourceFramesAreConverted) {
    CPCMRateConvert conv;
    ASSERT_TRUE(conv.Init(Pcm(2, 16, 16000), Pcm(2, 8, 16000)));
    const Bytes in = Samples16({256, 512, 768, 1024, 1280});  // two frames and half of a third
    uint8_t out[8];
    EXPECT_EQ(conv.Convert(in.data(), in.size(), out, sizeof out), 4u);
}
