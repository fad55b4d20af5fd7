// The transport, its sender thread and the substitute client together, under a test clock that
// makes every timer, pause and reply land at the same virtual moment on every run. The sender
// is a real thread (hence an integration test, also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestClock.h"
#include "platform/Desktop.h"
#include "platform/MsgLoop.h"
#include "sim/SkypeSim.h"
#include "skype/STL.h"
#include "skype/STLSndr.h"
#include "skype/SkypeApi.h"

namespace {

// Prefix and number appended piece by piece: gcc 12 takes "u" + std::to_string(i) for an
// overlapping copy (-Wrestrict) at -O2 and above.
std::string Numbered(const char* prefix, int i) {
    std::string s = prefix;
    s += std::to_string(i);
    return s;
}

class CSinks : public IConnectionStateSink, public ISkypeCmdSink {
public:
    std::vector<int> m_vecStates;
    std::vector<std::string> m_vecLines;
    std::function<void(int)> m_fnOnState;
    std::function<void(const SkypeToDeviceCmd&)> m_fnOnCmd;

    void OnConnectionState(int state) override {
        m_vecStates.push_back(state);
        if (m_fnOnState)
            m_fnOnState(state);
    }
    bool OnSkypeCmd(const SkypeToDeviceCmd& cmd) override {
        m_vecLines.push_back(cmd.m_pszRawText);
        if (m_fnOnCmd)
            m_fnOnCmd(cmd);
        return true;
    }
};

// A bare Skype window that keeps the exact bytes it is given.
class CWirePeer : public CWindow {
public:
    std::vector<std::string> m_vecBlocks;
    LRESULT m_nResult = 1;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == m_uDiscover && static_cast<HWND>(wParam) != GetSafeHwnd()) {
            ::PostMessage(static_cast<HWND>(wParam), m_uAttach, GetSafeHwnd(), 0);
        } else if (message == WM_COPYDATA) {
            const auto* p = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            m_vecBlocks.emplace_back(static_cast<const char*>(p->lpData), p->cbData);
            return m_nResult;
        }
        return 0;
    }

private:
    UINT m_uDiscover = RegisterWindowMessage(g_szSkypeControlAPIDiscover);
    UINT m_uAttach = RegisterWindowMessage(g_szSkypeControlAPIAttach);
};

std::vector<std::string> WithoutPings(const std::vector<std::string>& lines) {
    std::vector<std::string> v;
    for (const auto& l : lines)
        if (l != "PING")
            v.push_back(l);
    return v;
}

class StlTest : public ::testing::Test {
protected:
    CTestClock clock;
    CScopedClock scoped{clock};
    CLogRecorder logs;
    CMsgLoop loop;
    CSkypeSim sim;
    CSinks sinks;
    std::unique_ptr<CSTL> stl;

    void SetUp() override {
        loop.Bind();
        ASSERT_TRUE(StartSim());
        stl = std::make_unique<CSTL>();
        ASSERT_EQ(stl->Init(1, &sinks, &sinks, &loop), 1);
        ASSERT_TRUE(clock.WaitForParticipants(ThreadsBesidesTest()));
        Settle();
    }
    void TearDown() override {
        if (stl) {
            stl->End();
            Settle();
            stl.reset();
        }
        sim.Stop();
    }
    virtual bool StartSim() { return sim.Start(&loop); }
    virtual size_t ThreadsBesidesTest() const { return 1; }  // the sender

    void Settle() { clock.Settle({&loop}); }
    void Run(uint64_t ms) { clock.RunFor(ms, {&loop}); }
    bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs) {
        return clock.RunUntil(pred, maxMs, {&loop});
    }
    void ConnectNow() {
        stl->Connect();
        Settle();
        ASSERT_EQ(stl->GetConnectionState(), STL_CONNECTED);
    }
    void Queue(const DeviceToSkypeCmd& cmd) { ASSERT_NE(stl->QueueCtrlAckCmd(cmd), 0); }
    int Counter(int index) const { return stl->GetDebugCounters()[index]; }
    std::vector<std::string> Received() const { return WithoutPings(sim.ReceivedLines()); }
    // Index of the first log message containing text at or after index from; -1 when none.
    int LogIndex(const std::string& text, int from = 0) const {
        const auto entries = logs.Entries();
        for (int i = from; i < static_cast<int>(entries.size()); ++i)
            if (entries[i].strMessage.find(text) != std::string::npos)
                return i;
        return -1;
    }
};

using Lines = std::vector<std::string>;

