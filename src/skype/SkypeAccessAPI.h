#pragma once
// The text protocol of Skype's desktop API as this program speaks it: keyword and value tables,
// outbound commands (DeviceToSkypeCmd), parsed inbound lines (SkypeToDeviceCmd) and the rule
// that ties a reply to the command waiting for it (IsReplyTo). Text is UTF-8 throughout.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "skype/SkypeApi.h"

// Each table below is an enum type of its own, so a value of one table cannot be passed where
// another's is wanted. The *_NONE values mark a field the line did not fill.

// Inbound keywords: the first word of a received line; the index is the line's kind.
enum ESkypeToDeviceCmd : int {
    S2D_NONE = -1,  // no line parsed yet, or OPEN with a second word other than IM or ADDAFRIEND
    S2D_NAME = 0,
    S2D_PROTOCOL,
    S2D_USERSTATUS,
    S2D_CONNSTATUS,
    S2D_CURRENTUSERHANDLE,
    S2D_AUDIO_IN,
    S2D_AUDIO_OUT,
    S2D_RINGER,
    S2D_MUTE,
    S2D_PRIVILEGE,
    S2D_SKYPEVERSION,
    S2D_USERS,
    S2D_FRIENDS,
    S2D_CALLS,
    S2D_MISSEDCALLS,
    S2D_MESSAGES,
    S2D_MISSEDMESSAGES,
    S2D_USER,
    S2D_CALL,
    S2D_MESSAGE,
    S2D_CALLHISTORYCHANGED,
    S2D_IMHISTORYCHANGED,
    S2D_OPEN_ADDAFRIEND,
    S2D_OPEN_IM,
    S2D_FOCUS,
    S2D_PONG,
    S2D_ERROR,
    S2D_UNKNOWN,  // the first word matched no keyword; also the table's size
};
extern const char* const g_aszSkypeToDeviceCmds[S2D_UNKNOWN];

// Outbound keywords: the start of a command's text; the index is the command's type.
enum EDeviceToSkypeCmd : int {
    D2S_NONE = -1,
    D2S_NAME = 0,
    D2S_PROTOCOL,
    D2S_SEARCH_USERS,
    D2S_SEARCH_FRIENDS,
    D2S_SEARCH_CALLS,
    D2S_SEARCH_MISSEDCALLS,
    D2S_SEARCH_ACTIVECALLS,
    D2S_SEARCH_MESSAGES,
    D2S_SEARCH_MISSEDMESSAGES,
    D2S_GET_USER,
    D2S_GET_CALL,
    D2S_GET_MESSAGE,
    D2S_GET_USERSTATUS,
    D2S_GET_CONNSTATUS,
    D2S_GET_AUDIO_IN,
    D2S_GET_AUDIO_OUT,
    D2S_GET_RINGER,
    D2S_GET_CURRENTUSERHANDLE,
    D2S_GET_MUTE,
    D2S_GET_PRIVILEGE,
    D2S_GET_SKYPEVERSION,
    D2S_SET_CALL,
    D2S_SET_MESSAGE,
    D2S_SET_USERSTATUS,
    D2S_SET_MUTE,
    D2S_SET_AUDIO_IN,
    D2S_SET_AUDIO_OUT,
    D2S_SET_RINGER,
    D2S_CALL,
    D2S_MESSAGE,
    D2S_OPEN_ADDAFRIEND,
    D2S_OPEN_IM,
    D2S_FOCUS,
    D2S_PING,
    D2S_COUNT,
};
extern const char* const g_aszDeviceToSkypeCmds[D2S_COUNT];

enum EUserStatus : int {
    USERSTATUS_NONE = -1,
    USERSTATUS_UNKNOWN = 0,
    USERSTATUS_OFFLINE,
    USERSTATUS_ONLINE,
    USERSTATUS_SKYPEME,
    USERSTATUS_AWAY,
    USERSTATUS_NA,
    USERSTATUS_DND,
    USERSTATUS_INVISIBLE,
    USERSTATUS_SKYPEOUT,
    USERSTATUS_LOGGEDOUT,
    USERSTATUS_COUNT,  // also the value of a status not in the table
};
extern const char* const g_aszUserStatus[USERSTATUS_COUNT];

