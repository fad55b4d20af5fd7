// The sound file source: extension choice, the WAV walk and its refusals, streaming on the
// caller's thread.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AudioTestUtil.h"
#include "audio/WaveSourceFromFile.h"

using namespace audiotest;

namespace {
const std::string kHdr = "CWaveSourceFromFileFormatWAV::ReadAudioFileHeaderAndSaveFormat";

Bytes Ramp(size_t samples) {
    std::vector<int16_t> s(samples);
    for (size_t i = 0; i < samples; ++i)
        s[i] = static_cast<int16_t>(i * 7 - 20000);
    return Samples16(s);
}

// Streams the whole file on this thread into a collecting sink.
struct Played {
    bool init = false;
    Bytes data;
    std::vector<Bytes> blocks;
    CWaveFormat format;
};
Played Play(const std::string& path) {
    Played p;
    CWaveSourceFromFile src;
    p.init = src.Init(path);
    if (!p.init)
        return p;
    p.format = *src.GetFormat();
    CCollectSink sink;
    EXPECT_TRUE(sink.WaveSourceAttach(&src));
    sink.Start();
    EXPECT_TRUE(src.Start(nullptr));
    EXPECT_EQ(src.GetState(), ST_READY);
    p.data = sink.All();
    p.blocks = sink.Blocks();
    sink.WaveSourceRemove();
    EXPECT_TRUE(src.Release());
    return p;
}
}  // namespace

TEST(HasExtension, ComparesTheEndIgnoringCase) {
    struct Case {
        const char* path;
        const char* ext;
        bool match;
    } cases[] = {
        {"GREETING.Wav", ".WAV", true},
        {"/a/b/greeting.wav", ".WAV", true},
        {"x.mP3", ".MP3", true},
        {".wav", ".WAV", false},
        {"greeting.ogg", ".WAV", false},
        {"greeting", ".WAV", false},
        {"", ".WAV", false},
        {"a.wav", "", false},
        {"a.wav.bak", ".WAV", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HasExtension(c.path, c.ext), c.match) << c.path;
}

TEST(WaveSourceFromFile, InitRefusesUnknownExtensionsAndMissingFiles) {
    CLogCapture log;
    CTempDir dir;
    CWaveSourceFromFile src;
    for (const std::string& path :
         {dir.Path("greeting.ogg"), std::string(".wav"), dir.Path("noext")})
        EXPECT_FALSE(src.Init(path)) << path;
    EXPECT_TRUE(log.Has("CWaveSourceFromFile::Init [Audio file extention not handled]", WARNING));
    const std::string missing = dir.Path("missing.WAV");
    EXPECT_FALSE(src.Init(missing));
    EXPECT_TRUE(log.Has("CWaveSourceFromFile::Init [Could not find \"" + missing + "\"]", WARNING));
    EXPECT_FALSE(src.Start(nullptr));  // no reader
    EXPECT_EQ(src.GetFileFormat(), nullptr);

    // Only regular files: a folder or a pipe named like a sound file is refused at once.
    const std::string folder = dir.Path("folder.wav"), fifo = dir.Path("pipe.wav");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {folder, fifo}) {
        EXPECT_FALSE(src.Init(path)) << path;
        EXPECT_TRUE(log.Has("CWaveSourceFromFile::Init [Could not find \"" + path + "\"]")) << path;
    }
}