TEST_F(StlTest, AttachesAndTheNameExchangeIsSettledByOk) {
    stl->Connect();
    Settle();
    EXPECT_EQ(sinks.m_vecStates, (std::vector<int>{STL_CONNECTING, STL_CONNECTED}));
    EXPECT_EQ(logs.Count("!!! Connected"), 1);

    Queue(DeviceToSkypeCmd(D2S_NAME, g_szVokraAppName));
    Queue(DeviceToSkypeCmd(D2S_PROTOCOL, 2));
    Run(10000);
    EXPECT_EQ(Received(), (Lines{std::string("NAME ") + g_szVokraAppName, "PROTOCOL 2"}));
    EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
    EXPECT_EQ(Counter(STL_CNT_REPLY_TIMEOUTS), 0);
    EXPECT_EQ(sinks.m_vecStates.size(), 2u);  // no reconnect
    // Every line reaches the handler's sink, replies included.
    EXPECT_NE(std::find(sinks.m_vecLines.begin(), sinks.m_vecLines.end(), "OK"),
              sinks.m_vecLines.end());
}

TEST_F(StlTest, SecondCommandGoesOutOnlyAfterTheFirstOnesReply) {
    ConnectNow();
    sim.DelayReplies(1, 1000, "GET USERSTATUS");
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_CONNSTATUS));
    Run(999);
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS"}));
    EXPECT_EQ(stl->GetWaitQueueCount(), 1);
    EXPECT_EQ(stl->GetInQueueCount(), 1);
    Run(1);
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS", "GET CONNSTATUS"}));
    EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
}

TEST_F(StlTest, ReplyAfter2900MsIsMatched) {
    ConnectNow();
    sim.DelayReplies(1, 2900, "GET USERSTATUS");
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Run(2900);
    EXPECT_EQ(stl->GetWaitQueueCount(), 0);
    Run(1000);
    EXPECT_EQ(Counter(STL_CNT_REPLY_TIMEOUTS), 0);
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS"}));
}

TEST_F(StlTest, NoReplyWithin3SecondsRequeuesAtTheHeadAndResendsAfterTheNextAttach) {
    ConnectNow();
    sim.DropReplies(1, "GET USERSTATUS");
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_CONNSTATUS));
    Run(2999);
    EXPECT_EQ(Counter(STL_CNT_REPLY_TIMEOUTS), 0);
    EXPECT_EQ(stl->GetWaitQueueCount(), 1);
    EXPECT_EQ(stl->GetInQueueCount(), 1);

    // Sent at a tick of the 200 ms check (both at 0): the time-out is seen at exactly 3.0 s.
    EXPECT_TRUE(RunUntil([&] { return Counter(STL_CNT_REPLY_TIMEOUTS) == 1; }, 1));
    Run(100);  // the sender keeps its lines 10 ms apart
    EXPECT_EQ(logs.Count("CSTL::ReQueAllWaitAckCmds - Re Qued 1 Ack CMD"), 1);
    // Sent again first, in the old order, and only after Skype attached us once more.
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS", "GET USERSTATUS", "GET CONNSTATUS"}));
    const int nTimeout = LogIndex("Reply Timeout on Ack CMD");
    const int nAttach = LogIndex("!!! Connected", nTimeout);
    const int nResent = LogIndex("-> D2S[#", nAttach);
    ASSERT_GE(nTimeout, 0);
    ASSERT_GT(nAttach, nTimeout);
    ASSERT_GT(nResent, nAttach);
    EXPECT_NE(logs.Entries()[nResent].strMessage.find("GET USERSTATUS"), std::string::npos);
    EXPECT_EQ(Counter(STL_CNT_RECONNECT_ATTEMPTS), 1);
    EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
    EXPECT_EQ(stl->GetConnectionState(), STL_CONNECTED);
}

