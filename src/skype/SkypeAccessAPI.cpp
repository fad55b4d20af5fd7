#include "skype/SkypeAccessAPI.h"

#include <initializer_list>

#include "app/Logger.h"
#include "platform/StrUtil.h"

const char* const g_aszSkypeToDeviceCmds[S2D_UNKNOWN] = {
    "NAME",
    "PROTOCOL",
    "USERSTATUS",
    "CONNSTATUS",
    "CURRENTUSERHANDLE",
    "AUDIO_IN",
    "AUDIO_OUT",
    "RINGER",
    "MUTE",
    "PRIVILEGE",
    "SKYPEVERSION",
    "USERS",
    "FRIENDS",
    "CALLS",
    "MISSEDCALLS",
    "MESSAGES",
    "MISSEDMESSAGES",
    "USER",
    "CALL",
    "MESSAGE",
    "CALLHISTORYCHANGED",
    "IMHISTORYCHANGED",
    "OPEN",
    "OPEN",
    "FOCUS",
    "PONG",
    "ERROR",
};

const char* const g_aszDeviceToSkypeCmds[D2S_COUNT] = {
    "NAME",
    "PROTOCOL",
    "SEARCH USERS",
    "SEARCH FRIENDS",
    "SEARCH CALLS",
    "SEARCH MISSEDCALLS",
    "SEARCH ACTIVECALLS",
    "SEARCH MESSAGES",
    "SEARCH MISSEDMESSAGES",
    "GET USER",
    "GET CALL",
    "GET MESSAGE",
    "GET USERSTATUS",
    "GET CONNSTATUS",
    "GET AUDIO_IN",
    "GET AUDIO_OUT",
    "GET RINGER",
    "GET CURRENTUSERHANDLE",
    "GET MUTE",
    "GET PRIVILEGE",
    "GET SKYPEVERSION",
    "SET CALL",
    "SET MESSAGE",
    "SET USERSTATUS",
    "SET MUTE",
    "SET AUDIO_IN",
    "SET AUDIO_OUT",
    "SET RINGER",
    "CALL",
    "MESSAGE",
    "OPEN ADDAFRIEND",
    "OPEN IM",
    "FOCUS",
    "PING",
};

const char* const g_aszUserStatus[USERSTATUS_COUNT] = {
    "UNKNOWN", "OFFLINE", "ONLINE",    "SKYPEME",  "AWAY",
    "NA",      "DND",     "INVISIBLE", "SKYPEOUT", "LOGGEDOUT",
};

const char* const g_aszConnStatus[CONNSTATUS_COUNT] = {
    "OFFLINE", "CONNECTING", "PAUSING", "ONLINE", "LOGGEDOUT",
};

const char* const g_aszCallStatus[CALLSTATUS_COUNT] = {
    "UNPLACED",  "ROUTING",    "EARLYMEDIA", "FAILED", "RINGING", "INPROGRESS", "ONHOLD",
    "LOCALHOLD", "REMOTEHOLD", "FINISHED",   "MISSED", "REFUSED", "BUSY",       "CANCELLED",
};

const char* const g_aszCallType[CALLTYPE_COUNT] = {
    "INCOMING_PSTN", "OUTGOING_PSTN", "INCOMING_P2P", "OUTGOING_P2P",
    "AUTHREQUEST",   "TEXT",          "CONTACTS",
};

const char* const g_aszProperty[PROP_COUNT] = {
    "TIMESTAMP",
    "PARTNER_HANDLE",
    "PARTNER_DISPNAME",
    "CONF_ID",
    "TYPE",
    "STATUS",
    "FAILUREREASON",
    "SUBJECT",
    "PSTN_NUMBER",
    "DURATION",
    "PSTN_STATUS",
    "CONF_PARTICIPANTS_COUNT",
    "CONF_PARTICIPANT",
    "DTMF",
    "BODY",
    "HANDLE",
    "FULLNAME",
    "BIRTHDAY",
    "SEX",
    "LANGUAGE",
    "COUNTRY",
    "PROVINCE",
    "CITY",
    "PHONE_HOME",
    "PHONE_OFFICE",
    "PHONE_MOBILE",
    "HOMEPAGE",
    "ABOUT",
    "HASCALLEQUIPMENT",
    "BUDDYSTATUS",
    "ISAUTHORIZED",
    "ISBLOCKED",
    "DISPLAYNAME",
    "ONLINESTATUS",
    "LASTONLINETIMESTAMP",
    "SPEEDDIAL",
    "STATUS ONHOLD",
    "STATUS INPROGRESS",
    "STATUS FINISHED",
    "SEEN",
    "JOIN_CONFERENCE",
};

