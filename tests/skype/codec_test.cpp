#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "LogCapture.h"
#include "app/Logger.h"
#include "skype/SkypeAccessAPI.h"
#include "skype/SkypeApi.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Parsing

struct ParseCase {
    std::string line;
    ESkypeToDeviceCmd kind;
    std::string handle = "";
    int callId = -1;
    int messageId = -1;
    EProperty property = PROP_NONE;
    std::string value = "";
    ECallType callType = CALLTYPE_NONE;
    ECallStatus callStatus = CALLSTATUS_NONE;
    EUserStatus userStatus = USERSTATUS_NONE;
    EConnStatus connStatus = CONNSTATUS_NONE;
    int errorCode = -1;
    std::string errorText = "";
    int protocol = -1;
    std::string audio = "";
};

TEST(CodecParseTest, Lines) {
    const std::vector<ParseCase> cases = {
        {.line = "CALL 12 STATUS RINGING",
         .kind = S2D_CALL,
         .callId = 12,
         .property = PROP_STATUS,
         .value = "RINGING",
         .callStatus = CALLSTATUS_RINGING},
        {.line = "call 12 status ringing",
         .kind = S2D_CALL,
         .callId = 12,
         .property = PROP_STATUS,
         .value = "ringing",
         .callStatus = CALLSTATUS_RINGING},
        {.line = "CALL 7 STATUS ONHOLD",
         .kind = S2D_CALL,
         .callId = 7,
         .property = PROP_STATUS,
         .value = "ONHOLD",
         .callStatus = CALLSTATUS_ONHOLD},
        {.line = "CALL 7 STATUS SLEEPING",
         .kind = S2D_CALL,
         .callId = 7,
         .property = PROP_STATUS,
         .value = "SLEEPING",
         .callStatus = CALLSTATUS_COUNT},
        {.line = "CALL 7 TYPE incoming_p2p",
         .kind = S2D_CALL,
         .callId = 7,
         .property = PROP_TYPE,
         .value = "incoming_p2p",
         .callType = CALLTYPE_INCOMING_P2P},
        {.line = "CALL 7 TYPE VIDEO",
         .kind = S2D_CALL,
         .callId = 7,
         .property = PROP_TYPE,
         .value = "VIDEO",
         .callType = CALLTYPE_COUNT},
        {.line = "CALL 12abc DURATION 30",
         .kind = S2D_CALL,
         .callId = 12,
         .property = PROP_DURATION,
         .value = "30"},
        {.line = "CALL abc DURATION 30",
         .kind = S2D_CALL,
         .callId = 0,
         .property = PROP_DURATION,
         .value = "30"},
        {.line = "CALL -4 DURATION 1",
         .kind = S2D_CALL,
         .callId = -4,
         .property = PROP_DURATION,
         .value = "1"},
        {.line = "CALL 99999999999 DURATION 1",
         .kind = S2D_CALL,
         .callId = INT_MAX,
         .property = PROP_DURATION,
         .value = "1"},
        {.line = "CALL 3 PARTNER_HANDLE jürgen",
         .kind = S2D_CALL,
         .callId = 3,
         .property = PROP_PARTNER_HANDLE,
         .value = "jürgen"},
        {.line = "USER alice FULLNAME Alice B. Smith",
         .kind = S2D_USER,
         .handle = "alice",
         .property = PROP_FULLNAME,
         .value = "Alice B. Smith"},
        {.line = "USER alice FULLNAME  two  blanks ",
         .kind = S2D_USER,
         .handle = "alice",
         .property = PROP_FULLNAME,
         .value = " two  blanks "},
        {.line = "USER alice FULLNAME",
         .kind = S2D_USER,
         .handle = "alice",
         .property = PROP_FULLNAME},
        {.line = "USER jürgen DISPLAYNAME Zoë 山田",
         .kind = S2D_USER,
         .handle = "jürgen",
         .property = PROP_DISPLAYNAME,
         .value = "Zoë 山田"},
        {.line = "USER bob ONLINESTATUS away",
         .kind = S2D_USER,
         .handle = "bob",
         .property = PROP_ONLINESTATUS,
         .value = "away",
         .userStatus = USERSTATUS_AWAY},
        {.line = "USER bob ONLINESTATUS SLEEPING",
         .kind = S2D_USER,
         .handle = "bob",
         .property = PROP_ONLINESTATUS,
         .value = "SLEEPING",
         .userStatus = USERSTATUS_COUNT},
        {.line = "MESSAGE 55 BODY hello  there",
         .kind = S2D_MESSAGE,
         .messageId = 55,
         .property = PROP_BODY,
         .value = "hello  there"},
        {.line = "ERROR 68", .kind = S2D_ERROR, .errorCode = 68},
        {.line = "ERROR 24 Invalid call id",
         .kind = S2D_ERROR,
         .errorCode = 24,
         .errorText = "Invalid call id"},
        {.line = "ERROR", .kind = S2D_ERROR, .errorCode = 0},
        {.line = "PROTOCOL 2", .kind = S2D_PROTOCOL, .protocol = 2},
        {.line = "PROTOCOL", .kind = S2D_PROTOCOL, .protocol = 0},
        {.line = "USERSTATUS ONLINE", .kind = S2D_USERSTATUS, .userStatus = USERSTATUS_ONLINE},
        {.line = "userstatus dnd", .kind = S2D_USERSTATUS, .userStatus = USERSTATUS_DND},
        {.line = "USERSTATUS ONLINE NOW",
         .kind = S2D_USERSTATUS,
         .userStatus = USERSTATUS_COUNT},  // the whole rest
        {.line = "USERSTATUS", .kind = S2D_USERSTATUS, .userStatus = USERSTATUS_COUNT},
        {.line = "CONNSTATUS ONLINE", .kind = S2D_CONNSTATUS, .connStatus = CONNSTATUS_ONLINE},
        {.line = "CONNSTATUS SLEEPING", .kind = S2D_CONNSTATUS, .connStatus = CONNSTATUS_COUNT},
        {.line = "CURRENTUSERHANDLE jürgen", .kind = S2D_CURRENTUSERHANDLE, .handle = "jürgen"},
        {.line = "AUDIO_IN Vokra Virtual Cable 1",
         .kind = S2D_AUDIO_IN,
         .audio = "Vokra Virtual Cable 1"},
        {.line = "AUDIO_OUT  Lautsprecher (Realtek®)",
         .kind = S2D_AUDIO_OUT,
         .audio = " Lautsprecher (Realtek®)"},
        {.line = "OPEN IM bob RE: hi  there",
         .kind = S2D_OPEN_IM,
         .handle = "bob",
         .value = "RE: hi  there"},
        {.line = "open addafriend carol", .kind = S2D_OPEN_ADDAFRIEND, .handle = "carol"},
        {.line = "OPEN FILETRANSFER bob x", .kind = S2D_NONE},
        {.line = "OPEN", .kind = S2D_NONE},
        {.line = "CHAT 5 STATUS X", .kind = S2D_UNKNOWN},
        {.line = "#12 CALL 5 STATUS RINGING", .kind = S2D_UNKNOWN},  // commands carry no id prefix
        {.line = "OK", .kind = S2D_UNKNOWN},
        {.line = "", .kind = S2D_UNKNOWN},
        {.line = "USERS alice, bob", .kind = S2D_USERS},  // lists stay in the raw text
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.line);
        SkypeToDeviceCmd r(c.line);
        EXPECT_EQ(c.kind, r.m_nCmd);
        EXPECT_EQ(c.handle, r.m_strUserHandle);
        EXPECT_EQ(c.callId, r.m_nCallId);
        EXPECT_EQ(c.messageId, r.m_nMessageId);
        EXPECT_EQ(c.property, r.m_nProperty);
        EXPECT_EQ(c.value, r.m_strValue);
        EXPECT_EQ(c.callType, r.m_nCallType);
        EXPECT_EQ(c.callStatus, r.m_nCallStatus);
        EXPECT_EQ(c.userStatus, r.m_nUserStatus);
        EXPECT_EQ(c.connStatus, r.m_nConnStatus);
        EXPECT_EQ(c.errorCode, r.m_nErrorCode);
        EXPECT_EQ(c.errorText, r.m_strErrorText);
        EXPECT_EQ(c.protocol, r.m_nProtocol);
        EXPECT_EQ(c.audio, r.m_strAudioDevice);
        EXPECT_EQ(c.line, r.m_pszRawText);
    }
}