TEST_F(StlTest, KeepAlivePingAfter4800MsOfSilenceAndReconnectWhenNoLineFollows) {
    ConnectNow();
    const int nDiscovers = logs.Count("Send SkypeAPI Discover");
    Run(4799);
    EXPECT_TRUE(sim.ReceivedLines().empty());
    Run(1);
    EXPECT_EQ(sim.ReceivedLines(), (Lines{"PING"}));
    Run(4799);  // the PONG restarted the keep-alive: nothing failed, nothing new
    EXPECT_EQ(Counter(STL_CNT_KEEPALIVE_FAILED), 0);
    EXPECT_EQ(logs.Count("Send SkypeAPI Discover"), nDiscovers);
    EXPECT_EQ(sim.ReceivedLines().size(), 1u);

    sim.DropReplies(1, "PING");
    Run(1);
    EXPECT_EQ(sim.ReceivedLines().size(), 2u);
    Run(1999);
    EXPECT_EQ(Counter(STL_CNT_KEEPALIVE_FAILED), 0);
    Run(1);
    EXPECT_EQ(Counter(STL_CNT_KEEPALIVE_FAILED), 1);
    EXPECT_EQ(logs.Count("CSTL::OnTimer SKYPEAPI_KEEPALIVE_FAILED"), 1);
    EXPECT_EQ(logs.Count("Send SkypeAPI Discover"), nDiscovers + 1);  // at once
    EXPECT_EQ(sinks.m_vecStates.back(), STL_CONNECTED);
}

TEST_F(StlTest, AttachSuccessIsIgnoredWhileDisconnected) {
    ConnectNow();
    stl->Disconnect();
    Settle();
    ASSERT_EQ(stl->GetConnectionState(), STL_DISCONNECTED);
    const size_t nStates = sinks.m_vecStates.size();
    ::PostMessage(stl->GetSafeHwnd(), RegisterWindowMessage(g_szSkypeControlAPIAttach),
                  sim.GetHwnd(), SKYPE_ATTACH_SUCCESS);
    Settle();
    EXPECT_EQ(stl->GetConnectionState(), STL_DISCONNECTED);
    EXPECT_EQ(sinks.m_vecStates.size(), nStates);
    EXPECT_EQ(logs.Count("!!! Connected"), 1);
}