namespace {

// Walks a line word by word. Words are separated by single blanks; the position after the
// last word may lie past the end of the line, and then the rest is empty.
class CWordReader {
public:
    explicit CWordReader(std::string_view line) : m_line(line) {}
    std::string_view NextWord() {
        if (m_nPos >= m_line.size()) {
            m_nPos = m_line.size() + 1;
            return {};
        }
        size_t nBlank = m_line.find(' ', m_nPos);
        std::string_view word;
        if (nBlank == std::string_view::npos) {
            word = m_line.substr(m_nPos);
            m_nPos = m_line.size() + 1;
        } else {
            word = m_line.substr(m_nPos, nBlank - m_nPos);
            m_nPos = nBlank + 1;
        }
        return word;
    }
    // The text after the blank that ended the last word read.
    std::string Rest() const {
        return m_nPos <= m_line.size() ? std::string(m_line.substr(m_nPos)) : std::string();
    }

private:
    std::string_view m_line;
    size_t m_nPos = 0;
};

bool IsOneOf(EDeviceToSkypeCmd n, std::initializer_list<EDeviceToSkypeCmd> set) {
    for (EDeviceToSkypeCmd v : set)
        if (n == v)
            return true;
    return false;
}

}  // namespace

namespace {

// The keyword of value e in table, for log lines.
template <typename E, size_t N>
const char* TableName(const char* const (&table)[N], E e) {
    if (static_cast<int>(e) == -1)
        return "NONE";
    if (static_cast<int>(e) < 0 || static_cast<size_t>(e) >= N)
        return "?";
    return table[static_cast<size_t>(e)];
}

}  // namespace

const char* SkypeToDeviceCmdName(ESkypeToDeviceCmd e) {
    return TableName(g_aszSkypeToDeviceCmds, e);
}
const char* DeviceToSkypeCmdName(EDeviceToSkypeCmd e) {
    return TableName(g_aszDeviceToSkypeCmds, e);
}
const char* UserStatusName(EUserStatus e) {
    return TableName(g_aszUserStatus, e);
}
const char* ConnStatusName(EConnStatus e) {
    return TableName(g_aszConnStatus, e);
}
const char* CallStatusName(ECallStatus e) {
    return TableName(g_aszCallStatus, e);
}
const char* CallTypeName(ECallType e) {
    return TableName(g_aszCallType, e);
}
const char* PropertyName(EProperty e) {
    return TableName(g_aszProperty, e);
}

int FindKeyword(const char* const* table, int count, std::string_view word) {
    for (int i = 0; i < count; ++i)
        if (EqualNoCase(table[i], word))
            return i;
    return count;
}

// ---------------------------------------------------------------------------------------------
// DeviceToSkypeCmd

DeviceToSkypeCmd::DeviceToSkypeCmd(EDeviceToSkypeCmd type, int number) : m_nType(type) {
    if (type != D2S_PROTOCOL) {
        VLOG(WARNING, "DeviceToSkypeCmd::DeviceToSkypeCmd type %d takes no number", type);
        return;
    }
    SetText(StrFormat("%s %d", g_aszDeviceToSkypeCmds[type], number));
}

DeviceToSkypeCmd::DeviceToSkypeCmd(EDeviceToSkypeCmd type, const std::string& handle,
                                   EProperty property)
    : m_nType(type) {
    if (type != D2S_GET_USER || property < 0 || property >= PROP_COUNT) {
        VLOG(WARNING, "DeviceToSkypeCmd::DeviceToSkypeCmd type %d takes no handle and property %d",
             type, property);
        return;
    }
    m_strHandle = handle;
    m_nPropertyIndex = property;
    SetText(std::string(g_aszDeviceToSkypeCmds[type]) + ' ' + handle + ' ' +
            g_aszProperty[property]);
}