TEST(CodecParseTest, EveryInboundKeywordGivesItsKind) {
    const std::vector<std::pair<const char*, ESkypeToDeviceCmd>> cases = {
        {"NAME x", S2D_NAME},
        {"PROTOCOL 2", S2D_PROTOCOL},
        {"USERSTATUS NA", S2D_USERSTATUS},
        {"CONNSTATUS OFFLINE", S2D_CONNSTATUS},
        {"CURRENTUSERHANDLE bob", S2D_CURRENTUSERHANDLE},
        {"AUDIO_IN x", S2D_AUDIO_IN},
        {"AUDIO_OUT x", S2D_AUDIO_OUT},
        {"RINGER x", S2D_RINGER},
        {"MUTE OFF", S2D_MUTE},
        {"PRIVILEGE SKYPEOUT TRUE", S2D_PRIVILEGE},
        {"SKYPEVERSION 1.4", S2D_SKYPEVERSION},
        {"USERS a", S2D_USERS},
        {"FRIENDS a", S2D_FRIENDS},
        {"CALLS 1, 2", S2D_CALLS},
        {"MISSEDCALLS 1", S2D_MISSEDCALLS},
        {"MESSAGES 1", S2D_MESSAGES},
        {"MISSEDMESSAGES 1", S2D_MISSEDMESSAGES},
        {"USER bob HANDLE bob", S2D_USER},
        {"CALL 1 SUBJECT x", S2D_CALL},
        {"MESSAGE 1 SEEN", S2D_MESSAGE},
        {"CALLHISTORYCHANGED", S2D_CALLHISTORYCHANGED},
        {"ImHistoryChanged", S2D_IMHISTORYCHANGED},
        {"OPEN ADDAFRIEND bob", S2D_OPEN_ADDAFRIEND},
        {"OPEN IM bob", S2D_OPEN_IM},
        {"FOCUS", S2D_FOCUS},
        {"PONG", S2D_PONG},
        {"ERROR 1 x", S2D_ERROR},
    };
    for (const auto& [line, kind] : cases)
        EXPECT_EQ(kind, SkypeToDeviceCmd(line).m_nCmd) << line;
}

