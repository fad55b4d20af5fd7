// The substitute Skype client, talked to by a scripted program window on the same loop under a
// manual clock: the attach handshake, the replies to real command lines, scripted events and
// faults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestClock.h"
#include "platform/Desktop.h"
#include "platform/MsgLoop.h"
#include "sim/SkypeSim.h"
#include "skype/SkypeAccessAPI.h"
#include "skype/SkypeApi.h"

namespace {

using Lines = std::vector<std::string>;

// Plays the program: discovers, keeps the attach replies and every line it is sent.
class CClient : public CWindow {
public:
    std::vector<LPARAM> m_vecAttach;
    Lines m_vecLines;
    LRESULT m_nAnswer = 1;
    bool m_bInSend = false;
    int m_nLinesDuringSend = 0;

    bool Create(CMsgLoop& loop, const std::string& title) { return CreateWindowOn(loop, title); }
    void Discover() { Desktop().PostMessage(HWND_BROADCAST, m_uDiscover, GetSafeHwnd(), 0); }
    std::optional<LRESULT> Send(HWND hWndSim, const std::string& line) {
        m_bInSend = true;
        const auto r = Desktop().SendCopyData(hWndSim, GetSafeHwnd(), 0, line.c_str(),
                                              static_cast<uint32_t>(line.size() + 1));
        m_bInSend = false;
        return r;
    }
    Lines Take() {
        Lines v;
        v.swap(m_vecLines);
        return v;
    }
    LRESULT WindowProc(UINT message, WPARAM, LPARAM lParam) override {
        if (message == m_uAttach) {
            m_vecAttach.push_back(lParam);
        } else if (message == WM_COPYDATA) {
            std::string line;
            if (ReadSkypeCopyData(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), line))
                m_vecLines.push_back(line);
            else
                m_vecLines.push_back("<bad block>");
            m_nLinesDuringSend += m_bInSend;
            return m_nAnswer;
        }
        return 0;
    }

private:
    UINT m_uDiscover = RegisterWindowMessage(g_szSkypeControlAPIDiscover);
    UINT m_uAttach = RegisterWindowMessage(g_szSkypeControlAPIAttach);
};

class SimTest : public ::testing::Test {
protected:
    CTestClock clock;
    CScopedClock scoped{clock};
    CMsgLoop loop;
    CSkypeSim sim;
    CClient client;

    void SetUp() override {
        loop.Bind();
        ASSERT_TRUE(sim.Start(&loop));
        ASSERT_TRUE(client.Create(loop, "program"));
        sim.SetCurrentUser("me.myself", "Me Myself");
        sim.AddContact("alice", "Alice B. Smith", "Ally");
        sim.AddContact("bob", "Bob Jones");
        sim.AddContact("carol", "Carol King", "", USERSTATUS_OFFLINE, SIM_BUDDY_PENDING);
    }
    void TearDown() override { EXPECT_EQ(client.m_nLinesDuringSend, 0); }

    void Settle() { clock.Settle({&loop}); }
    void Run(uint64_t ms) { clock.RunFor(ms, {&loop}); }
    void Attach() {
        client.Discover();
        Settle();
        ASSERT_EQ(sim.AttachedClient(), client.GetSafeHwnd());
        client.m_vecAttach.clear();
    }
    // Sends a command and returns what came back at once.
    Lines Ask(const std::string& line) {
        EXPECT_EQ(client.Send(sim.GetHwnd(), line), std::optional<LRESULT>(1)) << line;
        Settle();
        return client.Take();
    }
};

TEST_F(SimTest, AttachRepliesFollowTheClientsSettings) {
    struct Case {
        const char* name;
        int mode;
        bool bAvailable;
        std::vector<LPARAM> expect;
    };
    const std::vector<Case> cases = {
        {"allowed", SIM_ATTACH_ALLOW, true, {0}},
        {"user asked", SIM_ATTACH_ASK_USER, true, {1}},
        {"refused", SIM_ATTACH_REFUSE, true, {2}},
        {"nobody logged in", SIM_ATTACH_ALLOW, false, {3}},
    };
    for (const Case& c : cases) {
        CSkypeSim other;
        ASSERT_TRUE(other.Start(&loop));
        sim.Stop();  // one client on the desktop at a time
        other.SetAttachMode(c.mode);
        other.SetApiAvailable(c.bAvailable);
        client.m_vecAttach.clear();
        client.Discover();
        Settle();
        EXPECT_EQ(client.m_vecAttach, c.expect) << c.name;
        EXPECT_EQ(other.AttachedClient(),
                  c.expect == std::vector<LPARAM>{0} ? client.GetSafeHwnd() : HWND{0})
            << c.name;
    }
}

