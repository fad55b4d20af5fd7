// The MP3 reader: the frame-header check of Init, and decoding to 16-bit mono 48,000 Hz.
#include <gtest/gtest.h>

#include <cstdlib>

#include "AudioTestUtil.h"
#include "audio/WaveSourceFromFile.h"

using namespace audiotest;

namespace {
const std::string kHdr = "CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat";

bool HaveLame() {
    return std::system("command -v lame >/dev/null 2>&1") == 0;
}
}  // namespace

TEST(Mp3Source, InitChecksTheFirstFrameHeader) {
    struct Case {
        const char* what;
        Bytes file;
        std::string text;
    } cases[] = {
        {"no sync at all", Bytes(3000, 0x55), "[ no mp3 frame header found ]"},
        {"five bytes", Bytes{1, 2, 3, 4, 5}, "[ no mp3 frame header found ]"},
        {"empty", Bytes{}, "[ no mp3 frame header found ]"},
        {"reserved version", Bytes{0, 0, 0xFF, 0xEB, 0x90, 0x00, 0, 0},
         "[ Bad mp3 header decode ]"},
        {"reserved layer", Bytes{0xFF, 0xF9, 0x90, 0x00, 0, 0}, "[ Bad mp3 header decode ]"},
        {"reserved rate", Bytes{0xFF, 0xFB, 0x9C, 0x00, 0, 0}, "[ Bad mp3 header decode ]"},
        {"dual channel", Bytes{0xFF, 0xFB, 0x90, 0x80, 0, 0}, "[ Bad mp3 header decode ]"},
    };
    CTempDir dir;
    for (const Case& c : cases)
        ExpectHeaderRefused(dir.Path("g.mp3"), c.file, kHdr + c.text, c.what);
    // A sync found across the boundary of two search windows (bytes 998 and 999).
    Bytes late(3000, 0);
    late[998] = 0xFF;
    late[999] = 0xFB;
    late[1000] = 0x90;
    late[1001] = 0xC0;
    WriteFile(dir.Path("late.mp3"), late);
    CLogCapture log;
    CWaveSourceFromFile src;
    EXPECT_TRUE(src.Init(dir.Path("late.mp3")));
    EXPECT_TRUE(log.Has(kHdr + "[ decoded mp3 header]", INFO));
    // The published format is what the decoder delivers, whatever the stream holds.
    CWaveFormat out;
    InitPcmFormat(out, 1, 16, 48000);
    EXPECT_EQ(*src.GetFormat(), out);
    EXPECT_EQ(src.GetFileFormat()->GetBytesToRead(), 76800u);
    // Garbage after the header decodes to nothing: the stream just ends.
    CCollectSink sink;
    sink.WaveSourceAttach(&src);
    EXPECT_TRUE(src.Start(nullptr));
    EXPECT_TRUE(sink.All().empty());
}

TEST(Mp3Source, AGreetingEncodedByLameDecodesToItsToneAndLength) {
    if (!HaveLame())
        GTEST_SKIP() << "lame is not installed";
    struct Case {
        uint32_t rate;
        int channels;
        const char* lameArgs;
        double slack;  // samples at 48,000 Hz
    } cases[] = {
        // lame's info frame lets the decoder cut its delay and padding exactly...
        {44100, 1, "-b 64", 64},
        {48000, 2, "-b 128", 64},
        // ...not so for this MPEG-2 stream: whole frames (576 samples each) come out.
        {22050, 1, "-b 32", 3 * 576 * 48000 / 22050.0},
    };
    CTempDir dir;
    for (const Case& c : cases) {
        const double seconds = 2.0;
        const std::string wav = dir.Path("tone.wav");
        const std::string mp3 = dir.Path("greeting.mp3");
        WriteFile(wav, SimpleWav(static_cast<uint16_t>(c.channels), c.rate, 16,
                                 Samples16(Tone(1000, c.rate, static_cast<size_t>(c.rate * seconds),
                                                c.channels, 10000))));
        const std::string cmd = std::string("lame --quiet ") + c.lameArgs + " '" + wav + "' '" +
                                mp3 + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

        CLogCapture log;
        CWaveSourceFromFile src;
        ASSERT_TRUE(src.Init(mp3)) << log.Dump();
        CCollectSink sink;
        sink.WaveSourceAttach(&src);
        ASSERT_TRUE(src.Start(nullptr));
        const auto blocks = sink.Blocks();
        ASSERT_FALSE(blocks.empty());
        for (size_t i = 0; i + 1 < blocks.size(); ++i)
            EXPECT_EQ(blocks[i].size(), 76800u);
        const Bytes pcm = sink.All();
        EXPECT_NEAR(pcm.size() / 2.0, seconds * 48000, c.slack) << c.rate;
        const auto s = ToSamples16(pcm.data(), pcm.size());
        const std::vector<int16_t> mid(s.begin() + 4800, s.end() - 4800);
        EXPECT_NEAR(ToneLevel(mid, 1000, 48000), 10000, 1500) << c.rate;
        EXPECT_LT(ToneLevel(mid, 1500, 48000), 500) << c.rate;
        EXPECT_EQ(log.CountLevel(WARNING), 0) << log.Dump();
        sink.WaveSourceRemove();
        EXPECT_TRUE(src.Release());
    }
}
