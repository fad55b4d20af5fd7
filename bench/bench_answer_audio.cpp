// Answering on the virtual devices, with the real handler thread, answering stages, player and
// recorder: the time from the INPROGRESS line reaching the handler to the first beep buffer
// written into cable 1, and the CPU time the whole process uses per second of recording (the
// virtual devices' own thread included, so this is an upper bound for the program's share).
//
//   vokra-bench-answer-audio [--calls N] [--seconds S]
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/CableNames.h"
#include "app/Settings.h"
#include "audio/CableSearch.h"
#include "calls/CallCollection.h"
#include "calls/SkypeCmdQueue.h"
#include "calls/SkypeMsgHndl.h"
#include "messages/MessageAudioStages.h"
#include "platform/FileUtil.h"
#include "platform/StrUtil.h"
#include "platform/audio/VirtualWave.h"

namespace {
using Clk = std::chrono::steady_clock;

// Forwards to the virtual devices and notes when cable 1's playback end is first given sound
// and when cable 2's recording end starts.
class CTimingBackend : public IWaveBackend {
public:
    explicit CTimingBackend(std::unique_ptr<IWaveBackend> inner) : m_pInner(std::move(inner)) {}
    const char* Name() const override { return m_pInner->Name(); }
    UINT GetNumDevs(EWaveKind kind) override { return m_pInner->GetNumDevs(kind); }
    MMRESULT GetDevName(EWaveKind kind, UINT devId, std::string& name) override {
        return m_pInner->GetDevName(kind, devId, name);
    }
    MMRESULT Open(EWaveKind kind, HWAVE* phDevice, UINT devId, const CPcmSpec& pcm,
                  CMsgLoop* pCallback) override {
        const MMRESULT r = m_pInner->Open(kind, phDevice, devId, pcm, pCallback);
        std::string name;
        if (r == MMSYSERR_NOERROR && devId != WAVE_MAPPER &&
            m_pInner->GetDevName(kind, devId, name) == MMSYSERR_NOERROR) {
            std::lock_guard g(m_m);
            if (kind == EWaveKind::Out && name == g_strVac1PlaybackDevice)
                m_cable1Out[*phDevice] = true;
            if (kind == EWaveKind::In && name == g_strVac2RecordingDevice)
                m_cable2In[*phDevice] = true;
        }
        return r;
    }
    MMRESULT Prepare(HWAVE h, WAVEHDR* p) override { return m_pInner->Prepare(h, p); }
    MMRESULT Unprepare(HWAVE h, WAVEHDR* p) override { return m_pInner->Unprepare(h, p); }
    MMRESULT Queue(HWAVE h, WAVEHDR* p) override {
        {
            std::lock_guard g(m_m);
            if (m_cable1Out.count(h) && !m_bFirstBeep) {
                m_bFirstBeep = true;
                m_tFirstBeep = Clk::now();
                m_cv.notify_all();
            }
        }
        return m_pInner->Queue(h, p);
    }
    MMRESULT Start(HWAVE h) override {
        const MMRESULT r = m_pInner->Start(h);
        std::lock_guard g(m_m);
        if (m_cable2In.count(h) && !m_bRecording) {
            m_bRecording = true;
            m_cv.notify_all();
        }
        return r;
    }
    MMRESULT Stop(HWAVE h) override { return m_pInner->Stop(h); }
    MMRESULT Reset(HWAVE h) override { return m_pInner->Reset(h); }
    MMRESULT Close(HWAVE h) override {
        std::lock_guard g(m_m);
        m_cable1Out.erase(h);
        m_cable2In.erase(h);
        return m_pInner->Close(h);
    }

    void Rearm() {
        std::lock_guard g(m_m);
        m_bFirstBeep = m_bRecording = false;
    }
    bool WaitFirstBeep(Clk::time_point& t) {
        std::unique_lock lk(m_m);
        if (!m_cv.wait_for(lk, std::chrono::seconds(10), [&] { return m_bFirstBeep; }))
            return false;
        t = m_tFirstBeep;
        return true;
    }
    bool WaitRecording() {
        std::unique_lock lk(m_m);
        return m_cv.wait_for(lk, std::chrono::seconds(30), [&] { return m_bRecording; });
    }

private:
    std::unique_ptr<IWaveBackend> m_pInner;
    std::mutex m_m;
    std::condition_variable m_cv;
    std::map<HWAVE, bool> m_cable1Out, m_cable2In;
    bool m_bFirstBeep = false;
    bool m_bRecording = false;
    Clk::time_point m_tFirstBeep;
};

// Commands to Skype go nowhere: the bench says Skype's side itself.
class CDropCommands : public ISkypeCmdQueue {
public:
    int QueueCtrlAckCmd(const DeviceToSkypeCmd&) override { return 1; }
};

void WriteTone(const std::string& path, double freq, double seconds) {
    const uint32_t rate = 16000;
    const auto frames = static_cast<uint32_t>(rate * seconds);
    std::string b = "RIFF";
    auto le = [&b](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    le(36 + frames * 2, 4);
    b += "WAVEfmt ";
    le(16, 4);
    le(1, 2);
    le(1, 2);
    le(rate, 4);
    le(rate * 2, 4);
    le(2, 2);
    le(16, 2);
    b += "data";
    le(frames * 2, 4);
    for (uint32_t i = 0; i < frames; ++i)
        le(static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(2 * M_PI * freq * i / rate))),
           2);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << b;
}

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}
}  // namespace