TEST_F(StlTest, AttachRepliesOtherThanSuccessStopTheDiscoveryWithoutARetry) {
    sim.Stop();  // the replies come from the test
    struct Case {
        LPARAM status;
        const char* log;
        std::vector<int> states;  // told after the connecting state
        int stored;
    };
    const std::vector<Case> cases = {
        {SKYPE_ATTACH_PENDING_AUTHORIZATION, "!!! Pending authorization", {}, STL_CONNECTING},
        {SKYPE_ATTACH_REFUSED, "!!! Connection refused", {STL_REFUSED}, STL_DISCONNECTED},
        {SKYPE_ATTACH_NOT_AVAILABLE,
         "!!! Skype API not available",
         {STL_API_NOT_AVAILABLE},
         STL_DISCONNECTED},
        {7, "!!! Check it out (7)", {}, STL_CONNECTING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        sinks.m_vecStates.clear();
        stl->Connect();
        Settle();
        const int nDiscovers = logs.Count("Send SkypeAPI Discover");
        ::PostMessage(stl->GetSafeHwnd(), RegisterWindowMessage(g_szSkypeControlAPIAttach),
                      HWND{0x777}, c.status);
        Settle();
        EXPECT_EQ(logs.Count(StrFormat("CSTL::SkypeAPI Control Handle...(got %x at state 5)",
                                       static_cast<unsigned>(c.status))),
                  1);
        EXPECT_EQ(logs.Count(c.log), 1);
        std::vector<int> expected{STL_CONNECTING};
        expected.insert(expected.end(), c.states.begin(), c.states.end());
        EXPECT_EQ(sinks.m_vecStates, expected);
        EXPECT_EQ(stl->GetConnectionState(), c.stored);
        // The discover is answered: no failure, no retry until Skype or a Connect says more.
        Run(60000);
        EXPECT_EQ(logs.Count("Send SkypeAPI Discover"), nDiscovers);
        EXPECT_EQ(Counter(STL_CNT_DISCOVER_FAILED), 0);
    }
}

TEST_F(StlTest, ApiAvailableAgainTellsState4AndDiscoversFiveSecondsLater) {
    sim.SetApiAvailable(false);
    stl->Connect();
    Settle();
    EXPECT_EQ(sinks.m_vecStates, (std::vector<int>{STL_CONNECTING, STL_API_NOT_AVAILABLE}));
    EXPECT_EQ(stl->GetConnectionState(), STL_DISCONNECTED);  // 3 is stored as 1

    sim.SetApiAvailable(true);
    Settle();
    EXPECT_EQ(sinks.m_vecStates.back(), STL_API_AVAILABLE);
    const int nDiscovers = logs.Count("Send SkypeAPI Discover");
    Run(4999);
    EXPECT_EQ(logs.Count("Send SkypeAPI Discover"), nDiscovers);
    Run(1);
    EXPECT_EQ(logs.Count("Send SkypeAPI Discover"), nDiscovers + 1);
    // Skype's answer finds the state at 1, not connecting: only a Connect brings the link back.
    EXPECT_EQ(stl->GetConnectionState(), STL_DISCONNECTED);

    sinks.m_fnOnState = [&](int state) {
        if (state == STL_API_AVAILABLE)
            stl->Connect();  // what the call handler does
    };
    sim.SetApiAvailable(false);
    sim.SetApiAvailable(true);
    Settle();
    EXPECT_EQ(stl->GetConnectionState(), STL_CONNECTED);
}

TEST_F(StlTest, Error68RequeuesTheWaitingCommandAndForgetsSkypesWindow) {
    ConnectNow();
    sim.AnswerError68(1, "GET USERSTATUS");
    bool bChecked = false;
    sinks.m_fnOnCmd = [&](const SkypeToDeviceCmd& cmd) {
        if (cmd.m_nCmd != S2D_ERROR)
            return;
        bChecked = true;
        // Nothing was matched by that line: the command is back at the head of the IN queue.
        EXPECT_EQ(stl->GetWaitQueueCount(), 0);
        EXPECT_EQ(stl->GetInQueueCount(), 1);
        EXPECT_EQ(logs.Count("Removing and Delete Ack Skype CMD from Q"), 0);
        // Skype's window is forgotten: its lines are refused until it attaches us again.
        const std::string line = "USERSTATUS ONLINE";
        EXPECT_EQ(Desktop().SendCopyData(stl->GetSafeHwnd(), sim.GetHwnd(), 0, line.c_str(),
                                         static_cast<uint32_t>(line.size() + 1)),
                  std::optional<LRESULT>(0));
    };
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Run(100);
    EXPECT_TRUE(bChecked);
    EXPECT_EQ(Counter(STL_CNT_ERROR_68), 1);
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS", "GET USERSTATUS"}));
    EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
    EXPECT_EQ(stl->GetConnectionState(), STL_CONNECTED);
    EXPECT_EQ(Counter(STL_CNT_REPLY_TIMEOUTS), 0);
}

TEST_F(StlTest, DisconnectDeletesBothQueuesWithTheirLogLinesAndStopsTheTimers) {
    ConnectNow();
    sim.DropReplies(1, "GET USERSTATUS");
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_CONNSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_IN));
    Settle();
    ASSERT_EQ(stl->GetWaitQueueCount(), 1);
    ASSERT_EQ(stl->GetInQueueCount(), 2);

    stl->Disconnect();
    Settle();
    EXPECT_EQ(logs.Count("CSTL::ClearAllCmdQueues"), 1);
    EXPECT_EQ(logs.Count("CSTL::Removing and Delete Ack Skype CMD from IN Q ["), 2);
    EXPECT_EQ(logs.Count("CSTL::Removing and Delete Ack Skype CMD from WAIT Ack Q ["), 1);
    EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
    EXPECT_EQ(stl->GetConnectionState(), STL_DISCONNECTED);
    EXPECT_EQ(sinks.m_vecStates.back(), STL_DISCONNECTED);
    for (UINT id : {101u, 102u, 103u, 104u})
        EXPECT_FALSE(stl->IsTimerSet(id)) << id;
    EXPECT_TRUE(stl->IsTimerSet(STL_TIMER_REPLY_TIMEOUT));

    Run(30000);  // no reconnect, no keep-alive
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS"}));
    EXPECT_TRUE(WithoutPings(sim.ReceivedLines()) == sim.ReceivedLines());
    EXPECT_EQ(logs.Count("Send SkypeAPI Discover"), 1);
}

TEST_F(StlTest, TwentyUnansweredDiscoversEndInState3) {
    sim.Stop();  // nobody answers
    stl->Connect();
    // Broadcasts at 0, 8 s, 16 s, ... (3 s without reply, then 5 s to the retry).
    Run(19 * 8000 + 2999);
    EXPECT_EQ(logs.Count("Send SkypeAPI Discover"), 20);
    EXPECT_EQ(sinks.m_vecStates, (std::vector<int>{STL_CONNECTING}));
    Run(1);
    EXPECT_EQ(sinks.m_vecStates, (std::vector<int>{STL_CONNECTING, STL_API_NOT_AVAILABLE}));
    EXPECT_EQ(Counter(STL_CNT_DISCOVER_FAILED), 20);
    EXPECT_EQ(Counter(STL_CNT_RECONNECT_ATTEMPTS), 19);
    EXPECT_EQ(logs.Count("CSTL::OnTimer SKYPEAPI_DISCOVER_FAILED (20) "), 1);
    Run(120000);
    EXPECT_EQ(logs.Count("Send SkypeAPI Discover"), 20);
}