enum EConnStatus : int {
    CONNSTATUS_NONE = -1,
    CONNSTATUS_OFFLINE = 0,
    CONNSTATUS_CONNECTING,
    CONNSTATUS_PAUSING,
    CONNSTATUS_ONLINE,
    CONNSTATUS_LOGGEDOUT,
    CONNSTATUS_COUNT,
};
extern const char* const g_aszConnStatus[CONNSTATUS_COUNT];

enum ECallStatus : int {
    CALLSTATUS_NONE = -1,
    CALLSTATUS_UNPLACED = 0,
    CALLSTATUS_ROUTING,
    CALLSTATUS_EARLYMEDIA,
    CALLSTATUS_FAILED,
    CALLSTATUS_RINGING,
    CALLSTATUS_INPROGRESS,
    CALLSTATUS_ONHOLD,
    CALLSTATUS_LOCALHOLD,
    CALLSTATUS_REMOTEHOLD,
    CALLSTATUS_FINISHED,
    CALLSTATUS_MISSED,
    CALLSTATUS_REFUSED,
    CALLSTATUS_BUSY,
    CALLSTATUS_CANCELLED,
    CALLSTATUS_COUNT,
};
extern const char* const g_aszCallStatus[CALLSTATUS_COUNT];

// Values of a call's TYPE property.
enum ECallType : int {
    CALLTYPE_NONE = -1,
    CALLTYPE_INCOMING_PSTN = 0,
    CALLTYPE_OUTGOING_PSTN,
    CALLTYPE_INCOMING_P2P,
    CALLTYPE_OUTGOING_P2P,
    CALLTYPE_AUTHREQUEST,
    CALLTYPE_TEXT,
    CALLTYPE_CONTACTS,
    CALLTYPE_COUNT,
};
extern const char* const g_aszCallType[CALLTYPE_COUNT];

enum EProperty : int {
    PROP_NONE = -1,
    PROP_TIMESTAMP = 0,
    PROP_PARTNER_HANDLE,
    PROP_PARTNER_DISPNAME,
    PROP_CONF_ID,
    PROP_TYPE,
    PROP_STATUS,
    PROP_FAILUREREASON,
    PROP_SUBJECT,
    PROP_PSTN_NUMBER,
    PROP_DURATION,
    PROP_PSTN_STATUS,
    PROP_CONF_PARTICIPANTS_COUNT,
    PROP_CONF_PARTICIPANT,
    PROP_DTMF,
    PROP_BODY,
    PROP_HANDLE,
    PROP_FULLNAME,
    PROP_BIRTHDAY,
    PROP_SEX,
    PROP_LANGUAGE,
    PROP_COUNTRY,
    PROP_PROVINCE,
    PROP_CITY,
    PROP_PHONE_HOME,
    PROP_PHONE_OFFICE,
    PROP_PHONE_MOBILE,
    PROP_HOMEPAGE,
    PROP_ABOUT,
    PROP_HASCALLEQUIPMENT,
    PROP_BUDDYSTATUS,
    PROP_ISAUTHORIZED,
    PROP_ISBLOCKED,
    PROP_DISPLAYNAME,
    PROP_ONLINESTATUS,
    PROP_LASTONLINETIMESTAMP,
    PROP_SPEEDDIAL,
    // These three hold a blank: they only serve in outbound commands.
    PROP_STATUS_ONHOLD,
    PROP_STATUS_INPROGRESS,
    PROP_STATUS_FINISHED,
    PROP_SEEN,
    PROP_JOIN_CONFERENCE,
    PROP_COUNT,
};
extern const char* const g_aszProperty[PROP_COUNT];

// A value's keyword for log lines: "OPEN" for both OPEN kinds, "NONE" for the *_NONE values,
// "?" for the count or anything out of range.
const char* SkypeToDeviceCmdName(ESkypeToDeviceCmd e);
const char* DeviceToSkypeCmdName(EDeviceToSkypeCmd e);
const char* UserStatusName(EUserStatus e);
const char* ConnStatusName(EConnStatus e);
const char* CallStatusName(ECallStatus e);
const char* CallTypeName(ECallType e);
const char* PropertyName(EProperty e);

// One outbound command line. A command whose text could not be built has m_nLength 0.
class DeviceToSkypeCmd {
public:
    // The most bytes a command text may have, its terminating NUL included.
    static constexpr int kMaxTextBytes = 1024;

