// The whole way of a call, with the real transport, its sender thread, the handler thread and
// the substitute Skype client; only the sound is left out (the stages write a small file).
// Time is virtual: it moves only when every thread is waiting, so each run is the same.
#include <gtest/gtest.h>

#include "TestClock.h"
#include "app/CableNames.h"
#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/CallsTestSupport.h"
#include "calls/User.h"
#include "main/VokraWndCore.h"
#include "messages/MessageCollection.h"
#include "sim/SkypeSim.h"

using namespace callstest;

namespace {

const char* const kCable1Rec = "Vokra Virtual Cable 1 (recording)";
const char* const kCable2Play = "Vokra Virtual Cable 2 (playback)";

// The front end: reads what the pages would show whenever it is asked to refresh, as the user
// interface does while the handler thread changes it.
class CFrontEnd : public IVokraWndListener {
public:
    void OnShowSheet(int page) override { m_vecSheets.push_back(page); }
    void OnRefreshPage(int) override {
        CCallsDataLock lock;
        m_strUser = gCurrentUser.GetName();
        m_nMessages = static_cast<int>(gMessagesDB.GetMessages().size());
        for (const CMessage* pMsg : gMessagesDB.GetMessages())
            if (pMsg->m_pCall != nullptr && pMsg->m_pCall->m_pUser != nullptr)
                m_strLastCaller = pMsg->m_pCall->m_pUser->GetNameAndHandle();
        if (g_pCurrentCall != nullptr)
            m_nLastAnswerState = g_pCurrentCall->m_nAnswerState;
        m_nCalls = static_cast<int>(gCallsDB.GetCount());
    }
    void OnShowBalloon(int, int) override {}
    void OnUpdateTrayIcon() override { ++m_nIconUpdates; }

    std::vector<int> m_vecSheets;
    std::string m_strUser, m_strLastCaller;
    int m_nMessages = 0, m_nCalls = 0, m_nLastAnswerState = -1, m_nIconUpdates = 0;
};

}  // namespace

class EndToEndTest : public CCallsEnv {
protected:
    void SetUp() override {
        CCallsEnv::SetUp();
        m_saveVac1Rec = g_strVac1RecordingDevice;
        m_saveVac2Play = g_strVac2PlaybackDevice;
        g_strVac1RecordingDevice = kCable1Rec;
        g_strVac2PlaybackDevice = kCable2Play;
        SecB4AnsweringOnline = 5;
        GreetingTextMsg = "Please leave a message";

        m_loop.Bind();
        m_sim.SetCurrentUser("me", "Me Myself");
        m_sim.AddContact("alice", "Alice Liddell");
        m_sim.SetAudioDevices({"Mic", kCable1Rec}, {"Speakers", kCable2Play}, "Mic", "Speakers");
        ASSERT_TRUE(m_sim.Start(&m_loop));
        ASSERT_TRUE(m_core.Create(m_loop));
        m_core.SetListener(&m_front);
        ASSERT_TRUE(m_core.StartHandler());
        ASSERT_TRUE(m_clock.WaitForParticipants(2));  // the sender and the handler
        ASSERT_TRUE(RunUntil(
            [this] {
                CCallsDataLock lock;
                return gCurrentUser.m_strUserName == "me" &&
                       m_core.Handler().GetDefaultAudioOut() == "Speakers";
            },
            20000));
        EXPECT_EQ(g_pSTL->GetConnectionState(), STL_CONNECTED);
    }
    void TearDown() override {
        m_core.Shutdown();
        m_clock.Settle({&m_loop});
        m_sim.Stop();
        g_strVac1RecordingDevice = m_saveVac1Rec;
        g_strVac2PlaybackDevice = m_saveVac2Play;
        CCallsEnv::TearDown();
    }
    void Run(uint64_t ms) { m_clock.RunFor(ms, {&m_loop}); }
    bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs) {
        return m_clock.RunUntil(pred, maxMs, {&m_loop});
    }
    int SimStatus(int id) {
        auto call = m_sim.GetCall(id);
        return call ? call->m_nStatus : -1;
    }
    bool NoCurrentCall() {
        CCallsDataLock lock;
        return g_pCurrentCall == nullptr;
    }

    CTestClock m_clock{CWallTime{1136279107, 0}};
    CScopedClock m_scoped{m_clock};
    CMsgLoop m_loop;
    CSkypeSim m_sim;
    CStagesDouble m_stages;
    CFrontEnd m_front;
    CVokraWndCore m_core;
    std::string m_saveVac1Rec, m_saveVac2Play;
};

