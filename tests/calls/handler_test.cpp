// The Skype message handler and the answering state machine, driven as Skype drives them: the
// handler's queue and the main window's loop are pumped here under the manual clock, Skype's
// lines are fed in, and the commands the program queues are read back.
#include <gtest/gtest.h>

#include "CallsTestSupport.h"
#include "app/CableNames.h"
#include "app/StringTable.h"
#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/SkypeMsgHndl.h"
#include "calls/User.h"
#include "calls/UserCollection.h"
#include "messages/Message.h"
#include "messages/MessageCollection.h"
#include "skype/STL.h"

using namespace callstest;
using Cmds = std::vector<std::string>;

class HandlerTest : public CCallsTest {
protected:
    void SetUp() override {
        CCallsTest::SetUp();
        m_hndl.AttachToCurrentThread();
        ASSERT_TRUE(m_wnd.CreateWindowOn(m_ui, "Vokra"));
        g_hWndMain = m_wnd.GetSafeHwnd();
        m_hndl.SetTimerWnd(m_wnd.GetSafeHwnd());
        m_saveVac1Rec = g_strVac1RecordingDevice;
        m_saveVac2Play = g_strVac2PlaybackDevice;
        g_strVac1RecordingDevice = "Vokra Virtual Cable 1 in";
        g_strVac2PlaybackDevice = "Vokra Virtual Cable 2 out";
        SecB4AnsweringOnline = 5;
        SecB4AnsweringAway = 2;
        MaxRecordingDurationSec = 120;
        GreetingTextMsg = "Please leave a message";
    }
    void TearDown() override {
        g_hWndMain = 0;
        g_strVac1RecordingDevice = m_saveVac1Rec;
        g_strVac2PlaybackDevice = m_saveVac2Play;
        CCallsTest::TearDown();
    }

    // Skype says something; everything it sets off runs.
    void Say(const std::string& line) {
        m_hndl.OnSkypeCmd(SkypeToDeviceCmd(line));
        Drain();
    }
    void State(int state) {
        m_hndl.OnConnectionState(state);
        Drain();
    }
    void Drain() { PumpFor(m_clock, {&m_ui, &m_hndl.Loop()}, 0); }
    void Wait(uint64_t ms) { PumpFor(m_clock, {&m_ui, &m_hndl.Loop()}, ms); }
    // Connected, "me" logged in and online, Skype's devices known.
    void LogIn() {
        State(STL_CONNECTED);
        Say("CURRENTUSERHANDLE me");
        Say("USERSTATUS ONLINE");
        Say("AUDIO_IN Mic");
        Say("AUDIO_OUT Speakers");
        m_cmds.Take();
        m_wnd.m_vecPosted.clear();
    }
    // A call from alice (a buddy) rings and all its details arrive.
    void Rings(int id, const std::string& caller = "alice") {
        Say(StrFormat("CALL %d STATUS RINGING", id));
        Say(StrFormat("CALL %d PARTNER_HANDLE %s", id, caller.c_str()));
        Say(StrFormat("CALL %d TYPE INCOMING_P2P", id));
        Say(StrFormat("USER %s BUDDYSTATUS 3", caller.c_str()));
    }
    static Cmds AnswerCmds(int id) {
        return {"SET AUDIO_IN Vokra Virtual Cable 1 in", "SET AUDIO_OUT Vokra Virtual Cable 2 out",
                StrFormat("SET CALL %d STATUS INPROGRESS  ", id)};
    }
    static Cmds RestoreCmds() { return {"SET AUDIO_IN Mic", "SET AUDIO_OUT Speakers"}; }
    // Rings, waits the answer delay, goes in progress.
    void Answered(int id, const std::string& caller = "alice") {
        Rings(id, caller);
        Wait(5010);
        ASSERT_EQ(m_cmds.Take().back(), AnswerCmds(id).back());
        Say(StrFormat("CALL %d STATUS INPROGRESS", id));
    }
    CCall* Call(int id) {
        CCall* p = nullptr;
        return gCallsDB.Get(id, p) ? p : nullptr;
    }
    bool Contains(const Cmds& cmds, const std::string& text) {
        return std::find(cmds.begin(), cmds.end(), text) != cmds.end();
    }

