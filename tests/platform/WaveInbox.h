#pragma once
// A thread that receives a wave device's messages and keeps them for the test to inspect.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/MsgLoop.h"
#include "platform/audio/WaveDevice.h"

class CWaveInbox : public CMsgThread {
public:
    struct CMsg {
        UINT message;
        HWAVE hDevice;
        WAVEHDR* pHdr;
        DWORD uBytes;  // dwBytesRecorded when the message arrived
        DWORD uFlags;
    };
    ~CWaveInbox() override { StopThread(); }

    // Waits until pred holds for the messages so far. The limit is only there to end a test
    // whose device never answers; every condition waited on is met far sooner.
    bool WaitFor(const std::function<bool(const std::vector<CMsg>&)>& pred) {
        std::unique_lock lk(m_m);
        return m_cv.wait_for(lk, std::chrono::seconds(60), [&] { return pred(m_msgs); });
    }
    // The messages of one kind for one device, in arrival order.
    std::vector<CMsg> Of(UINT message, HWAVE hDevice) {
        std::lock_guard g(m_m);
        std::vector<CMsg> out;
        for (const CMsg& m : m_msgs)
            if (m.message == message && m.hDevice == hDevice)
                out.push_back(m);
        return out;
    }
    bool WaitCount(UINT message, HWAVE hDevice, size_t n) {
        return WaitFor([&](const std::vector<CMsg>& msgs) {
            size_t c = 0;
            for (const CMsg& m : msgs)
                c += m.message == message && m.hDevice == hDevice;
            return c >= n;
        });
    }

protected:
    void OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        auto* pHdr = reinterpret_cast<WAVEHDR*>(lParam);
        std::lock_guard g(m_m);
        m_msgs.push_back({message, static_cast<HWAVE>(wParam), pHdr,
                          pHdr ? pHdr->dwBytesRecorded : 0, pHdr ? pHdr->dwFlags : 0});
        m_cv.notify_all();
    }

private:
    std::mutex m_m;
    std::condition_variable m_cv;
    std::vector<CMsg> m_msgs;
};
