// The call record, the calls database and the answering decision.
#include <gtest/gtest.h>

#include "CallsTestSupport.h"
#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/User.h"
#include "calls/UserCollection.h"
#include "messages/Message.h"
#include "messages/MessageCollection.h"
#include "skype/SkypeAccessAPI.h"

using namespace callstest;

namespace {

// The call timer without a window: remembers who holds it.
class CTimerDouble : public ICallTimer {
public:
    bool SetCallTimer(CCall* pCall, int ms) override {
        if (m_pHolder != nullptr)
            return false;
        m_pHolder = pCall;
        m_nMs = ms;
        ++m_nSets;
        return true;
    }
    bool KillCallTimer(CCall* pCall) override {
        const bool b = pCall != nullptr && m_pHolder == pCall;
        m_pHolder = nullptr;
        return b;
    }
    void ReleaseCallTimer(CCall* pCall) override {
        if (m_pHolder == pCall)
            m_pHolder = nullptr;
    }
    std::string GetDefaultAudioIn() const override { return "Mic"; }
    std::string GetDefaultAudioOut() const override { return "Speakers"; }
    CCall* m_pHolder = nullptr;
    int m_nMs = 0;
    int m_nSets = 0;
};

}  // namespace

class CallsTest : public CCallsLockedTest {
protected:
    CCall* NewLiveCall(int id) {
        auto pNewCall = std::make_unique<CCall>();
        CCall* pCall = pNewCall.get();
        pCall->init(id, &m_timer);
        gCallsDB.Add(std::move(pNewCall));
        return pCall;
    }
    CTimerDouble m_timer;
};

TEST_F(CallsTest, ALiveCallAsksForPartnerTypeAndStatusARebuiltOneForNothing) {
    CCall* pCall = NewLiveCall(12);
    EXPECT_EQ(m_cmds.Take(), (std::vector<std::string>{"GET CALL 12 PARTNER_HANDLE",
                                                       "GET CALL 12 TYPE", "GET CALL 12 STATUS"}));
    EXPECT_FALSE(pCall->IsInfoComplete());

    CCall rebuilt;
    rebuilt.init(-2, gUsersDB.GetOrCreate("alice"), 1136279107, 42);
    m_cmds.Take();
    rebuilt.init(-2, rebuilt.m_pUser, 1136279107, 42);
    EXPECT_TRUE(m_cmds.Take().empty());
    EXPECT_FALSE(rebuilt.IsInfoComplete());
    EXPECT_EQ(rebuilt.m_nDuration, 42);
    EXPECT_EQ(rebuilt.m_tStart, 1136279107);
}

TEST_F(CallsTest, OnlyTypeAndStatusRunTheStateMachine) {
    gCurrentUser.init("me");
    gCurrentUser.SetUserStatus(USERSTATUS_ONLINE);
    CCall* pCall = NewLiveCall(12);
    pCall->m_nStatus = CallStatus(CALLSTATUS_RINGING);  // as if known, without running it
    pCall->set(gUsersDB.GetOrCreate("alice"));
    EXPECT_EQ(pCall->m_nKnown, 1);
    EXPECT_EQ(pCall->m_nAnswerState, ANSWER_IDLE);
    pCall->set(CallType(CALLTYPE_INCOMING_P2P));
    EXPECT_EQ(pCall->m_nKnown, 3);
    EXPECT_EQ(pCall->m_nAnswerState, ANSWER_TIMER_SET) << "type ran the machine on RINGING";
    pCall->set(CallStatus(CALLSTATUS_RINGING));
    EXPECT_EQ(pCall->m_nKnown, 7);
    EXPECT_TRUE(pCall->IsInfoComplete());
    EXPECT_EQ(m_timer.m_nSets, 1) << "state 1 is not armed twice";
}

TEST_F(CallsTest, CollectionReplacesAndDeletes) {
    CCall* pFirst = NewLiveCall(7);
    CCall* pSecond = NewLiveCall(7);
    CCall* pGot = nullptr;
    ASSERT_TRUE(gCallsDB.Get(7, pGot));
    EXPECT_EQ(pGot, pSecond);
    EXPECT_EQ(pFirst->m_nCallId, 7) << "the replaced call stays valid until RemoveAll";
    gCallsDB.Del(99);  // absent: nothing happens
    gCallsDB.Del(7);
    EXPECT_FALSE(gCallsDB.Get(7, pGot));
    EXPECT_EQ(gCallsDB.GetCount(), 0u);
}

