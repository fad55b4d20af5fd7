// The WAV file sink: header bytes, conversion on the way, lengths that always match the file,
// and the round trip through the file source.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "AudioTestUtil.h"
#include "audio/WaveSinkToFileWAV.h"
#include "audio/WaveSourceFromFile.h"

using namespace audiotest;

namespace {
// The 46-byte header the sink writes for 16-bit mono 16,000 Hz.
Bytes Header16k(uint32_t dataLen) {
    Bytes b;
    Append(b, "RIFF");
    Append32(b, 38 + dataLen);
    Append(b, "WAVE");
    Append(b, "fmt ");
    Append32(b, 18);
    b.insert(b.end(), {1, 0, 1, 0, 0x80, 0x3E, 0, 0, 0x00, 0x7D, 0, 0, 2, 0, 16, 0, 0, 0});
    Append(b, "data");
    Append32(b, dataLen);
    return b;
}

// Records the blocks into path through a sink with the given file format.
struct Recorder {
    CTestSource src;
    CWaveSinkToFileWAV sink;
    Recorder(const CWaveFormat& srcFormat, const std::string& path, const CWaveFormat* fileFormat)
        : src(&srcFormat) {
        EXPECT_TRUE(sink.Init(path, fileFormat));
        EXPECT_TRUE(sink.WaveSourceAttach(&src));
        EXPECT_TRUE(sink.Start());
    }
    void Finish() {
        sink.WaveSourceRemove();
        EXPECT_TRUE(sink.Stop(nullptr));
        EXPECT_TRUE(sink.Release());
    }
};
}  // namespace

TEST(WaveSinkToFileWAV, TwoSecondRecordingHasTheExactHeader) {
    CLogCapture log;
    CTempDir dir;
    const std::string path = dir.Path("lastvoicemsg.wav");
    const CWaveFormat f = Pcm(1, 16, 16000);
    const Bytes pcm = Samples16(Tone(440, 16000, 32000));
    Recorder r(f, path, &f);
    EXPECT_EQ(r.sink.GetDstBufLen(), 25600u);
    r.src.Deliver(Bytes(pcm.begin(), pcm.begin() + 25600));
    r.src.Deliver(Bytes(pcm.begin() + 25600, pcm.begin() + 51200));
    r.src.Deliver(Bytes(pcm.begin() + 51200, pcm.end()));
    r.Finish();

    const Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), 46u + 64000u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 46), Header16k(64000));
    EXPECT_EQ(Bytes(file.begin() + 46, file.end()), pcm);
    const unsigned me = LogAddr(&r.sink);
    for (const std::string& text :
         {StrFormat("CWaveSinkToFileWAV[%8.8x]::Init [sWaveOutFilePath: %s]", me, path.c_str()),
          StrFormat("CWaveSinkToFileWAV[%8.8x]::Start", me),
          StrFormat("CWaveSinkToFileWAV[%8.8x]::Stop [Header Count: 38, Data Count: 64000]", me),
          std::string("CWaveSinkToFileWAV::Stop [updated file header]"),
          StrFormat("CWaveSinkToFileWAV[%8.8x]::Release [Closed output file]", me)})
        EXPECT_TRUE(log.Has(text, INFO)) << text;
    EXPECT_EQ(log.CountLevel(WARNING), 0);
}

TEST(WaveSinkToFileWAV, EmptyRecordingIsAValidEmptyFileThatPlaysNothing) {
    CTempDir dir;
    const std::string path = dir.Path("empty.WAV");
    const CWaveFormat f = Pcm(1, 16, 16000);
    {
        Recorder r(f, path, &f);
        r.Finish();
    }
    EXPECT_EQ(ReadFile(path), Header16k(0));

    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(path));
    CCollectSink sink;
    sink.WaveSourceAttach(&src);
    EXPECT_TRUE(src.Start(nullptr));
    EXPECT_TRUE(sink.Blocks().empty());
}

