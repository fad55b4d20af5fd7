// Voice message file names, the messages folder and the message collection.
#include <gtest/gtest.h>

#include <ctime>

#include "CallsTestSupport.h"
#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/User.h"
#include "calls/UserCollection.h"
#include "messages/Message.h"
#include "messages/MessageCollection.h"

using namespace callstest;

namespace {

int64_t Local(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

}  // namespace

class MessagesTest : public CCallsLockedTest {
protected:
    // A message of user "me" from caller, as a live call leaves it: a recording in
    // lastvoicemsg.wav, then renamed.
    CMessage* Recorded(const std::string& caller, int64_t tStart, int duration) {
        auto pNewCall = std::make_unique<CCall>();
        CCall* pCall = pNewCall.get();
        pCall->init(-100 - static_cast<int>(gCallsDB.GetCount()), gUsersDB.GetOrCreate(caller),
                    tStart, duration);
        gCallsDB.Add(std::move(pNewCall));
        auto pNewMsg = std::make_unique<CMessage>();
        CMessage* pMsg = pNewMsg.get();
        pMsg->m_pCall = pCall;
        pCall->m_pMessage = pMsg;
        EXPECT_TRUE(gMessagesDB.add(std::move(pNewMsg)));
        WriteWav(gMessagesDB.GetMessagesFolderPath() + "lastvoicemsg.wav", 800);
        EXPECT_TRUE(pMsg->RenameVoiceMessageFileName());
        return pMsg;
    }
};

TEST_F(MessagesTest, FileNameFields) {
    EXPECT_EQ(FormatVoiceMessageFileName("alice", Local(2005, 11, 30, 16, 25, 18), 42, false),
              "alice.2005.11.30.16.25.18.42.n.wav");
    EXPECT_EQ(FormatVoiceMessageFileName("bob", Local(2006, 1, 3, 9, 5, 7), 125, true),
              "bob.2006.01.03.09.05.07.125.s.wav");
    EXPECT_EQ(FormatVoiceMessageFileName("bob", Local(2006, 1, 3, 9, 5, 7), 7, false),
              "bob.2006.01.03.09.05.07.7.n.wav");
}

TEST_F(MessagesTest, ReadingNamesBack) {
    struct {
        const char* name;
        bool isMessage;
        const char* user;
        int duration;
        bool heard;
    } cases[] = {
        {"alice.2005.11.30.16.25.18.42.n.wav", true, "alice", 42, false},
        {"alice.2005.11.30.16.25.18.42.s.wav", true, "alice", 42, true},
        {"alice.2005.11.30.16.25.18.42.N.wav", true, "alice", 42, true},
        {"alice.2005.11.30.16.25.18.42.n.WAV", false, "", 0, false},
        {"alice.2005.11.30.16.25.18.42.n.wav.bak", true, "alice", 42, false},
        {"alice..2005.11.30.16.25.18.42.n.wav", true, "alice", 42, false},
        {".alice.2005.11.30.16.25.18.42.n.wav.", true, "alice", 42, false},
        {"alice.2005.11.30.16.25.18.x42.n.wav", true, "alice", 0, false},
        {"alice.2005.11.30.16.25.42.n.wav", false, "", 0, false},
        {"lastvoicemsg.wav", false, "", 0, false},
        {"a.txt", false, "", 0, false},
        // Names that are not plain Skype names survive the round trip.
        {"john%2Esmith.2005.11.30.16.25.18.3.n.wav", true, "john.smith", 3, false},
        {"%.2005.11.30.16.25.18.3.n.wav", true, "", 3, false},
        {"%2E%2E%2F%2Fetc.2005.11.30.16.25.18.3.n.wav", true, "..//etc", 3, false},
        {"50%25.2005.11.30.16.25.18.3.n.wav", true, "50%", 3, false},
    };
    for (const auto& c : cases) {
        CVoiceMessageName parsed;
        ASSERT_EQ(ParseVoiceMessageFileName(c.name, parsed), c.isMessage) << c.name;
        if (!c.isMessage)
            continue;
        EXPECT_EQ(parsed.m_strUserName, c.user) << c.name;
        EXPECT_EQ(parsed.m_nDuration, c.duration) << c.name;
        EXPECT_EQ(parsed.m_bHeard, c.heard) << c.name;
        EXPECT_EQ(parsed.m_tStart, Local(2005, 11, 30, 16, 25, 18)) << c.name;
    }
}

TEST_F(MessagesTest, AnyCallerNameRoundTripsAsOneFileInTheFolder) {
    const int64_t t = Local(2006, 1, 3, 9, 5, 7);
    const std::vector<std::string> users = {
        "alice", "john.smith", "../../evil", "a/b",         "..",
        "",      "%41",        "tab\tx",     "live:.cid.1", std::string(300, 'x')};
    for (const std::string& user : users) {
        const std::string name = FormatVoiceMessageFileName(user, t, 9, false);
        EXPECT_EQ(name.find('/'), std::string::npos) << user;
        EXPECT_LT(name.size(), 255u);
        CVoiceMessageName parsed;
        ASSERT_TRUE(ParseVoiceMessageFileName(name, parsed)) << name;
        if (user.size() < 200) {
            EXPECT_EQ(parsed.m_strUserName, user);
        }
        EXPECT_EQ(parsed.m_tStart, t);
        EXPECT_EQ(parsed.m_nDuration, 9);
    }
}

TEST_F(MessagesTest, ReadingAFolderFindsOnlyMessages) {
    const std::string folder = UserFolder("me");
    std::filesystem::create_directories(folder + "sub.2005.11.30.16.25.18.42.n.wav");
    WriteWav(folder + "lastvoicemsg.wav", 10);
    WriteWav(folder + "a.txt", 10);
    WriteWav(folder + "alice.2005.11.30.16.25.18.42.n.wav", 100);
    WriteWav(folder + "zed.2006.01.03.09.05.07.7.s.wav", 50);

    ASSERT_TRUE(gMessagesDB.init("me"));
    const auto& msgs = gMessagesDB.GetMessages();
    ASSERT_EQ(msgs.size(), 2u);
    // Reverse of the reading order: the last one read is in front.
    const CMessage* pZed = msgs.front();
    const CMessage* pAlice = msgs.back();
    EXPECT_EQ(pAlice->m_pCall->m_nCallId, -2);
    EXPECT_EQ(pZed->m_pCall->m_nCallId, -3);
    EXPECT_EQ(pAlice->m_pCall->m_pUser->m_strUserName, "alice");
    EXPECT_EQ(pAlice->m_pCall->m_nDuration, 42);
    EXPECT_FALSE(pAlice->IsHeard());
    EXPECT_TRUE(pZed->IsHeard());
    EXPECT_EQ(pAlice->GetFileSize(), 44 + 200);
    EXPECT_EQ(gCallsDB.GetCount(), 2u);
    // Callers new to the database were created and asked about.
    EXPECT_TRUE(m_cmds.Sent("GET USER alice FULLNAME"));
    EXPECT_TRUE(m_cmds.Sent("GET USER zed BUDDYSTATUS"));
    EXPECT_EQ(gMessagesDB.GetMessagesFolderSizeBytes(), 44u + 200 + 44 + 100);
    EXPECT_EQ(gMessagesDB.GetNumNewSavedVoiceMessages(), 1);
    EXPECT_TRUE(m_log.Has("CMessageCollection Reading: a.txt"));
}

TEST_F(MessagesTest, FolderIsCreatedUnderTheDocumentsFolderWhenNoRootIsSet) {
    RcvdMsgsFolderPath = "";
    gMessagesDB.init("me");
    const std::string expected = m_strRoot + "home/Documents/My Received Voice Messages/me/";
    EXPECT_EQ(gMessagesDB.GetMessagesFolderPath(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected));
}

TEST_F(MessagesTest, LoggedInUserNamesNeverLeaveTheMessagesFolder) {
    for (const char* user : {"..", ".", "../x", "a/../../b"}) {
        gMessagesDB.deleteAll();
        gMessagesDB.init(user);
        const std::string path = gMessagesDB.GetMessagesFolderPath();
        const std::string all = m_strMsgRoot + "My Received Voice Messages/";
        ASSERT_EQ(path.rfind(all, 0), 0u) << user;
        const std::string rest = path.substr(all.size());
        EXPECT_EQ(rest.find('/'), rest.size() - 1) << user;
        EXPECT_NE(rest, "../");
        EXPECT_NE(rest, "./");
    }
}

TEST_F(MessagesTest, WithoutAUserNothingIsTakenAndNoPathIsMade) {
    EXPECT_FALSE(gMessagesDB.init(""));
    EXPECT_TRUE(m_log.Has("CMessageCollection::init username.IsEmpty"));
    EXPECT_EQ(gMessagesDB.GetMessagesFolderPath(), "");
    EXPECT_FALSE(gMessagesDB.add(std::make_unique<CMessage>()));
    EXPECT_TRUE(gMessagesDB.GetMessages().empty());
}

TEST_F(MessagesTest, MarkHeardAndNewRenamesTheFile) {
    gMessagesDB.init("me");
    const int64_t t = Local(2006, 1, 3, 9, 5, 7);
    CMessage* pMsg = Recorded("alice", t, 42);
    const std::string folder = UserFolder("me");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"alice.2006.01.03.09.05.07.42.n.wav"});
    EXPECT_EQ(pMsg->GetFileSize(), 44 + 1600);

    EXPECT_TRUE(pMsg->SetHeard(true));
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"alice.2006.01.03.09.05.07.42.s.wav"});
    EXPECT_TRUE(pMsg->SetHeard(true));  // no change, nothing to do
    EXPECT_TRUE(pMsg->SetHeard(false));
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"alice.2006.01.03.09.05.07.42.n.wav"});

    // The heard name is taken by a stray file: the mark stays, describing the file.
    WriteWav(folder + "alice.2006.01.03.09.05.07.42.s.wav", 1);
    EXPECT_FALSE(pMsg->SetHeard(true));
    EXPECT_FALSE(pMsg->IsHeard());
    EXPECT_EQ(pMsg->GetFileName(), "alice.2006.01.03.09.05.07.42.n.wav");
    EXPECT_EQ(FilesIn(folder).size(), 2u);
}