TEST_F(CallsTest, ADeletedCallLeavesNoPointerBehind) {
    CCall* pCall = NewLiveCall(5);
    g_pCurrentCall = pCall;
    g_pRingingCall = pCall;
    m_timer.SetCallTimer(pCall, 1000);
    gMessagesDB.init("me");
    auto pNewMsg = std::make_unique<CMessage>();
    CMessage* pMsg = pNewMsg.get();
    pMsg->m_pCall = pCall;
    pCall->m_pMessage = pMsg;
    gMessagesDB.add(std::move(pNewMsg));

    gCallsDB.Del(5);
    EXPECT_EQ(g_pCurrentCall, nullptr);
    EXPECT_EQ(g_pRingingCall, nullptr);
    EXPECT_EQ(m_timer.m_pHolder, nullptr);
    EXPECT_EQ(pMsg->m_pCall, nullptr);
    EXPECT_EQ(pMsg->GetFileName(), "");
    EXPECT_TRUE(pMsg->DeleteVoiceMessageFile());
    gMessagesDB.del(pMsg);  // a message without its call goes quietly

    // Another call's timer is not touched by a call that goes away.
    CCall* pOther = NewLiveCall(6);
    CCall* pHolder = NewLiveCall(8);
    m_timer.SetCallTimer(pHolder, 1000);
    gCallsDB.Del(6);
    EXPECT_EQ(m_timer.m_pHolder, pHolder);
    (void)pOther;
}