TEST(WaveSinkToFileWAV, LengthsMatchTheFileAfterEveryBlock) {
    // What a reader finds if the program dies now: a complete file of everything so far.
    CTempDir dir;
    const std::string path = dir.Path("live.wav");
    const CWaveFormat f = Pcm(1, 16, 16000);
    Recorder r(f, path, &f);
    EXPECT_EQ(ReadFile(path), Header16k(0));
    const Bytes pcm = Samples16(Tone(300, 16000, 12800));
    r.src.Deliver(pcm);
    Bytes expect = Header16k(25600);
    expect.insert(expect.end(), pcm.begin(), pcm.end());
    EXPECT_EQ(ReadFile(path), expect);
    r.src.Deliver(pcm);
    const Bytes file = ReadFile(path);
    EXPECT_EQ(GetLE32(file.data() + 4), 38u + 51200u);
    EXPECT_EQ(GetLE32(file.data() + 42), 51200u);
    EXPECT_EQ(file.size(), 46u + 51200u);
    r.Finish();
}

TEST(WaveSinkToFileWAV, ConvertsChannelsRateAndWidthToTheFileFormat) {
    CTempDir dir;
    const CWaveFormat mono16k = Pcm(1, 16, 16000);
    struct Case {
        const char* what;
        CWaveFormat src;
        uint32_t blockBytes;  // one 800 ms source block
        uint32_t fileBlockBytes;
        int tolerance;
    } cases[] = {
        {"stereo 16-bit", Pcm(2, 16, 16000), 51200, 25600, 0},
        {"stereo 8-bit", Pcm(2, 8, 16000), 25600, 25600, 0},
        {"48 kHz", Pcm(1, 16, 48000), 76800, 25600, 1},
        {"44.1 kHz", Pcm(1, 16, 44100), 70560, 25600, 1},
        {"stereo 48 kHz", Pcm(2, 16, 48000), 153600, 25600, 1},
        {"8-bit 8 kHz", Pcm(1, 8, 8000), 6400, 25600, 1},
    };
    for (const Case& c : cases) {
        const std::string path = dir.Path("conv.wav");
        Recorder r(c.src, path, &mono16k);
        EXPECT_EQ(WaveBufferSize(c.src, 100), c.blockBytes) << c.what;
        const int blocks = 4;
        Bytes block(c.blockBytes);
        const auto tone =
            Tone(500, c.src.nSamplesPerSec, c.blockBytes / c.src.nBlockAlign, c.src.nChannels);
        for (size_t i = 0; i < tone.size(); ++i) {
            if (c.src.wBitsPerSample == 16)
                PutLE16(block.data() + 2 * i, static_cast<uint16_t>(tone[i]));
            else
                block[i] = static_cast<uint8_t>((tone[i] >> 8) + 128);
        }
        for (int i = 0; i < blocks; ++i)
            r.src.Deliver(block);
        r.Finish();
        const Bytes file = ReadFile(path);
        ASSERT_GE(file.size(), 46u) << c.what;
        const uint32_t dataLen = GetLE32(file.data() + 42);
        EXPECT_EQ(file.size(), 46u + dataLen) << c.what;
        EXPECT_EQ(GetLE32(file.data() + 4), 38u + dataLen) << c.what;
        EXPECT_EQ(Bytes(file.begin() + 20, file.begin() + 38), mono16k.ToBytes()) << c.what;
        EXPECT_NEAR(dataLen, blocks * c.fileBlockBytes, c.tolerance * blocks) << c.what;
        // Still the 500 Hz tone, at the file's rate.
        const auto s = ToSamples16(file.data() + 46 + 400, dataLen - 400);
        EXPECT_GT(ToneLevel(s, 500, 16000), c.src.wBitsPerSample == 8 ? 10000 : 11000) << c.what;
    }
}

