// Start-up with a full messages folder: 10,000 saved messages from 500 callers.
//
// First the handler thread alone, with a command queue in place of the transport: Skype names
// the logged-in user, the handler reads the folder into the message collection and creates the
// callers as users; a call ringing at that moment is taken up as soon as the handler is
// through. Measured: the time from the user's name to the first command about the ringing call,
// and the GET USER queries sent (once per caller and property is the target, not once per
// message).
//
// Then the whole link: the handler starts the transport, which attaches to the substitute
// client at the protocol's pacing; a call rings as soon as the messages are loaded. Measured:
// the time from the start until that call is answered, the user's own answer delay (0 s, the
// timer's 10 ms) included.
//
//   vokra-bench-startup [--messages N] [--callers N]
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

#include "app/Settings.h"
#include "app/WindowMessages.h"
#include "calls/CallsLock.h"
#include "calls/SkypeCmdQueue.h"
#include "calls/SkypeMsgHndl.h"
#include "calls/User.h"
#include "calls/UserCollection.h"
#include "messages/Message.h"
#include "messages/MessageAudioStages.h"
#include "messages/MessageCollection.h"
#include "platform/FileUtil.h"
#include "platform/MsgLoop.h"
#include "sim/SkypeSim.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMaxStartMs = 1000;
constexpr int kUserProperties = 4;  // FULLNAME, DISPLAYNAME, ONLINESTATUS, BUDDYSTATUS