TEST(WaveSourceFromFile, MalformedHeadersAreRefusedWithTheirText) {
    const Bytes pcm = Ramp(100);
    auto fmt16 = [](uint16_t tag, uint16_t ch, uint32_t rate, uint16_t bits) {
        Bytes c;
        AppendChunk(c, "fmt ", FmtBody(tag, ch, rate, bits));
        return c;
    };
    auto data = [&](const Bytes& d) {
        Bytes c;
        AppendChunk(c, "data", d);
        return c;
    };
    Bytes waveFirst;
    Append(waveFirst, "WAVE");
    waveFirst = Concat({waveFirst, RiffWave(Concat({fmt16(1, 1, 16000, 16), data(pcm)}))});
    Bytes twoRiff = RiffWave(Concat({fmt16(1, 1, 16000, 16), data(pcm)}));
    twoRiff = Concat({Bytes(twoRiff.begin(), twoRiff.begin() + 12), twoRiff});
    Bytes fmt14;
    const Bytes body16 = FmtBody(1, 1, 16000, 16);
    AppendChunk(fmt14, "fmt ", Bytes(body16.begin(), body16.begin() + 14));
    Bytes fmtBeforeWave;
    Append(fmtBeforeWave, "RIFF");
    Append32(fmtBeforeWave, 100);
    fmtBeforeWave = Concat({fmtBeforeWave, fmt16(1, 1, 16000, 16), data(pcm)});
    Bytes wvpk = pcm;
    std::copy_n("wvpk", 4, wvpk.begin());
    Bytes truncatedFmt = RiffWave(fmt16(1, 1, 16000, 16));
    truncatedFmt.resize(28);
    Bytes hugeFmt;
    Append(hugeFmt, "fmt ");
    Append32(hugeFmt, 0xFFFFFFF0u);
    hugeFmt = Concat({hugeFmt, FmtBody(1, 1, 16000, 16), data(pcm)});
    Bytes hugeFact;
    Append(hugeFact, "fact");
    Append32(hugeFact, 0x7FFFFFF0u);
    Bytes hugeUnknown;
    Append(hugeUnknown, "LIST");
    Append32(hugeUnknown, 0xFFFFFFFFu);
    hugeUnknown = Concat({hugeUnknown, data(pcm)});
    Bytes ogg;
    Append(ogg, "OggS");
    ogg.resize(64, 0);

    struct Case {
        const char* what;
        Bytes file;
        std::string text;
    } cases[] = {
        {"WAVE before RIFF", waveFirst, "[ WAVE marker before RIFF ]"},
        {"second RIFF", twoRiff, "[ RIFF on first marker in file]"},
        {"fmt of 14 bytes", RiffWave(Concat({fmt14, data(pcm)})), "[ fmt length too small ]"},
        {"fmt before WAVE", fmtBeforeWave, "[ fmt marker before RIFF|WAVE ]"},
        {"data before fmt", RiffWave(Concat({data(pcm), fmt16(1, 1, 16000, 16)})),
         "[ data marker before RIFF|WAVE|fmt ]"},
        {"wvpk", RiffWave(Concat({fmt16(1, 1, 16000, 16), data(wvpk)})),
         "[ wvpk marker at the start of the DATA section. Not able to handle this ]"},
        {"24-bit", RiffWave(Concat({fmt16(1, 1, 16000, 24), data(pcm)})), "[ wBitsPerSample: 24 ]"},
        {"4 channels", RiffWave(Concat({fmt16(1, 4, 16000, 16), data(pcm)})), "[ nChannels: 4 ]"},
        {"no channels", RiffWave(Concat({fmt16(1, 0, 16000, 16), data(pcm)})), "[ nChannels: 0 ]"},
        {"192 kHz", RiffWave(Concat({fmt16(1, 1, 192000, 16), data(pcm)})),
         "[ nSamplesPerSec: 192000 ]"},
        {"rate 0", RiffWave(Concat({fmt16(1, 1, 0, 16), data(pcm)})), "[ nSamplesPerSec: 0 ]"},
        {"rate 999", RiffWave(Concat({fmt16(1, 1, 999, 16), data(pcm)})),
         "[ nSamplesPerSec: 999 ]"},
        {"float (tag 3)", RiffWave(Concat({fmt16(3, 1, 16000, 16), data(pcm)})),
         "[ NOT WAVE_FORMAT_PCM ]"},
        {"IMA ADPCM (tag 0x11)", RiffWave(Concat({fmt16(0x11, 1, 16000, 16), data(pcm)})),
         "[ NOT WAVE_FORMAT_PCM ]"},
        {"no data chunk", RiffWave(fmt16(1, 1, 16000, 16)), "[ no data marker ]"},
        {"empty file", Bytes{}, "[ Bad READ(marker)]"},
        {"cut inside fmt", truncatedFmt, "[ Bad READ(WAVEFORMATEX)]"},
        {"fmt longer than the file", RiffWave(hugeFmt), "[ Bad READ(Format Extra)]"},
        {"fact longer than the file",
         RiffWave(Concat({fmt16(1, 1, 16000, 16), hugeFact, data(pcm)})),
         "[ Bad SEEK(passed fact)]"},
        {"chunk longer than the file before data",
         RiffWave(Concat({fmt16(1, 1, 16000, 16), hugeUnknown})), "[ no data marker ]"},
        {"not a RIFF file", ogg, "[ no RIFF marker at start of file ]"},
    };
    CTempDir dir;
    for (const Case& c : cases)
        ExpectHeaderRefused(dir.Path("bad.wav"), c.file, kHdr + c.text, c.what);
}

