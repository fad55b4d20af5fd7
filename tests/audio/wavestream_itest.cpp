// The file source on its own streaming thread, sources waiting for their sinks, and a
// recording whose process is killed half-way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "AudioTestUtil.h"
#include "audio/WaveSinkToFileWAV.h"
#include "audio/WaveSourceFromFile.h"
#include "platform/Sync.h"

using namespace audiotest;

namespace {
// Five blocks of 800 ms of 16-bit mono 8,000 Hz (12,800 bytes each) and a short sixth.
std::string MakeFile(const CTempDir& dir) {
    const std::string path = dir.Path("play.wav");
    WriteFile(path, SimpleWav(1, 8000, 16, Samples16(Tone(400, 8000, 6400 * 5 + 100))));
    return path;
}

// Records on which thread the notice came, and optionally releases the source from inside it,
// as the player does.
class CNotify : public CWaveNotify {
public:
    void NotifyStopped(void* who) override {
        m_pWho = who;
        m_uThread = GetCurrentThreadId();
        m_nBlocksAtNotice = m_pSink ? m_pSink->Blocks().size() : 0;
        if (m_pRelease != nullptr) {
            if (m_pSink)
                m_pSink->WaveSourceRemove();
            m_bReleased = m_pRelease->Release();
        }
        ++m_nCount;
        m_evDone.Set();
    }
    std::atomic<int> m_nCount{0};
    void* m_pWho = nullptr;
    uint32_t m_uThread = 0;
    size_t m_nBlocksAtNotice = 0;
    CCollectSink* m_pSink = nullptr;
    CWaveSourceFromFile* m_pRelease = nullptr;
    bool m_bReleased = false;
    CEvent m_evDone{true, false};
};

// Takes its time over every block, like a playback sink pacing its source.
class CSlowSink : public CCollectSink {
public:
    explicit CSlowSink(uint32_t ms) : m_uMs(ms) {}
    void WriteBuffer(const void* data, uint32_t len) override {
        CCollectSink::WriteBuffer(data, len);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_uMs));
    }
    uint32_t m_uMs;
};
}  // namespace

TEST(WaveSourceFromFileThread, NoticeComesOnTheStreamingThreadAfterTheLastBlock) {
    CLogCapture log;
    CTempDir dir;
    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(MakeFile(dir)));
    CCollectSink sink;
    sink.WaveSourceAttach(&src);
    CNotify notify;
    notify.m_pSink = &sink;
    notify.m_pRelease = &src;  // released from inside the notice
    ASSERT_TRUE(src.Start(&notify));
    EXPECT_FALSE(src.Start(&notify));  // already running (or finished and released)
    ASSERT_TRUE(notify.m_evDone.Wait(10000));
    EXPECT_EQ(notify.m_nCount.load(), 1);
    EXPECT_EQ(notify.m_pWho, &src);
    EXPECT_NE(notify.m_uThread, GetCurrentThreadId());
    EXPECT_EQ(notify.m_nBlocksAtNotice, 6u);
    EXPECT_TRUE(notify.m_bReleased);
    EXPECT_EQ(src.GetState(), ST_IDLE);
    EXPECT_TRUE(log.Has("CWaveSourceFromFile::Start [spawn dedicated thread]", INFO));
    EXPECT_TRUE(log.HasPrefix(
        StrFormat("CWaveSourceFromFile::Start [Thread ID: %#x, Hndl: 0x", notify.m_uThread)));
    // The thread's last words name the source.
    const std::string end =
        StrFormat("StreamFileNotifyOnDoneOrStopOnFlagThread [Thread End [%8.8x]]", LogAddr(&src));
    for (int i = 0; i < 200 && !log.Has(end); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(log.Has(end, INFO));
}

TEST(WaveSourceFromFileThread, StopEndsStreamingWithoutANotice) {
    CLogCapture log;
    CTempDir dir;
    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(MakeFile(dir)));
    CSlowSink sink(100);
    sink.WaveSourceAttach(&src);
    CNotify notify;
    ASSERT_TRUE(src.Start(&notify));
    while (sink.Blocks().size() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(src.Stop());
    EXPECT_TRUE(log.Has("CWaveSourceFromFile::Stop [ Thread Ended successfully ]", INFO));
    EXPECT_FALSE(src.Stop());
    const size_t delivered = sink.Blocks().size();
    EXPECT_LT(delivered, 6u);
    EXPECT_EQ(notify.m_nCount.load(), 0);
    EXPECT_TRUE(src.Release());
    EXPECT_EQ(sink.Blocks().size(), delivered);
    sink.WaveSourceRemove();
}

