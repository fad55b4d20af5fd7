// The handler on its own thread while the user interface reads and changes users, calls and
// messages: every access on both sides goes through CCallsDataLock (ThreadSanitizer checks it).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "CallsTestSupport.h"
#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/SkypeMsgHndl.h"
#include "calls/User.h"
#include "calls/UserCollection.h"
#include "messages/MessageCollection.h"

using namespace callstest;

class HandlerThreadTest : public CCallsEnv {
protected:
    CCmdRecorder m_cmds;
    CStagesDouble m_stages;
};

TEST_F(HandlerThreadTest, TheUserInterfaceReadsAndActsWhileCallsComeAndGo) {
    constexpr int kCalls = 60;
    m_stages.m_uGreetingMs = 0;
    RestoreWin = 0;
    CSkypeMsgHndl hndl;
    ASSERT_TRUE(hndl.CreateThread());
    auto say = [&](const std::string& line) {
        ASSERT_TRUE(hndl.OnSkypeCmd(SkypeToDeviceCmd(line)));
    };

    // Skype's side, fed from a thread of its own as the transport would.
    std::thread skype([&] {
        say("CURRENTUSERHANDLE me");
        say("USERSTATUS ONLINE");
        say("AUDIO_IN Mic");
        say("USERS alice, bob, carol");
        for (int id = 100; id < 100 + kCalls; ++id) {
            say(StrFormat("CALL %d STATUS RINGING", id));
            say(StrFormat("CALL %d PARTNER_HANDLE %s", id, id % 2 ? "alice" : "bob"));
            say(StrFormat("USER %s DISPLAYNAME Name%d", id % 2 ? "alice" : "bob", id));
            say(StrFormat("CALL %d TYPE INCOMING_P2P", id));
            hndl.PostForceAnswer();
            say(StrFormat("CALL %d STATUS INPROGRESS", id));
            say(StrFormat("CALL %d STATUS FINISHED", id));
        }
    });

    // The user interface: lists everything, marks and deletes messages as they come.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int nDeleted = 0;
    size_t nSeenNames = 0;
    for (;;) {
        CCallsDataLock lock;
        for (const auto& [name, pUser] : gUsersDB.GetMap())
            nSeenNames += pUser->GetNameAndHandle().size();
        if (g_pCurrentCall != nullptr)
            nSeenNames += static_cast<size_t>(g_pCurrentCall->m_nAnswerState);
        nSeenNames += gCallsDB.GetCount() + gCurrentUser.GetName().size();
        CMessage* pDone = nullptr;
        for (CMessage* pMsg : gMessagesDB.GetMessages()) {
            if (pMsg->m_pCall != nullptr && pMsg->m_pCall->m_nDuration >= 0)
                pDone = pMsg;
        }
        if (pDone != nullptr) {
            pDone->SetHeard(true);
            EXPECT_TRUE(pDone->DeleteVoiceMessageFile());
            gMessagesDB.del(pDone);
            ++nDeleted;
        }
        if (nDeleted == kCalls || std::chrono::steady_clock::now() > deadline)
            break;
    }
    skype.join();
    EXPECT_EQ(nDeleted, kCalls);
    EXPECT_GT(nSeenNames, 0u);
    hndl.StopThread();
    CCallsDataLock lock;
    EXPECT_EQ(g_pCurrentCall, nullptr);
    EXPECT_EQ(gCallsDB.GetCount(), 0u);
    EXPECT_EQ(m_stages.m_nStarts, kCalls);
}
