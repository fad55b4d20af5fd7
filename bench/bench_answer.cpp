// Answer latency: from the end of the answer delay (the call timer firing on the main window) to
// the first answer command (SET AUDIO_IN) handed to the sender, through the real handler thread
// and the real call timer. A command queue in place of the transport notes when each command
// arrives. Also shown: how far past the configured delay the answer goes out, counted from the
// moment the ringing line reaches the handler.
//
//   vokra-bench-answer [--calls N]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Settings.h"
#include "app/WindowMessages.h"
#include "calls/Call.h"
#include "calls/CallsLock.h"
#include "calls/SkypeCmdQueue.h"
#include "calls/SkypeMsgHndl.h"
#include "messages/MessageAudioStages.h"
#include "platform/FileUtil.h"
#include "platform/MsgLoop.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMaxLatencyMs = 10;
constexpr int kAnswerDelayMs = 10;  // a delay of 0 s: the timer's own 10 ms

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Takes the commands in place of the transport and notes when each one arrived.
class CTimedCmdQueue : public ISkypeCmdQueue {
public:
    CTimedCmdQueue() { SetSkypeCmdQueue(this); }
    ~CTimedCmdQueue() override { SetSkypeCmdQueue(nullptr); }
    int QueueCtrlAckCmd(const DeviceToSkypeCmd& cmd) override {
        const auto now = Clock::now();
        std::lock_guard lk(m_m);
        if (!m_bAnswerSeen && cmd.m_szText.rfind("SET AUDIO_IN ", 0) == 0) {
            m_bAnswerSeen = true;
            m_tAnswer = now;
        }
        m_cv.notify_all();
        return 1;
    }
    void Reset() {
        std::lock_guard lk(m_m);
        m_bAnswerSeen = false;
    }
    // The moment the first answer command arrived; false if none came within 10 s.
    bool WaitForAnswer(Clock::time_point& t) {
        std::unique_lock lk(m_m);
        if (!m_cv.wait_for(lk, std::chrono::seconds(10), [&] { return m_bAnswerSeen; }))
            return false;
        t = m_tAnswer;
        return true;
    }

private:
    std::mutex m_m;
    std::condition_variable m_cv;
    bool m_bAnswerSeen = false;
    Clock::time_point m_tAnswer;
};

// The main window as far as the call timer goes: timer 2 notes when it fires and goes to the
// handler, as the real main window does.
class CTimerWnd : public CWindow {
public:
    explicit CTimerWnd(CSkypeMsgHndl& hndl) : m_hndl(hndl) {}
    ~CTimerWnd() override { DestroyWindow(); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM) override {
        if (message == WM_TIMER && wParam == MAIN_WND_TIMER_CALL) {
            {
                std::lock_guard lk(m_m);
                m_vFired.push_back(Clock::now());
            }
            m_hndl.PostCallTimerElapse();
        }
        return 0;
    }
    void Reset() {
        std::lock_guard lk(m_m);
        m_vFired.clear();
    }
    // The last firing before t: the one whose handling sent the answer (an earlier one may
    // have found the call's details still missing and armed the timer again).
    bool FiredBefore(Clock::time_point t, Clock::time_point& fired) {
        std::lock_guard lk(m_m);
        bool bFound = false;
        for (const auto& f : m_vFired) {
            if (f <= t) {
                fired = f;
                bFound = true;
            }
        }
        return bFound;
    }

private:
    CSkypeMsgHndl& m_hndl;
    std::mutex m_m;
    std::vector<Clock::time_point> m_vFired;
};