DeviceToSkypeCmd::DeviceToSkypeCmd(EDeviceToSkypeCmd type, int id, EProperty property, char ch)
    : m_nType(type) {
    if (!IsOneOf(type, {D2S_GET_CALL, D2S_GET_MESSAGE, D2S_SET_MESSAGE, D2S_SET_CALL}) ||
        property < 0 || property >= PROP_COUNT) {
        VLOG(WARNING, "DeviceToSkypeCmd::DeviceToSkypeCmd type %d takes no id and property %d",
             type, property);
        return;
    }
    m_nId = id;
    m_nPropertyIndex = property;
    std::string text =
        StrFormat("%s %d %s", g_aszDeviceToSkypeCmds[type], id, g_aszProperty[property]);
    if (type == D2S_SET_CALL) {
        text += ' ';
        text += ch;
    }
    SetText(std::move(text));
}

DeviceToSkypeCmd::DeviceToSkypeCmd(EDeviceToSkypeCmd type) : m_nType(type) {
    if (!IsOneOf(type, {D2S_SEARCH_FRIENDS, D2S_SEARCH_MISSEDCALLS, D2S_SEARCH_ACTIVECALLS,
                        D2S_SEARCH_MISSEDMESSAGES, D2S_GET_USERSTATUS, D2S_GET_CONNSTATUS,
                        D2S_GET_AUDIO_IN, D2S_GET_AUDIO_OUT, D2S_GET_CURRENTUSERHANDLE,
                        D2S_GET_MUTE, D2S_GET_PRIVILEGE, D2S_GET_SKYPEVERSION, D2S_OPEN_ADDAFRIEND,
                        D2S_FOCUS, D2S_PING})) {
        VLOG(WARNING, "DeviceToSkypeCmd::DeviceToSkypeCmd type %d needs arguments", type);
        return;
    }
    SetText(g_aszDeviceToSkypeCmds[type]);
}

DeviceToSkypeCmd::DeviceToSkypeCmd(EDeviceToSkypeCmd type, const std::string& text)
    : m_nType(type) {
    if (!IsOneOf(type, {D2S_NAME, D2S_SEARCH_USERS, D2S_SEARCH_CALLS, D2S_SET_AUDIO_IN,
                        D2S_SET_AUDIO_OUT, D2S_CALL})) {
        VLOG(WARNING, "DeviceToSkypeCmd::DeviceToSkypeCmd type %d takes no text", type);
        return;
    }
    SetText(std::string(g_aszDeviceToSkypeCmds[type]) + ' ' + text);
}

DeviceToSkypeCmd::DeviceToSkypeCmd(EDeviceToSkypeCmd type, const std::string& handle,
                                   const std::string& text)
    : m_nType(type) {
    if (!IsOneOf(type, {D2S_MESSAGE, D2S_OPEN_IM})) {
        VLOG(WARNING, "DeviceToSkypeCmd::DeviceToSkypeCmd type %d takes no handle and text", type);
        return;
    }
    m_strHandle = handle;
    SetText(std::string(g_aszDeviceToSkypeCmds[type]) + ' ' + handle + ' ' + text);
}

DeviceToSkypeCmd::DeviceToSkypeCmd(const DeviceToSkypeCmd& other)
    : m_nLength(other.m_nLength),
      m_szText(other.m_szText),
      m_nType(other.m_nType),
      m_strHandle(other.m_strHandle),
      m_nId(other.m_nId),
      m_nPropertyIndex(other.m_nPropertyIndex) {}

DeviceToSkypeCmd& DeviceToSkypeCmd::operator=(const DeviceToSkypeCmd& other) {
    if (this != &other) {
        m_nLength = other.m_nLength;
        m_szText = other.m_szText;
        m_dwSentMs = 0;
        m_nType = other.m_nType;
        m_strHandle = other.m_strHandle;
        m_nId = other.m_nId;
        m_nPropertyIndex = other.m_nPropertyIndex;
    }
    return *this;
}

void DeviceToSkypeCmd::SetText(std::string text) {
    // Refused rather than cut: a shortened command would still go out and do something else.
    const char* pszWhy = nullptr;
    if (text.size() + 1 > static_cast<size_t>(kMaxTextBytes))
        pszWhy = "too long";
    else if (text.find('\0') != std::string::npos)
        pszWhy = "NUL inside";
    else if (!IsValidUtf8(text))
        pszWhy = "not UTF-8";
    if (pszWhy) {
        VLOG(WARNING, "DeviceToSkypeCmd::SetText type %d refused a text of %zu bytes: %s", m_nType,
             text.size(), pszWhy);
        m_szText.clear();
        m_nLength = 0;
        return;
    }
    m_nLength = static_cast<int>(text.size() + 1);
    m_szText = std::move(text);
}

