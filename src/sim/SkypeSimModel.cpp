// The model: users, calls and chat messages, their properties, and a call's status changes.
#include "sim/SkypeSim.h"

#include <map>

#include "platform/Clock.h"
#include "platform/StrUtil.h"
#include "sim/SkypeSimUtil.h"
#include "skype/SkypeApi.h"

using namespace sim_detail;

namespace {
constexpr uint32_t kDurationTickMs = 1000;

// User properties the client knows beyond the ones modelled as fields, with their defaults.
const std::map<std::string, std::string>& OtherUserProperties() {
    static const std::map<std::string, std::string> m = {
        {"BIRTHDAY", "0"},
        {"SEX", "UNKNOWN"},
        {"LANGUAGE", ""},
        {"COUNTRY", ""},
        {"PROVINCE", ""},
        {"CITY", ""},
        {"PHONE_HOME", ""},
        {"PHONE_OFFICE", ""},
        {"PHONE_MOBILE", ""},
        {"HOMEPAGE", ""},
        {"ABOUT", ""},
        {"SPEEDDIAL", ""},
        {"MOOD_TEXT", ""},
        {"TIMEZONE", "0"},
        {"NROF_AUTHED_BUDDIES", "0"},
        {"CAN_LEAVE_VM", "TRUE"},
        {"IS_VIDEO_CAPABLE", "FALSE"},
        {"ALIASES", ""},
    };
    return m;
}
}  // namespace

CSimUser* CSkypeSim::FindUser(const std::string& strHandle) {
    auto it = m_mapUsers.find(Lower(strHandle));
    return it == m_mapUsers.end() ? nullptr : &it->second;
}

const CSimUser* CSkypeSim::FindUser(const std::string& strHandle) const {
    auto it = m_mapUsers.find(Lower(strHandle));
    return it == m_mapUsers.end() ? nullptr : &it->second;
}

CSimUser& CSkypeSim::UserFor(const std::string& strHandle) {
    if (CSimUser* p = FindUser(strHandle))
        return *p;
    CSimUser user;
    user.m_strHandle = strHandle;
    user.m_nBuddyStatus = SIM_BUDDY_NEVER;
    return m_mapUsers[Lower(strHandle)] = user;
}

std::optional<std::string> CSkypeSim::UserProperty(const CSimUser& user,
                                                   const std::string& prop) const {
    if (prop == "HANDLE")
        return user.m_strHandle;
    if (prop == "FULLNAME")
        return user.m_strFullName;
    if (prop == "DISPLAYNAME")
        return user.m_strDisplayName;
    if (prop == "ONLINESTATUS")
        return std::string(StatusName(g_aszUserStatus, USERSTATUS_COUNT, user.m_nOnlineStatus));
    if (prop == "BUDDYSTATUS")
        return std::to_string(user.m_nBuddyStatus);
    if (prop == "LASTONLINETIMESTAMP")
        return std::to_string(user.m_nLastOnline);
    if (prop == "ISAUTHORIZED")
        return std::string(user.m_nBuddyStatus == SIM_BUDDY_FRIEND ? "TRUE" : "FALSE");
    if (prop == "ISBLOCKED")
        return std::string("FALSE");
    if (prop == "HASCALLEQUIPMENT")
        return std::string("TRUE");
    auto own = user.m_mapOther.find(prop);
    if (own != user.m_mapOther.end())
        return own->second;
    const auto& others = OtherUserProperties();
    auto it = others.find(prop);
    if (it != others.end())
        return it->second;
    return std::nullopt;
}

std::optional<std::string> CSkypeSim::CallProperty(const CSimCall& call,
                                                   const std::string& prop) const {
    if (prop == "TIMESTAMP")
        return std::to_string(call.m_nTimestamp);
    if (prop == "PARTNER_HANDLE")
        return call.m_strPartner;
    if (prop == "PARTNER_DISPNAME") {
        const CSimUser* p = FindUser(call.m_strPartner);
        if (!p)
            return call.m_strPartner;
        return !p->m_strDisplayName.empty() ? p->m_strDisplayName
               : !p->m_strFullName.empty()  ? p->m_strFullName
                                            : p->m_strHandle;
    }
    if (prop == "CONF_ID" || prop == "CONF_PARTICIPANTS_COUNT" || prop == "FAILUREREASON")
        return std::string("0");
    if (prop == "TYPE")
        return std::string(StatusName(g_aszCallType, CALLTYPE_COUNT, call.m_nType));
    if (prop == "STATUS")
        return std::string(StatusName(g_aszCallStatus, CALLSTATUS_COUNT, call.m_nStatus));
    if (prop == "DURATION")
        return std::to_string(call.m_nDuration);
    if (prop == "PSTN_NUMBER")
        return call.m_nType == CALLTYPE_INCOMING_PSTN || call.m_nType == CALLTYPE_OUTGOING_PSTN
                   ? call.m_strPartner
                   : std::string();
    if (prop == "SUBJECT" || prop == "PSTN_STATUS")
        return std::string();
    if (prop == "VIDEO_STATUS")
        return std::string("VIDEO_NONE");
    if (prop == "SEEN")
        return std::string(call.m_nStatus == CALLSTATUS_MISSED ? "FALSE" : "TRUE");
    return std::nullopt;
}

std::optional<std::string> CSkypeSim::MessageProperty(const CSimChatMessage& msg,
                                                      const std::string& prop) const {
    if (prop == "TIMESTAMP")
        return std::to_string(msg.m_nTimestamp);
    if (prop == "PARTNER_HANDLE")
        return msg.m_strPartner;
    if (prop == "PARTNER_DISPNAME") {
        const CSimUser* p = FindUser(msg.m_strPartner);
        return p && !p->m_strFullName.empty() ? p->m_strFullName : msg.m_strPartner;
    }
    if (prop == "CONF_ID" || prop == "FAILUREREASON")
        return std::string("0");
    if (prop == "TYPE")
        return std::string("TEXT");
    if (prop == "STATUS")
        return msg.m_strStatus;
    if (prop == "BODY")
        return msg.m_strBody;
    return std::nullopt;
}

void CSkypeSim::SetCallStatus(CSimCall& call, int nStatus) {
    call.m_nStatus = nStatus;
    const UINT uTimer = kTimerCallBase + static_cast<UINT>(call.m_nId);
    if (nStatus == CALLSTATUS_INPROGRESS) {
        if (!IsTimerSet(uTimer))
            SetTimer(uTimer, kDurationTickMs);
        if (!call.m_bAudio) {
            call.m_bAudio = true;
            if (m_pAudio)
                m_pAudio->OnCallAudioStart(call.m_nId, m_strAudioIn, m_strAudioOut);
        }
        return;
    }
    if (IsEnded(nStatus))
        KillTimer(uTimer);
    if (call.m_bAudio) {
        call.m_bAudio = false;
        if (m_pAudio)
            m_pAudio->OnCallAudioStop(call.m_nId);
    }
}

void CSkypeSim::OnCallTick(int nCallId) {
    Lock g(m_m);
    auto it = m_mapCalls.find(nCallId);
    if (it == m_mapCalls.end() || !IsActive(it->second.m_nStatus)) {
        KillTimer(kTimerCallBase + static_cast<UINT>(nCallId));
        return;
    }
    ++it->second.m_nDuration;
    QueueNotification(StrFormat("CALL %d DURATION %d", nCallId, it->second.m_nDuration));
    Kick();
}