TEST_F(CallsTest, AnswerAllowedRulesInOrder) {
    struct {
        const char* what;
        int answerAllowed, limited, limitMiB, type, useNonAuth, hasCaller, disableNonAuth, buddy,
            status, online, away;
        const char* reason;  // nullptr: allowed
    } cases[] = {
        {"answering off", 0, 0, 0, CALLTYPE_INCOMING_P2P, 0, 1, 0, 0, USERSTATUS_ONLINE, 1, 1,
         " Global Answering OFF on INCOMING call"},
        {"outgoing PSTN", 1, 0, 0, CALLTYPE_OUTGOING_PSTN, 0, 1, 0, 0, USERSTATUS_ONLINE, 1, 1,
         " Call Type not INCOMING [1]"},
        {"outgoing P2P", 1, 0, 0, CALLTYPE_OUTGOING_P2P, 0, 1, 0, 0, USERSTATUS_ONLINE, 1, 1,
         " Call Type not INCOMING [3]"},
        {"incoming PSTN", 1, 0, 0, CALLTYPE_INCOMING_PSTN, 0, 1, 0, 0, USERSTATUS_ONLINE, 1, 1,
         nullptr},
        {"caller unknown", 1, 0, 0, CALLTYPE_INCOMING_P2P, 1, 0, 1, 0, USERSTATUS_ONLINE, 1, 1,
         " Waiting for Caller authorization information"},
        {"not a buddy", 1, 0, 0, CALLTYPE_INCOMING_P2P, 1, 1, 1, 1, USERSTATUS_ONLINE, 1, 1,
         " Caller not on your Buddy List"},
        {"buddy", 1, 0, 0, CALLTYPE_INCOMING_P2P, 1, 1, 1, 3, USERSTATUS_ONLINE, 1, 1, nullptr},
        {"non-buddy allowed", 1, 0, 0, CALLTYPE_INCOMING_P2P, 1, 1, 0, 0, USERSTATUS_ONLINE, 1, 1,
         nullptr},
        {"no caller needed", 1, 0, 0, CALLTYPE_INCOMING_P2P, 0, 0, 1, 0, USERSTATUS_ONLINE, 1, 1,
         nullptr},
        {"away, off", 1, 0, 0, CALLTYPE_INCOMING_P2P, 0, 1, 0, 0, USERSTATUS_AWAY, 1, 0,
         " Current UserStatus [4]"},
        {"dnd, on", 1, 0, 0, CALLTYPE_INCOMING_P2P, 0, 1, 0, 0, USERSTATUS_DND, 0, 1, nullptr},
        {"skypeme, off", 1, 0, 0, CALLTYPE_INCOMING_P2P, 0, 1, 0, 0, USERSTATUS_SKYPEME, 0, 1,
         " Current UserStatus [3]"},
        {"offline", 1, 0, 0, CALLTYPE_INCOMING_P2P, 0, 1, 0, 0, USERSTATUS_OFFLINE, 1, 1,
         " Current UserStatus [1]"},
        {"unrecognised", 1, 0, 0, CALLTYPE_INCOMING_P2P, 0, 1, 0, 0, USERSTATUS_COUNT, 1, 1,
         " Current UserStatus [10]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::AnswerAllowed = c.answerAllowed;
        IsRcvdMsgsFolderLimited = c.limited;
        RcvdMsgsFolderSize = c.limitMiB;
        UseNonAuthorizedCallerSettings = c.useNonAuth;
        DisableAnswerOfNonAuthCaller = c.disableNonAuth;
        AnswerAllowedOnline = c.online ? 7 : 0;
        AnswerAllowedAway = c.away ? 9 : 0;
        gCurrentUser.m_nOnlineStatus = c.status;
        CUser caller;
        caller.m_strUserName = "alice";
        caller.SetBuddyStatus(c.buddy);
        CCall call;
        call.m_nCallId = 12;
        call.m_nCallType = CallType(c.type);
        call.m_pUser = c.hasCaller ? &caller : nullptr;
        m_log.Clear();
        const int result = call.AnswerAllowed();
        if (c.reason == nullptr) {
            EXPECT_EQ(result,
                      c.status == USERSTATUS_ONLINE || c.status == USERSTATUS_SKYPEME ? 7 : 9);
            EXPECT_TRUE(m_log.Has("--> [CallId: 12] AnswerAllowed - YES"));
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(
                m_log.Has(std::string("--> [CallId: 12] AnswerAllowed - NOT !!") + c.reason))
                << testing::PrintToString(m_log.Lines());
        }
    }
}

TEST_F(CallsTest, FolderSizeLimitRefusesAtExactlyTheLimit) {
    gMessagesDB.init("me");
    gCurrentUser.m_nOnlineStatus = USERSTATUS_ONLINE;
    IsRcvdMsgsFolderLimited = 1;
    RcvdMsgsFolderSize = 10;
    auto pNewMsg = std::make_unique<CMessage>();
    CMessage* pMsg = pNewMsg.get();
    gMessagesDB.add(std::move(pNewMsg));
    CCall call;
    call.m_nCallId = 3;
    call.m_nCallType = CallType(CALLTYPE_INCOMING_P2P);

    pMsg->m_nFileSize = 10 * 1048576;
    EXPECT_EQ(call.AnswerAllowed(), 0);
    EXPECT_TRUE(
        m_log.Has("--> [CallId: 3] AnswerAllowed - NOT !! Messages Folder Size limit Exceeded "
                  "[10485760/10485760]"));
    pMsg->m_nFileSize = 10 * 1048576 - 1;
    EXPECT_NE(call.AnswerAllowed(), 0);

    // Limits beyond 4 GiB are not cut to 32 bits.
    RcvdMsgsFolderSize = 4096;
    EXPECT_NE(call.AnswerAllowed(), 0);
}

TEST_F(CallsTest, AnswerDelayFollowsTheUsersStatus) {
    SecB4AnsweringOnline = 5;
    SecB4AnsweringAway = 2;
    struct {
        int status, seconds;
    } cases[] = {{USERSTATUS_ONLINE, 5},     {USERSTATUS_SKYPEME, 5},  {USERSTATUS_AWAY, 2},
                 {USERSTATUS_NA, 2},         {USERSTATUS_DND, 2},      {USERSTATUS_INVISIBLE, 2},
                 {USERSTATUS_UNKNOWN, -1},   {USERSTATUS_OFFLINE, -1}, {USERSTATUS_SKYPEOUT, -1},
                 {USERSTATUS_LOGGEDOUT, -1}, {USERSTATUS_COUNT, -1}};
    for (const auto& c : cases) {
        gCurrentUser.m_nOnlineStatus = c.status;
        CCall* pCall = NewLiveCall(20 + c.status);
        EXPECT_EQ(pCall->GetSecondsBeforeAnswering(), c.seconds);
        m_timer.m_pHolder = nullptr;
        m_timer.m_nMs = 0;
        pCall->set(CallStatus(CALLSTATUS_RINGING));
        EXPECT_EQ(pCall->m_nAnswerState, ANSWER_TIMER_SET);
        // A status without a delay arms no timer at all (never a negative one).
        EXPECT_EQ(m_timer.m_nMs, c.seconds < 0 ? 0 : c.seconds * 1000 + 10) << c.status;
    }
}