    CMsgLoop m_ui;
    CSkypeMsgHndl m_hndl;
    CMainWndDouble<CSkypeMsgHndl> m_wnd{&m_hndl};
    CStagesDouble m_stages;
    std::string m_saveVac1Rec, m_saveVac2Play;
};

TEST_F(HandlerTest, ACallIsAnsweredRecordedAndFiledWhenTheCallerHangsUp) {
    LogIn();

    // A call rings: Skype's devices and the call's details are asked for.
    Say("CALL 12 STATUS RINGING");
    EXPECT_EQ(m_cmds.Take(), (Cmds{"GET AUDIO_IN", "GET AUDIO_OUT", "GET CALL 12 PARTNER_HANDLE",
                                   "GET CALL 12 TYPE", "GET CALL 12 STATUS"}));
    EXPECT_EQ(g_pRingingCall, Call(12));
    Say("CALL 12 PARTNER_HANDLE alice");
    Say("CALL 12 TYPE INCOMING_P2P");
    Say("USER alice BUDDYSTATUS 3");
    m_cmds.Take();

    // The answer delay for ONLINE passes (5 s + 10 ms); then the three answer commands.
    Wait(5009);
    EXPECT_TRUE(m_cmds.Take().empty());
    Wait(1);
    EXPECT_EQ(m_cmds.Take(), AnswerCmds(12));
    EXPECT_EQ(g_pCurrentCall, Call(12));
    EXPECT_EQ(g_pRingingCall, nullptr);

    // In progress: the message is created, the stages start, the chat greeting goes out.
    Say("CALL 12 STATUS INPROGRESS");
    EXPECT_EQ(m_cmds.Take(), (Cmds{"MESSAGE alice Please leave a message"}));
    EXPECT_TRUE(m_stages.Running());
    EXPECT_EQ(m_stages.m_strRecordPath, UserFolder("me") + "lastvoicemsg.wav");
    ASSERT_EQ(gMessagesDB.GetMessages().size(), 1u);
    const int64_t tStart = m_clock.WallNow().sec;

    // Greeting (5 s) and 30 s of recording; then alice hangs up.
    Wait(35000);
    Say("CALL 12 STATUS FINISHED");
    EXPECT_EQ(m_cmds.Take(), RestoreCmds());
    EXPECT_FALSE(m_stages.Running());
    CCall* pCall = Call(12);
    ASSERT_NE(pCall, nullptr) << "an answered call stays for its message";
    EXPECT_EQ(pCall->m_nDuration, 30);
    EXPECT_EQ(pCall->m_nAnswerState, ANSWER_DONE);
    EXPECT_EQ(g_pCurrentCall, nullptr);
    const std::string name = FormatVoiceMessageFileName("alice", tStart, 30, false);
    EXPECT_EQ(FilesIn(UserFolder("me")), Cmds{name});
    EXPECT_EQ(name.substr(name.size() - 6), ".n.wav");
    EXPECT_EQ(gMessagesDB.GetMessages().front()->GetFileSize(), 44 + 3200);
    EXPECT_TRUE(g_bNewVoiceMessage);
    EXPECT_EQ(m_wnd.Count(WM_SHOW_SHEET, SHEET_PAGE_MESSAGES), 1);
    EXPECT_TRUE(m_log.Has("New recorded voice message"));
    EXPECT_TRUE(m_log.Has("Restore Main Message dialog window"));
}

TEST_F(HandlerTest, TheMaximumRecordingTimeHangsUpAndTheLogShowsTheFourSteps) {
    RestoreWin = 0;
    MaxRecordingDurationSec = 60;
    LogIn();
    Answered(12);
    m_cmds.Take();
    // Skype repeats INPROGRESS (an answer to a status query): the limit must survive it.
    Wait(20000);
    Say("CALL 12 STATUS INPROGRESS");
    Wait(39999);
    EXPECT_TRUE(m_cmds.Take().empty());
    Wait(1);
    EXPECT_EQ(m_cmds.Take(), (Cmds{"SET CALL 12 STATUS FINISHED  "}));
    EXPECT_EQ(Call(12)->m_nAnswerState, ANSWER_RELEASING);
    EXPECT_EQ(Call(12)->m_nDuration, 55) << "60 s less the 5 s greeting";
    Say("CALL 12 STATUS FINISHED");
    EXPECT_EQ(m_cmds.Take(), RestoreCmds());
    EXPECT_EQ(m_wnd.Count(WM_SHOW_SHEET, SHEET_PAGE_MESSAGES), 0) << "RestoreWin is off";

    const int n1 = m_log.IndexOf("--> (1/4) [CallId: 12] Setting Answer timer for 5010 MSec");
    const int n2 =
        m_log.IndexOf("--> (2/4) [CallId: 12] Timer Event - Can we answer this call?", n1);
    const int n3 =
        m_log.IndexOf("--> (3/4) [CallId: 12] Call in progress, setting timer for 60 sec", n2);
    const int n4 = m_log.IndexOf("--> (4/4) [CallId: 12] Timer Event - Releasing call ", n3);
    EXPECT_GE(n1, 0);
    EXPECT_GT(n2, n1);
    EXPECT_GT(n3, n2);
    EXPECT_GT(n4, n3);
}