// ---------------------------------------------------------------------------------------------
// SkypeToDeviceCmd

SkypeToDeviceCmd::SkypeToDeviceCmd(const std::string& line) : m_pszRawText(line) {
    CWordReader reader(line);
    m_nCmd = FindKeywordIn<ESkypeToDeviceCmd>(g_aszSkypeToDeviceCmds, reader.NextWord());

    // USER, CALL and MESSAGE name a property; one we do not know makes the line unusable.
    auto readProperty = [&]() {
        std::string_view word = reader.NextWord();
        m_nProperty = FindKeywordIn<EProperty>(g_aszProperty, word);
        if (m_nProperty == PROP_COUNT)
            throw CSkypeParseError("unknown property '" + std::string(word) + "'");
        m_strValue = reader.Rest();
    };

    switch (m_nCmd) {
        case S2D_PROTOCOL:
            m_nProtocol = ReadLeadingInt(reader.NextWord());
            break;
        case S2D_USERSTATUS:
            m_nUserStatus = FindKeywordIn<EUserStatus>(g_aszUserStatus, reader.Rest());
            break;
        case S2D_CONNSTATUS:
            m_nConnStatus = FindKeywordIn<EConnStatus>(g_aszConnStatus, reader.Rest());
            break;
        case S2D_CURRENTUSERHANDLE:
            m_strUserHandle = reader.Rest();
            break;
        case S2D_AUDIO_IN:
        case S2D_AUDIO_OUT:
            m_strAudioDevice = reader.Rest();
            break;
        case S2D_USER:
            m_strUserHandle = std::string(reader.NextWord());
            readProperty();
            if (m_nProperty == PROP_ONLINESTATUS)
                m_nUserStatus = FindKeywordIn<EUserStatus>(g_aszUserStatus, m_strValue);
            break;
        case S2D_CALL:
            m_nCallId = ReadLeadingInt(reader.NextWord());
            readProperty();
            if (m_nProperty == PROP_TYPE)
                m_nCallType = FindKeywordIn<ECallType>(g_aszCallType, m_strValue);
            else if (m_nProperty == PROP_STATUS)
                m_nCallStatus = FindKeywordIn<ECallStatus>(g_aszCallStatus, m_strValue);
            break;
        case S2D_MESSAGE:
            m_nMessageId = ReadLeadingInt(reader.NextWord());
            readProperty();
            break;
        case S2D_OPEN_ADDAFRIEND:  // every OPEN line finds this entry first
        case S2D_OPEN_IM: {
            std::string_view what = reader.NextWord();
            if (EqualNoCase(what, "IM")) {
                m_nCmd = S2D_OPEN_IM;
            } else if (EqualNoCase(what, "ADDAFRIEND")) {
                m_nCmd = S2D_OPEN_ADDAFRIEND;
            } else {
                m_nCmd = S2D_NONE;
                break;
            }
            m_strUserHandle = std::string(reader.NextWord());
            m_strValue = reader.Rest();
            break;
        }
        case S2D_ERROR:
            m_nErrorCode = ReadLeadingInt(reader.NextWord());
            m_strErrorText = reader.Rest();
            break;
        case S2D_UNKNOWN:
            VLOG(INFO, "SkypeToDeviceCmd::SkypeToDeviceCmd( Unhandled command from Skype : %#x]",
                 m_nCmd);
            break;
        default:  // the kinds that carry nothing but themselves
            break;
    }
}

// ---------------------------------------------------------------------------------------------