TEST_F(EndToEndTest, ACallIsAnsweredRecordedAndFiled) {
    // Alice calls; after the answer delay for ONLINE the program answers through the cables.
    const int id = m_sim.IncomingCall("alice");
    Run(4000);
    EXPECT_EQ(SimStatus(id), CALLSTATUS_RINGING);
    ASSERT_TRUE(RunUntil([&] { return SimStatus(id) == CALLSTATUS_INPROGRESS; }, 3000));
    EXPECT_EQ(m_sim.AudioIn(), kCable1Rec);
    EXPECT_EQ(m_sim.AudioOut(), kCable2Play);

    // The greeting plays, the chat greeting reaches alice, the recording runs.
    Run(500);
    EXPECT_TRUE(m_stages.Running());
    ASSERT_EQ(m_sim.SentChatMessages().size(), 1u);
    EXPECT_EQ(m_sim.SentChatMessages()[0].m_strPartner, "alice");
    EXPECT_EQ(m_sim.SentChatMessages()[0].m_strBody, "Please leave a message");
    const int64_t tStart = m_clock.WallNow().sec;
    EXPECT_EQ(m_front.m_nLastAnswerState, ANSWER_RECORDING);

    // She speaks for a while and hangs up.
    Run(25000);
    m_sim.CallerHangsUp(id);
    ASSERT_TRUE(RunUntil([&] { return NoCurrentCall(); }, 2000));
    ASSERT_TRUE(RunUntil([&] { return m_sim.AudioOut() == "Speakers"; }, 2000));
    EXPECT_EQ(m_sim.AudioIn(), "Mic");
    EXPECT_FALSE(m_stages.Running());

    const std::vector<std::string> files = FilesIn(UserFolder("me"));
    ASSERT_EQ(files.size(), 1u);
    CVoiceMessageName parsed;
    ASSERT_TRUE(ParseVoiceMessageFileName(files[0], parsed));
    EXPECT_EQ(parsed.m_strUserName, "alice");
    EXPECT_FALSE(parsed.m_bHeard);
    EXPECT_NEAR(static_cast<double>(parsed.m_tStart), static_cast<double>(tStart), 1.0);
    EXPECT_EQ(parsed.m_nDuration, 20);  // 25.5 s less the 5 s greeting
    EXPECT_TRUE(g_bNewVoiceMessage);
    EXPECT_EQ(m_front.m_vecSheets, std::vector<int>{SHEET_PAGE_MESSAGES});
    EXPECT_EQ(m_front.m_nMessages, 1);
    EXPECT_EQ(m_front.m_strLastCaller, "Alice Liddell (alice)");
    EXPECT_EQ(m_front.m_strUser, "Me Myself");
}