TEST_F(MessagesTest, AMessageWithoutRecordingNeverTouchesTheDisk) {
    gMessagesDB.init("me");
    auto pNewCall = std::make_unique<CCall>();
    CCall* pCall = pNewCall.get();
    pCall->init(-50, gUsersDB.GetOrCreate("alice"), Local(2006, 1, 3, 9, 5, 7), 0);
    gCallsDB.Add(std::move(pNewCall));
    auto pNewMsg = std::make_unique<CMessage>();
    CMessage* pMsg = pNewMsg.get();
    pMsg->m_pCall = pCall;
    gMessagesDB.add(std::move(pNewMsg));
    // A file that happens to carry the name such a message would have is not its file.
    const std::string folder = UserFolder("me");
    WriteWav(folder + "alice.2006.01.03.09.05.07.0.n.wav", 1);
    EXPECT_TRUE(pMsg->SetHeard(true));
    EXPECT_TRUE(pMsg->IsHeard());
    EXPECT_TRUE(pMsg->DeleteVoiceMessageFile());
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"alice.2006.01.03.09.05.07.0.n.wav"});
    EXPECT_EQ(gMessagesDB.GetNumNewSavedVoiceMessages(), 0);
}

TEST_F(MessagesTest, DeleteRemovesFileMessageAndCall) {
    gMessagesDB.init("me");
    CMessage* pMsg = Recorded("alice", Local(2006, 1, 3, 9, 5, 7), 42);
    const int id = pMsg->m_pCall->m_nCallId;
    EXPECT_TRUE(pMsg->DeleteVoiceMessageFile());
    EXPECT_FALSE(pMsg->DeleteVoiceMessageFile()) << "already gone";
    gMessagesDB.del(pMsg);
    EXPECT_TRUE(gMessagesDB.GetMessages().empty());
    CCall* pCall = nullptr;
    EXPECT_FALSE(gCallsDB.Get(id, pCall));
    EXPECT_TRUE(FilesIn(UserFolder("me")).empty());

    // A message that is not listed: nothing is deleted, the refresh is still asked for.
    CMessage stray;
    gMessagesDB.del(&stray);
}

