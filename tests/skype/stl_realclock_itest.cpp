// The transport against the substitute client on real threads and the real clock: a stream of
// acknowledged commands while the client drops replies and denies access twice. Every command
// must leave the queues exactly once, settled by its own reply, in the order it was queued.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "TestClock.h"
#include "platform/MsgLoop.h"
#include "platform/Sync.h"
#include "sim/SkypeSim.h"
#include "skype/STL.h"

namespace {

// Prefix and number appended piece by piece: gcc 12 takes "u" + std::to_string(i) for an
// overlapping copy (-Wrestrict) at -O2 and above.
std::string Numbered(const char* prefix, int i) {
    std::string s = prefix;
    s += std::to_string(i);
    return s;
}

constexpr int kCommands = 200;

std::string ReplyFor(int i) {
    return Numbered("USER u", i) + Numbered(" FULLNAME User ", i);
}

class CFaultySkypeSinks : public IConnectionStateSink, public ISkypeCmdSink {
public:
    CFaultySkypeSinks(CSkypeSim& sim, CMsgLoop& loop) : m_sim(sim), m_loop(loop) {}
    void OnConnectionState(int) override {}
    bool OnSkypeCmd(const SkypeToDeviceCmd& cmd) override {
        // Faults strike now and then, whichever command is on its way at that moment.
        if (cmd.m_pszRawText == ReplyFor(20) || cmd.m_pszRawText == ReplyFor(90))
            m_sim.DropReplies(1, "GET USER");
        if (cmd.m_pszRawText == ReplyFor(50) || cmd.m_pszRawText == ReplyFor(120))
            m_sim.AnswerError68(1, "GET USER");
        if (cmd.m_pszRawText == ReplyFor(kCommands - 1))
            m_loop.Quit(0);
        return true;
    }

private:
    CSkypeSim& m_sim;
    CMsgLoop& m_loop;
};

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

TEST(StlRealClock, EveryCommandLeavesTheQueuesOnceByItsOwnReplyInOrderDespiteFaults) {
    CLogRecorder logs;
    CMsgLoop loop;
    loop.Bind();
    CSkypeSim sim;
    for (int i = 0; i < kCommands; ++i)
        sim.AddContact(Numbered("u", i), Numbered("User ", i));
    ASSERT_TRUE(sim.Start());

    CFaultySkypeSinks sinks(sim, loop);
    CSTL stl;
    ASSERT_EQ(stl.Init(1, &sinks, &sinks, &loop), 1);
    CWatchdog watchdog(loop);
    ASSERT_TRUE(watchdog.CreateWindowOn(loop, "watchdog", false));
    watchdog.SetTimer(1, 60000);

    // Queued from another thread, as the call handler does; all of them before the first
    // fault, so that each fault costs exactly one resend.
    std::atomic<int> nQueued{0};
    std::thread producer([&] {
        for (int i = 0; i < kCommands; ++i)
            nQueued += stl.QueueCtrlAckCmd(
                DeviceToSkypeCmd(D2S_GET_USER, Numbered("u", i), PROP_FULLNAME));
    });
    producer.join();
    stl.Connect();
    const int nExit = loop.Run();
    EXPECT_EQ(nExit, 0) << "the last reply never came";
    EXPECT_EQ(nQueued.load(), kCommands);
    EXPECT_EQ(stl.GetInQueueCount() + stl.GetWaitQueueCount(), 0);
    const auto counters = stl.GetDebugCounters();
    EXPECT_EQ(counters[STL_CNT_REPLY_TIMEOUTS], 2);
    EXPECT_EQ(counters[STL_CNT_ERROR_68], 2);

    // Walk the transport's own log: each removal is caused by the line received just before it.
    const uint32_t uUiThread = GetCurrentThreadId();
    std::vector<std::string> vecRemovedBy;
    std::string strLastReceived;
    for (const auto& e : logs.Entries()) {
        if (e.uThreadId != uUiThread)
            continue;
        if (e.strMessage.rfind("<- S2D[#", 0) == 0) {
            const size_t nStart = e.strMessage.find("]: ") + 3;
            strLastReceived = e.strMessage.substr(nStart, e.strMessage.size() - nStart - 1);
        } else if (e.strMessage.rfind("CSTL::Removing and Delete Ack Skype CMD from Q [", 0) == 0) {
            vecRemovedBy.push_back(strLastReceived);
        }
    }
    std::vector<std::string> vecExpected;
    for (int i = 0; i < kCommands; ++i)
        vecExpected.push_back(ReplyFor(i));
    EXPECT_EQ(vecRemovedBy, vecExpected);
    EXPECT_EQ(logs.Count("answered with ERROR"), 0);
    // The faults really struck: four commands had to be sent twice.
    EXPECT_EQ(
        static_cast<int>(sim.ReceivedLines().size()) - kCommands, 4 + [&] {
            int nPings = 0;
            for (const auto& l : sim.ReceivedLines())
                nPings += l == "PING";
            return nPings;
        }());

    stl.End();
    loop.PumpUntilIdle();
    sim.Stop();
}

}  // namespace