TEST_F(HandlerTest, NoLimitWhenTheMaximumIsZero) {
    MaxRecordingDurationSec = 0;
    LogIn();
    Answered(12);
    EXPECT_TRUE(m_log.Has("--> (3/4) [CallId: 12] Call in progress, no timeout is set"));
    EXPECT_EQ(m_hndl.GetTimerCall(), nullptr);
    Wait(3600 * 1000);
    EXPECT_EQ(Call(12)->m_nAnswerState, ANSWER_RECORDING);
}

TEST_F(HandlerTest, TheDecisionWaitsInStepsOf300msForThePartner) {
    LogIn();
    Say("CALL 12 STATUS RINGING");
    Say("CALL 12 TYPE INCOMING_P2P");
    m_cmds.Take();
    Wait(5010);
    EXPECT_TRUE(
        m_log.Has("--> [CallId: 12] Didn't finish collecting all needed information to decide - "
                  "Reschedule Timer Event (300ms)"));
    Wait(900);
    EXPECT_TRUE(m_cmds.Take().empty());
    EXPECT_EQ(m_hndl.GetTimerCall(), Call(12));
    Say("CALL 12 PARTNER_HANDLE alice");
    m_cmds.Take();
    Wait(299);
    EXPECT_TRUE(m_cmds.Take().empty());
    Wait(1);
    EXPECT_EQ(m_cmds.Take(), AnswerCmds(12));
}

TEST_F(HandlerTest, TwoCallsRingingAtOnceTheSecondTakesTheTimer) {
    LogIn();
    Rings(12);
    Wait(2000);
    Rings(13, "bob");
    EXPECT_EQ(g_pRingingCall, Call(12)) << "Force Answer stays with the first";
    EXPECT_EQ(m_hndl.GetTimerCall(), Call(13));
    m_cmds.Take();
    Wait(5010);
    EXPECT_EQ(m_cmds.Take(), AnswerCmds(13));
    EXPECT_EQ(Call(12)->m_nAnswerState, ANSWER_TIMER_SET);
    Wait(60000);
    EXPECT_EQ(Call(12)->m_nAnswerState, ANSWER_TIMER_SET) << "never decided unless forced";
}

TEST_F(HandlerTest, ACallRingingWhileAnotherIsCurrentOnlyAsksAboutTheCurrentOne) {
    LogIn();
    Answered(12);
    m_cmds.Take();
    Say("CALL 14 STATUS RINGING");
    EXPECT_TRUE(Contains(m_cmds.Take(), "GET CALL 12 STATUS"));
    EXPECT_EQ(Call(14)->m_nAnswerState, ANSWER_IDLE);
    EXPECT_EQ(m_hndl.GetTimerCall(), Call(12)) << "the recording limit keeps the timer";
    EXPECT_TRUE(m_log.Has(
        StrFormat("--> [CallId: 14] Another Call (12) in progress. Do nothing with this one. "
                  "(g_pCurrentCall=%p)",
                  static_cast<void*>(Call(12)))));

    // The user takes the second call in Skype: the first is held and released; the second's
    // own INPROGRESS does not cancel the first call's timer.
    Say("CALL 14 STATUS INPROGRESS");
    EXPECT_EQ(m_hndl.GetTimerCall(), Call(12));
}

