// Throughput of the transport against the substitute Skype client at the protocol's own pacing
// (window 1: one command waits for its reply at a time; the sender keeps 10 ms between lines):
// acknowledged commands per second, from the first reply to the last. The pacing allows 100.
//
//   vokra-bench-transport [--commands N]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/MsgLoop.h"
#include "sim/SkypeSim.h"
#include "skype/STL.h"

namespace {

constexpr double kMinPerSecond = 95;

// Counts the replies to "GET USER uN FULLNAME" and ends the loop after the last one.
class CReplyCounter : public IConnectionStateSink, public ISkypeCmdSink {
public:
    CReplyCounter(CMsgLoop& loop, int nExpected) : m_loop(loop), m_nExpected(nExpected) {}
    void OnConnectionState(int) override {}
    bool OnSkypeCmd(const SkypeToDeviceCmd& cmd) override {
        if (cmd.m_pszRawText.rfind("USER u", 0) != 0 ||
            cmd.m_pszRawText.find(" FULLNAME ") == std::string::npos)
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (m_nReplies++ == 0)
            m_tFirst = now;
        m_tLast = now;
        if (m_nReplies == m_nExpected)
            m_loop.Quit(0);
        return true;
    }

    int m_nReplies = 0;
    std::chrono::steady_clock::time_point m_tFirst, m_tLast;

private:
    CMsgLoop& m_loop;
    int m_nExpected;
};

// Ends the loop with 1 if the replies take far too long.
class CWatchdog : public CWindow {
public:
    explicit CWatchdog(CMsgLoop& loop) : m_loop(loop) {}
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
        if (message == WM_TIMER)
            m_loop.Quit(1);
        return 0;
    }

private:
    CMsgLoop& m_loop;
};

// Prefix and number appended piece by piece: gcc 12 takes "u" + std::to_string(i) for an
// overlapping copy (-Wrestrict) at -O2 and above.
std::string Numbered(const char* prefix, int i) {
    std::string s = prefix;
    s += std::to_string(i);
    return s;
}
}  // namespace

int main(int argc, char** argv) {
    int nCommands = 300;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--commands") == 0 && i + 1 < argc) {
            nCommands = std::max(2, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--commands N]\n", argv[0]);
            return 2;
        }
    }
    CMsgLoop loop;
    loop.Bind();
    CSkypeSim sim;
    for (int i = 0; i < nCommands; ++i)
        sim.AddContact(Numbered("u", i), Numbered("User ", i));
    if (!sim.Start()) {
        std::fprintf(stderr, "vokra-bench-transport: the substitute client does not start\n");
        return 1;
    }
    CReplyCounter counter(loop, nCommands);
    CSTL stl;
    if (stl.Init(1, &counter, &counter, &loop) != 1) {
        std::fprintf(stderr, "vokra-bench-transport: the transport does not start\n");
        return 1;
    }
    CWatchdog watchdog(loop);
    watchdog.CreateWindowOn(loop, "watchdog", false);
    watchdog.SetTimer(1, static_cast<uint32_t>(nCommands) * 100 + 30000);

    // Queued from another thread, as the call handler does; it waits whenever the transport's
    // queue is full.
    std::atomic<int> nQueued{0};
    std::thread producer([&] {
        for (int i = 0; i < nCommands; ++i)
            nQueued += stl.QueueCtrlAckCmd(
                DeviceToSkypeCmd(D2S_GET_USER, Numbered("u", i), PROP_FULLNAME));
    });
    stl.Connect();
    const int nExit = loop.Run();
    producer.join();
    stl.End();
    loop.PumpUntilIdle();
    sim.Stop();

    if (nExit != 0 || counter.m_nReplies != nCommands) {
        std::printf("transport: only %d of %d commands acknowledged\nTARGETS MISSED\n",
                    counter.m_nReplies, nCommands);
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(counter.m_tLast - counter.m_tFirst).count();
    const double perSecond = (nCommands - 1) / seconds;
    const bool ok = perSecond >= kMinPerSecond;
    std::printf("transport against the substitute client, window 1, 10 ms between lines\n");
    std::printf(
        "  %d commands acknowledged in %.2f s: %.1f per second  target >= %.0f  %s  "
        "(the pacing's limit: 100)\n",
        nCommands, seconds, perSecond, kMinPerSecond, ok ? "PASS" : "MISS");
    std::printf("\n%s\n", ok ? "targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