// Takes the commands in place of the transport: counts each text, and notes when the first
// command about call 1 arrives.
class CCountingCmdQueue : public ISkypeCmdQueue {
public:
    CCountingCmdQueue() { SetSkypeCmdQueue(this); }
    ~CCountingCmdQueue() override { SetSkypeCmdQueue(nullptr); }
    int QueueCtrlAckCmd(const DeviceToSkypeCmd& cmd) override {
        const auto now = Clock::now();
        std::lock_guard lk(m_m);
        ++m_mapTexts[cmd.m_szText];
        if (!m_bCallSeen && cmd.m_szText.rfind("GET CALL 1 ", 0) == 0) {
            m_bCallSeen = true;
            m_tCall = now;
            m_cv.notify_all();
        }
        return 1;
    }
    bool WaitForCall(Clock::time_point& t) {
        std::unique_lock lk(m_m);
        if (!m_cv.wait_for(lk, std::chrono::seconds(60), [&] { return m_bCallSeen; }))
            return false;
        t = m_tCall;
        return true;
    }
    // GET USER commands: all of them, the distinct texts, the most often one text was sent.
    void CountGetUser(int& nAll, int& nDistinct, int& nMaxSame) {
        std::lock_guard lk(m_m);
        nAll = nDistinct = nMaxSame = 0;
        for (const auto& [text, n] : m_mapTexts) {
            if (text.rfind("GET USER ", 0) != 0)
                continue;
            nAll += n;
            ++nDistinct;
            nMaxSame = std::max(nMaxSame, n);
        }
    }

private:
    std::mutex m_m;
    std::condition_variable m_cv;
    std::map<std::string, int> m_mapTexts;
    bool m_bCallSeen = false;
    Clock::time_point m_tCall;
};

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Small valid WAV files (a header and 0.1 s of silence at 16 kHz), as many as asked, spread
// over the callers and a year of days.
bool FillFolder(const std::string& folder, int nMessages, int nCallers) {
    std::filesystem::create_directories(folder);
    std::string wav = "RIFF";
    auto le = [&wav](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            wav += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    le(36 + 3200, 4);
    wav += "WAVEfmt ";
    le(16, 4);
    le(1, 2);
    le(1, 2);
    le(16000, 4);
    le(32000, 4);
    le(2, 2);
    le(16, 2);
    wav += "data";
    le(3200, 4);
    wav.append(3200, '\0');
    const int64_t t0 = 1700000000;
    for (int i = 0; i < nMessages; ++i) {
        const std::string caller = "caller" + std::to_string(i % nCallers);
        const std::string name =
            FormatVoiceMessageFileName(caller, t0 + 3371LL * i, 5 + i % 90, i % 3 == 0);
        std::ofstream f(folder + name, std::ios::binary);
        f << wav;
        if (!f)
            return false;
    }
    return true;
}

// The main window as far as the call timer goes: timer 2 goes to the handler.
class CTimerWnd : public CWindow {
public:
    explicit CTimerWnd(CSkypeMsgHndl& hndl) : m_hndl(hndl) {}
    ~CTimerWnd() override { DestroyWindow(); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM) override {
        if (message == WM_TIMER && wParam == MAIN_WND_TIMER_CALL)
            m_hndl.PostCallTimerElapse();
        return 0;
    }

private:
    CSkypeMsgHndl& m_hndl;
};

// Answering stages that take no sound.
class CSilentStages : public IMessageAudioStages {
public:
    void MsgAudioStageStart(const std::string&, const std::string&) override {}
    int MsgAudioStageStop() override { return 0; }
};

double MsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Waits (polling: this is no test) until pred holds; false when the time is up.
template <class F>
bool PollUntil(F pred, Clock::duration limit = std::chrono::seconds(90)) {
    const auto end = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The handler thread alone, a command queue in place of the transport.
bool HandlerAlone(int nMessages, int nCallers) {
    CCountingCmdQueue cmds;
    CSkypeMsgHndl hndl;
    if (!hndl.CreateThread()) {
        std::fprintf(stderr, "vokra-bench-startup: the handler does not start\n");
        return false;
    }
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    hndl.OnSkypeCmd(SkypeToDeviceCmd("CURRENTUSERHANDLE me"));
    hndl.OnSkypeCmd(SkypeToDeviceCmd("CALL 1 STATUS RINGING"));
    Clock::time_point tCall;
    const bool bCall = cmds.WaitForCall(tCall);
    // This thread only waits meanwhile: the process's CPU time is the handler's.
    const double cpuMs = (ProcessCpuSeconds() - cpu0) * 1000;
    size_t nLoaded = 0, nUsers = 0;
    {
        CCallsDataLock lock;
        nLoaded = gMessagesDB.GetMessages().size();
        nUsers = gUsersDB.GetMap().size();
    }
    hndl.StopThread();
    if (!bCall) {
        std::printf("  handler alone: the ringing call was never taken up  MISS\n");
        return false;
    }
    int nAll = 0, nDistinct = 0, nMaxSame = 0;
    cmds.CountGetUser(nAll, nDistinct, nMaxSame);
    const double ms = MsBetween(t0, tCall);
    // The callers, and the logged-in user, each asked for each property once.
    const int nExpected = (nCallers + 1) * kUserProperties;
    const bool bTimeOk = ms < kMaxStartMs && static_cast<int>(nLoaded) == nMessages;
    const bool bQueriesOk = nAll == nDistinct && nAll <= nExpected;
    std::printf("handler thread alone\n");
    std::printf(
        "  user named -> ringing call taken up: %.0f ms (CPU %.0f ms; %zu messages, %zu users "
        "loaded)  target < %.0f ms  %s\n",
        ms, cpuMs, nLoaded, nUsers, kMaxStartMs, bTimeOk ? "PASS" : "MISS");
    std::printf(
        "  GET USER queries: %d, %d distinct, at most %d of one  target <= %d, no "
        "repeats (once per caller and property)  %s\n",
        nAll, nDistinct, nMaxSame, nExpected, bQueriesOk ? "PASS" : "MISS");
    return bTimeOk && bQueriesOk;
}

// The handler with the transport and the substitute client: from the start until a call that
// rings as soon as the messages are loaded is answered.
bool WholeLink(int nMessages, int nCallers) {
    CSilentStages stages;
    g_pMessageAudioStages = &stages;
    SecB4AnsweringOnline = 0;
    CMsgLoop loop;
    loop.Bind();
    CSkypeSim sim;
    sim.SetCurrentUser("me", "Me");
    for (int i = 0; i < nCallers; ++i)
        sim.AddContact("caller" + std::to_string(i), "Caller " + std::to_string(i));
    sim.AddContact("alice", "Alice");
    CSkypeMsgHndl hndl;
    CTimerWnd wnd(hndl);
    if (!sim.Start() || !wnd.CreateWindowOn(loop, "bench main window", false) ||
        !hndl.CreateThread()) {
        std::fprintf(stderr, "vokra-bench-startup: the link does not start\n");
        return false;
    }
    const auto t0 = Clock::now();
    Clock::time_point tLoaded, tStatus, tEarly, tAnswered;
    bool bLoaded = false, bStatus = false, bEarly = false, bAnswered = false;
    auto answered = [&sim](int id) {
        return [&sim, id] {
            const auto call = sim.GetCall(id);
            return call && call->m_nStatus == CALLSTATUS_INPROGRESS;
        };
    };
    std::thread caller([&] {
        bLoaded = PollUntil([&] {
            CCallsDataLock lock;
            return static_cast<int>(gMessagesDB.GetMessages().size()) == nMessages;
        });
        tLoaded = Clock::now();
        // A call ringing as soon as the messages are in.
        const int early = bLoaded ? sim.IncomingCall("alice") : 0;
        bStatus = bLoaded && PollUntil([&] {
                      CCallsDataLock lock;
                      return gCurrentUser.m_nOnlineStatus != USERSTATUS_UNKNOWN;
                  });
        tStatus = Clock::now();
        if (bStatus) {
            // The early call's own details come after the status; give it a second more.
            bEarly = PollUntil(answered(early), std::chrono::seconds(1));
            tEarly = Clock::now();
            if (bEarly)
                sim.CallerHangsUp(early);
            else
                sim.MissCall(early);
            // And one ringing now.
            const int late = sim.IncomingCall("alice");
            const auto tRing = Clock::now();
            bAnswered = PollUntil(answered(late), std::chrono::seconds(10));
            tAnswered = Clock::now();
            tEarly = bEarly ? tEarly : tRing;
            sim.CallerHangsUp(late);
        }
        loop.Quit(0);
    });
    if (!hndl.Start(wnd.GetSafeHwnd(), &loop))
        std::fprintf(stderr, "vokra-bench-startup: the transport does not start\n");
    loop.Run();
    caller.join();
    hndl.StopThread();
    hndl.Stop();
    loop.PumpUntilIdle();
    sim.Stop();
    wnd.DestroyWindow();
    g_pMessageAudioStages = nullptr;

    std::printf("transport and substitute client (window 1, 10 ms between lines)\n");
    if (!bStatus) {
        std::printf("  start -> messages loaded: %s; the user's online status: never known  MISS\n",
                    bLoaded ? "yes" : "never");
        return false;
    }
    std::printf("  start -> messages loaded: %.0f ms; a call ringing then: %s\n",
                MsBetween(t0, tLoaded), bEarly ? "answered" : "not answered");
    std::printf("  start -> the user's online status known: %.0f ms\n", MsBetween(t0, tStatus));
    const double ms = MsBetween(t0, tStatus) + MsBetween(tEarly, tAnswered);
    const bool ok = bAnswered && ms < kMaxStartMs;
    if (!bAnswered) {
        std::printf("  a call ringing then: never answered  MISS\n");
        return false;
    }
    std::printf(
        "  a call ringing then is answered after %.0f ms; start -> answering: %.0f ms  "
        "target < %.0f ms  %s\n",
        MsBetween(tEarly, tAnswered), ms, kMaxStartMs, ok ? "PASS" : "MISS");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int nMessages = 10000;
    int nCallers = 500;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--messages") == 0 && i + 1 < argc) {
            nMessages = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--callers") == 0 && i + 1 < argc) {
            nCallers = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--messages N] [--callers N]\n", argv[0]);
            return 2;
        }
    }
    nCallers = std::min(nCallers, nMessages);
    char dirTemplate[] = "/tmp/vokra-bench-startup-XXXXXX";
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
    if (!FillFolder(root + "My Received Voice Messages/me/", nMessages, nCallers)) {
        std::fprintf(stderr, "vokra-bench-startup: cannot write the messages\n");
        return 1;
    }
    std::printf("start-up with %d saved messages from %d callers (warm file cache)\n\n", nMessages,
                nCallers);
    // Each from nothing known: no users, calls or messages left from the one before.
    ResetCallsDataForTests();
    bool ok = HandlerAlone(nMessages, nCallers);
    ResetCallsDataForTests();
    ok = WholeLink(nMessages, nCallers) && ok;
    std::filesystem::remove_all(root);
    std::printf("\n%s\n", ok ? "targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