TEST(WaveSourceFromFileThread, AStreamingThreadThatOutlivesStopIsWaitedForBeforeRelease) {
    CLogCapture log;
    CTempDir dir;
    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(MakeFile(dir)));
    CSlowSink sink(1500);  // longer than Stop waits
    sink.WaveSourceAttach(&src);
    CNotify notify;
    ASSERT_TRUE(src.Start(&notify));
    while (sink.Blocks().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(src.Stop());
    EXPECT_TRUE(log.Has("CWaveSourceFromFile::Stop [ Timeout before Thread Ends ]", WARNING));
    // Release frees the reader only once the loop has let go of it.
    EXPECT_TRUE(src.Release());
    EXPECT_EQ(sink.Blocks().size(), 1u);
    EXPECT_EQ(notify.m_nCount.load(), 0);
    sink.WaveSourceRemove();
}

TEST(WaveSourceFromFileThread, ReleaseWaitsForALoopOnTheCallersThread) {
    CTempDir dir;
    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(MakeFile(dir)));
    CSlowSink sink(200);
    sink.WaveSourceAttach(&src);
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        EXPECT_TRUE(src.Start(nullptr));
        returned = true;
    });
    while (sink.Blocks().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(src.Stop());
    EXPECT_TRUE(src.Release());  // the block in delivery is finished before the reader goes
    EXPECT_EQ(sink.Blocks().size(), 1u);
    caller.join();
    EXPECT_TRUE(returned.load());
    sink.WaveSourceRemove();
}

TEST(WaveSourceFromFileThread, DestroyingARunningSourceStopsAndWaitsForItsThread) {
    CTempDir dir;
    CCollectSink sink;
    CNotify notify;
    {
        CWaveSourceFromFile src;
        ASSERT_TRUE(src.Init(MakeFile(dir)));
        sink.WaveSourceAttach(&src);
        ASSERT_TRUE(src.Start(&notify));
    }
    EXPECT_EQ(sink.GetWaveSource(), nullptr);
    EXPECT_LE(sink.Blocks().size(), 6u);
}

TEST(WaveSourceBaseThread, ASourceWaitsUntilEverySinkHasLeft) {
    const CWaveFormat f = Pcm(1, 16, 16000);
    CCollectSink lingering;  // does not leave in Terminate; another thread detaches it later
    lingering.m_bDetachOnTerminate = false;
    std::atomic<bool> detached{false};
    std::thread helper;
    {
        CTestSource src(&f);
        lingering.WaveSourceAttach(&src);
        helper = std::thread([&] {
            while (lingering.m_nTerminates.load() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            detached = true;
            lingering.WaveSourceRemove();
        });
    }
    EXPECT_TRUE(detached.load());
    helper.join();
}

TEST(WaveSinkToFileWAVProcess, ARecordingKilledHalfWayReadsBackWithItsTrueLength) {
    CTempDir dir;
    const std::string path = dir.Path("lastvoicemsg.wav");
    const uint32_t blocks = 3;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Records 48 kHz into a 16 kHz file, as a call recording does, and dies mid-recording.
        const CWaveFormat cable = Pcm(1, 16, 48000), file = Pcm(1, 16, 16000);
        CTestSource src(&cable);
        auto* sink = new CWaveSinkToFileWAV;
        if (!sink->Init(path, &file) || !sink->WaveSourceAttach(&src) || !sink->Start())
            _exit(3);
        const Bytes block = Samples16(Tone(440, 48000, 38400));
        for (uint32_t i = 0; i < blocks; ++i)
            src.Deliver(block);
        raise(SIGKILL);
        _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    const Bytes bytes = ReadFile(path);
    ASSERT_GT(bytes.size(), 46u);
    const uint32_t dataLen = GetLE32(bytes.data() + 42);
    EXPECT_EQ(bytes.size(), 46u + dataLen);
    EXPECT_EQ(GetLE32(bytes.data() + 4), 38u + dataLen);
    // Everything but the few milliseconds the resampler's filter still held.
    EXPECT_LE(dataLen, blocks * 25600u);
    EXPECT_GT(dataLen, blocks * 25600u - 3200u);

    // Our own reader plays all of it.
    CWaveSourceFromFile src;
    ASSERT_TRUE(src.Init(path));
    CCollectSink sink;
    sink.WaveSourceAttach(&src);
    ASSERT_TRUE(src.Start(nullptr));
    EXPECT_EQ(sink.All().size(), dataLen);
    sink.WaveSourceRemove();

    const uint32_t frames = dataLen / 2;
    const std::string out = dir.Path("frames.txt");
    if (std::system("python3 -c 'import wave' >/dev/null 2>&1") == 0) {
        const std::string cmd =
            "python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
            "print(w.getnframes(), len(w.readframes(10**9))//2)\" '" +
            path + "' > '" + out + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const Bytes text = ReadFile(out);
        EXPECT_EQ(std::string(text.begin(), text.end()), StrFormat("%u %u\n", frames, frames));
    }
    if (std::system("command -v soxi >/dev/null 2>&1") == 0) {
        const std::string cmd = "soxi -s '" + path + "' > '" + out + "' 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const Bytes text = ReadFile(out);
        EXPECT_EQ(std::string(text.begin(), text.end()), StrFormat("%u\n", frames));
    }
}