TEST(WaveSinkToFileWAV, StereoToMonoWritesOneReducedSamplePerFrame) {
    CTempDir dir;
    const std::string path = dir.Path("st.wav");
    const CWaveFormat mono = Pcm(1, 16, 16000);
    Recorder r(Pcm(2, 16, 16000), path, &mono);
    r.src.Deliver(Samples16({-3, -3, 100, 300, 32767, 32767, 5, 7}));
    r.Finish();
    const Bytes file = ReadFile(path);
    EXPECT_EQ(ToSamples16(file.data() + 46, file.size() - 46),
              (std::vector<int16_t>{-2, 200, 32766, 5}));
}

TEST(WaveSinkToFileWAV, NoFileFormatWritesTheSourceFormat) {
    CTempDir dir;
    const std::string path = dir.Path("own.wav");
    const CWaveFormat st = Pcm(2, 8, 22050);
    Recorder r(st, path, nullptr);
    r.src.Deliver(Bytes{1, 2, 3, 4, 5, 6, 7});  // the odd byte is half a frame
    r.Finish();
    const Bytes file = ReadFile(path);
    EXPECT_EQ(Bytes(file.begin() + 20, file.begin() + 38), st.ToBytes());
    EXPECT_EQ(Bytes(file.begin() + 46, file.end()), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(WaveSinkToFileWAV, FileWrittenBySinkStreamsBackExactly) {
    CTempDir dir;
    const std::string path = dir.Path("round.wav");
    const CWaveFormat f = Pcm(1, 16, 16000);
    const Bytes pcm = Samples16(Tone(777, 16000, 16000 * 3 + 123));
    {
        Recorder r(f, path, &f);
        for (size_t off = 0; off < pcm.size(); off += 25600)
            r.src.Deliver(
                Bytes(pcm.begin() + off, pcm.begin() + std::min(pcm.size(), off + 25600)));
        r.Finish();
    }
    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(path));
    EXPECT_EQ(*src.GetFormat(), f);
    CCollectSink sink;
    sink.WaveSourceAttach(&src);
    ASSERT_TRUE(src.Start(nullptr));
    const auto blocks = sink.Blocks();
    ASSERT_EQ(blocks.size(), 4u);
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
        EXPECT_EQ(blocks[i].size(), 25600u);
    EXPECT_EQ(blocks.back().size(), pcm.size() - 3 * 25600u);
    EXPECT_EQ(sink.All(), pcm);
}

TEST(WaveSinkToFileWAV, RefusalsAndStates) {
    CLogCapture log;
    CTempDir dir;
    const CWaveFormat f = Pcm(1, 16, 16000);
    CWaveSinkToFileWAV sink;
    for (const std::string& path : {dir.Path("x.mp3"), dir.Path("noext"), std::string(".wav")})
        EXPECT_FALSE(sink.Init(path, &f)) << path;
    EXPECT_TRUE(log.Has("CWaveSinkToFileWAV::Init [Audio file extention not handled]", WARNING));
    EXPECT_FALSE(sink.Init(dir.Path("no/such/folder/x.wav"), &f));
    EXPECT_TRUE(log.Has("CWaveSinkToFileWAV::Init [ERROR: unable to open output file]", WARNING));
    EXPECT_EQ(sink.GetState(), ST_IDLE);
    EXPECT_FALSE(sink.Start());
    EXPECT_FALSE(sink.Release());

    ASSERT_TRUE(sink.Init(dir.Path("X.Wav"), &f));
    EXPECT_EQ(sink.GetState(), ST_READY);
    EXPECT_FALSE(sink.Start());  // no source
    EXPECT_FALSE(sink.Stop(nullptr));

    // A source with a non-PCM format.
    CWaveFormat mp3 = f;
    mp3.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    {
        CTestSource bad(&mp3);
        sink.WaveSourceAttach(&bad);
        EXPECT_FALSE(sink.Start());
        EXPECT_TRUE(
            log.Has("CWaveSinkToFileWAV::Start[ ERROR: NOT WAVE_FORMAT_PCM(85) ]", WARNING));
        sink.WaveSourceRemove();
    }
    // Mono source into a stereo file: only reduction is done.
    {
        const CWaveFormat stereo = Pcm(2, 16, 16000);
        CWaveSinkToFileWAV up;
        ASSERT_TRUE(up.Init(dir.Path("up.wav"), &stereo));
        CTestSource mono(&f);
        up.WaveSourceAttach(&mono);
        EXPECT_FALSE(up.Start());
        EXPECT_EQ(up.GetState(), ST_READY);
    }

    CTestSource src(&f);
    sink.WaveSourceAttach(&src);
    ASSERT_TRUE(sink.Start());
    EXPECT_FALSE(sink.Init(dir.Path("other.wav"), &f));  // recording in progress
    EXPECT_FALSE(sink.Start());
    EXPECT_FALSE(sink.Release());  // before Stop: refused, file stays open
    src.Deliver(Bytes(320, 1));
    EXPECT_TRUE(sink.Stop(nullptr));
    EXPECT_FALSE(sink.Start());  // the file holds a recording: Init again for a new one
    EXPECT_TRUE(log.Has("CWaveSinkToFileWAV::Start[ ERROR: file already recorded, Init again ]"));
    EXPECT_TRUE(sink.Release());
    EXPECT_EQ(ReadFile(dir.Path("X.Wav")).size(), 46u + 320u);
    sink.WaveSourceRemove();
}

TEST(WaveSinkToFileWAV, TerminateCompletesTheFileAndLeavesTheSource) {
    CLogCapture log;
    CTempDir dir;
    const std::string path = dir.Path("t.wav");
    const CWaveFormat f = Pcm(1, 16, 16000);
    CWaveSinkToFileWAV sink;
    {
        CTestSource src(&f);
        ASSERT_TRUE(sink.Init(path, &f));
        sink.WaveSourceAttach(&src);
        ASSERT_TRUE(sink.Start());
        src.Deliver(Bytes(640, 3));
    }  // the source goes: the sink completes its header and detaches
    EXPECT_TRUE(log.Has(StrFormat("CWaveSinkToFileWAV[%8.8x]::Terminate", LogAddr(&sink)), INFO));
    EXPECT_EQ(sink.GetWaveSource(), nullptr);
    EXPECT_EQ(sink.GetState(), ST_READY);
    EXPECT_TRUE(sink.Release());
    const Bytes file = ReadFile(path);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 46), Header16k(640));
}