int main(int argc, char** argv) {
    int calls = 5;
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--calls") == 0 && i + 1 < argc)
            calls = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--calls N] [--seconds S]\n", argv[0]);
            return 2;
        }
    }

    std::string tmpl = (std::filesystem::temp_directory_path() / "vokra_bench_XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl + "/";
    SetProgramFolder(dir);
    WriteTone(dir + "beep1.wav", 1000, 0.2);
    WriteTone(dir + "greeting.wav", 440, 0.5);
    WriteTone(dir + "beep2.wav", 1500, 0.2);
    RcvdMsgsFolderPath = dir + "msgs/";
    MaxRecordingDurationSec = 0;
    MuteVolumeOnAnswer = 1;

    auto timing = std::make_unique<CTimingBackend>(CreateVirtualWaveBackend());
    CTimingBackend* pTiming = timing.get();
    SetWaveBackend(std::move(timing));
    if (!FindCableDevices() || !CreateAudioControl()) {
        std::fprintf(stderr, "no cables or no answering stages\n");
        return 1;
    }

    CDropCommands drop;
    SetSkypeCmdQueue(&drop);
    int rc = 0;
    std::vector<double> latencies;
    double cpuPerSecond = 0;
    {
        CSkypeMsgHndl hndl;
        if (!hndl.CreateThread()) {
            std::fprintf(stderr, "no handler thread\n");
            return 1;
        }
        auto say = [&](const std::string& line) { hndl.OnSkypeCmd(SkypeToDeviceCmd(line)); };
        say("CURRENTUSERHANDLE me");
        say("USERSTATUS ONLINE");
        for (int c = 0; c < calls && rc == 0; ++c) {
            const int id = 100 + c;
            pTiming->Rearm();
            say(StrFormat("CALL %d STATUS RINGING", id));
            say(StrFormat("CALL %d PARTNER_HANDLE alice", id));
            say(StrFormat("CALL %d TYPE INCOMING_P2P", id));
            hndl.PostForceAnswer();
            // The handler takes its messages in order: the answer is in place before this line.
            const Clk::time_point t0 = Clk::now();
            say(StrFormat("CALL %d STATUS INPROGRESS", id));
            Clk::time_point t1;
            if (!pTiming->WaitFirstBeep(t1) || !pTiming->WaitRecording()) {
                std::fprintf(stderr, "call %d: no beep or no recording\n", id);
                rc = 1;
                break;
            }
            latencies.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            if (c == 0) {
                // The recording runs: what does it cost per second?
                const double cpu0 = CpuSeconds();
                const Clk::time_point w0 = Clk::now();
                std::this_thread::sleep_for(std::chrono::seconds(seconds));
                const double wall = std::chrono::duration<double>(Clk::now() - w0).count();
                cpuPerSecond = (CpuSeconds() - cpu0) / wall;
            }
            say(StrFormat("CALL %d STATUS FINISHED", id));
        }
        hndl.StopThread();
    }
    SetSkypeCmdQueue(nullptr);
    DestroyAudioControl();
    std::filesystem::remove_all(tmpl);
    if (rc != 0 || latencies.empty())
        return 1;

    std::sort(latencies.begin(), latencies.end());
    constexpr double kMaxLatencyMs = 50;
    constexpr double kMaxCpuShare = 0.01;
    const double median = latencies[latencies.size() / 2];
    const bool latencyOk = median <= kMaxLatencyMs;
    const bool cpuOk = cpuPerSecond < kMaxCpuShare;
    std::printf(
        "answer: INPROGRESS to first beep buffer in cable 1, %zu calls: median %.1f ms, "
        "max %.1f ms (target <= %.0f ms) %s\n",
        latencies.size(), median, latencies.back(), kMaxLatencyMs, latencyOk ? "PASS" : "MISS");
    std::printf(
        "recording: %.2f ms CPU per second of recording = %.2f %% of one core over %d s "
        "(target < %.0f %%; includes the virtual devices' thread) %s\n",
        cpuPerSecond * 1000, cpuPerSecond * 100, seconds, kMaxCpuShare * 100,
        cpuOk ? "PASS" : "MISS");
    std::printf("\n%s\n", latencyOk && cpuOk ? "targets met" : "TARGETS MISSED");
    return latencyOk && cpuOk ? 0 : 1;
}