// The tables' numbering is fixed: the tests name values, so the numbers are checked once here.
static_assert(S2D_CALL == 18 && S2D_UNKNOWN == 27 && S2D_OPEN_ADDAFRIEND == 22);
static_assert(D2S_SET_CALL == 21 && D2S_COUNT == 34);
static_assert(USERSTATUS_COUNT == 10 && CONNSTATUS_COUNT == 5 && CALLSTATUS_RINGING == 4 &&
              CALLSTATUS_COUNT == 14 && CALLTYPE_COUNT == 7);
static_assert(PROP_STATUS == 5 && PROP_STATUS_FINISHED == 38 && PROP_COUNT == 41);

// A value of one table is refused where another table's is wanted.
static_assert(
    !std::is_constructible_v<DeviceToSkypeCmd, EDeviceToSkypeCmd, int, ECallStatus, char>);
static_assert(!std::is_constructible_v<DeviceToSkypeCmd, ESkypeToDeviceCmd>);
static_assert(!std::is_constructible_v<DeviceToSkypeCmd, int>);
static_assert(!std::is_assignable_v<ECallStatus&, EUserStatus>);

TEST(CodecNameTest, ValuesPrintTheirKeywords) {
    EXPECT_STREQ("CALL", SkypeToDeviceCmdName(S2D_CALL));
    EXPECT_STREQ("OPEN", SkypeToDeviceCmdName(S2D_OPEN_IM));
    EXPECT_STREQ("?", SkypeToDeviceCmdName(S2D_UNKNOWN));
    EXPECT_STREQ("NONE", SkypeToDeviceCmdName(S2D_NONE));
    EXPECT_STREQ("SET CALL", DeviceToSkypeCmdName(D2S_SET_CALL));
    EXPECT_STREQ("?", DeviceToSkypeCmdName(static_cast<EDeviceToSkypeCmd>(-2)));
    EXPECT_STREQ("LOGGEDOUT", UserStatusName(USERSTATUS_LOGGEDOUT));
    EXPECT_STREQ("PAUSING", ConnStatusName(CONNSTATUS_PAUSING));
    EXPECT_STREQ("CANCELLED", CallStatusName(CALLSTATUS_CANCELLED));
    EXPECT_STREQ("?", CallStatusName(CALLSTATUS_COUNT));
    EXPECT_STREQ("CONTACTS", CallTypeName(CALLTYPE_CONTACTS));
    EXPECT_STREQ("STATUS FINISHED", PropertyName(PROP_STATUS_FINISHED));
}

TEST(CodecParseTest, UnknownPropertyThrows) {
    for (const char* line :
         {"USER bob MOOD_TEXT hi", "CALL 12 VIDEO_STATUS ON", "MESSAGE 3", "USER bob",
          "CALL 12 STATUS_ONHOLD x", "USER", "CALL 12  STATUS RINGING"}) {
        EXPECT_THROW(SkypeToDeviceCmd{line}, CSkypeParseError) << line;
    }
}