TEST_F(EndToEndTest, TheRecordingLimitHangsUpAndGivesSkypeItsDevicesBack) {
    MaxRecordingDurationSec = 30;
    const int id = m_sim.IncomingCall("alice");
    ASSERT_TRUE(RunUntil([&] { return SimStatus(id) == CALLSTATUS_INPROGRESS; }, 10000));
    ASSERT_TRUE(RunUntil([&] { return SimStatus(id) == CALLSTATUS_FINISHED; }, 31000));
    ASSERT_TRUE(
        RunUntil([&] { return m_sim.AudioIn() == "Mic" && m_sim.AudioOut() == "Speakers"; }, 2000));
    ASSERT_TRUE(RunUntil([&] { return NoCurrentCall(); }, 2000));

    const int n1 =
        m_log.IndexOf(StrFormat("--> (1/4) [CallId: %d] Setting Answer timer for 5010 MSec", id));
    const int n2 = m_log.IndexOf(
        StrFormat("--> (2/4) [CallId: %d] Timer Event - Can we answer this call?", id), n1);
    const int n3 = m_log.IndexOf(
        StrFormat("--> (3/4) [CallId: %d] Call in progress, setting timer for 30 sec", id), n2);
    const int n4 =
        m_log.IndexOf(StrFormat("--> (4/4) [CallId: %d] Timer Event - Releasing call ", id), n3);
    EXPECT_GE(n1, 0);
    EXPECT_GT(n2, n1);
    EXPECT_GT(n3, n2);
    EXPECT_GT(n4, n3);
    EXPECT_EQ(FilesIn(UserFolder("me")).size(), 1u);
}

TEST_F(EndToEndTest, ACallerWhoHangsUpBeforeTheAnswerLeavesNothingBehind) {
    const int id = m_sim.IncomingCall("alice");
    Run(3000);
    m_sim.CallerHangsUp(id);
    Run(5000);
    EXPECT_EQ(SimStatus(id), CALLSTATUS_MISSED);
    EXPECT_EQ(m_sim.AudioIn(), "Mic");
    EXPECT_EQ(m_stages.m_nStarts, 0);
    CCallsDataLock lock;
    EXPECT_EQ(gCallsDB.GetCount(), 0u);
    EXPECT_EQ(g_pRingingCall, nullptr);
    EXPECT_EQ(m_core.Handler().GetTimerCall(), nullptr);
}

TEST_F(EndToEndTest, QuitDuringAnAnsweredCallGivesSkypeItsDevicesBackFirst) {
    const int id = m_sim.IncomingCall("alice");
    ASSERT_TRUE(RunUntil([&] { return SimStatus(id) == CALLSTATUS_INPROGRESS; }, 10000));
    ASSERT_TRUE(RunUntil([&] { return m_stages.Running(); }, 2000));
    ASSERT_EQ(m_sim.AudioIn(), kCable1Rec);
    Run(8000);  // alice speaks after the greeting

    // Skype is slow to acknowledge: Quit still waits for it, within its bound.
    m_sim.DelayReplies(2, 400, "SET AUDIO_");
    EXPECT_TRUE(m_core.Shutdown());
    ASSERT_TRUE(RunUntil([&] { return g_hWndMain.load() == 0; }, 3000));
    EXPECT_EQ(m_sim.AudioIn(), "Mic");
    EXPECT_EQ(m_sim.AudioOut(), "Speakers");
    EXPECT_FALSE(m_stages.Running());
    EXPECT_EQ(FilesIn(UserFolder("me")).size(), 1u) << "the recording is filed";
    EXPECT_EQ(g_pSTL != nullptr ? g_pSTL->GetConnectionState() : -1, -1) << "the link ended";
}

TEST_F(EndToEndTest, QuitStopsWaitingForASkypeThatNeverAcknowledges) {
    const int id = m_sim.IncomingCall("alice");
    ASSERT_TRUE(RunUntil([&] { return SimStatus(id) == CALLSTATUS_INPROGRESS; }, 10000));
    m_sim.DropReplies(100);
    const uint64_t tQuit = m_clock.NowMs();
    EXPECT_TRUE(m_core.Shutdown());
    ASSERT_TRUE(RunUntil([&] { return g_hWndMain.load() == 0; }, 10000));
    EXPECT_LE(m_clock.NowMs() - tQuit, CVokraWndCore::kQuitWaitMs + 100);
    EXPECT_GE(m_clock.NowMs() - tQuit, CVokraWndCore::kQuitWaitMs);
}