bool IsReplyTo(const DeviceToSkypeCmd& command, const SkypeToDeviceCmd& record) {
    const ESkypeToDeviceCmd kind = record.m_nCmd;
    bool bMatched = false;
    switch (command.m_nType) {
        case D2S_NAME:
            // The client answers NAME with a bare "OK" as well.
            bMatched = kind == S2D_NAME || (kind == S2D_UNKNOWN && record.m_pszRawText == "OK");
            break;
        case D2S_PROTOCOL:
            bMatched = kind == S2D_PROTOCOL;
            break;
        case D2S_SEARCH_USERS:
            bMatched = kind == S2D_USERS;
            break;
        case D2S_SEARCH_FRIENDS:
            bMatched = kind == S2D_USERS || kind == S2D_FRIENDS;
            break;
        case D2S_SEARCH_CALLS:
        case D2S_SEARCH_ACTIVECALLS:
            bMatched = kind == S2D_CALLS;
            break;
        case D2S_SEARCH_MISSEDCALLS:
            bMatched = kind == S2D_CALLS || kind == S2D_MISSEDCALLS;
            break;
        case D2S_SEARCH_MESSAGES:
            bMatched = kind == S2D_MESSAGES;
            break;
        case D2S_SEARCH_MISSEDMESSAGES:
            bMatched = kind == S2D_MESSAGES || kind == S2D_MISSEDMESSAGES;
            break;
        case D2S_GET_USER:
            bMatched = kind == S2D_USER && record.m_strUserHandle == command.m_strHandle &&
                       record.m_nProperty == command.m_nPropertyIndex;
            break;
        case D2S_GET_CALL:
            bMatched = kind == S2D_CALL && record.m_nCallId == command.m_nId &&
                       record.m_nProperty == command.m_nPropertyIndex;
            break;
        case D2S_GET_MESSAGE:
        case D2S_SET_MESSAGE:
            bMatched = kind == S2D_MESSAGE && record.m_nMessageId == command.m_nId &&
                       record.m_nProperty == command.m_nPropertyIndex;
            break;
        case D2S_GET_USERSTATUS:
        case D2S_SET_USERSTATUS:
            bMatched = kind == S2D_USERSTATUS;
            break;
        case D2S_GET_CONNSTATUS:
            bMatched = kind == S2D_CONNSTATUS;
            break;
        case D2S_GET_AUDIO_IN:
        case D2S_SET_AUDIO_IN:
            bMatched = kind == S2D_AUDIO_IN;
            break;
        case D2S_GET_AUDIO_OUT:
        case D2S_SET_AUDIO_OUT:
            bMatched = kind == S2D_AUDIO_OUT;
            break;
        case D2S_GET_CURRENTUSERHANDLE:
            bMatched = kind == S2D_CURRENTUSERHANDLE;
            break;
        case D2S_GET_MUTE:
        case D2S_SET_MUTE:
            bMatched = kind == S2D_MUTE;
            break;
        case D2S_GET_PRIVILEGE:
            bMatched = kind == S2D_PRIVILEGE;
            break;
        case D2S_GET_SKYPEVERSION:
            bMatched = kind == S2D_SKYPEVERSION;
            break;
        case D2S_SET_CALL:
            bMatched = kind == S2D_CALL && record.m_nCallId == command.m_nId;
            break;
        case D2S_CALL:
            bMatched = kind == S2D_CALL;
            break;
        case D2S_MESSAGE:
            bMatched = kind == S2D_MESSAGE;
            break;
        case D2S_OPEN_ADDAFRIEND:
            bMatched = kind == S2D_OPEN_ADDAFRIEND;
            break;
        case D2S_OPEN_IM:
            bMatched = kind == S2D_OPEN_IM && record.m_strUserHandle == command.m_strHandle;
            break;
        case D2S_FOCUS:
            bMatched = kind == S2D_FOCUS;
            break;
        case D2S_PING:
            bMatched = kind == S2D_PONG;
            break;
        default:  // GET RINGER, SET RINGER and anything unknown wait for the time-out
            break;
    }
    if (bMatched)
        return true;

    // Errors that still settle a command: hanging up a call that is already gone, and a
    // device the client would not take.
    if (kind == S2D_ERROR) {
        if (record.m_nErrorCode == SKYPE_ERROR_CANNOT_HANGUP_INACTIVE_CALL &&
            command.m_nType == D2S_SET_CALL && command.m_nPropertyIndex == PROP_STATUS_FINISHED)
            return true;
        if (record.m_nErrorCode == SKYPE_ERROR_CANNOT_SET_DEVICE &&
            (command.m_nType == D2S_SET_AUDIO_IN || command.m_nType == D2S_SET_AUDIO_OUT))
            return true;
    }
    return false;
}