TEST(CodecParseTest, FoldsOnlyAsciiLetters) {
    // A byte above 0x7F is compared as it stands: "USERß" is no keyword.
    EXPECT_EQ(S2D_UNKNOWN, SkypeToDeviceCmd("USER\xc3\x9f x").m_nCmd);
    EXPECT_EQ(S2D_UNKNOWN, SkypeToDeviceCmd("PONG\t").m_nCmd);
    EXPECT_EQ(CALLSTATUS_COUNT, SkypeToDeviceCmd("CALL 1 STATUS RİNGING").m_nCallStatus);
}

TEST(CodecParseTest, UnknownKindIsLoggedAtInfo) {
    CLogCapture log;
    SkypeToDeviceCmd chat("CHAT 5 STATUS X");
    SkypeToDeviceCmd ok("OK");
    SkypeToDeviceCmd call("CALL 1 STATUS RINGING");
    const auto entries = log.Entries();
    ASSERT_EQ(2u, entries.size());
    for (const auto& e : entries) {
        EXPECT_EQ(INFO, e.nLevel);
        EXPECT_EQ("SkypeToDeviceCmd::SkypeToDeviceCmd( Unhandled command from Skype : 0x1b]",
                  e.strMessage);
    }
}

TEST(CodecParseTest, CopiesAreIndependent) {
    SkypeToDeviceCmd a("USER jürgen DISPLAYNAME Zoë 山田");
    SkypeToDeviceCmd b = a;
    a = SkypeToDeviceCmd("PONG");
    EXPECT_EQ("USER jürgen DISPLAYNAME Zoë 山田", b.m_pszRawText);
    EXPECT_EQ("Zoë 山田", b.m_strValue);
    EXPECT_EQ(S2D_USER, b.m_nCmd);
}

// ---------------------------------------------------------------------------------------------
// Commands

struct TextCase {
    DeviceToSkypeCmd cmd;
    std::string text;
    std::string handle = "";
    int id = -1;
    EProperty property = PROP_NONE;
};

TEST(CodecCommandTest, Texts) {
    const std::vector<TextCase> cases = {
        {DeviceToSkypeCmd(D2S_PROTOCOL, 2), "PROTOCOL 2"},
        {DeviceToSkypeCmd(D2S_GET_USER, "bob", PROP_FULLNAME), "GET USER bob FULLNAME", "bob", -1,
         PROP_FULLNAME},
        {DeviceToSkypeCmd(D2S_GET_USER, "jürgen", PROP_ONLINESTATUS),
         "GET USER jürgen ONLINESTATUS", "jürgen", -1, PROP_ONLINESTATUS},
        {DeviceToSkypeCmd(D2S_GET_CALL, 12, PROP_PARTNER_HANDLE, ' '), "GET CALL 12 PARTNER_HANDLE",
         "", 12, PROP_PARTNER_HANDLE},
        {DeviceToSkypeCmd(D2S_GET_MESSAGE, 7, PROP_BODY, ' '), "GET MESSAGE 7 BODY", "", 7,
         PROP_BODY},
        {DeviceToSkypeCmd(D2S_SET_MESSAGE, 7, PROP_SEEN, ' '), "SET MESSAGE 7 SEEN", "", 7,
         PROP_SEEN},
        {DeviceToSkypeCmd(D2S_SET_CALL, 12, PROP_STATUS_INPROGRESS, ' '),
         "SET CALL 12 STATUS INPROGRESS  ", "", 12, PROP_STATUS_INPROGRESS},
        {DeviceToSkypeCmd(D2S_SET_CALL, 12, PROP_STATUS_FINISHED, ' '),
         "SET CALL 12 STATUS FINISHED  ", "", 12, PROP_STATUS_FINISHED},
        {DeviceToSkypeCmd(D2S_SEARCH_FRIENDS), "SEARCH FRIENDS"},
        {DeviceToSkypeCmd(D2S_SEARCH_MISSEDCALLS), "SEARCH MISSEDCALLS"},
        {DeviceToSkypeCmd(D2S_SEARCH_ACTIVECALLS), "SEARCH ACTIVECALLS"},
        {DeviceToSkypeCmd(D2S_SEARCH_MISSEDMESSAGES), "SEARCH MISSEDMESSAGES"},
        {DeviceToSkypeCmd(D2S_GET_USERSTATUS), "GET USERSTATUS"},
        {DeviceToSkypeCmd(D2S_GET_CONNSTATUS), "GET CONNSTATUS"},
        {DeviceToSkypeCmd(D2S_GET_AUDIO_IN), "GET AUDIO_IN"},
        {DeviceToSkypeCmd(D2S_GET_AUDIO_OUT), "GET AUDIO_OUT"},
        {DeviceToSkypeCmd(D2S_GET_CURRENTUSERHANDLE), "GET CURRENTUSERHANDLE"},
        {DeviceToSkypeCmd(D2S_GET_MUTE), "GET MUTE"},
        {DeviceToSkypeCmd(D2S_GET_PRIVILEGE), "GET PRIVILEGE"},
        {DeviceToSkypeCmd(D2S_GET_SKYPEVERSION), "GET SKYPEVERSION"},
        {DeviceToSkypeCmd(D2S_OPEN_ADDAFRIEND), "OPEN ADDAFRIEND"},
        {DeviceToSkypeCmd(D2S_FOCUS), "FOCUS"},
        {DeviceToSkypeCmd(D2S_PING), "PING"},
        {DeviceToSkypeCmd(D2S_NAME, g_szVokraAppName),
         "NAME Vokra - Answering Machine for Skype\xe2\x84\xa2 users"},
        {DeviceToSkypeCmd(D2S_SEARCH_USERS, "zoë"), "SEARCH USERS zoë"},
        {DeviceToSkypeCmd(D2S_SEARCH_CALLS, "bob"), "SEARCH CALLS bob"},
        {DeviceToSkypeCmd(D2S_SET_AUDIO_IN, "Vokra Virtual Cable 1"),
         "SET AUDIO_IN Vokra Virtual Cable 1"},
        {DeviceToSkypeCmd(D2S_SET_AUDIO_OUT, "Lautsprecher (Realtek®)"),
         "SET AUDIO_OUT Lautsprecher (Realtek®)"},
        {DeviceToSkypeCmd(D2S_CALL, "jürgen"), "CALL jürgen"},
        {DeviceToSkypeCmd(D2S_MESSAGE, "jürgen", "Hallo, Zoë 山田!"),
         "MESSAGE jürgen Hallo, Zoë 山田!", "jürgen"},
        {DeviceToSkypeCmd(D2S_OPEN_IM, "bob", "RE: Skype voice message you left me earlier ..."),
         "OPEN IM bob RE: Skype voice message you left me earlier ...", "bob"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.text, c.cmd.m_szText);
        EXPECT_EQ(static_cast<int>(c.text.size()) + 1, c.cmd.m_nLength);  // bytes with the NUL
        EXPECT_EQ(c.handle, c.cmd.m_strHandle);
        EXPECT_EQ(c.id, c.cmd.m_nId);
        EXPECT_EQ(c.property, c.cmd.m_nPropertyIndex);
        EXPECT_EQ(0u, c.cmd.m_dwSentMs);
    }
}