TEST_F(StlTest, AnErrorAnswerSettlesTheCommandInsteadOfBlockingTheQueue) {
    ConnectNow();
    Queue(DeviceToSkypeCmd(D2S_GET_USER, "nobody", PROP_FULLNAME));
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Run(100);
    EXPECT_EQ(Received(), (Lines{"GET USER nobody FULLNAME", "GET USERSTATUS"}));
    EXPECT_EQ(logs.CountAt(WARNING, "answered with ERROR 9"), 1);
    EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
    Run(5000);
    EXPECT_EQ(Counter(STL_CNT_REPLY_TIMEOUTS), 0);
}

TEST_F(StlTest, BadOrForeignCopyDataIsRefusedAndAnUnparsableLineStillProvesTheLinkAlive) {
    ConnectNow();
    CWirePeer other;
    ASSERT_TRUE(other.CreateWindowOn(loop, "another program"));
    struct Case {
        const char* name;
        std::string bytes;
        bool bFromSkype;
        LRESULT expect;
        bool bCounted;
    };
    const std::vector<Case> cases = {
        {"unknown property", std::string("USER bob MOOD_TEXT hi", 22), true, 1, true},
        {"unknown keyword", std::string("CHATMESSAGE 5 STATUS READ", 26), true, 1, true},
        {"not UTF-8", std::string("USER bob FULLNAME \xff\xfe", 21), true, 0, true},
        {"no terminating NUL", std::string("PONG"), true, 0, true},
        {"empty block", std::string(), true, 0, false},
        {"another window", std::string("PONG", 5), false, 0, false},
    };
    for (const Case& c : cases) {
        const int nBefore = Counter(STL_CNT_LINES_RECEIVED);
        const HWND from = c.bFromSkype ? sim.GetHwnd() : other.GetSafeHwnd();
        EXPECT_EQ(Desktop().SendCopyData(stl->GetSafeHwnd(), from, 0, c.bytes.data(),
                                         static_cast<uint32_t>(c.bytes.size())),
                  std::optional<LRESULT>(c.expect))
            << c.name;
        EXPECT_EQ(Counter(STL_CNT_LINES_RECEIVED) - nBefore, c.bCounted ? 1 : 0) << c.name;
    }
    EXPECT_EQ(logs.CountAt(WARNING, "Failed on SkypeToDeviceCmd - Last Skype message bad parsing"),
              1);
    EXPECT_EQ(sinks.m_vecLines, (Lines{"CHATMESSAGE 5 STATUS READ"}));

    // A line that does not parse still restarts the keep-alive.
    Run(4000);
    const std::string garbled("CALL 5 VIDEO_STATUS VIDEO_NONE");
    sim.SendRaw(garbled + '\0');
    Settle();
    Run(4799);
    EXPECT_TRUE(sim.ReceivedLines().empty());
    Run(1);
    EXPECT_EQ(sim.ReceivedLines(), (Lines{"PING"}));
}

TEST_F(StlTest, QueueingFromTheTransportsOwnThreadNeverWaitsForTheQueueToShrink) {
    // Not attached: everything stays in the IN queue.
    for (int i = 0; i <= CSTL::kMaxInQueue; ++i)
        Queue(DeviceToSkypeCmd(D2S_GET_USER, Numbered("u", i), PROP_FULLNAME));
    Settle();
    ASSERT_EQ(stl->GetInQueueCount(), CSTL::kMaxInQueue + 1);
    const uint64_t t0 = clock.NowMs();
    EXPECT_EQ(stl->QueueCtrlAckCmd(DeviceToSkypeCmd(D2S_GET_USERSTATUS)), 0);
    EXPECT_EQ(clock.NowMs(), t0);
    EXPECT_EQ(logs.CountAt(WARNING, "CSTL::SendCmdAcknowledged - ERROR - Msg Q is too big"), 1);
}

TEST_F(StlTest, QueueingFromAnotherThreadWaitsWhileTheQueueIsFull) {
    for (int i = 0; i <= CSTL::kMaxInQueue; ++i)
        Queue(DeviceToSkypeCmd(D2S_GET_USER, Numbered("u", i), PROP_FULLNAME));
    Settle();
    std::atomic<int> nResult{-1};
    std::thread worker(
        [&] { nResult = stl->QueueCtrlAckCmd(DeviceToSkypeCmd(D2S_GET_AUDIO_OUT)); });
    ASSERT_TRUE(clock.WaitForParticipants(2));
    Run(10000);
    EXPECT_EQ(nResult.load(), -1);  // still waiting
    // Attached now, the queue drains and the waiting caller gets through.
    stl->Connect();
    EXPECT_TRUE(RunUntil([&] { return nResult.load() != -1; }, 10000));
    worker.join();
    EXPECT_EQ(nResult.load(), 1);
    Run(5000);
    EXPECT_EQ(Received().back(), "GET AUDIO_OUT");
}