TEST(WaveSourceFromFile, AcceptedLayoutsPlayExactlyTheirSamples) {
    const Bytes pcm = Ramp(1001);
    auto chunk = [](const std::string& id, const Bytes& body) {
        Bytes c;
        AppendChunk(c, id, body);
        if (body.size() % 2)
            c.push_back(0);  // pad byte
        return c;
    };
    const Bytes fmt = chunk("fmt ", FmtBody(1, 1, 16000, 16));
    const Bytes data = chunk("data", pcm);
    Bytes list = chunk("LIST", Bytes{'I', 'N', 'F', 'O', 'x'});  // odd length, padded
    Bytes fact;
    AppendChunk(fact, "fact", Bytes{1, 2, 3, 4});
    auto withDataLen = [&](uint32_t len) {
        Bytes d;
        Append(d, "data");
        Append32(d, len);
        d.insert(d.end(), pcm.begin(), pcm.end());
        return RiffWave(Concat({fmt, d}));
    };
    Bytes riffPlaceholder = RiffWave(Concat({fmt, data}));
    PutLE32(riffPlaceholder.data() + 4, 0x7FFFFFFF);

    struct Case {
        const char* what;
        Bytes file;
        Bytes expect;
    } cases[] = {
        {"plain", RiffWave(Concat({fmt, data})), pcm},
        {"fmt of 18", RiffWave(Concat({chunk("fmt ", FmtBody(1, 1, 16000, 16, 2)), data})), pcm},
        {"fmt of 40", RiffWave(Concat({chunk("fmt ", FmtBody(1, 1, 16000, 16, 24)), data})), pcm},
        {"fact before fmt", RiffWave(Concat({fact, fmt, data})), pcm},
        {"LIST before data", RiffWave(Concat({fmt, list, data})), pcm},
        {"LIST after data is not sound", RiffWave(Concat({fmt, data, list})), pcm},
        {"data length placeholder 0x7FFFFFFF", withDataLen(0x7FFFFFFF), pcm},
        {"data length placeholder 0xFFFFFFFF", withDataLen(0xFFFFFFFF), pcm},
        {"data length beyond the file", withDataLen(static_cast<uint32_t>(pcm.size()) + 5000), pcm},
        {"data length shorter than the samples",
         withDataLen(static_cast<uint32_t>(pcm.size()) - 200), Bytes(pcm.begin(), pcm.end() - 200)},
        {"trailing half sample", withDataLen(static_cast<uint32_t>(pcm.size()) - 1),
         Bytes(pcm.begin(), pcm.end() - 2)},
        {"RIFF length placeholder", riffPlaceholder, pcm},
        {"empty data", RiffWave(Concat({fmt, chunk("data", {})})), Bytes{}},
    };
    CTempDir dir;
    for (const Case& c : cases) {
        CLogCapture log;
        const std::string path = dir.Path("ok.WAV");
        WriteFile(path, c.file);
        const Played p = Play(path);
        ASSERT_TRUE(p.init) << c.what << "\n" << log.Dump();
        EXPECT_EQ(p.data, c.expect) << c.what;
        EXPECT_EQ(log.CountLevel(WARNING), c.what == std::string("fact before fmt") ? 1 : 0)
            << c.what << "\n"
            << log.Dump();
    }
    CLogCapture log;
    WriteFile(dir.Path("f.wav"), RiffWave(Concat({fact, fmt, data})));
    EXPECT_TRUE(Play(dir.Path("f.wav")).init);
    EXPECT_TRUE(log.Has(kHdr + "[ fact marker before fmt ]", WARNING));
}

TEST(WaveSourceFromFile, StereoFileGivesItsFormatAndBlocksOfTheRule) {
    CTempDir dir;
    const std::string path = dir.Path("stereo.wav");
    // 2.5 blocks of 16-bit stereo at 44,100 Hz.
    const Bytes pcm = Samples16(Tone(440, 44100, 88200, 2));
    WriteFile(path, SimpleWav(2, 44100, 16, pcm));
    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(path));
    const CWaveFormat& f = *src.GetFormat();
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_EQ(src.GetBufferPeriod(), 100u);
    EXPECT_EQ(src.GetFileFormat()->GetBytesToRead(), 141120u);
    src.Release();  // never started: refused, the file stays open until Init or destruction
    EXPECT_NE(src.GetFile(), nullptr);

    // At a rate where the rule does not come out in whole frames (25,603.2 bytes), blocks are
    // cut to whole frames so that no sample straddles two blocks.
    const std::string odd = dir.Path("odd.wav");
    WriteFile(odd, SimpleWav(2, 8001, 16, Samples16(Tone(440, 8001, 8001, 2))));
    ASSERT_TRUE(src.Init(odd));
    EXPECT_EQ(src.GetFileFormat()->GetBytesToRead(), 25600u);

    const Played p = Play(path);
    ASSERT_EQ(p.blocks.size(), 3u);
    EXPECT_EQ(p.blocks[0].size(), 141120u);
    EXPECT_EQ(p.blocks[1].size(), 141120u);
    EXPECT_EQ(p.blocks[2].size(), 352800u - 2 * 141120u);
    EXPECT_EQ(p.data, pcm);
}

