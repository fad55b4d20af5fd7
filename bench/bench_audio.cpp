// Speed of the recording path: 60 seconds of 16-bit mono PCM delivered in 800 ms blocks to a
// WAV file sink that converts to 16,000 Hz (as a call recording does), against libsoxr alone
// (the converter library, no file) and against sox doing the same conversion on the same input
// when sox is installed. Then the latency the converter adds on the real-time path, 48,000 to
// 44,100 Hz in small device blocks.
//
//   vokra-bench-audio [--repeat N] [--seconds S]
#include <soxr.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "audio/PCMRateConvert.h"
#include "audio/WaveSinkToFileWAV.h"
#include "audio/WaveSource.h"

namespace {
// Hands prepared blocks to its sinks, as the recording source does with device buffers.
class CBlockSource : public CWaveSourceBase {
public:
    explicit CBlockSource(const CWaveFormat& format) {
        SetFormat(std::make_unique<CWaveFormat>(format));
        SetBufferPeriod(100);
        SetReady();
    }
    bool Start(CWaveNotify*) override { return true; }
    bool Stop() override { return true; }
    void Deliver(const uint8_t* data, uint32_t len) { SinkWriteAll(data, len); }
};

// Speech-like test signal: two tones and a little noise, 16-bit little-endian.
std::vector<uint8_t> MakeInput(uint32_t rate, uint32_t seconds) {
    std::vector<uint8_t> pcm(static_cast<size_t>(rate) * seconds * 2);
    uint32_t noise = 12345;
    for (size_t i = 0; i < pcm.size() / 2; ++i) {
        noise = noise * 1103515245u + 12345u;
        const double t = static_cast<double>(i) / rate;
        const double v = 6000 * std::sin(2 * M_PI * 220 * t) +
                         3000 * std::sin(2 * M_PI * 1870 * t) +
                         static_cast<int>((noise >> 16) & 0x3FF) - 512;
        const auto s = static_cast<int16_t>(std::lround(v));
        pcm[2 * i] = static_cast<uint8_t>(s);
        pcm[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
    }
    return pcm;
}

// Wall time and the CPU time of this process (or of a child), in seconds.
struct CTimes {
    double wall = 1e30;
    double cpu = 1e30;
    void KeepBest(const CTimes& t) {
        wall = std::min(wall, t.wall);
        cpu = std::min(cpu, t.cpu);
    }
};

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

class CStopwatch {
public:
    CTimes Elapsed() const {
        return {std::chrono::duration<double>(std::chrono::steady_clock::now() - m_t0).count(),
                ProcessCpuSeconds() - m_cpu0};
    }

private:
    std::chrono::steady_clock::time_point m_t0 = std::chrono::steady_clock::now();
    double m_cpu0 = ProcessCpuSeconds();
};

// Our recording path; returns the times of the best run.
CTimes RunVokra(const std::vector<uint8_t>& pcm, uint32_t rate, const std::string& outPath,
                int repeat, uint32_t* outBytes) {
    CWaveFormat in, file;
    InitPcmFormat(in, 1, 16, rate);
    InitPcmFormat(file, 1, 16, 16000);
    const uint32_t block = WaveBufferSize(in, 100);
    CTimes best;
    for (int r = 0; r < repeat; ++r) {
        // A new file each time, as every call's recording is.
        unlink(outPath.c_str());
        CBlockSource src(in);
        CWaveSinkToFileWAV sink;
        const CStopwatch watch;
        if (!sink.Init(outPath, &file) || !sink.WaveSourceAttach(&src) || !sink.Start()) {
            std::fprintf(stderr, "vokra-bench-audio: cannot record into %s\n", outPath.c_str());
            std::exit(1);
        }
        for (size_t off = 0; off < pcm.size(); off += block)
            src.Deliver(pcm.data() + off,
                        static_cast<uint32_t>(std::min<size_t>(block, pcm.size() - off)));
        sink.WaveSourceRemove();
        sink.Stop(nullptr);
        *outBytes = sink.GetDataCount();
        sink.Release();
        best.KeepBest(watch.Elapsed());
    }
    return best;
}

// libsoxr on its own with the settings CPCMRateConvert uses: the same blocks, no file.
CTimes RunSoxrAlone(const std::vector<uint8_t>& pcm, uint32_t rate, int repeat) {
    const size_t blockFrames = static_cast<size_t>(rate) * 8 / 10;
    const size_t frames = pcm.size() / 2;
    std::vector<int16_t> in(frames);
    std::memcpy(in.data(), pcm.data(), frames * 2);
    std::vector<int16_t> out(blockFrames * 16000 / rate + 1024);
    CTimes best;
    for (int r = 0; r < repeat; ++r) {
        const CStopwatch watch;
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        io.flags |= SOXR_NO_DITHER;
        const soxr_quality_spec_t q = soxr_quality_spec(SOXR_MQ, 0);
        const soxr_runtime_spec_t rt = soxr_runtime_spec(1);
        soxr_t s = soxr_create(rate, 16000, 1, nullptr, &io, &q, &rt);
        size_t total = 0, done = 0;
        for (size_t off = 0; off < frames; off += blockFrames) {
            soxr_process(s, in.data() + off, std::min(blockFrames, frames - off), nullptr,
                         out.data(), out.size(), &done);
            total += done;
        }
        soxr_process(s, nullptr, 0, nullptr, out.data(), out.size(), &done);
        total += done;
        soxr_delete(s);
        best.KeepBest(watch.Elapsed());
        if (total == 0)
            std::exit(1);
    }
    return best;
}

// How far the output of the playback fallback (48,000 -> 44,100 Hz) runs behind its input when
// fed `blockMs` blocks into output buffers of the rule's size, as the playback sink does: the
// largest shortfall over 10 s, in milliseconds of sound.
double PlaybackLatencyMs(uint32_t blockMs) {
    CWaveFormat from, to;
    InitPcmFormat(from, 1, 16, 48000);
    InitPcmFormat(to, 1, 16, 44100);
    CPCMRateConvert conv;
    if (!conv.Init(from, to))
        std::exit(1);
    const std::vector<uint8_t> in = MakeInput(48000, 2);
    const uint32_t inBytes = 48 * blockMs * 2;
    const uint32_t room = 441 * blockMs / 10 * 2;  // the block's nominal output
    std::vector<uint8_t> out(room);
    uint64_t inFrames = 0, outFrames = 0;
    double worst = 0;
    for (uint32_t t = 0; t < 10000; t += blockMs) {
        const size_t off = (static_cast<size_t>(t) * 96) % (in.size() - inBytes);
        outFrames += conv.Convert(in.data() + off, inBytes, out.data(), room) / 2;
        inFrames += inBytes / 2;
        worst = std::max(worst, (inFrames * 44100.0 / 48000 - outFrames) / 44.1);
    }
    return worst;
}

bool WriteWav(const std::string& path, const std::vector<uint8_t>& pcm, uint32_t rate) {
    CWaveFormat f;
    InitPcmFormat(f, 1, 16, rate);
    CBlockSource src(f);
    CWaveSinkToFileWAV sink;
    if (!sink.Init(path, nullptr) || !sink.WaveSourceAttach(&src) || !sink.Start())
        return false;
    src.Deliver(pcm.data(), static_cast<uint32_t>(pcm.size()));
    sink.WaveSourceRemove();
    return sink.Stop(nullptr) && sink.Release();
}

bool HaveSox() {
    return std::system("command -v sox >/dev/null 2>&1") == 0;
}

// The whole sox process converting the file (its wall time, and the CPU time it used); the
// best of `repeat` runs, or nothing on failure.
std::optional<CTimes> RunSox(const std::string& inPath, const std::string& outPath, int repeat) {
    CTimes best;
    for (int r = 0; r < repeat; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execlp("sox", "sox", "-q", inPath.c_str(), "-r", "16000", outPath.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            return std::nullopt;
        const auto tv = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
        best.KeepBest({std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
                       tv(usage.ru_utime) + tv(usage.ru_stime)});
    }
    return best;
}
}  // namespace

int main(int argc, char** argv) {
    int repeat = 10;
    uint32_t seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = static_cast<uint32_t>(std::max(1, std::atoi(argv[++i])));
        else {
            std::fprintf(stderr, "usage: %s [--repeat N] [--seconds S]\n", argv[0]);
            return 2;
        }
    }
    char dirTemplate[] = "/tmp/vokra-bench-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (dir == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const bool sox = HaveSox();
    std::printf("input: %u s of 16-bit mono PCM, 800 ms blocks, best of %d runs\n", seconds,
                repeat);
    std::printf(
        "vokra: conversion + WAV sink writes (one process); libsoxr: the library alone, "
        "no file; sox: whole process%s\n",
        sox ? "" : " (sox not installed: skipped)");
    std::printf("x realtime by wall time (targets judged on it), by CPU time in brackets\n\n");
    constexpr double kMinRealtime = 4000;
    constexpr double kMinVsSox = 3;
    bool ok = true;
    auto verdict = [&ok](bool pass) {
        ok = ok && pass;
        return pass ? "PASS" : "MISS";
    };
    for (const uint32_t rate : {48000u, 44100u}) {
        const std::vector<uint8_t> pcm = MakeInput(rate, seconds);
        const std::string out = std::string(dir) + "/vokra.wav";
        uint32_t bytes = 0;
        const CTimes ours = RunVokra(pcm, rate, out, repeat, &bytes);
        const CTimes soxr = RunSoxrAlone(pcm, rate, repeat);
        std::printf("%5u -> 16000 Hz\n", rate);
        std::printf("  vokra recording path %7.0fx (%5.0fx)  target >= %.0fx  %s  (%u bytes)\n",
                    seconds / ours.wall, seconds / ours.cpu, kMinRealtime,
                    verdict(seconds / ours.wall >= kMinRealtime), bytes);
        std::printf("  libsoxr alone        %7.0fx (%5.0fx)  vokra/libsoxr: %.2f (%.2f)\n",
                    seconds / soxr.wall, seconds / soxr.cpu, soxr.wall / ours.wall,
                    soxr.cpu / ours.cpu);
        if (sox) {
            const std::string in = std::string(dir) + "/in.wav";
            const std::string soxOut = std::string(dir) + "/sox.wav";
            std::optional<CTimes> soxT;
            if (WriteWav(in, pcm, rate))
                soxT = RunSox(in, soxOut, repeat);
            if (soxT) {
                const double vsSox = soxT->wall / ours.wall;
                std::printf(
                    "  sox                  %7.0fx (%5.0fx)  vokra/sox: %.2f (%.2f)  "
                    "target >= %.1f  %s\n",
                    seconds / soxT->wall, seconds / soxT->cpu, vsSox, soxT->cpu / ours.cpu,
                    kMinVsSox, verdict(vsSox >= kMinVsSox));
            } else {
                std::printf("  sox: failed\n");
            }
            unlink(in.c_str());
            unlink(soxOut.c_str());
        }
        unlink(out.c_str());
    }
    std::printf("\nlatency of the playback fallback 48000 -> 44100 Hz (output behind input):\n");
    for (const uint32_t blockMs : {10u, 20u, 100u, 800u})
        std::printf("  %3u ms blocks: %5.1f ms\n", blockMs, PlaybackLatencyMs(blockMs));
    rmdir(dir);
    std::printf("\n%s\n", ok ? "targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