TEST_F(SimTest, TheUserAllowsLaterAndTheApiComesBackUnasked) {
    sim.SetAttachMode(SIM_ATTACH_ASK_USER);
    client.Discover();
    Settle();
    EXPECT_EQ(client.Send(sim.GetHwnd(), "PING"), std::optional<LRESULT>(0));
    sim.UserAllowsAccess();
    Settle();
    EXPECT_EQ(client.m_vecAttach, (std::vector<LPARAM>{1, 0}));
    EXPECT_EQ(Ask("PING"), (Lines{"PONG"}));
    client.Discover();  // remembered: no second question
    Settle();
    EXPECT_EQ(client.m_vecAttach.back(), 0);

    sim.SetApiAvailable(false);
    EXPECT_EQ(client.Send(sim.GetHwnd(), "PING"), std::optional<LRESULT>(0));
    client.m_vecAttach.clear();
    sim.SetApiAvailable(true);
    Settle();
    EXPECT_EQ(client.m_vecAttach, (std::vector<LPARAM>{SKYPE_ATTACH_API_AVAILABLE}));
}

TEST_F(SimTest, OnlyTheAttachedProgramIsHeard) {
    EXPECT_EQ(client.Send(sim.GetHwnd(), "PING"), std::optional<LRESULT>(0));
    Attach();
    CClient stranger;
    ASSERT_TRUE(stranger.Create(loop, "stranger"));
    EXPECT_EQ(stranger.Send(sim.GetHwnd(), "PING"), std::optional<LRESULT>(0));
    EXPECT_EQ(Ask("PING"), (Lines{"PONG"}));
    EXPECT_TRUE(stranger.m_vecLines.empty());
    EXPECT_EQ(sim.ReceivedLines(), (Lines{"PING"}));
}