TEST(CodecCommandTest, WrongShapeGivesNoText) {
    CLogCapture log;
    const std::vector<DeviceToSkypeCmd> cases = {
        DeviceToSkypeCmd(D2S_GET_RINGER),
        DeviceToSkypeCmd(D2S_SET_MUTE, "ON"),
        DeviceToSkypeCmd(D2S_SET_USERSTATUS, "AWAY"),
        DeviceToSkypeCmd(D2S_PING, 3),
        DeviceToSkypeCmd(D2S_GET_USER, "bob", PROP_COUNT),
        DeviceToSkypeCmd(D2S_GET_USER, "bob", PROP_NONE),
        DeviceToSkypeCmd(D2S_GET_CALL, 12, PROP_COUNT, ' '),
        DeviceToSkypeCmd(D2S_SET_CALL, 12, static_cast<EProperty>(-7), ' '),
        DeviceToSkypeCmd(D2S_GET_USER, 12, PROP_FULLNAME, ' '),
        DeviceToSkypeCmd(D2S_MESSAGE, "bob"),
        DeviceToSkypeCmd(D2S_CALL, "bob", "text"),
        DeviceToSkypeCmd(D2S_COUNT),
        DeviceToSkypeCmd(D2S_NONE, "x"),
        DeviceToSkypeCmd(static_cast<EDeviceToSkypeCmd>(1000), 1),
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(0, cases[i].m_nLength) << i;
        EXPECT_EQ("", cases[i].m_szText) << i;
    }
    EXPECT_EQ(static_cast<int>(cases.size()), log.CountLevel(WARNING));
}