TEST_F(StlTest, QueueingFromAnotherThreadGivesUpAfter100Seconds) {
    for (int i = 0; i <= CSTL::kMaxInQueue; ++i)
        Queue(DeviceToSkypeCmd(D2S_GET_USER, Numbered("u", i), PROP_FULLNAME));
    Settle();
    std::atomic<int> nResult{-1};
    std::thread worker([&] { nResult = stl->QueueCtrlAckCmd(DeviceToSkypeCmd(D2S_PING)); });
    ASSERT_TRUE(clock.WaitForParticipants(2));
    Run(99999);
    EXPECT_EQ(nResult.load(), -1);
    EXPECT_TRUE(RunUntil([&] { return nResult.load() != -1; }, 1000));
    worker.join();
    EXPECT_EQ(nResult.load(), 0);
    EXPECT_EQ(logs.CountAt(WARNING, "CSTL::SendCmdAcknowledged - ERROR - Msg Q is too big"), 1);
}

TEST_F(StlTest, EndDisconnectsDropsCommandsStillOnTheirWayAndClosesTheWindow) {
    ConnectNow();
    sim.DropReplies(1, "GET USERSTATUS");
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_CONNSTATUS));
    Settle();
    Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_IN));  // posted, not handled yet
    const HWND hWnd = stl->GetSafeHwnd();

    EXPECT_EQ(stl->End(), 1);
    EXPECT_EQ(stl->GetConnectionState(), -1);
    EXPECT_EQ(logs.Count("CSTLSndr::EndThread()"), 1);
    EXPECT_EQ(logs.Count("CCSTL::End()"), 1);
    Settle();
    EXPECT_EQ(sinks.m_vecStates.back(), STL_DISCONNECTED);
    EXPECT_EQ(logs.Count("from WAIT Ack Q"), 1);
    EXPECT_EQ(logs.Count("from IN Q"), 1);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(stl->End(), 0);
    Run(10000);
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS"}));

    // A new Init brings up a new window and sender.
    ASSERT_EQ(stl->Init(1, &sinks, &sinks, &loop), 1);
    ASSERT_TRUE(clock.WaitForParticipants(1));
    ConnectNow();
    Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_OUT));
    Settle();
    EXPECT_EQ(Received().back(), "GET AUDIO_OUT");
}

TEST_F(StlTest, AWiderWindowLetsThatManyCommandsWaitAtOnce) {
    stl->End();
    Settle();
    ASSERT_EQ(stl->Init(2, &sinks, &sinks, &loop), 1);
    ASSERT_TRUE(clock.WaitForParticipants(1));
    ConnectNow();
    sim.DelayReplies(3, 1000);  // in order, as the client answers
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_CONNSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_IN));
    Run(999);
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS", "GET CONNSTATUS"}));
    EXPECT_EQ(stl->GetWaitQueueCount(), 2);
    Run(1100);
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS", "GET CONNSTATUS", "GET AUDIO_IN"}));
    EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
}

TEST_F(StlTest, TimedOutCommandsOfAWiderWindowGoOutAgainInTheirOldOrder) {
    stl->End();
    Settle();
    ASSERT_EQ(stl->Init(2, &sinks, &sinks, &loop), 1);
    ASSERT_TRUE(clock.WaitForParticipants(1));
    ConnectNow();
    sim.DropReplies(2);
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_CONNSTATUS));
    Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_IN));
    Settle();
    ASSERT_EQ(stl->GetWaitQueueCount(), 2);
    Run(3200);
    EXPECT_EQ(logs.Count("CSTL::ReQueAllWaitAckCmds - Re Qued 2 Ack CMD"), 1);
    EXPECT_EQ(Received(), (Lines{"GET USERSTATUS", "GET CONNSTATUS", "GET USERSTATUS",
                                 "GET CONNSTATUS", "GET AUDIO_IN"}));
    EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
}
// ---- The wire ----

class StlWireTest : public StlTest {
protected:
    CWirePeer peer;
    bool StartSim() override { return peer.CreateWindowOn(loop, "wire peer"); }
};