TEST_F(SimTest, CommandsGetTheRealClientsReplies) {
    Attach();
    const int nCall = sim.IncomingCall("bob");
    const int nMsg = sim.ReceiveChatMessage("alice", "see you at 5");
    Settle();
    client.Take();
    const std::string call = std::to_string(nCall);
    const std::string msg = std::to_string(nMsg);
    struct Case {
        std::string command;
        Lines expect;
    };
    const std::vector<Case> cases = {
        {"NAME Vokra - Answering Machine", {"OK"}},
        {"PROTOCOL 2", {"PROTOCOL 2"}},
        {"PROTOCOL 99", {"PROTOCOL 8"}},
        {"GET USERSTATUS", {"USERSTATUS ONLINE"}},
        {"get connstatus", {"CONNSTATUS ONLINE"}},
        {"GET CURRENTUSERHANDLE", {"CURRENTUSERHANDLE me.myself"}},
        {"GET AUDIO_IN", {"AUDIO_IN Built-in Microphone"}},
        {"SET AUDIO_IN Vokra Virtual Cable 1", {"AUDIO_IN Vokra Virtual Cable 1"}},
        {"GET AUDIO_IN", {"AUDIO_IN Vokra Virtual Cable 1"}},
        {"SET AUDIO_OUT No Such Speaker", {"ERROR 50 cannot set device"}},
        {"GET USER alice FULLNAME", {"USER alice FULLNAME Alice B. Smith"}},
        {"GET USER alice DISPLAYNAME", {"USER alice DISPLAYNAME Ally"}},
        {"GET USER bob DISPLAYNAME", {"USER bob DISPLAYNAME "}},
        {"GET USER carol ONLINESTATUS", {"USER carol ONLINESTATUS OFFLINE"}},
        {"GET USER carol BUDDYSTATUS", {"USER carol BUDDYSTATUS 2"}},
        {"GET USER nobody FULLNAME", {"ERROR 9 Unknown user"}},
        {"GET USER", {"ERROR 8 Invalid user handle"}},
        {"GET USER alice SHOESIZE", {"ERROR 10 Invalid PROP"}},
        {"GET CALL " + call + " PARTNER_HANDLE", {"CALL " + call + " PARTNER_HANDLE bob"}},
        {"GET CALL " + call + " TYPE", {"CALL " + call + " TYPE INCOMING_P2P"}},
        {"GET CALL " + call + " STATUS", {"CALL " + call + " STATUS RINGING"}},
        {"GET CALL 999 STATUS", {"ERROR 12 Unknown call"}},
        {"GET CALL x STATUS", {"ERROR 11 Invalid call id"}},
        {"GET CALL " + call + " COLOUR", {"ERROR 13 Invalid PROP"}},
        {"GET MESSAGE " + msg + " BODY", {"MESSAGE " + msg + " BODY see you at 5"}},
        {"GET MESSAGE 999 BODY", {"ERROR 15 Unknown message"}},
        {"MESSAGE alice ", {"ERROR 43 cannot send empty message"}},
        {"OPEN IM alice RE: Skype voice message", {"OPEN IM alice RE: Skype voice message"}},
        {"SEARCH FRIENDS", {"USERS alice, bob, carol"}},
        {"PING", {"PONG"}},
        {"CHAT CREATE alice", {"ERROR 2 Unknown command"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Ask(c.command), c.expect) << c.command;
}

// What the program really sends (built by the codec) is answered by a line the codec parses
// and the reply matching ties to the command.
TEST_F(SimTest, RepliesToTheProgramsCommandsAreMatchedByTheCodec) {
    Attach();
    const int nCall = sim.IncomingCall("bob");
    const int nMsg = sim.ReceiveChatMessage("alice", "hello");
    Settle();
    client.Take();
    const std::vector<DeviceToSkypeCmd> commands = {
        DeviceToSkypeCmd(D2S_NAME, g_szVokraAppName),
        DeviceToSkypeCmd(D2S_PROTOCOL, 2),
        DeviceToSkypeCmd(D2S_GET_USERSTATUS),
        DeviceToSkypeCmd(D2S_GET_CONNSTATUS),
        DeviceToSkypeCmd(D2S_GET_CURRENTUSERHANDLE),
        DeviceToSkypeCmd(D2S_GET_AUDIO_IN),
        DeviceToSkypeCmd(D2S_GET_AUDIO_OUT),
        DeviceToSkypeCmd(D2S_SET_AUDIO_IN, "Vokra Virtual Cable 1"),
        DeviceToSkypeCmd(D2S_SET_AUDIO_OUT, "Vokra Virtual Cable 2"),
        DeviceToSkypeCmd(D2S_GET_USER, "alice", PROP_FULLNAME),
        DeviceToSkypeCmd(D2S_GET_USER, "bob", PROP_DISPLAYNAME),
        DeviceToSkypeCmd(D2S_GET_USER, "carol", PROP_ONLINESTATUS),
        DeviceToSkypeCmd(D2S_GET_USER, "carol", PROP_BUDDYSTATUS),
        DeviceToSkypeCmd(D2S_GET_CALL, nCall, PROP_PARTNER_HANDLE, ' '),
        DeviceToSkypeCmd(D2S_GET_CALL, nCall, PROP_TYPE, ' '),
        DeviceToSkypeCmd(D2S_GET_CALL, nCall, PROP_STATUS, ' '),
        DeviceToSkypeCmd(D2S_SET_CALL, nCall, PROP_STATUS_INPROGRESS, ' '),
        DeviceToSkypeCmd(D2S_SET_CALL, nCall, PROP_STATUS_FINISHED, ' '),
        DeviceToSkypeCmd(D2S_SET_CALL, nCall, PROP_STATUS_FINISHED, ' '),  // ERROR 24
        DeviceToSkypeCmd(D2S_MESSAGE, "bob",
                         "Gr\xc3\xbc\xc3\x9f"
                         "e"),
        DeviceToSkypeCmd(D2S_CALL, "alice"),
        DeviceToSkypeCmd(D2S_OPEN_IM, "alice", "RE: Skype voice message you left me earlier ..."),
        DeviceToSkypeCmd(D2S_GET_MESSAGE, nMsg, PROP_BODY, ' '),
        DeviceToSkypeCmd(D2S_SEARCH_FRIENDS),
        DeviceToSkypeCmd(D2S_PING),
    };
    for (const DeviceToSkypeCmd& cmd : commands) {
        const Lines replies = Ask(cmd.m_szText);
        ASSERT_FALSE(replies.empty()) << cmd.m_szText;
        EXPECT_TRUE(IsReplyTo(cmd, SkypeToDeviceCmd(replies.front())))
            << cmd.m_szText << " -> " << replies.front();
    }
}

TEST_F(SimTest, AnIncomingCallRingsRunsAndEndsAsTheRealClientReportsIt) {
    Attach();
    const int id = sim.IncomingCall("bob");
    const std::string n = std::to_string(id);
    Settle();
    EXPECT_EQ(client.Take(), (Lines{"CALL " + n + " CONF_ID 0", "CALL " + n + " STATUS RINGING"}));
    sim.RingAgain(id);
    Settle();
    EXPECT_EQ(client.Take(), (Lines{"CALL " + n + " STATUS RINGING"}));

    // The codec's form, with its two trailing blanks.
    EXPECT_EQ(Ask(DeviceToSkypeCmd(D2S_SET_CALL, id, PROP_STATUS_INPROGRESS, ' ').m_szText),
              (Lines{"CALL " + n + " STATUS INPROGRESS"}));
    Run(3000);
    EXPECT_EQ(client.Take(), (Lines{"CALL " + n + " DURATION 1", "CALL " + n + " DURATION 2",
                                    "CALL " + n + " DURATION 3"}));
    sim.CallerHangsUp(id);
    Settle();
    EXPECT_EQ(client.Take(),
              (Lines{"CALL " + n + " DURATION 3", "CALL " + n + " STATUS FINISHED"}));
    EXPECT_EQ(Ask("SET CALL " + n + " STATUS FINISHED"),
              (Lines{"ERROR 24 Cannot hangup inactive call"}));
    Run(3000);
    EXPECT_TRUE(client.Take().empty());
    EXPECT_EQ(sim.GetCall(id)->m_nDuration, 3);
}

TEST_F(SimTest, HangingUpDependsOnWhereTheCallIs) {
    Attach();
    struct Case {
        const char* name;
        std::function<void(int)> prepare;
        std::string expect;
    };
    const std::vector<Case> cases = {
        {"ringing", [](int) {}, "STATUS REFUSED"},
        {"in progress", [&](int id) { Ask(StrFormat("SET CALL %d STATUS INPROGRESS", id)); },
         "STATUS FINISHED"},
        {"on hold",
         [&](int id) {
             Ask(StrFormat("SET CALL %d STATUS INPROGRESS", id));
             sim.HoldCall(id);
         },
         "STATUS FINISHED"},
        {"missed", [&](int id) { sim.MissCall(id); }, "ERROR 24"},
    };
    for (const Case& c : cases) {
        const int id = sim.IncomingCall("alice");
        c.prepare(id);
        Settle();
        client.Take();
        const Lines r = Ask(StrFormat("SET CALL %d STATUS FINISHED", id));
        ASSERT_EQ(r.size(), 1u) << c.name;
        EXPECT_NE(r[0].find(c.expect), std::string::npos) << c.name << ": " << r[0];
    }
}

TEST_F(SimTest, CallsMissedHeldAndResumed) {
    Attach();
    const int a = sim.IncomingCall("alice");
    sim.MissCall(a);
    const int b = sim.IncomingCall("bob");
    Settle();
    client.Take();
    Ask(StrFormat("SET CALL %d STATUS INPROGRESS", b));
    sim.HoldCall(b, true);
    sim.ResumeCall(b);
    sim.HoldCall(b);
    Settle();
    EXPECT_EQ(client.Take(), (Lines{StrFormat("CALL %d STATUS REMOTEHOLD", b),
                                    StrFormat("CALL %d STATUS INPROGRESS", b),
                                    StrFormat("CALL %d STATUS ONHOLD", b)}));
    EXPECT_EQ(sim.GetCall(a)->m_nStatus, CALLSTATUS_MISSED);
    EXPECT_EQ(Ask(StrFormat("GET CALL %d STATUS", a)),
              (Lines{StrFormat("CALL %d STATUS MISSED", a)}));
}

TEST_F(SimTest, APlacedCallProgressesAsTheCalleeDecides) {
    Attach();
    sim.SetCalleeAction("bob", SIM_CALLEE_REFUSES);
    sim.SetCalleeAction("alice", SIM_CALLEE_ANSWERS);
    sim.AddContact("dan", "Dan", "", USERSTATUS_ONLINE);
    sim.SetCalleeAction("dan", SIM_CALLEE_BUSY);
    struct Case {
        std::string callee;
        std::vector<std::string> statuses;
    };
    const std::vector<Case> cases = {
        {"alice", {"UNPLACED", "ROUTING", "RINGING", "INPROGRESS"}},
        {"bob", {"UNPLACED", "ROUTING", "RINGING", "REFUSED"}},
        {"dan", {"UNPLACED", "ROUTING", "BUSY"}},
        {"carol", {"UNPLACED", "ROUTING", "FAILED"}},  // offline
    };
    for (const Case& c : cases) {
        client.Send(sim.GetHwnd(), "CALL " + c.callee);
        Run(5000);
        Lines got = client.Take();
        std::vector<std::string> statuses;
        for (const auto& l : got) {
            const SkypeToDeviceCmd rec(l);
            if (rec.m_nProperty == PROP_STATUS)
                statuses.push_back(rec.m_strValue);
        }
        EXPECT_EQ(statuses, c.statuses) << c.callee;
        if (c.callee == "alice") {  // then hung up by us
            const int id = SkypeToDeviceCmd(got.front()).m_nCallId;
            EXPECT_EQ(Ask(StrFormat("SET CALL %d STATUS FINISHED", id)).front(),
                      StrFormat("CALL %d STATUS FINISHED", id));
        }
    }
    // Hung up while it still rings: cancelled, and no later step comes.
    sim.SetCalleeAction("bob", SIM_CALLEE_NO_ANSWER);
    const int id = SkypeToDeviceCmd(Ask("CALL bob").front()).m_nCallId;
    Run(1000);
    client.Take();
    EXPECT_EQ(Ask(StrFormat("SET CALL %d STATUS FINISHED", id)),
              (Lines{StrFormat("CALL %d STATUS CANCELLED", id)}));
    Run(5000);
    EXPECT_TRUE(client.Take().empty());
}

TEST_F(SimTest, TheUserAndContactsChangeUnasked) {
    Attach();
    sim.SetUserStatus(USERSTATUS_AWAY);
    sim.SetContactProperty("alice", "ONLINESTATUS", "AWAY");
    sim.SetContactProperty("alice", "DISPLAYNAME", "Al");
    Settle();
    EXPECT_EQ(client.Take(), (Lines{"USERSTATUS AWAY", "USER alice ONLINESTATUS AWAY",
                                    "USER alice DISPLAYNAME Al"}));
    EXPECT_EQ(Ask("GET USER alice ONLINESTATUS"), (Lines{"USER alice ONLINESTATUS AWAY"}));

    sim.LogOut();
    Settle();
    EXPECT_EQ(client.Take(), (Lines{"USERSTATUS LOGGEDOUT", "CONNSTATUS LOGGEDOUT"}));
    sim.LogIn("dave", "Dave Grant");
    Settle();
    EXPECT_EQ(client.Take(), (Lines{"CONNSTATUS CONNECTING", "CURRENTUSERHANDLE dave",
                                    "USERSTATUS ONLINE", "CONNSTATUS ONLINE"}));
    EXPECT_EQ(Ask("GET USER dave FULLNAME"), (Lines{"USER dave FULLNAME Dave Grant"}));
}

TEST_F(SimTest, ChatMessagesSentAndReceived) {
    Attach();
    const Lines r = Ask("MESSAGE alice Hello there");
    ASSERT_EQ(r.size(), 1u);
    const int id = SkypeToDeviceCmd(r[0]).m_nMessageId;
    EXPECT_EQ(r[0], StrFormat("MESSAGE %d STATUS SENDING", id));
    Run(1000);
    EXPECT_EQ(client.Take(), (Lines{StrFormat("MESSAGE %d STATUS SENT", id)}));
    ASSERT_EQ(sim.SentChatMessages().size(), 1u);
    EXPECT_EQ(sim.SentChatMessages()[0].m_strBody, "Hello there");

    const int in = sim.ReceiveChatMessage("bob", "call me");
    Settle();
    EXPECT_EQ(client.Take(), (Lines{StrFormat("MESSAGE %d STATUS RECEIVED", in)}));
}

TEST_F(SimTest, FaultsNoReplyLateReplyDuplicatesAndUnrelatedLines) {
    Attach();
    sim.DropReplies(1, "GET USERSTATUS");
    EXPECT_TRUE(Ask("GET USERSTATUS").empty());
    EXPECT_EQ(Ask("GET USERSTATUS"), (Lines{"USERSTATUS ONLINE"}));  // only the first

    sim.DelayReplies(1, 2900);
    EXPECT_TRUE(Ask("GET CONNSTATUS").empty());
    Run(2899);
    EXPECT_TRUE(client.Take().empty());
    Run(1);
    EXPECT_EQ(client.Take(), (Lines{"CONNSTATUS ONLINE"}));

    sim.DuplicateNotifications(1);
    const int id = sim.IncomingCall("bob");
    Settle();
    EXPECT_EQ(client.Take(),
              (Lines{StrFormat("CALL %d CONF_ID 0", id), StrFormat("CALL %d CONF_ID 0", id),
                     StrFormat("CALL %d STATUS RINGING", id)}));

    sim.SetUnrelatedLines(true);
    const Lines r1 = Ask("GET USERSTATUS");
    const Lines r2 = Ask("GET CONNSTATUS");
    const Lines r3 = Ask("GET CALL " + std::to_string(id) + " STATUS");
    ASSERT_EQ(r1.size(), 2u);
    ASSERT_EQ(r2.size(), 2u);
    ASSERT_EQ(r3.size(), 2u);
    EXPECT_EQ(r1[0].rfind("CHATMESSAGE ", 0), 0u);
    EXPECT_EQ(r2[0], "USER me.myself NROF_AUTHED_BUDDIES 80");
    EXPECT_EQ(r3[0], StrFormat("CALL %d VIDEO_STATUS VIDEO_NONE", id));
    EXPECT_EQ(r1[1], "USERSTATUS ONLINE");
}

TEST_F(SimTest, FaultsAccessDeniedRefusedDeliveryAndGarbledLines) {
    Attach();
    sim.AnswerError68(1, "GET USER");
    EXPECT_EQ(Ask("GET USER alice FULLNAME"), (Lines{"ERROR 68 Access denied"}));
    EXPECT_EQ(sim.AttachedClient(), HWND{0});
    EXPECT_EQ(client.Send(sim.GetHwnd(), "PING"), std::optional<LRESULT>(0));
    Attach();
    EXPECT_EQ(Ask("GET USER alice FULLNAME"), (Lines{"USER alice FULLNAME Alice B. Smith"}));

    sim.RefuseCopyData(1);
    EXPECT_EQ(client.Send(sim.GetHwnd(), "PING"), std::optional<LRESULT>(0));
    Settle();
    EXPECT_TRUE(client.Take().empty());
    EXPECT_EQ(Ask("PING"), (Lines{"PONG"}));

    // The program refusing a line is counted; a garbled block arrives exactly as made.
    client.m_nAnswer = 0;
    sim.Notify("USERSTATUS NA");
    Settle();
    EXPECT_EQ(sim.RefusedByClient(), 1);
    client.m_nAnswer = 1;
    sim.SendRaw(std::string("USER bob FULLNAME \xff", 19));
    Settle();
    EXPECT_EQ(client.Take(), (Lines{"USERSTATUS NA", "<bad block>"}));
}

class CAudioLog : public ISimCallAudio {
public:
    Lines m_vecEvents;
    void OnCallAudioStart(int id, const std::string& in, const std::string& out) override {
        m_vecEvents.push_back(StrFormat("start %d ", id) + in + " / " + out);
    }
    void OnCallAudioStop(int id) override { m_vecEvents.push_back(StrFormat("stop %d", id)); }
};

TEST_F(SimTest, CallAudioStartsWhenTheCallRunsWithTheDevicesSetThen) {
    CAudioLog audio;
    sim.SetCallAudio(&audio);
    Attach();
    const int id = sim.IncomingCall("bob");
    Ask("SET AUDIO_IN Vokra Virtual Cable 1");
    Ask("SET AUDIO_OUT Vokra Virtual Cable 2");
    Ask(StrFormat("SET CALL %d STATUS INPROGRESS", id));
    sim.HoldCall(id);
    sim.ResumeCall(id);
    sim.CallerHangsUp(id);
    Settle();
    const std::string start =
        StrFormat("start %d ", id) + "Vokra Virtual Cable 1 / Vokra Virtual Cable 2";
    EXPECT_EQ(audio.m_vecEvents,
              (Lines{start, StrFormat("stop %d", id), start, StrFormat("stop %d", id)}));
    sim.SetCallAudio(nullptr);
}

}  // namespace