TEST_F(HandlerTest, AHoldReleasesTheAnsweredCall) {
    LogIn();
    Answered(12);
    m_cmds.Take();
    Wait(15000);
    Say("CALL 12 STATUS LOCALHOLD");
    EXPECT_TRUE(
        m_log.Has("--> (4/4) [CallId: 12] Call Hold Event [Local or Remote] - Releasing call "));
    EXPECT_EQ(m_cmds.Take(), (Cmds{"SET CALL 12 STATUS FINISHED  "}));
    EXPECT_FALSE(m_stages.Running());
    EXPECT_EQ(Call(12)->m_nDuration, 10);
    Say("CALL 12 STATUS FINISHED");
    EXPECT_EQ(m_cmds.Take(), RestoreCmds());
    EXPECT_EQ(FilesIn(UserFolder("me")).size(), 1u);
}

TEST_F(HandlerTest, TakeControlDuringTheGreetingKeepsTheCallAndRecordsNothing) {
    LogIn();
    Answered(12);
    m_cmds.Take();
    Wait(2000);
    ASSERT_TRUE(m_hndl.PostTakeControl());
    Drain();
    EXPECT_TRUE(m_log.Has(
        "--> (4/4) [CallId: 12] User Takes Control over Call Event - Stopping Recording only"));
    EXPECT_EQ(m_cmds.Take(), RestoreCmds());
    EXPECT_EQ(Call(12)->m_nDuration, 0);
    EXPECT_EQ(Call(12)->m_nAnswerState, ANSWER_DONE);
    EXPECT_EQ(g_pCurrentCall, Call(12)) << "the call goes on, in the user's hands";
    EXPECT_EQ(m_hndl.GetTimerCall(), nullptr);
    EXPECT_TRUE(FilesIn(UserFolder("me")).empty());
    EXPECT_EQ(gMessagesDB.GetMessages().size(), 1u) << "listed without a file";
    EXPECT_TRUE(g_bNewVoiceMessage);

    Wait(200000);  // no recording limit runs on
    Say("CALL 12 STATUS FINISHED");
    EXPECT_TRUE(m_cmds.Take().empty()) << "Skype's devices went back once";
    EXPECT_EQ(g_pCurrentCall, nullptr);
}

TEST_F(HandlerTest, ForceAnswerAnswersARingingCallNow) {
    SecB4AnsweringOnline = 60;
    LogIn();
    Rings(12);
    m_cmds.Take();
    Wait(1000);
    m_hndl.PostForceAnswer();
    Drain();
    EXPECT_TRUE(m_log.Has(
        "--> (2/4) [CallId: 12] User Forces Answering of Call Event - Make it look as timer "
        "expired"));
    EXPECT_EQ(m_cmds.Take(), AnswerCmds(12));
    // Again, with a call current: nothing.
    m_hndl.PostForceAnswer();
    Drain();
    EXPECT_TRUE(m_cmds.Take().empty());
}

TEST_F(HandlerTest, ForceAnswerStillAppliesTheRules) {
    SecB4AnsweringOnline = 60;
    LogIn();
    Say("CALL 12 STATUS RINGING");
    Say("CALL 12 PARTNER_HANDLE alice");
    Say("CALL 12 TYPE OUTGOING_P2P");
    m_cmds.Take();
    m_hndl.PostForceAnswer();
    Drain();
    EXPECT_TRUE(m_log.Has("--> [CallId: 12] AnswerAllowed - NOT !! Call Type not INCOMING [3]"));
    EXPECT_TRUE(m_cmds.Take().empty());
}

TEST_F(HandlerTest, Error24FinishesTheCurrentCall) {
    LogIn();
    Answered(12);
    Wait(10000);
    m_cmds.Take();
    Say("ERROR 23 something else");
    EXPECT_EQ(g_pCurrentCall, Call(12));
    Say("ERROR 24 Cannot hangup inactive call");
    EXPECT_EQ(m_cmds.Take(), RestoreCmds());
    EXPECT_EQ(g_pCurrentCall, nullptr);
    EXPECT_EQ(Call(12)->m_nDuration, 5);
    EXPECT_EQ(FilesIn(UserFolder("me")).size(), 1u);
}