// Answering stages that take no sound: only the answer's timing is measured here.
class CSilentStages : public IMessageAudioStages {
public:
    void MsgAudioStageStart(const std::string&, const std::string&) override {}
    int MsgAudioStageStop() override { return 0; }
};

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    int nCalls = 50;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--calls") == 0 && i + 1 < argc) {
            nCalls = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--calls N]\n", argv[0]);
            return 2;
        }
    }
    char dirTemplate[] = "/tmp/vokra-bench-answer-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (dir == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string root = std::string(dir) + "/";
    std::filesystem::create_directories(root + "prog");
    SetProgramFolder(root + "prog/");
    ResetSettingsForTests();
    RcvdMsgsFolderPath = root;
    SecB4AnsweringOnline = 0;

    CTimedCmdQueue cmds;
    CSilentStages stages;
    g_pMessageAudioStages = &stages;
    CMsgLoop loop;
    loop.Bind();
    CSkypeMsgHndl hndl;
    CTimerWnd wnd(hndl);
    if (!wnd.CreateWindowOn(loop, "bench main window", false) || !hndl.CreateThread()) {
        std::fprintf(stderr, "vokra-bench-answer: the handler does not start\n");
        return 1;
    }
    hndl.SetTimerWnd(wnd.GetSafeHwnd());

    std::vector<double> afterTimer, pastDelay;
    bool bFailed = false;
    // Skype's side, as the transport hands lines over; the timer runs on this thread's loop.
    std::thread skype([&] {
        auto say = [&](const std::string& line) { hndl.OnSkypeCmd(SkypeToDeviceCmd(line)); };
        say("CURRENTUSERHANDLE me");
        say("USERSTATUS ONLINE");
        say("AUDIO_IN Mic");
        say("AUDIO_OUT Speakers");
        say("USER alice BUDDYSTATUS 3");
        for (int i = 0; i < nCalls && !bFailed; ++i) {
            const std::string call = "CALL " + std::to_string(100 + i);
            cmds.Reset();
            wnd.Reset();
            // The call's details follow at once, long before the answer delay is over.
            const auto tRinging = Clock::now();
            say(call + " STATUS RINGING");
            say(call + " PARTNER_HANDLE alice");
            say(call + " TYPE INCOMING_P2P");
            Clock::time_point tAnswer, tFired;
            if (!cmds.WaitForAnswer(tAnswer) || !wnd.FiredBefore(tAnswer, tFired)) {
                bFailed = true;
                break;
            }
            afterTimer.push_back(Ms(tAnswer - tFired));
            pastDelay.push_back(Ms(tAnswer - tRinging) - kAnswerDelayMs);
            say(call + " STATUS INPROGRESS");
            say(call + " STATUS FINISHED");
            // The next call rings once this one has let go of the machine.
            for (;;) {
                {
                    CCallsDataLock lock;
                    if (g_pCurrentCall == nullptr)
                        break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        loop.Quit(0);
    });
    loop.Run();
    skype.join();
    hndl.StopThread();
    wnd.DestroyWindow();
    g_pMessageAudioStages = nullptr;
    std::filesystem::remove_all(root);

    if (bFailed || afterTimer.empty()) {
        std::printf("answer latency: call %zu was not answered\nTARGETS MISSED\n",
                    afterTimer.size() + 1);
        return 1;
    }
    const double p95 = Percentile(afterTimer, 0.95);
    const bool ok = p95 <= kMaxLatencyMs;
    std::printf("answer latency over %zu calls, real handler thread and call timer\n",
                afterTimer.size());
    std::printf(
        "  timer fired -> SET AUDIO_IN handed to the sender: median %.2f ms, 95%% %.2f ms, "
        "max %.2f ms  target <= %.0f ms (95%%)  %s\n",
        Percentile(afterTimer, 0.5), p95, *std::max_element(afterTimer.begin(), afterTimer.end()),
        kMaxLatencyMs, ok ? "PASS" : "MISS");
    std::printf(
        "  ringing line -> SET AUDIO_IN, beyond the %d ms delay: median %.2f ms, 95%% "
        "%.2f ms\n",
        kAnswerDelayMs, Percentile(pastDelay, 0.5), Percentile(pastDelay, 0.95));
    std::printf("\n%s\n", ok ? "targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