TEST(WaveSinkToFileWAV, AFailedWriteKeepsTheFileWholeAndConsistent) {
    CLogCapture log;
    CTempDir dir;
    const CWaveFormat f = Pcm(1, 16, 16000);
    {
        // A device that refuses every write: not even the header gets there.
        const std::string link = dir.Path("full.wav");
        ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
        CWaveSinkToFileWAV full;
        ASSERT_TRUE(full.Init(link, &f));
        CTestSource src(&f);
        full.WaveSourceAttach(&src);
        EXPECT_FALSE(full.Start());
        EXPECT_EQ(full.GetState(), ST_READY);
    }

    // The disk fills in the middle of a block (a file size limit stands in for it): the part
    // of the block that got through is cut off again, and the next block follows on cleanly.
    const std::string path = dir.Path("limited.wav");
    Recorder r(f, path, &f);
    const Bytes a(25600, 0x11), b(25600, 0x22), c(25600, 0x33);
    r.src.Deliver(a);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldSig = signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 46 + 25600 + 1001;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    r.src.Deliver(b);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldSig);
    EXPECT_TRUE(
        log.Has(StrFormat("CWaveSinkToFileWAV::WriteBuffer [ERROR: fwrite(%d)]", EFBIG), WARNING))
        << log.Dump();
    EXPECT_EQ(ReadFile(path).size(), 46u + 25600u);
    r.src.Deliver(c);
    r.Finish();
    Bytes expect = Header16k(51200);
    expect.insert(expect.end(), a.begin(), a.end());
    expect.insert(expect.end(), c.begin(), c.end());
    EXPECT_EQ(ReadFile(path), expect);
}