TEST_F(HandlerTest, ACallThatEndsBeforeItWentInProgressGivesTheDevicesBack) {
    struct {
        const char* end;
        const char* then;  // Skype's next word on the hang-up, if any
    } cases[] = {{"MISSED", nullptr},
                 {"FINISHED", nullptr},
                 {"REMOTEHOLD", "FINISHED"},
                 {"REFUSED", nullptr}};
    int id = 30;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.end);
        LogIn();
        Rings(++id);
        Wait(5010);
        ASSERT_EQ(m_cmds.Take().back(), AnswerCmds(id).back());
        Say(StrFormat("CALL %d STATUS %s", id, c.end));
        if (c.then != nullptr)
            Say(StrFormat("CALL %d STATUS %s", id, c.then));
        Cmds cmds = m_cmds.Take();
        EXPECT_TRUE(Contains(cmds, "SET AUDIO_IN Mic")) << testing::PrintToString(cmds);
        EXPECT_TRUE(Contains(cmds, "SET AUDIO_OUT Speakers"));
        EXPECT_EQ(g_pCurrentCall, nullptr) << "the next call can be answered";
        EXPECT_EQ(Call(id), nullptr) << "no message, so the call is gone";
        EXPECT_FALSE(g_bNewVoiceMessage);
        EXPECT_EQ(m_stages.m_nStarts, 0);
        // Skype's answer to the hang-up changes nothing.
        Say("ERROR 24 Cannot hangup inactive call");
        EXPECT_TRUE(m_cmds.Take().empty());
    }
    // And the next call is answered as usual.
    Rings(50);
    Wait(5010);
    EXPECT_EQ(m_cmds.Take().back(), AnswerCmds(50).back());
}

TEST_F(HandlerTest, UnansweredCallsGoAtTheirEndAnsweredOnesStay) {
    LogIn();
    Say("CALL 9 STATUS ROUTING");
    EXPECT_TRUE(m_log.Has("Unrecognized CallId[9] being discarded"));
    EXPECT_EQ(Call(9), nullptr);
    EXPECT_TRUE(m_cmds.Take().empty());

    Rings(10);
    Say("CALL 10 STATUS MISSED");
    EXPECT_EQ(Call(10), nullptr);
    EXPECT_TRUE(m_log.Has("Deleting pCall: CallID: 10, Status: 10, "));
    EXPECT_EQ(g_pRingingCall, nullptr);
    EXPECT_EQ(m_hndl.GetTimerCall(), nullptr) << "the deleted call's timer went with it";

    Answered(11);
    Say("CALL 11 STATUS FINISHED");
    EXPECT_NE(Call(11), nullptr);
}

TEST_F(HandlerTest, TelephoneCallersGetNoChatGreeting) {
    LogIn();
    Say("CALL 12 STATUS RINGING");
    Say("CALL 12 PARTNER_HANDLE +4930123456");
    Say("CALL 12 TYPE INCOMING_PSTN");
    Wait(5010);
    m_cmds.Take();
    Say("CALL 12 STATUS INPROGRESS");
    EXPECT_TRUE(m_cmds.Take().empty());
    EXPECT_TRUE(m_stages.Running());
}

TEST_F(HandlerTest, NonBuddiesGetTheirOwnGreetingAndLimit) {
    UseNonAuthorizedCallerSettings = 1;
    DisableAnswerOfNonAuthCaller = 0;
    GreetingTextMsgAllowedForNonAuth = 1;
    GreetingTextMsgForNonAuth = "Who are you?";
    MaxRecordingDurationForNonAuthSec = 20;
    LogIn();
    Say("CALL 12 STATUS RINGING");
    Say("CALL 12 PARTNER_HANDLE stranger");
    Say("CALL 12 TYPE INCOMING_P2P");
    Wait(5010);
    m_cmds.Take();
    Say("CALL 12 STATUS INPROGRESS");
    EXPECT_EQ(m_cmds.Take(), (Cmds{"MESSAGE stranger Who are you?"}));
    Wait(20000);
    EXPECT_EQ(m_cmds.Take(), (Cmds{"SET CALL 12 STATUS FINISHED  "}));
}