TEST_F(MessagesTest, ATakenFinalNameKeepsBothRecordings) {
    gMessagesDB.init("me");
    const int64_t t = Local(2006, 1, 3, 9, 5, 7);
    CMessage* pFirst = Recorded("alice", t, 42);
    CMessage* pSecond = Recorded("alice", t, 42);
    EXPECT_EQ(pFirst->GetFileName(), "alice.2006.01.03.09.05.07.42.n.wav");
    EXPECT_EQ(pSecond->GetFileName(), "alice.2006.01.03.09.05.08.42.n.wav");
    EXPECT_EQ(FilesIn(UserFolder("me")),
              (std::vector<std::string>{"alice.2006.01.03.09.05.07.42.n.wav",
                                        "alice.2006.01.03.09.05.08.42.n.wav"}));
    // Both read back as messages.
    gMessagesDB.deleteAll();
    gMessagesDB.init("me");
    EXPECT_EQ(gMessagesDB.GetMessages().size(), 2u);
}

TEST_F(MessagesTest, HostileCallerNamesStayInTheUsersFolder) {
    gMessagesDB.init("me");
    const int64_t t = Local(2006, 1, 3, 9, 5, 7);
    for (const char* caller : {"../../../escape", "/abs", "..", "", "a/b/c"})
        Recorded(caller, t, 5);
    for (const std::string& f : AllFiles())
        EXPECT_EQ(f.rfind("msgs/My Received Voice Messages/me/", 0), 0u) << f;
    EXPECT_EQ(FilesIn(UserFolder("me")).size(), 5u);
    gMessagesDB.deleteAll();
    gMessagesDB.init("me");
    EXPECT_EQ(gMessagesDB.GetMessages().size(), 5u);
}