TEST(WaveSourceFromFile, StatesAndTheirRefusals) {
    CLogCapture log;
    CTempDir dir;
    const std::string path = dir.Path("s.wav");
    WriteFile(path, SimpleWav(1, 8000, 8, Bytes(12800 * 2 + 100, 128)));
    CWaveSourceFromFile src;
    EXPECT_FALSE(src.Stop());
    EXPECT_FALSE(src.Release());
    ASSERT_TRUE(src.Init(path));
    EXPECT_EQ(src.GetState(), ST_IDLE);
    EXPECT_FALSE(src.Stop());  // not running
    EXPECT_EQ(src.GetFileFormat()->GetBytesToRead(), 6400u);
    CCollectSink sink;
    sink.WaveSourceAttach(&src);
    EXPECT_TRUE(src.Start(nullptr));  // returns after the last block
    EXPECT_EQ(sink.Blocks().size(), 5u);
    EXPECT_EQ(src.GetState(), ST_READY);
    EXPECT_TRUE(
        log.Has(StrFormat("CWaveSourceFromFile[%8.8x]::Start [ Notify: %#x ]", LogAddr(&src), 0u)));
    EXPECT_TRUE(log.Has("CWaveSourceFromFile::Start [block caller thread]", INFO));
    EXPECT_TRUE(log.Has(StrFormat("CWaveSourceFromFile[%8.8x]::StreamFileNotifyOnDoneOrStopOnFlag",
                                  LogAddr(&src))));
    EXPECT_TRUE(log.Has(StrFormat("CWaveSourceFromFileFormatWAV[%8.8x]::DecodeFileLoop[ "
                                  "m_uBytesToRead: 6400 ]",
                                  LogAddr(src.GetFileFormat())),
                        FINER));
    // Started again at the end of the data: nothing more to deliver.
    EXPECT_TRUE(src.Start(nullptr));
    EXPECT_EQ(sink.Blocks().size(), 5u);
    EXPECT_TRUE(src.Release());
    EXPECT_TRUE(log.Has(StrFormat("CWaveSourceFromFile[%8.8x]::Release", LogAddr(&src)), INFO));
    EXPECT_EQ(src.GetFormat(), nullptr);
    EXPECT_EQ(src.GetFile(), nullptr);
    EXPECT_TRUE(src.GetFilePath().empty());
    EXPECT_FALSE(src.Start(nullptr));
    // The same object takes another file.
    ASSERT_TRUE(src.Init(path));
    EXPECT_TRUE(src.Start(nullptr));
    EXPECT_EQ(sink.Blocks().size(), 10u);
}

// Stops the source from inside a delivery, as an owner on another thread would between blocks.
class CStopperSink : public CCollectSink {
public:
    CWaveSourceFromFile* m_pSrc = nullptr;
    void WriteBuffer(const void* data, uint32_t len) override {
        CCollectSink::WriteBuffer(data, len);
        if (Blocks().size() == 2) {
            EXPECT_TRUE(m_pSrc->Stop());
        }
    }
};

TEST(WaveSourceFromFile, StopEndsTheStreamWithoutANotice) {
    CTempDir dir;
    const std::string path = dir.Path("s.wav");
    WriteFile(path, SimpleWav(1, 8000, 16, Ramp(12800 * 4)));
    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(path));
    CStopperSink sink;
    sink.m_pSrc = &src;
    sink.WaveSourceAttach(&src);
    EXPECT_TRUE(src.Start(nullptr));
    EXPECT_EQ(sink.Blocks().size(), 2u);
    EXPECT_EQ(src.GetState(), ST_READY);
    EXPECT_FALSE(src.Stop());
}

TEST(WaveSourceFromFile, FuzzRegressionFilesAreHandled) {
    // Every input that once broke the reader (tests/data/fuzz/wav) is refused or plays, and a
    // file that plays delivers whole frames only.
    const std::filesystem::path folder = std::filesystem::path(VOKRA_TEST_DATA) / "fuzz" / "wav";
    ASSERT_TRUE(std::filesystem::is_directory(folder));
    CTempDir dir;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string path = dir.Path("input.wav");
        WriteFile(path, ReadFile(entry.path().string()));
        CWaveSourceFromFile src;
        if (!src.Init(path))
            continue;
        CCollectSink sink;
        sink.WaveSourceAttach(&src);
        EXPECT_TRUE(src.Start(nullptr)) << entry.path();
        for (const Bytes& b : sink.Blocks())
            EXPECT_EQ(b.size() % src.GetFormat()->nBlockAlign, 0u) << entry.path();
        ++files;
    }
    EXPECT_GT(files, 0);
}