TEST_F(HandlerTest, ConnectionStates) {
    State(STL_CONNECTED);
    EXPECT_EQ(m_cmds.Take(), (Cmds{std::string("NAME ") + g_szVokraAppName, "PROTOCOL 2",
                                   "GET USERSTATUS", "GET CURRENTUSERHANDLE"}));
    State(STL_CONNECTED);
    EXPECT_EQ(m_cmds.Take(), (Cmds{std::string("NAME ") + g_szVokraAppName, "PROTOCOL 2"}));
    EXPECT_EQ(m_wnd.Count(WM_SHOW_BALLOON, IDS_BALLOON_CONNECTED), 0);

    State(STL_REFUSED);
    EXPECT_EQ(m_wnd.Count(WM_SHOW_BALLOON, IDS_BALLOON_CONNECTION_REFUSED), 1);
    State(STL_API_NOT_AVAILABLE);
    EXPECT_EQ(m_wnd.Count(WM_SHOW_BALLOON, IDS_BALLOON_API_NOT_FOUND), 1);
    State(STL_DISCONNECTED);
    State(STL_CONNECTED);
    EXPECT_EQ(m_cmds.Take().size(), 4u) << "asks again after a disconnection";
    State(STL_CONNECTED);
    EXPECT_EQ(m_wnd.Count(WM_SHOW_BALLOON, IDS_BALLOON_CONNECTED), 2)
        << "shown on every later connection";
    for (const CPosted& p : m_wnd.m_vecPosted) {
        if (p.message == WM_SHOW_BALLOON) {
            EXPECT_EQ(p.lParam, p.wParam == IDS_BALLOON_CONNECTED ? 10 : -1);
        }
    }
    EXPECT_EQ(m_wnd.Count(WM_UPDATE_TRAY_ICON, 0), 7) << "every state change updates the icon";
    State(42);
    EXPECT_TRUE(m_log.Has("!!! check it out (42)"));
}

TEST_F(HandlerTest, TheLoggedInUser) {
    State(STL_CONNECTED);
    m_cmds.Take();
    Say("USERSTATUS AWAY");
    EXPECT_EQ(m_cmds.Take(), Cmds{"GET CURRENTUSERHANDLE"}) << "no user name known yet";
    EXPECT_EQ(gCurrentUser.m_nOnlineStatus, USERSTATUS_AWAY);

    Say("CURRENTUSERHANDLE me");
    Cmds cmds = m_cmds.Take();
    EXPECT_EQ(cmds, (Cmds{"GET USER me FULLNAME", "GET USER me DISPLAYNAME",
                          "GET USER me ONLINESTATUS", "GET USER me BUDDYSTATUS", "GET USERSTATUS",
                          "GET CONNSTATUS", "GET AUDIO_IN", "GET AUDIO_OUT"}));
    CUser* pUser = nullptr;
    ASSERT_TRUE(gUsersDB.Get("me", pUser));
    EXPECT_EQ(pUser, &gCurrentUser);
    EXPECT_EQ(gMessagesDB.m_strUserName, "me");
    Say("USER me FULLNAME Me Myself");
    EXPECT_TRUE(m_log.Has("Current Username Fullname: Me Myself"));

    // The same handle again: only the devices are asked for.
    Say("CURRENTUSERHANDLE me");
    EXPECT_EQ(m_cmds.Take(), (Cmds{"GET AUDIO_IN", "GET AUDIO_OUT"}));
    EXPECT_EQ(
        m_log.IndexOf("Current User Handle: me", m_log.IndexOf("Current User Handle: me") + 1) >= 0,
        true);

    // The cable devices are never taken for Skype's own.
    Say("AUDIO_IN Mic");
    Say("AUDIO_IN Vokra Virtual Cable 1 in");
    Say("AUDIO_OUT Vokra Virtual Cable 2 out");
    EXPECT_EQ(m_hndl.GetDefaultAudioIn(), "Mic");
    EXPECT_EQ(m_hndl.GetDefaultAudioOut(), "");
}

