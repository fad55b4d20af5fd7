// Speed of the recording path: 60 seconds of 16-bit mono PCM delivered in 800 ms blocks to a
// WAV file sink that converts to 16,000 Hz (as a call recording does), against sox doing the
// same conversion on the same input when sox is installed.
//
//   vokra-bench-audio [--repeat N] [--seconds S]
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Our recording path; returns the wall time of the best run.
double RunVokra(const std::vector<uint8_t>& pcm, uint32_t rate, const std::string& outPath,
                int repeat, uint32_t* outBytes) {
    CWaveFormat in, file;
    InitPcmFormat(in, 1, 16, rate);
    InitPcmFormat(file, 1, 16, 16000);
    const uint32_t block = WaveBufferSize(in, 100);
    double best = 1e30;
    for (int r = 0; r < repeat; ++r) {
        CBlockSource src(in);
        CWaveSinkToFileWAV sink;
        const auto t0 = std::chrono::steady_clock::now();
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
        best = std::min(best, Seconds(t0, std::chrono::steady_clock::now()));
    }
    return best;
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

// The whole sox process converting the file; best of `repeat` runs, or -1 on failure.
double RunSox(const std::string& inPath, const std::string& outPath, int repeat) {
    double best = 1e30;
    for (int r = 0; r < repeat; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execlp("sox", "sox", "-q", inPath.c_str(), "-r", "16000", outPath.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            return -1;
        best = std::min(best, Seconds(t0, std::chrono::steady_clock::now()));
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
    std::printf("vokra: conversion + WAV sink writes (one process); sox: whole process%s\n\n",
                sox ? "" : " (sox not installed: skipped)");
    struct Target {
        uint32_t rate;
        double minRealtime;
    } targets[] = {{48000, 2000}, {44100, 500}};
    bool ok = true;
    for (const Target& t : targets) {
        const std::vector<uint8_t> pcm = MakeInput(t.rate, seconds);
        const std::string out = std::string(dir) + "/vokra.wav";
        uint32_t bytes = 0;
        const double ours = RunVokra(pcm, t.rate, out, repeat, &bytes);
        const double oursX = seconds / ours;
        std::printf("%5u -> 16000 Hz  vokra: %8.0fx realtime (%u bytes written, target >= %.0fx)",
                    t.rate, oursX, bytes, t.minRealtime);
        ok = ok && oursX >= t.minRealtime;
        if (sox) {
            const std::string in = std::string(dir) + "/in.wav";
            const std::string soxOut = std::string(dir) + "/sox.wav";
            const double soxT = WriteWav(in, pcm, t.rate) ? RunSox(in, soxOut, repeat) : -1;
            if (soxT > 0) {
                const double soxX = seconds / soxT;
                std::printf("   sox: %8.0fx realtime   vokra/sox: %.2f", soxX, oursX / soxX);
                if (t.rate == 48000)
                    ok = ok && oursX > soxX;
            } else {
                std::printf("   sox: failed");
            }
            unlink(in.c_str());
            unlink(soxOut.c_str());
        }
        std::printf("\n");
        unlink(out.c_str());
    }
    rmdir(dir);
    std::printf("\n%s\n", ok ? "targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