TEST(CodecCommandTest, TextOver1024BytesIsRefusedNotCut) {
    CLogCapture log;
    const std::string prefix = "MESSAGE bob ";
    // 1023 bytes of text and the NUL fill the limit exactly.
    const std::string fits(1023 - prefix.size(), 'a');
    DeviceToSkypeCmd ok(D2S_MESSAGE, "bob", fits);
    EXPECT_EQ(1024, ok.m_nLength);
    EXPECT_EQ(prefix + fits, ok.m_szText);
    EXPECT_EQ(0, log.CountLevel(WARNING));

    // The limit counts bytes: "ü" is two.
    std::string overByOne = fits;
    overByOne.back() = '\xc3';
    overByOne += '\xbc';
    for (const DeviceToSkypeCmd& refused :
         {DeviceToSkypeCmd(D2S_MESSAGE, "bob", fits + "a"),
          DeviceToSkypeCmd(D2S_MESSAGE, "bob", overByOne),
          DeviceToSkypeCmd(D2S_SET_AUDIO_IN, std::string(5000, 'x'))}) {
        EXPECT_EQ(0, refused.m_nLength);
        EXPECT_EQ("", refused.m_szText);
    }
    EXPECT_EQ(3, log.CountLevel(WARNING));
}

TEST(CodecCommandTest, TextThatCannotTravelIsRefused) {
    CLogCapture log;
    for (const DeviceToSkypeCmd& refused :
         {DeviceToSkypeCmd(D2S_CALL, std::string("bob\0evil", 8)),
          DeviceToSkypeCmd(D2S_MESSAGE, "bob", "caf\xe9"),  // Latin-1, not UTF-8
          DeviceToSkypeCmd(D2S_GET_USER, "\xff", PROP_FULLNAME),
          DeviceToSkypeCmd(D2S_SET_CALL, 1, PROP_STATUS, '\0')}) {
        EXPECT_EQ(0, refused.m_nLength);
        EXPECT_EQ("", refused.m_szText);
    }
    EXPECT_EQ(4, log.CountLevel(WARNING));
}

TEST(CodecCommandTest, CopyLeavesTheSendTimeBehind) {
    DeviceToSkypeCmd a(D2S_GET_USER, "jürgen", PROP_DISPLAYNAME);
    a.m_dwSentMs = 123456;
    DeviceToSkypeCmd b(a);
    DeviceToSkypeCmd c(D2S_PING);
    c.m_dwSentMs = 99;
    c = a;
    for (const DeviceToSkypeCmd* copy : {&b, &c}) {
        EXPECT_EQ(0u, copy->m_dwSentMs);
        EXPECT_EQ(a.m_szText, copy->m_szText);
        EXPECT_EQ(a.m_nLength, copy->m_nLength);
        EXPECT_EQ(D2S_GET_USER, copy->m_nType);
        EXPECT_EQ("jürgen", copy->m_strHandle);
        EXPECT_EQ(-1, copy->m_nId);
        EXPECT_EQ(PROP_DISPLAYNAME, copy->m_nPropertyIndex);
    }
}

// ---------------------------------------------------------------------------------------------
// Reply matching

DeviceToSkypeCmd OfType(EDeviceToSkypeCmd type) {
    DeviceToSkypeCmd cmd;
    cmd.m_nType = type;
    return cmd;
}

struct ReplyCase {
    DeviceToSkypeCmd cmd;
    std::vector<std::string> matchedBy;
    std::vector<std::string> notMatchedBy;
};

