#pragma once
// Helpers for tests on wave devices: buffers with their headers, tones in any device format,
// a tone meter, and a loop that keeps the device messages it receives.
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MsgLoop.h"
#include "platform/audio/WaveDevice.h"

namespace wavetest {

// A data block and the header that points at it.
struct CWaveBuf {
    explicit CWaveBuf(size_t len) : vData(len) {
        hdr.lpData = vData.data();
        hdr.dwBufferLength = static_cast<DWORD>(len);
    }
    std::vector<uint8_t> vData;
    WAVEHDR hdr;
};

inline std::vector<std::unique_ptr<CWaveBuf>> MakeBufs(int n, size_t len) {
    std::vector<std::unique_ptr<CWaveBuf>> v;
    for (int i = 0; i < n; ++i)
        v.push_back(std::make_unique<CWaveBuf>(len));
    return v;
}

inline uint32_t BytesPerSec(const CPcmSpec& pcm) {
    return pcm.nSamplesPerSec * pcm.nChannels * (pcm.wBitsPerSample / 8u);
}

// A sine of `freq` Hz in the format, the same on every channel; amplitude in 16-bit units.
inline std::vector<uint8_t> ToneBytes(double freq, const CPcmSpec& pcm, size_t frames,
                                      double amp = 12000.0) {
    std::vector<uint8_t> b;
    for (size_t i = 0; i < frames; ++i) {
        const double v =
            amp * std::sin(2 * M_PI * freq * static_cast<double>(i) / pcm.nSamplesPerSec);
        for (int c = 0; c < pcm.nChannels; ++c) {
            if (pcm.wBitsPerSample == 8) {
                b.push_back(static_cast<uint8_t>(std::lround(v / 256.0) + 128));
            } else {
                const auto s = static_cast<uint16_t>(static_cast<int16_t>(std::lround(v)));
                b.push_back(static_cast<uint8_t>(s));
                b.push_back(static_cast<uint8_t>(s >> 8));
            }
        }
    }
    return b;
}

// The first channel of PCM bytes, in 16-bit units.
inline std::vector<double> FirstChannel(const std::vector<uint8_t>& b, const CPcmSpec& pcm) {
    const size_t bytes = pcm.wBitsPerSample / 8u;
    const size_t align = bytes * pcm.nChannels;
    std::vector<double> v;
    for (size_t i = 0; i + align <= b.size(); i += align)
        v.push_back(bytes == 1 ? (b[i] - 128) * 256.0
                               : static_cast<int16_t>(b[i] | (b[i + 1] << 8)) * 1.0);
    return v;
}

// Amplitude of one frequency in a signal (Goertzel), in the signal's units.
inline double ToneLevel(const std::vector<double>& s, double freq, uint32_t rate) {
    const double w = 2 * M_PI * freq / rate;
    double s1 = 0, s2 = 0;
    for (double v : s) {
        const double s0 = v + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return s.empty() ? 0 : 2 * std::sqrt(std::max(power, 0.0)) / s.size();
}

// One device message as received.
struct CDevMsg {
    UINT message;
    HWAVE h;
    WAVEHDR* pHdr;
    DWORD dwFlags;          // the header's flags when the message was handled
    DWORD dwBytesRecorded;  // and its recorded count
};

// A loop, driven by the test's thread, that keeps every message it receives.
class CMsgRecorder {
public:
    CMsgRecorder() {
        m_loop.SetThreadMessageHandler([this](UINT m, WPARAM w, LPARAM l) {
            auto* p = reinterpret_cast<WAVEHDR*>(l);
            const bool bHdr = m == MM_WOM_DONE || m == MM_WIM_DATA;
            m_v.push_back({m, static_cast<HWAVE>(w), bHdr ? p : nullptr, bHdr ? p->dwFlags : 0,
                           bHdr ? p->dwBytesRecorded : 0});
        });
        m_loop.Bind();
    }
    CMsgLoop* Loop() { return &m_loop; }
    // Handles what has arrived; returns everything received so far.
    const std::vector<CDevMsg>& Pump() {
        m_loop.PumpUntilIdle();
        return m_v;
    }
    std::vector<CDevMsg> Of(UINT message) {
        Pump();
        std::vector<CDevMsg> v;
        for (const CDevMsg& m : m_v)
            if (m.message == message)
                v.push_back(m);
        return v;
    }
    void Clear() { m_v.clear(); }

private:
    CMsgLoop m_loop;
    std::vector<CDevMsg> m_v;
};

// Lists the names it is given; a name query for the id m_nFailAt fails. Opens nothing.
class CNamesBackend : public IWaveBackend {
public:
    CNamesBackend(std::vector<std::string> out, std::vector<std::string> in)
        : m_vOut(std::move(out)), m_vIn(std::move(in)) {}
    const char* Name() const override { return "names"; }
    UINT GetNumDevs(EWaveKind kind) override { return static_cast<UINT>(Of(kind).size()); }
    MMRESULT GetDevName(EWaveKind kind, UINT devId, std::string& name) override {
        if (devId >= Of(kind).size() || static_cast<int>(devId) == m_nFailAt)
            return MMSYSERR_BADDEVICEID;
        name = Of(kind)[devId];
        return MMSYSERR_NOERROR;
    }
    MMRESULT Open(EWaveKind, HWAVE*, UINT, const CPcmSpec&, CMsgLoop*) override {
        return MMSYSERR_NODRIVER;
    }
    MMRESULT Prepare(HWAVE, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Unprepare(HWAVE, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Queue(HWAVE, WAVEHDR*) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Start(HWAVE) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Stop(HWAVE) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Reset(HWAVE) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Close(HWAVE) override { return MMSYSERR_INVALHANDLE; }

    int m_nFailAt = -1;

private:
    const std::vector<std::string>& Of(EWaveKind kind) const {
        return kind == EWaveKind::Out ? m_vOut : m_vIn;
    }
    std::vector<std::string> m_vOut, m_vIn;
};

}  // namespace wavetest