TEST_F(StlWireTest, LinesGoOutAsUtf8WithTheirNulCountedAndRefusalsAreLogged) {
    ConnectNow();
    Run(4800);
    ASSERT_EQ(peer.m_vecBlocks.size(), 1u);
    EXPECT_EQ(peer.m_vecBlocks[0], std::string("PING", 5));  // five bytes

    const std::string text =
        "Gr\xc3\xbc\xc3\x9f"
        "e aus K\xc3\xb6ln \xe2\x80\x93 \xf0\x9f\x91\x8b";
    Queue(DeviceToSkypeCmd(D2S_MESSAGE, "bob", text));
    Run(10);
    ASSERT_EQ(peer.m_vecBlocks.size(), 2u);
    EXPECT_EQ(peer.m_vecBlocks[1], "MESSAGE bob " + text + std::string(1, '\0'));

    peer.m_nResult = 0;
    stl->Disconnect();
    Settle();
    ConnectNow();
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Run(20);
    EXPECT_EQ(logs.CountAt(WARNING, "CSTLSndr::NotifySendFailed retVal=-1"), 1);
    EXPECT_EQ(Counter(STL_CNT_LINES_SENT), 3);
    stl->ResetDebugCounters();
    for (int n : stl->GetDebugCounters())
        EXPECT_EQ(n, 0);
}

// ---- The sender on its own ----

TEST(StlSndrTest, ACommandWithoutSkypeWindowIsDiscardedAndTheSenderKeepsItsOwnCopy) {
    CTestClock clock;
    CScopedClock scoped(clock);
    CLogRecorder logs;
    CMsgLoop loop;
    loop.Bind();
    CWirePeer peer;
    ASSERT_TRUE(peer.CreateWindowOn(loop, "wire peer"));
    CSTLSndr sndr;
    ASSERT_TRUE(sndr.Start());
    ASSERT_TRUE(clock.WaitForParticipants(1));
    sndr.SetMyhWnd(0x4242);

    sndr.PostCmd(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    clock.Settle({&loop});
    EXPECT_EQ(logs.CountAt(WARNING, "CSTLSndr::OnSendCmd Discarding because m_hWndSkypeAPI == 0"),
              1);
    sndr.SetSkypehWnd(peer.GetSafeHwnd());
    clock.RunFor(1000, {&loop});
    EXPECT_TRUE(peer.m_vecBlocks.empty());  // not sent later either

    // The transport may delete its command the moment it has posted it.
    auto pCmd = std::make_unique<DeviceToSkypeCmd>(D2S_GET_CONNSTATUS);
    sndr.PostCmd(*pCmd);
    pCmd.reset();
    clock.Settle({&loop});
    ASSERT_EQ(peer.m_vecBlocks.size(), 1u);
    EXPECT_EQ(peer.m_vecBlocks[0], std::string("GET CONNSTATUS", 15));
    EXPECT_EQ(sndr.GetLinesSent(), 1);
    EXPECT_EQ(logs.Count("-> D2S[#0]: GET CONNSTATUS "), 1);

    EXPECT_EQ(sndr.EndThread(), 1);
    EXPECT_FALSE(sndr.IsRunning());
}

TEST(StlSndrTest, LinesAreAtLeastTenMillisecondsApart) {
    CTestClock clock;
    CScopedClock scoped(clock);
    CMsgLoop loop;
    loop.Bind();
    std::vector<uint64_t> times;
    class CTimedPeer : public CWindow {
    public:
        std::vector<uint64_t>* m_pTimes = nullptr;
        LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
            if (message == WM_COPYDATA)
                m_pTimes->push_back(Clock().NowMs());
            return 1;
        }
    } peer;
    peer.m_pTimes = &times;
    ASSERT_TRUE(peer.CreateWindowOn(loop, "timed peer"));
    CSTLSndr sndr;
    ASSERT_TRUE(sndr.Start());
    ASSERT_TRUE(clock.WaitForParticipants(1));
    sndr.SetSkypehWnd(peer.GetSafeHwnd());
    for (int i = 0; i < 3; ++i)
        sndr.PostCmd(DeviceToSkypeCmd(D2S_PING));
    clock.RunFor(100, {&loop});
    EXPECT_EQ(times, (std::vector<uint64_t>{0, 10, 20}));
    sndr.EndThread();
}

// ---- A slow client, on a thread of its own as the real one ran in its own process ----