TEST(CodecReplyTest, IsReplyTo) {
    const std::vector<ReplyCase> cases = {
        {DeviceToSkypeCmd(D2S_NAME, g_szVokraAppName),
         {"NAME Vokra", "OK"},
         {"ok", "OK ", "OKAY", "PONG", "ERROR 1"}},
        {DeviceToSkypeCmd(D2S_PROTOCOL, 2), {"PROTOCOL 2", "protocol 5"}, {"OK"}},
        {DeviceToSkypeCmd(D2S_SEARCH_USERS, "bob"), {"USERS bob"}, {"FRIENDS bob"}},
        {DeviceToSkypeCmd(D2S_SEARCH_FRIENDS), {"USERS a", "FRIENDS a"}, {"CALLS"}},
        {DeviceToSkypeCmd(D2S_SEARCH_CALLS, "bob"), {"CALLS 1"}, {"MISSEDCALLS 1"}},
        {DeviceToSkypeCmd(D2S_SEARCH_ACTIVECALLS), {"CALLS"}, {"MISSEDCALLS"}},
        {DeviceToSkypeCmd(D2S_SEARCH_MISSEDCALLS), {"CALLS", "MISSEDCALLS 3"}, {"MESSAGES"}},
        {OfType(D2S_SEARCH_MESSAGES), {"MESSAGES 1"}, {"MISSEDMESSAGES 1"}},
        {DeviceToSkypeCmd(D2S_SEARCH_MISSEDMESSAGES), {"MESSAGES", "MISSEDMESSAGES"}, {"CALLS"}},
        {DeviceToSkypeCmd(D2S_GET_USER, "bob", PROP_FULLNAME),
         {"USER bob FULLNAME Bob", "user bob fullname"},
         {"USER Bob FULLNAME Bob", "USER bob DISPLAYNAME Bob", "USER bobby FULLNAME Bob"}},
        {DeviceToSkypeCmd(D2S_GET_USER, "jürgen", PROP_DISPLAYNAME),
         {"USER jürgen DISPLAYNAME Zoë 山田"},
         {"USER JüRGEN DISPLAYNAME x"}},
        {DeviceToSkypeCmd(D2S_GET_CALL, 12, PROP_STATUS, ' '),
         {"CALL 12 STATUS RINGING"},
         {"CALL 12 TYPE INCOMING_P2P", "CALL 13 STATUS RINGING", "ERROR 24"}},
        {DeviceToSkypeCmd(D2S_GET_MESSAGE, 7, PROP_BODY, ' '),
         {"MESSAGE 7 BODY hi"},
         {"MESSAGE 8 BODY hi", "MESSAGE 7 STATUS READ"}},
        {DeviceToSkypeCmd(D2S_SET_MESSAGE, 7, PROP_SEEN, ' '),
         {"MESSAGE 7 SEEN"},
         {"MESSAGE 7 BODY x"}},
        {DeviceToSkypeCmd(D2S_GET_USERSTATUS), {"USERSTATUS ONLINE"}, {"CONNSTATUS ONLINE"}},
        {OfType(D2S_SET_USERSTATUS), {"USERSTATUS AWAY"}, {}},
        {DeviceToSkypeCmd(D2S_GET_CONNSTATUS), {"CONNSTATUS ONLINE"}, {"USERSTATUS ONLINE"}},
        {DeviceToSkypeCmd(D2S_GET_AUDIO_IN), {"AUDIO_IN x"}, {"AUDIO_OUT x", "ERROR 50"}},
        {DeviceToSkypeCmd(D2S_GET_AUDIO_OUT), {"AUDIO_OUT x"}, {"AUDIO_IN x", "ERROR 50"}},
        {DeviceToSkypeCmd(D2S_SET_AUDIO_IN, "Vokra Virtual Cable 1"),
         {"AUDIO_IN Vokra Virtual Cable 1", "ERROR 50 Invalid device", "ERROR 50"},
         {"AUDIO_OUT x", "ERROR 24", "ERROR 51"}},
        {DeviceToSkypeCmd(D2S_SET_AUDIO_OUT, "Vokra Virtual Cable 2"),
         {"AUDIO_OUT Vokra Virtual Cable 2", "ERROR 50"},
         {"AUDIO_IN x", "ERROR 68"}},
        {DeviceToSkypeCmd(D2S_GET_CURRENTUSERHANDLE),
         {"CURRENTUSERHANDLE bob"},
         {"USER bob HANDLE bob"}},
        {DeviceToSkypeCmd(D2S_GET_MUTE), {"MUTE OFF"}, {"RINGER x"}},
        {OfType(D2S_SET_MUTE), {"MUTE ON"}, {}},
        {DeviceToSkypeCmd(D2S_GET_PRIVILEGE), {"PRIVILEGE SKYPEOUT TRUE"}, {}},
        {DeviceToSkypeCmd(D2S_GET_SKYPEVERSION), {"SKYPEVERSION 1.4"}, {}},
        {DeviceToSkypeCmd(D2S_SET_CALL, 12, PROP_STATUS_FINISHED, ' '),
         {"CALL 12 STATUS FINISHED", "CALL 12 DURATION 30", "ERROR 24 anything", "ERROR 24"},
         {"CALL 13 STATUS FINISHED", "ERROR 25", "ERROR 50", "ERROR 68"}},
        {DeviceToSkypeCmd(D2S_SET_CALL, 12, PROP_STATUS_INPROGRESS, ' '),
         {"CALL 12 STATUS INPROGRESS", "CALL 12 STATUS ROUTING"},
         {"ERROR 24", "CALL 1 STATUS INPROGRESS"}},
        {DeviceToSkypeCmd(D2S_CALL, "bob"), {"CALL 1 STATUS ROUTING"}, {"CALLS 1"}},
        {DeviceToSkypeCmd(D2S_MESSAGE, "bob", "hi"),
         {"MESSAGE 99 STATUS SENDING"},
         {"MESSAGES 99"}},
        {DeviceToSkypeCmd(D2S_OPEN_ADDAFRIEND),
         {"OPEN ADDAFRIEND carol"},
         {"OPEN IM carol", "OPEN FILETRANSFER"}},
        {DeviceToSkypeCmd(D2S_OPEN_IM, "bob", "RE: x"),
         {"OPEN IM bob RE: x", "OPEN IM bob"},
         {"OPEN IM Bob", "OPEN ADDAFRIEND bob", "OPEN IM bobby"}},
        {DeviceToSkypeCmd(D2S_FOCUS), {"FOCUS"}, {"PONG"}},
        {DeviceToSkypeCmd(D2S_PING), {"PONG", "pong"}, {"PING", "ERROR 68", "OK"}},
        {OfType(D2S_GET_RINGER), {}, {"RINGER x", "ERROR 50", "ERROR 24"}},
        {OfType(D2S_SET_RINGER), {}, {"RINGER x"}},
    };
    for (const ReplyCase& c : cases) {
        for (const std::string& line : c.matchedBy)
            EXPECT_TRUE(IsReplyTo(c.cmd, SkypeToDeviceCmd(line)))
                << "type " << c.cmd.m_nType << ": " << line;
        for (const std::string& line : c.notMatchedBy)
            EXPECT_FALSE(IsReplyTo(c.cmd, SkypeToDeviceCmd(line)))
                << "type " << c.cmd.m_nType << ": " << line;
    }
}

