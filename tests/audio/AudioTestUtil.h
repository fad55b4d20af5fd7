#pragma once
// Helpers for the audio tests: a log recorder, a temporary folder, WAV files built byte by byte,
// tones, and a sink that keeps what it receives.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "TestFiles.h"
#include "app/Logger.h"
#include "audio/WaveFormat.h"
#include "audio/WaveSink.h"
#include "audio/WaveSourceFromFile.h"

namespace audiotest {

// A PCM format record.
inline CWaveFormat Pcm(WORD channels, WORD bits, DWORD rate) {
    CWaveFormat f;
    InitPcmFormat(f, channels, bits, rate);
    return f;
}

using Bytes = std::vector<uint8_t>;

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& part : parts)
        b.insert(b.end(), part.begin(), part.end());
    return b;
}

inline void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}
inline void Append16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Append32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void AppendChunk(Bytes& b, const std::string& id, const Bytes& body) {
    Append(b, id);
    Append32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
}
// A fmt body: the 16 PCM bytes, then `extra` more bytes.
inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                     size_t extra = 0) {
    Bytes f;
    Append16(f, tag);
    Append16(f, channels);
    Append32(f, rate);
    Append32(f, rate * channels * (bits / 8));
    Append16(f, static_cast<uint16_t>(channels * (bits / 8)));
    Append16(f, bits);
    f.resize(f.size() + extra, 0);
    return f;
}
// "RIFF" <len> "WAVE" and then the given chunks; the RIFF length is that of what follows it.
inline Bytes RiffWave(const Bytes& chunks) {
    // Built from its first bytes: gcc 12 warns (-Wstringop-overflow) on an insert into an
    // empty vector at -O2 and above.
    Bytes b{'R', 'I', 'F', 'F'};
    Append32(b, static_cast<uint32_t>(4 + chunks.size()));
    Append(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}
inline Bytes Samples16(const std::vector<int16_t>& s) {
    Bytes b;
    for (int16_t v : s)
        Append16(b, static_cast<uint16_t>(v));
    return b;
}
// A plain PCM WAV file: fmt (16 bytes) and data.
inline Bytes SimpleWav(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data) {
    Bytes chunks;
    AppendChunk(chunks, "fmt ", FmtBody(1, channels, rate, bits));
    AppendChunk(chunks, "data", data);
    return RiffWave(chunks);
}

inline void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// A sine of `freq` Hz at amplitude `amp`, `frames` frames, the same sample on every channel.
inline std::vector<int16_t> Tone(double freq, uint32_t rate, size_t frames, int channels = 1,
                                 double amp = 12000.0) {
    std::vector<int16_t> s;
    s.reserve(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const auto v =
            static_cast<int16_t>(std::lround(amp * std::sin(2 * M_PI * freq * i / rate)));
        for (int c = 0; c < channels; ++c)
            s.push_back(v);
    }
    return s;
}
inline std::vector<int16_t> ToSamples16(const uint8_t* p, size_t len) {
    std::vector<int16_t> s(len / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    return s;
}
// Strength of one frequency in a mono signal (Goertzel), normalised to the signal's amplitude.
inline double ToneLevel(const std::vector<int16_t>& s, double freq, uint32_t rate) {
    const double w = 2 * M_PI * freq / rate;
    double s1 = 0, s2 = 0;
    for (int16_t v : s) {
        const double s0 = v + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return s.empty() ? 0 : 2 * std::sqrt(std::max(power, 0.0)) / s.size();
}

// Keeps every block it receives; optionally leaves its source during a given block.
class CCollectSink : public CWaveSinkBase {
public:
    ~CCollectSink() override { WaveSourceRemove(); }
    void WriteBuffer(const void* data, uint32_t len) override {
        std::lock_guard g(m_m);
        const auto* p = static_cast<const uint8_t*>(data);
        m_vBlocks.emplace_back(p, p + len);
        if (m_nLeaveAfter > 0 && static_cast<int>(m_vBlocks.size()) == m_nLeaveAfter)
            WaveSourceRemove();
    }
    void Terminate() override {
        ++m_nTerminates;
        if (m_bDetachOnTerminate)
            WaveSourceRemove();
    }
    bool Start() override {
        m_nState = ST_RUNNING;
        return true;
    }
    bool Stop(CWaveNotify*) override {
        m_nState = ST_READY;
        return true;
    }
    Bytes All() const {
        std::lock_guard g(m_m);
        Bytes b;
        for (const Bytes& x : m_vBlocks)
            b.insert(b.end(), x.begin(), x.end());
        return b;
    }
    std::vector<Bytes> Blocks() const {
        std::lock_guard g(m_m);
        return m_vBlocks;
    }

    int m_nLeaveAfter = 0;  // leave the source during this block (1-based); 0: never
    bool m_bDetachOnTerminate = true;
    std::atomic<int> m_nTerminates{0};

private:
    mutable std::mutex m_m;
    std::vector<Bytes> m_vBlocks;
};

// A source whose format, period and blocks the test sets; it never finishes by itself.
class CTestSource : public CWaveSourceBase {
public:
    explicit CTestSource(const CWaveFormat* format = nullptr, uint32_t period = 100) {
        if (format != nullptr) {
            SetFormat(std::make_unique<CWaveFormat>(*format));
            SetBufferPeriod(period);
            SetReady();
        }
    }
    bool Start(CWaveNotify*) override { return true; }
    bool Stop() override { return true; }
    void Deliver(const Bytes& b) { SinkWriteAll(b.data(), static_cast<uint32_t>(b.size())); }
};

// Init refuses the file with the reader's own text (WARNING) and its own line, and the source
// is left with neither format nor file.
inline void ExpectHeaderRefused(const std::string& path, const Bytes& file, const std::string& text,
                                const std::string& what) {
    CLogCapture log;
    WriteFile(path, file);
    CWaveSourceFromFile src;
    EXPECT_FALSE(src.Init(path)) << what;
    EXPECT_TRUE(log.Has(text, WARNING)) << what << "\n" << log.Dump();
    EXPECT_TRUE(log.Has("CWaveSourceFromFile::Init [ERROR with File Header]", WARNING)) << what;
    EXPECT_EQ(src.GetFormat(), nullptr) << what;
    EXPECT_EQ(src.GetFile(), nullptr) << what;
    EXPECT_FALSE(src.Start(nullptr)) << what;
}

}  // namespace audiotest