    DeviceToSkypeCmd() = default;
    // PROTOCOL: "PROTOCOL 2".
    DeviceToSkypeCmd(EDeviceToSkypeCmd type, int number);
    // GET USER: "GET USER <handle> <property>".
    DeviceToSkypeCmd(EDeviceToSkypeCmd type, const std::string& handle, EProperty property);
    // GET CALL, GET MESSAGE, SET MESSAGE: "<keyword> <id> <property>";
    // SET CALL: "SET CALL <id> <property> <ch>".
    DeviceToSkypeCmd(EDeviceToSkypeCmd type, int id, EProperty property, char ch);
    // The commands that are just their keyword (GET USERSTATUS, PING, ...).
    explicit DeviceToSkypeCmd(EDeviceToSkypeCmd type);
    // NAME, SEARCH USERS, SEARCH CALLS, SET AUDIO_IN, SET AUDIO_OUT, CALL: "<keyword> <text>".
    DeviceToSkypeCmd(EDeviceToSkypeCmd type, const std::string& text);
    // MESSAGE, OPEN IM: "<keyword> <handle> <text>".
    DeviceToSkypeCmd(EDeviceToSkypeCmd type, const std::string& handle, const std::string& text);

    // A copy takes the type, the matching keys and the text; not the send time, which the
    // transport sets when it hands the copy to the sender.
    DeviceToSkypeCmd(const DeviceToSkypeCmd& other);
    DeviceToSkypeCmd& operator=(const DeviceToSkypeCmd& other);

    // Length of m_szText in bytes plus its terminating NUL; 0 when there is no text.
    int m_nLength = 0;
    std::string m_szText;
    // Monotonic milliseconds (32-bit wrap-around) when handed to the sender; 0 until then.
    uint32_t m_dwSentMs = 0;
    EDeviceToSkypeCmd m_nType = D2S_NONE;
    // Reply-matching keys: handle for GET USER, MESSAGE, OPEN IM; id and property for GET/SET
    // CALL and MESSAGE (property also for GET USER).
    std::string m_strHandle;
    int m_nId = -1;
    EProperty m_nPropertyIndex = PROP_NONE;

private:
    // Takes text as the command's text, or refuses it (no text, WARNING log line).
    void SetText(std::string text);
};

// Thrown by the SkypeToDeviceCmd parser for a line it cannot take; the transport catches it.
class CSkypeParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One parsed inbound line. Every number and table value starts at -1 (the *_NONE values) and
// every string empty; each kind fills only its own fields.
class SkypeToDeviceCmd {
public:
    SkypeToDeviceCmd() = default;
    // Parses one line (UTF-8, without a terminator). Throws CSkypeParseError for a USER, CALL or
    // MESSAGE line whose property word is not in the property table.
    explicit SkypeToDeviceCmd(const std::string& line);

    ESkypeToDeviceCmd m_nCmd = S2D_NONE;
    std::string m_strUserHandle;
    int m_nCallId = -1;
    int m_nMessageId = -1;
    EProperty m_nProperty = PROP_NONE;
    std::string m_strValue;
    ECallType m_nCallType = CALLTYPE_NONE;
    ECallStatus m_nCallStatus = CALLSTATUS_NONE;
    EUserStatus m_nUserStatus = USERSTATUS_NONE;
    EConnStatus m_nConnStatus = CONNSTATUS_NONE;
    int m_nErrorCode = -1;
    std::string m_strErrorText;
    int m_nProtocol = -1;
    std::string m_strAudioDevice;
    // The whole received line; list answers (USERS, CALLS, ...) are read from here.
    std::string m_pszRawText;
};

// True when record acknowledges command.
bool IsReplyTo(const DeviceToSkypeCmd& command, const SkypeToDeviceCmd& record);

// Index of word in table (comparing the letters A to Z without case), or count when absent.
int FindKeyword(const char* const* table, int count, std::string_view word);

// FindKeyword over one of the tables above, giving that table's type (its count when absent).
template <typename E, size_t N>
E FindKeywordIn(const char* const (&table)[N], std::string_view word) {
    return static_cast<E>(FindKeyword(table, static_cast<int>(N), word));
}

// Skype's error numbers (the number after "ERROR") that this program acts on.
enum SkypeErrorCode : int {
    SKYPE_ERROR_CANNOT_HANGUP_INACTIVE_CALL = 24,  // a hang-up of a call that has already ended
    SKYPE_ERROR_CANNOT_SET_DEVICE = 50,            // SET AUDIO_IN / AUDIO_OUT refused
    SKYPE_ERROR_ACCESS_DENIED = 68,                // the link to Skype is gone: attach again
};