// ---------------------------------------------------------------------------------------------
// The client interface

TEST(SkypeApiTest, Vocabulary) {
    EXPECT_STREQ("SkypeControlAPIDiscover", g_szSkypeControlAPIDiscover);
    EXPECT_STREQ("SkypeControlAPIAttach", g_szSkypeControlAPIAttach);
    EXPECT_EQ(0, SKYPE_ATTACH_SUCCESS);
    EXPECT_EQ(1, SKYPE_ATTACH_PENDING_AUTHORIZATION);
    EXPECT_EQ(2, SKYPE_ATTACH_REFUSED);
    EXPECT_EQ(3, SKYPE_ATTACH_NOT_AVAILABLE);
    EXPECT_EQ(0x8001, SKYPE_ATTACH_API_AVAILABLE);
}

TEST(SkypeApiTest, CommandTravelsThroughACopyDataBlock) {
    DeviceToSkypeCmd cmd(D2S_MESSAGE, "jürgen", "Hallo, Zoë 山田!");
    COPYDATASTRUCT block = MakeSkypeCopyData(cmd.m_szText);
    EXPECT_EQ(0u, block.dwData);
    EXPECT_EQ(static_cast<DWORD>(cmd.m_nLength), block.cbData);
    EXPECT_EQ('\0', static_cast<const char*>(block.lpData)[block.cbData - 1]);

    std::string line;
    ASSERT_TRUE(ReadSkypeCopyData(block, line));
    EXPECT_EQ(cmd.m_szText, line);

    EXPECT_EQ(5u, MakeSkypeCopyData("PING").cbData);
}

TEST(SkypeApiTest, MakeRefusesLinesThatCannotTravel) {
    CLogCapture log;
    EXPECT_EQ(0u, MakeSkypeCopyData(std::string("PI\0NG", 5)).cbData);
    EXPECT_EQ(0u, MakeSkypeCopyData("CALL caf\xe9").cbData);
    EXPECT_EQ(2, log.CountLevel(WARNING));
}

TEST(SkypeApiTest, ReadRefusesMalformedBlocks) {
    struct Case {
        std::string bytes;
        DWORD count;
        bool bNullData;
        bool ok;
        std::string line;
    };
    const std::vector<Case> cases = {
        {std::string("PONG\0", 5), 5, false, true, "PONG"},
        {std::string("USER jürgen FULLNAME Zoë 山田\0", 34), 34, false, true,
         "USER jürgen FULLNAME Zoë 山田"},
        {std::string("\0", 1), 1, false, true, ""},
        {std::string("PONG\0", 5), 0, false, false, ""},            // count 0
        {std::string("PONG\0", 5), 4, false, false, ""},            // last byte is not NUL
        {std::string("PO\0NG\0", 6), 6, false, false, ""},          // NUL inside
        {std::string("CALL caf\xe9\0", 10), 10, false, false, ""},  // Latin-1
        {std::string("\xed\xa0\x80\0", 4), 4, false, false, ""},    // surrogate
        {"", 5, true, false, ""},                                   // no data
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line + " / " + std::to_string(c.count));
        ASSERT_LE(c.count, c.bytes.size() + (c.bNullData ? 5 : 0));
        CLogCapture log;
        COPYDATASTRUCT block;
        block.cbData = c.count;
        block.lpData = c.bNullData ? nullptr : c.bytes.data();
        std::string line = "stale";
        EXPECT_EQ(c.ok, ReadSkypeCopyData(block, line));
        EXPECT_EQ(c.line, line);
        EXPECT_EQ(c.ok ? 0 : 1, log.CountLevel(WARNING));
    }
}

}  // namespace