class StlSlowClientTest : public StlTest {
protected:
    bool StartSim() override { return sim.Start(); }
    size_t ThreadsBesidesTest() const override { return 2; }
};

TEST_F(StlSlowClientTest, ADeliveryOf3000MsOrMoreIsLoggedAsFailed) {
    ConnectNow();
    sim.SetDeliveryDelay(2999);
    Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
    Run(3500);
    EXPECT_EQ(logs.Count("NotifySendFailed"), 0);
    sim.SetDeliveryDelay(3000);
    Queue(DeviceToSkypeCmd(D2S_GET_CONNSTATUS));
    Run(3500);
    EXPECT_EQ(logs.CountAt(WARNING, "CSTLSndr::NotifySendFailed retVal=3000"), 1);
    sim.SetDeliveryDelay(0);
}

// ---- A step of the system clock ----

// The test clock, but with a system clock that can be set: wall time jumps, monotonic time goes
// on as before (a user setting the clock, a time sync).
class CWallStepClock : public IClock {
public:
    explicit CWallStepClock(CTestClock& base) : m_base(base) {}
    uint64_t NowMs() const override { return m_base.NowMs(); }
    CWallTime WallNow() const override {
        const CWallTime t = m_base.WallNow();
        const int64_t ms = t.sec * 1000 + t.ms + m_nStepMs.load();
        return CWallTime{ms / 1000, static_cast<uint16_t>(ms % 1000)};
    }
    bool WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                   uint64_t deadlineMs, const std::function<bool()>& pred) override {
        return m_base.WaitUntil(lk, cv, deadlineMs, pred);
    }
    void Step(int64_t ms) { m_nStepMs.fetch_add(ms); }

private:
    CTestClock& m_base;
    std::atomic<int64_t> m_nStepMs{0};
};

constexpr int64_t kClockSteps[] = {3600 * 1000, -3600 * 1000};

class StlClockStepTest : public StlTest {
protected:
    void SetUp() override {
        SetClock(&stepClock);
        StlTest::SetUp();
    }
    void TearDown() override {
        StlTest::TearDown();
        SetClock(&clock);
    }
    CWallStepClock stepClock{clock};
};

TEST_F(StlClockStepTest, AStepOfTheSystemClockWhileAReplyIsAwaitedIsNoTimeOut) {
    ConnectNow();
    for (const int64_t step : kClockSteps) {
        SCOPED_TRACE(step);
        const size_t nReceived = Received().size();
        sim.DelayReplies(1, 2000, "GET USERSTATUS");
        Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
        Run(1000);
        ASSERT_EQ(stl->GetWaitQueueCount(), 1);
        stepClock.Step(step);
        Run(1000);
        EXPECT_EQ(stl->GetWaitQueueCount() + stl->GetInQueueCount(), 0);
        Run(3000);
        EXPECT_EQ(Counter(STL_CNT_REPLY_TIMEOUTS), 0);
        EXPECT_EQ(Counter(STL_CNT_RECONNECT_ATTEMPTS), 0);
        EXPECT_EQ(Received().size(), nReceived + 1) << "sent once, never again";
    }
    EXPECT_EQ(sinks.m_vecStates, (std::vector<int>{STL_CONNECTING, STL_CONNECTED}));
}

TEST(StlSndrTest, AStepOfTheSystemClockDuringADeliveryIsNoSlowDelivery) {
    for (const int64_t step : kClockSteps) {
        SCOPED_TRACE(step);
        CTestClock clock;
        CWallStepClock stepClock(clock);
        CScopedClock scoped(stepClock);
        CLogRecorder logs;
        CMsgLoop loop;
        loop.Bind();
        // Skype's window, during whose handling of the line the system clock is set.
        class CSteppingPeer : public CWindow {
        public:
            std::function<void()> m_fnOnLine;
            LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
                if (message == WM_COPYDATA)
                    m_fnOnLine();
                return 1;
            }
        } peer;
        peer.m_fnOnLine = [&] { stepClock.Step(step); };
        ASSERT_TRUE(peer.CreateWindowOn(loop, "stepping peer"));
        CSTLSndr sndr;
        ASSERT_TRUE(sndr.Start());
        ASSERT_TRUE(clock.WaitForParticipants(1));
        sndr.SetSkypehWnd(peer.GetSafeHwnd());
        sndr.PostCmd(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
        clock.RunFor(100, {&loop});
        EXPECT_EQ(sndr.GetLinesSent(), 1);
        EXPECT_EQ(logs.Count("NotifySendFailed"), 0);
        sndr.EndThread();
    }
}

}  // namespace
