// Stereo-to-mono reduction and rate/width conversion.
#include <gtest/gtest.h>

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

TEST(PCMRateConvert, BlockSizesFollowTheRates) {
    struct Case {
        DWORD from, to;
        uint32_t inBytes, outBytes;
    } cases[] = {
        {48000, 16000, 76800, 25600},
        {44100, 16000, 70560, 25600},
        {22050, 48000, 35280, 76800},
        {16000, 48000, 25600, 76800},
    };
    for (const Case& c : cases) {
        CPCMRateConvert conv;
        ASSERT_TRUE(conv.Init(Pcm(1, 16, c.from), Pcm(1, 16, c.to)));
        const Bytes in = Samples16(Tone(440, c.from, c.inBytes / 2));
        Bytes out(WaveBufferSize(Pcm(1, 16, c.to), 100));
        uint32_t total = 0;
        for (int block = 0; block < 5; ++block) {
            const uint32_t n = conv.Convert(in.data(), c.inBytes, out.data(), out.size());
            // Each block is about the nominal size; over the blocks the count is exact to a few
            // frames (the resampler's delay and rounding).
            EXPECT_NEAR(n, c.outBytes, 64) << c.from << "->" << c.to;
            EXPECT_EQ(n % 2, 0u);
            total += n;
        }
        EXPECT_NEAR(total, 5.0 * c.outBytes, 64) << c.from << "->" << c.to;
    }
}

TEST(PCMRateConvert, BlocksJoinWithoutClicksAndKeepTheTone) {
    // 3.2 seconds of 1 kHz at 48,000 Hz in 800 ms blocks down to 16,000 Hz: the output must be
    // the same sine, with no step at the block edges.
    CPCMRateConvert conv;
    ASSERT_TRUE(conv.Init(Pcm(1, 16, 48000), Pcm(1, 16, 16000)));
    const std::vector<int16_t> tone = Tone(1000, 48000, 38400 * 4, 1, 12000);
    const Bytes in = Samples16(tone);
    std::vector<int16_t> out;
    Bytes block(25600 + 64);
    for (size_t off = 0; off < in.size(); off += 76800) {
        const uint32_t n = conv.Convert(in.data() + off, 76800, block.data(), block.size());
        const auto s = ToSamples16(block.data(), n);
        out.insert(out.end(), s.begin(), s.end());
    }
    ASSERT_NEAR(out.size(), 51200u, 32u);
    // Skip the resampler's start-up, then every sample must lie on a 1 kHz sine: the largest
    // step between neighbours of such a sine at 16 kHz is 2*pi*1000/16000 * 12000 ~ 4712.
    int maxStep = 0;
    for (size_t i = 200; i + 1 < out.size(); ++i)
        maxStep = std::max(maxStep, std::abs(out[i + 1] - out[i]));
    EXPECT_LT(maxStep, 5000);
    const std::vector<int16_t> steady(out.begin() + 200, out.end());
    EXPECT_NEAR(ToneLevel(steady, 1000, 16000), 12000, 600);
    EXPECT_LT(ToneLevel(steady, 3000, 16000), 300);
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
    EXPECT_NEAR(n, 141120, 128);
    EXPECT_EQ(n % 4, 0u);

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