TEST_F(HandlerTest, LoggingOutOrAnotherUserEmptiesEverything) {
    for (const char* how : {"USERSTATUS LOGGEDOUT", "CURRENTUSERHANDLE someoneelse"}) {
        SCOPED_TRACE(how);
        LogIn();
        Say("USER bob FULLNAME Bob");
        Answered(12);
        Wait(15000);
        Rings(13, "carol");
        m_cmds.Take();
        ASSERT_EQ(gCallsDB.GetCount(), 2u);
        Say(how);
        EXPECT_TRUE(m_log.Has("Kill all associated with the current username"));
        // The recording in progress was filed and Skype got its devices back.
        Cmds cmds = m_cmds.Take();
        EXPECT_TRUE(Contains(cmds, "SET AUDIO_IN Mic"));
        EXPECT_EQ(FilesIn(UserFolder("me")).size(), 1u);
        EXPECT_FALSE(m_stages.Running());
        EXPECT_EQ(g_pCurrentCall, nullptr);
        EXPECT_EQ(g_pRingingCall, nullptr);
        EXPECT_EQ(m_hndl.GetTimerCall(), nullptr);
        EXPECT_FALSE(m_wnd.IsTimerSet(MAIN_WND_TIMER_CALL));
        CUser* p = nullptr;
        EXPECT_TRUE(gUsersDB.Get("bob", p)) << "other users stay";
        EXPECT_FALSE(gUsersDB.Get("me", p));
        EXPECT_EQ(m_wnd.Count(WM_SHOW_SHEET, SHEET_PAGE_MESSAGES), 0);
        if (std::string(how).find("someoneelse") != std::string::npos) {
            EXPECT_EQ(gCurrentUser.m_strUserName, "someoneelse");
            EXPECT_EQ(gCallsDB.GetCount(), 0u);
            EXPECT_TRUE(gMessagesDB.GetMessages().empty()) << "someoneelse has none";
        } else {
            EXPECT_EQ(gCurrentUser.m_strUserName, "");
            EXPECT_EQ(gCallsDB.GetCount(), 0u);
            EXPECT_TRUE(gMessagesDB.GetMessages().empty());
        }
        // Skype's late words about the old calls are dropped.
        Say("CALL 12 STATUS FINISHED");
        Say("CALL 13 STATUS MISSED");
        EXPECT_TRUE(m_cmds.Take().empty());
        Wait(200000);
        ResetCallsDataForTests();
        std::filesystem::remove_all(UserFolder("me"));
    }
}

TEST_F(HandlerTest, ADisconnectionDropsTheUserAndAsksAgainOnReconnect) {
    LogIn();
    Rings(12);
    m_cmds.Take();
    State(STL_DISCONNECTED);
    EXPECT_EQ(gCurrentUser.m_strUserName, "");
    EXPECT_EQ(gCallsDB.GetCount(), 0u);
    Wait(10000);
    EXPECT_TRUE(m_cmds.Take().empty()) << "the dropped call's answer timer is gone";
}

TEST_F(HandlerTest, UsersListSkipsTelephoneNumbersAndTrimsNames) {
    Say("USERS alice  , bob,+4930123, ");
    CUser* p = nullptr;
    EXPECT_TRUE(gUsersDB.Get("alice", p));
    EXPECT_TRUE(gUsersDB.Get("bob", p));
    EXPECT_FALSE(gUsersDB.Get("+4930123", p));
    EXPECT_EQ(gUsersDB.GetCount(), 2u);
    EXPECT_EQ(m_cmds.Take().size(), 8u);
    Say("USERS alice");
    EXPECT_TRUE(m_cmds.Take().empty()) << "known users are not asked about again";
}

TEST_F(HandlerTest, UsersListSkipsTelephoneNumbersByTheCallersRule) {
    // "00" begins a telephone number as much as "+" does, in a list as for a caller.
    Say("USERS 0049301234, +4930123, carol");
    CUser* p = nullptr;
    EXPECT_FALSE(gUsersDB.Get("0049301234", p));
    EXPECT_TRUE(gUsersDB.Get("carol", p));
    EXPECT_EQ(gUsersDB.GetCount(), 1u);
}

TEST_F(HandlerTest, UserNotifications) {
    Say("USER  FULLNAME Nobody");
    EXPECT_TRUE(m_log.Has("Skype2DeviceMsgHandleUser: Got Empty username in S2D cmd"));
    Say("USER zoe ONLINESTATUS DND");
    Say("USER zoe DISPLAYNAME Zo");
    Say("USER zoe BUDDYSTATUS 2");
    Say("USER zoe LASTONLINETIMESTAMP 1136279107");
    CUser* p = nullptr;
    ASSERT_TRUE(gUsersDB.Get("zoe", p));
    EXPECT_EQ(p->m_nOnlineStatus, USERSTATUS_DND);
    EXPECT_EQ(p->m_strDisplayName, "Zo");
    EXPECT_TRUE(p->m_bIsBuddy);
    EXPECT_EQ(p->m_nLastOnlineTimestamp, 1136279107);
    EXPECT_EQ(m_wnd.Count(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES), 1) << "display name changed";
}