TEST_F(MessagesTest, SizeAndCountOfAnEmptyCollection) {
    EXPECT_EQ(gMessagesDB.GetMessagesFolderSizeBytes(), 0u);
    EXPECT_TRUE(m_log.Has("GetMessagesFolderSizeBytes: Total of 0 bytes in 0 files"));
    EXPECT_EQ(gMessagesDB.GetNumNewSavedVoiceMessages(), 0);
}

TEST_F(MessagesTest, DeleteAllDuringARecordingStopsItAndKeepsTheCall) {
    CStagesDouble stages;
    gMessagesDB.init("me");
    auto pNewCall = std::make_unique<CCall>();
    CCall* pCall = pNewCall.get();
    pCall->init(12, gUsersDB.GetOrCreate("alice"), 0, -1);
    gCallsDB.Add(std::move(pNewCall));
    auto pNewMsg = std::make_unique<CMessage>();
    CMessage* pMsg = pNewMsg.get();
    pMsg->m_pCall = pCall;
    pCall->m_pMessage = pMsg;
    gMessagesDB.add(std::move(pNewMsg));
    pMsg->AudioCtrlTake();
    EXPECT_TRUE(stages.Running());
    EXPECT_EQ(stages.m_strRecordPath, UserFolder("me") + "lastvoicemsg.wav");
    EXPECT_EQ(gMessagesDB.GetNumNewSavedVoiceMessages(), 1) << "a recording counts as new";
    gMessagesDB.deleteAll();
    EXPECT_FALSE(stages.Running());
    CCall* pGot = nullptr;
    ASSERT_TRUE(gCallsDB.Get(12, pGot));
    EXPECT_EQ(pGot->m_pMessage, nullptr) << "the call forgets the deleted message";
    EXPECT_EQ(gMessagesDB.m_strUserName, "");
}

TEST_F(MessagesTest, GreetingFollowsTheCallersAuthorisation) {
    CStagesDouble stages;
    gMessagesDB.init("me");
    GreetingSoundMsgPath = "greeting.wav";
    GreetingSoundMsgPathForNonAuth = "/x/stranger.wav";
    struct {
        int useNonAuth;
        int buddy;
        const char* greeting;
    } cases[] = {{0, 0, "greeting.wav"}, {1, 3, "greeting.wav"}, {1, 0, "/x/stranger.wav"}};
    for (const auto& c : cases) {
        UseNonAuthorizedCallerSettings = c.useNonAuth;
        CUser* pUser = gUsersDB.GetOrCreate("alice");
        pUser->SetBuddyStatus(c.buddy);
        CCall call;
        call.init(-9, pUser, 0, -1);
        CMessage msg;
        msg.m_pCall = &call;
        msg.AudioCtrlTake();
        msg.AudioCtrlTake();  // once only
        EXPECT_EQ(stages.m_strGreeting, c.greeting);
        EXPECT_EQ(msg.AudioCtrlBreak(), 0);
        EXPECT_EQ(msg.AudioCtrlBreak(), 0) << "nothing runs any more";
    }
    EXPECT_EQ(stages.m_nStarts, 3);
    EXPECT_EQ(stages.m_nStops, 3);
}

TEST_F(MessagesTest, AFileFoundWithoutADurationCanStillBeMarkedAndDeleted) {
    // Its duration field reads 0, but the file is the message's own: it must not come back at
    // every login after the user deleted it.
    const std::string folder = UserFolder("me");
    std::filesystem::create_directories(folder);
    WriteWav(folder + "alice.2006.01.03.09.05.07.x.n.wav", 10);
    gMessagesDB.init("me");
    ASSERT_EQ(gMessagesDB.GetMessages().size(), 1u);
    CMessage* pMsg = gMessagesDB.GetMessages().front();
    ASSERT_EQ(pMsg->m_pCall->m_nDuration, 0);
    EXPECT_TRUE(pMsg->SetHeard(true));
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"alice.2006.01.03.09.05.07.0.s.wav"});
    EXPECT_TRUE(pMsg->DeleteVoiceMessageFile());
    EXPECT_TRUE(FilesIn(folder).empty());
}
