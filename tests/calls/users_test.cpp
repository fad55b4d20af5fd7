// Users and the users database.
#include <gtest/gtest.h>

#include "CallsTestSupport.h"
#include "calls/User.h"
#include "calls/UserCollection.h"
#include "skype/SkypeAccessAPI.h"

using namespace callstest;

class UsersTest : public CCallsLockedTest {};

TEST_F(UsersTest, InitAsksForFourPropertiesAndKnowsTelephoneNumbers) {
    struct {
        const char* name;
        int status;
    } cases[] = {{"alice", USERSTATUS_UNKNOWN},
                 {"+4930123", USERSTATUS_SKYPEOUT},
                 {"0049301", USERSTATUS_SKYPEOUT},
                 {"0abc", USERSTATUS_UNKNOWN},
                 {"+", USERSTATUS_SKYPEOUT}};
    for (const auto& c : cases) {
        CUser user;
        user.m_nLastOnlineTimestamp = 77;
        user.init(c.name);
        EXPECT_EQ(user.m_nOnlineStatus, c.status) << c.name;
        EXPECT_EQ(user.m_nLastOnlineTimestamp, 77) << "init leaves the timestamp";
        const std::string h = c.name;
        EXPECT_EQ(m_cmds.Take(),
                  (std::vector<std::string>{
                      "GET USER " + h + " FULLNAME", "GET USER " + h + " DISPLAYNAME",
                      "GET USER " + h + " ONLINESTATUS", "GET USER " + h + " BUDDYSTATUS"}));
    }
}

TEST_F(UsersTest, BuddyStatusOutOfRangeIsRefusedAndTheFlagFollowsValidOnes) {
    CUser user;
    user.init("bob");
    user.SetBuddyStatus(3);
    EXPECT_TRUE(user.m_bIsBuddy);
    for (int bad : {4, -1}) {
        user.SetBuddyStatus(bad);
        EXPECT_EQ(user.m_nBuddyStatus, 3);
        EXPECT_TRUE(user.m_bIsBuddy);
        EXPECT_TRUE(m_log.Has(StrFormat("CUser::SetBuddyStatus: %d (bob) - Bad Value", bad)));
    }
    user.SetBuddyStatus(1);
    EXPECT_EQ(user.m_nBuddyStatus, 1);
    EXPECT_FALSE(user.m_bIsBuddy);
    user.SetBuddyStatus(2);
    EXPECT_TRUE(user.m_bIsBuddy);
}

TEST_F(UsersTest, NamesForDisplay) {
    struct {
        const char *handle, *full, *display, *name, *nameAndHandle;
    } cases[] = {
        {"bob", "", "Bob", "Bob", "Bob (bob)"},
        {"bob", "", "bob", "bob", "bob"},
        {"bob", "", "", "bob", "bob"},
        {"bob", "Robert B", "", "Robert B", "Robert B (bob)"},
        {"bob", "Robert B", "Bobby", "Bobby", "Bobby (bob)"},
    };
    for (const auto& c : cases) {
        CUser user;
        user.m_strUserName = c.handle;
        user.m_strFullName = c.full;
        user.m_strDisplayName = c.display;
        EXPECT_EQ(user.GetName(), c.name);
        EXPECT_EQ(user.GetNameAndHandle(), c.nameAndHandle);
    }
}

TEST_F(UsersTest, ResetEmptiesEverything) {
    CUser user;
    user.init("+123");
    user.SetFullName("F");
    user.SetBuddyStatus(3);
    user.SetLastOnlineTimestamp(5);
    user.Reset();
    EXPECT_EQ(user.m_strUserName, "");
    EXPECT_EQ(user.m_strFullName, "");
    EXPECT_EQ(user.m_nOnlineStatus, USERSTATUS_UNKNOWN);
    EXPECT_EQ(user.m_nBuddyStatus, -1);
    EXPECT_FALSE(user.m_bIsBuddy);
    EXPECT_EQ(user.m_nLastOnlineTimestamp, 0);
}

TEST_F(UsersTest, CollectionReplacesRemovesAndNeverDeletesTheLoggedInUser) {
    CUserCollection db;
    auto pNewFirst = std::make_unique<CUser>();
    CUser* pFirst = pNewFirst.get();
    pFirst->init("carol");
    auto pNewSecond = std::make_unique<CUser>();
    CUser* pSecond = pNewSecond.get();
    pSecond->init("carol");
    db.Add(std::move(pNewFirst));
    db.Add(std::move(pNewSecond));
    CUser* pGot = nullptr;
    ASSERT_TRUE(db.Get("carol", pGot));
    EXPECT_EQ(pGot, pSecond);
    // The replaced user stays valid for whoever still points at it.
    EXPECT_EQ(pFirst->m_strUserName, "carol");
    EXPECT_FALSE(db.Get("Carol", pGot)) << "names match exactly";

    gCurrentUser.init("me");
    db.Add(&gCurrentUser);
    EXPECT_TRUE(db.Remove("me"));
    EXPECT_FALSE(db.Remove("me"));
    db.Add(&gCurrentUser);
    // Destroying db must delete carol (both objects) and leave gCurrentUser alone.
}

TEST_F(UsersTest, GetOrCreateMakesTheUserOnce) {
    CUser* p = gUsersDB.GetOrCreate("dave");
    EXPECT_EQ(m_cmds.Take().size(), 4u);
    EXPECT_EQ(gUsersDB.GetOrCreate("dave"), p);
    EXPECT_TRUE(m_cmds.Take().empty());
}