TEST_F(HandlerTest, SkypeCannotReachTheCallsOfSavedMessages) {
    std::filesystem::create_directories(UserFolder("me"));
    WriteWav(UserFolder("me") + "alice.2005.11.30.16.25.18.42.n.wav", 10);
    LogIn();
    ASSERT_NE(Call(-2), nullptr);
    Say("CALL -2 STATUS FINISHED");
    Say("CALL -2 STATUS RINGING");
    EXPECT_TRUE(m_log.Has("Unrecognized CallId[-2] being discarded"));
    ASSERT_NE(Call(-2), nullptr);
    EXPECT_EQ(Call(-2)->m_pMessage, gMessagesDB.GetMessages().front());
    EXPECT_EQ(gCallsDB.GetCount(), 1u);
}

TEST_F(HandlerTest, ACallerHandleWithPathPartsIsFiledInsideTheFolder) {
    LogIn();
    int id = 60;
    for (const char* caller : {"../../../../outside", "..", "a/b"}) {
        Answered(++id, caller);
        Wait(10000);
        Say(StrFormat("CALL %d STATUS FINISHED", id));
    }
    for (const std::string& f : AllFiles())
        EXPECT_EQ(f.rfind("msgs/My Received Voice Messages/me/", 0), 0u) << f;
    EXPECT_EQ(FilesIn(UserFolder("me")).size(), 3u);
}

TEST_F(HandlerTest, AnotherCallThatEndsLeavesTheCurrentCallInCharge) {
    LogIn();
    Answered(12);
    Say("CALL 14 STATUS RINGING");
    Say("CALL 14 STATUS FINISHED");
    EXPECT_EQ(g_pCurrentCall, Call(12));
    m_cmds.Take();
    // A third call is not answered over the recording, and the recording keeps its limit.
    Rings(15, "bob");
    Wait(10000);
    EXPECT_FALSE(Contains(m_cmds.Take(), AnswerCmds(15).back()));
    Wait(110000);
    EXPECT_TRUE(Contains(m_cmds.Take(), "SET CALL 12 STATUS FINISHED  "));
}

TEST_F(HandlerTest, DeletingTheMessageOfACallStillGoingOnKeepsTheCallUntilItEnds) {
    struct {
        const char* what;
        int id;
        bool bTakeControl;  // else the call is being hung up
    } cases[] = {{"taken over", 20, true}, {"being hung up", 30, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogIn();
        Answered(c.id);
        Wait(15000);
        if (c.bTakeControl) {
            m_hndl.PostTakeControl();
            Drain();
        } else {
            Say(StrFormat("CALL %d STATUS LOCALHOLD", c.id));
        }
        m_cmds.Take();
        {
            // The user deletes the message on the Messages page meanwhile.
            CCallsDataLock lock;
            CMessage* pMsg = gMessagesDB.GetMessages().front();
            ASSERT_GE(pMsg->m_pCall->m_nDuration, 0) << "the page offers it for deletion";
            pMsg->DeleteVoiceMessageFile();
            gMessagesDB.del(pMsg);
        }
        ASSERT_NE(Call(c.id), nullptr);
        EXPECT_EQ(g_pCurrentCall, Call(c.id));
        Rings(c.id + 1, "bob");
        Wait(10000);
        EXPECT_FALSE(Contains(m_cmds.Take(), AnswerCmds(c.id + 1).back()))
            << "no answer over a call still going on";
        Say(StrFormat("CALL %d STATUS FINISHED", c.id));
        if (!c.bTakeControl) {
            EXPECT_EQ(m_cmds.Take(), RestoreCmds());
        }
        EXPECT_TRUE(m_cmds.Take().empty()) << "Skype's devices went back once";
        EXPECT_EQ(Call(c.id), nullptr) << "it goes with its end";
        EXPECT_EQ(g_pCurrentCall, nullptr);
        Say(StrFormat("CALL %d STATUS MISSED", c.id + 1));
    }
}
