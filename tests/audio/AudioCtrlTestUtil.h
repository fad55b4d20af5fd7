#pragma once
// Helpers for the tests of the player, the recorder and the answering stages on the virtual
// devices: a thread that counts the messages it receives, and a WAV file's samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioTestUtil.h"
#include "platform/MsgLoop.h"

namespace audiotest {

constexpr auto kGuard = std::chrono::seconds(30);

// A worker thread (and a window on it) that counts the messages it receives, in order.
class CMsgCounter : public CMsgThread {
public:
    class CWnd : public CWindow {
    public:
        explicit CWnd(CMsgCounter* owner) : m_pOwner(owner) {}
        LRESULT WindowProc(UINT m, WPARAM, LPARAM) override {
            m_pOwner->Add(m);
            return 0;
        }
        CMsgCounter* m_pOwner;
    } wnd{this};

    ~CMsgCounter() override { StopThread(); }
    // Waits (real time) until n messages have arrived.
    bool WaitFor(size_t n) {
        std::unique_lock lk(m_m);
        return m_cv.wait_for(lk, kGuard, [&] { return m_vGot.size() >= n; });
    }
    std::vector<UINT> Got() const {
        std::lock_guard g(m_m);
        return m_vGot;
    }
    // Every message posted before this call has arrived once it returns.
    bool Flush() {
        const size_t n = Got().size();
        return PostThreadMessage(kMarker) && WaitFor(n + 1);
    }
    static constexpr UINT kMarker = WM_USER + 1;

protected:
    bool InitInstance() override { return wnd.CreateWindowOn(Loop(), "counter", false); }
    void OnThreadMessage(UINT m, WPARAM, LPARAM) override { Add(m); }

private:
    void Add(UINT m) {
        std::lock_guard g(m_m);
        m_vGot.push_back(m);
        m_cv.notify_all();
    }
    mutable std::mutex m_m;
    std::condition_variable m_cv;
    std::vector<UINT> m_vGot;
};

struct CWavContent {
    bool bOk = false;
    WORD nChannels = 0;
    DWORD nRate = 0;
    WORD nBits = 0;
    uint32_t uDataLen = 0;  // as the header says
    std::vector<int16_t> samples;
};

// A WAV file as our writer makes it: fmt, then data.
inline CWavContent ReadWav(const std::string& path) {
    CWavContent w;
    const Bytes b = ReadFile(path);
    if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF")
        return w;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const std::string id(b.begin() + pos, b.begin() + pos + 4);
        const uint32_t len = GetLE32(&b[pos + 4]);
        if (id == "fmt " && pos + 24 <= b.size()) {
            w.nChannels = GetLE16(&b[pos + 10]);
            w.nRate = GetLE32(&b[pos + 12]);
            w.nBits = GetLE16(&b[pos + 22]);
        } else if (id == "data") {
            w.uDataLen = len;
            const size_t avail = std::min<size_t>(len, b.size() - pos - 8);
            w.samples = ToSamples16(&b[pos + 8], avail);
            w.bOk = true;
            return w;
        }
        pos += 8 + len + (len & 1);
    }
    return w;
}

// The strength of a tone in a slice [from, to) of seconds.
inline double ToneIn(const std::vector<int16_t>& s, uint32_t rate, double from, double to,
                     double freq) {
    const size_t a = std::min(s.size(), static_cast<size_t>(from * rate));
    const size_t b = std::min(s.size(), static_cast<size_t>(to * rate));
    return ToneLevel(std::vector<int16_t>(s.begin() + a, s.begin() + b), freq, rate);
}

// Writes a mono 16-bit tone file.
inline void WriteTone(const std::string& path, double freq, double seconds, uint32_t rate = 16000) {
    WriteFile(path, SimpleWav(1, rate, 16,
                              Samples16(Tone(freq, rate, static_cast<size_t>(seconds * rate)))));
}

}  // namespace audiotest
