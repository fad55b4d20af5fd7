// The scenario: what a test or the demo makes the client do and asks it about.
#include "sim/SkypeSim.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/StrUtil.h"
#include "sim/SkypeSimUtil.h"
#include "skype/SkypeAccessAPI.h"
#include "skype/SkypeApi.h"

using namespace sim_detail;

void CSkypeSim::SetAttachMode(int mode) {
    Lock g(m_m);
    m_nAttachMode = mode;
}

void CSkypeSim::UserAllowsAccess() {
    Lock g(m_m);
    if (m_hWndPending == 0)
        return;
    m_setAllowed.insert(m_hWndPending);
    m_hWndClient = m_hWndPending;
    PostAttach(m_hWndPending, SKYPE_ATTACH_SUCCESS);
    m_hWndPending = 0;
}

void CSkypeSim::UserRefusesAccess() {
    Lock g(m_m);
    if (m_hWndPending == 0)
        return;
    PostAttach(m_hWndPending, SKYPE_ATTACH_REFUSED);
    m_hWndPending = 0;
}

void CSkypeSim::SetApiAvailable(bool bAvailable) {
    Lock g(m_m);
    if (!bAvailable) {
        m_bApiAvailable = false;
        m_hWndClient = 0;
        m_hWndPending = 0;
        return;
    }
    if (m_bApiAvailable)
        return;
    m_bApiAvailable = true;
    // Told to every program on the desktop, asked or not.
    Desktop().PostMessage(HWND_BROADCAST, m_uMsgAttach, m_hWndSelf.load(),
                          SKYPE_ATTACH_API_AVAILABLE);
}

void CSkypeSim::SetMaxProtocol(int nProtocol) {
    Lock g(m_m);
    m_nMaxProtocol = std::max(1, nProtocol);
}

HWND CSkypeSim::AttachedClient() const {
    Lock g(m_m);
    return m_hWndClient;
}

void CSkypeSim::SetCurrentUser(const std::string& strHandle, const std::string& strFullName) {
    Lock g(m_m);
    m_strCurrentUser = strHandle;
    CSimUser& me = UserFor(strHandle);
    me.m_strFullName = strFullName;
    me.m_nBuddyStatus = SIM_BUDDY_NEVER;
    me.m_nOnlineStatus = m_nUserStatus;
}

std::string CSkypeSim::CurrentUser() const {
    Lock g(m_m);
    return m_strCurrentUser;
}

void CSkypeSim::LogIn(const std::string& strHandle, const std::string& strFullName) {
    Lock g(m_m);
    m_nUserStatus = USERSTATUS_ONLINE;
    SetCurrentUser(strHandle, strFullName);
    m_nConnStatus = CONNSTATUS_CONNECTING;
    QueueNotification("CONNSTATUS CONNECTING");
    QueueNotification("CURRENTUSERHANDLE " + strHandle);
    QueueNotification("USERSTATUS ONLINE");
    m_nConnStatus = CONNSTATUS_ONLINE;
    QueueNotification("CONNSTATUS ONLINE");
    Kick();
}

void CSkypeSim::LogOut() {
    Lock g(m_m);
    for (auto& [id, call] : m_mapCalls) {
        if (IsActive(call.m_nStatus)) {
            SetCallStatus(call, CALLSTATUS_FINISHED);
            QueueNotification(StrFormat("CALL %d STATUS FINISHED", id));
        } else if (!IsEnded(call.m_nStatus)) {
            const int nEnd = IsIncoming(call.m_nType) ? CALLSTATUS_MISSED : CALLSTATUS_CANCELLED;
            SetCallStatus(call, nEnd);
            QueueNotification(StrFormat("CALL %d STATUS %s", id, g_aszCallStatus[nEnd]));
        }
    }
    m_nUserStatus = USERSTATUS_LOGGEDOUT;
    m_nConnStatus = CONNSTATUS_LOGGEDOUT;
    m_strCurrentUser.clear();
    QueueNotification("USERSTATUS LOGGEDOUT");
    QueueNotification("CONNSTATUS LOGGEDOUT");
    Kick();
}

void CSkypeSim::SetUserStatus(int nUserStatus) {
    Lock g(m_m);
    if (nUserStatus < 0 || nUserStatus >= USERSTATUS_COUNT)
        return;
    m_nUserStatus = nUserStatus;
    if (CSimUser* me = FindUser(m_strCurrentUser))
        me->m_nOnlineStatus = nUserStatus;
    QueueNotification(std::string("USERSTATUS ") + g_aszUserStatus[nUserStatus]);
    Kick();
}

int CSkypeSim::UserStatus() const {
    Lock g(m_m);
    return m_nUserStatus;
}

void CSkypeSim::AddContact(const CSimUser& user) {
    Lock g(m_m);
    m_mapUsers[Lower(user.m_strHandle)] = user;
}

void CSkypeSim::AddContact(const std::string& strHandle, const std::string& strFullName,
                           const std::string& strDisplayName, int nOnlineStatus, int nBuddyStatus) {
    CSimUser user;
    user.m_strHandle = strHandle;
    user.m_strFullName = strFullName;
    user.m_strDisplayName = strDisplayName;
    user.m_nOnlineStatus = nOnlineStatus;
    user.m_nBuddyStatus = nBuddyStatus;
    AddContact(user);
}

void CSkypeSim::SetContactProperty(const std::string& strHandle, const std::string& strProperty,
                                   const std::string& strValue) {
    Lock g(m_m);
    CSimUser& user = UserFor(strHandle);
    const std::string prop = Upper(strProperty);
    if (prop == "FULLNAME") {
        user.m_strFullName = strValue;
    } else if (prop == "DISPLAYNAME") {
        user.m_strDisplayName = strValue;
    } else if (prop == "ONLINESTATUS") {
        user.m_nOnlineStatus = FindKeyword(g_aszUserStatus, USERSTATUS_COUNT, strValue);
    } else if (prop == "BUDDYSTATUS") {
        user.m_nBuddyStatus = std::atoi(strValue.c_str());
    } else if (prop == "LASTONLINETIMESTAMP") {
        user.m_nLastOnline = std::atoll(strValue.c_str());
    } else {
        user.m_mapOther[prop] = strValue;
    }
    QueueNotification("USER " + user.m_strHandle + " " + prop + " " + strValue);
    Kick();
}

std::optional<CSimUser> CSkypeSim::GetUser(const std::string& strHandle) const {
    Lock g(m_m);
    const CSimUser* p = FindUser(strHandle);
    return p ? std::optional<CSimUser>(*p) : std::nullopt;
}

void CSkypeSim::SetCalleeAction(const std::string& strHandle, int nAction) {
    Lock g(m_m);
    UserFor(strHandle).m_nCalleeAction = nAction;
}

void CSkypeSim::SetAudioDevices(const std::vector<std::string>& in,
                                const std::vector<std::string>& out,
                                const std::string& strCurrentIn, const std::string& strCurrentOut) {
    Lock g(m_m);
    m_vecAudioIn = in;
    m_vecAudioOut = out;
    m_strAudioIn = !strCurrentIn.empty() ? strCurrentIn : (in.empty() ? "" : in.front());
    m_strAudioOut = !strCurrentOut.empty() ? strCurrentOut : (out.empty() ? "" : out.front());
}

std::string CSkypeSim::AudioIn() const {
    Lock g(m_m);
    return m_strAudioIn;
}

std::string CSkypeSim::AudioOut() const {
    Lock g(m_m);
    return m_strAudioOut;
}

int CSkypeSim::IncomingCall(const std::string& strPartner, int nType) {
    Lock g(m_m);
    UserFor(strPartner);
    CSimCall call;
    call.m_nId = NextId();
    call.m_strPartner = strPartner;
    call.m_nType = nType;
    call.m_nStatus = CALLSTATUS_RINGING;
    call.m_nTimestamp = Clock().WallNow().sec;
    m_mapCalls[call.m_nId] = call;
    QueueNotification(StrFormat("CALL %d CONF_ID 0", call.m_nId));
    QueueNotification(StrFormat("CALL %d STATUS RINGING", call.m_nId));
    Kick();
    return call.m_nId;
}

void CSkypeSim::RingAgain(int nCallId) {
    Lock g(m_m);
    auto it = m_mapCalls.find(nCallId);
    if (it == m_mapCalls.end() || it->second.m_nStatus != CALLSTATUS_RINGING)
        return;
    QueueNotification(StrFormat("CALL %d STATUS RINGING", nCallId));
    Kick();
}

void CSkypeSim::CallerHangsUp(int nCallId) {
    Lock g(m_m);
    auto it = m_mapCalls.find(nCallId);
    if (it == m_mapCalls.end())
        return;
    CSimCall& call = it->second;
    if (IsActive(call.m_nStatus)) {
        QueueNotification(StrFormat("CALL %d DURATION %d", nCallId, call.m_nDuration));
        SetCallStatus(call, CALLSTATUS_FINISHED);
        QueueNotification(StrFormat("CALL %d STATUS FINISHED", nCallId));
    } else if (!IsEnded(call.m_nStatus)) {
        // Hung up before anyone answered: missed on our side, refused by the one we called.
        const int nEnd = IsIncoming(call.m_nType) ? CALLSTATUS_MISSED : CALLSTATUS_REFUSED;
        SetCallStatus(call, nEnd);
        QueueNotification(StrFormat("CALL %d STATUS %s", nCallId, g_aszCallStatus[nEnd]));
    }
    Kick();
}

void CSkypeSim::MissCall(int nCallId) {
    Lock g(m_m);
    auto it = m_mapCalls.find(nCallId);
    if (it == m_mapCalls.end() || it->second.m_nStatus != CALLSTATUS_RINGING)
        return;
    SetCallStatus(it->second, CALLSTATUS_MISSED);
    QueueNotification(StrFormat("CALL %d STATUS MISSED", nCallId));
    Kick();
}

void CSkypeSim::HoldCall(int nCallId, bool bByPartner) {
    Lock g(m_m);
    auto it = m_mapCalls.find(nCallId);
    if (it == m_mapCalls.end() || it->second.m_nStatus != CALLSTATUS_INPROGRESS)
        return;
    const int nHold = bByPartner ? CALLSTATUS_REMOTEHOLD : CALLSTATUS_ONHOLD;
    SetCallStatus(it->second, nHold);
    QueueNotification(StrFormat("CALL %d STATUS %s", nCallId, g_aszCallStatus[nHold]));
    Kick();
}

void CSkypeSim::ResumeCall(int nCallId) {
    Lock g(m_m);
    auto it = m_mapCalls.find(nCallId);
    if (it == m_mapCalls.end() || !IsHeld(it->second.m_nStatus))
        return;
    SetCallStatus(it->second, CALLSTATUS_INPROGRESS);
    QueueNotification(StrFormat("CALL %d STATUS INPROGRESS", nCallId));
    Kick();
}

std::optional<CSimCall> CSkypeSim::GetCall(int nCallId) const {
    Lock g(m_m);
    auto it = m_mapCalls.find(nCallId);
    return it == m_mapCalls.end() ? std::nullopt : std::optional<CSimCall>(it->second);
}

void CSkypeSim::SetCallAudio(ISimCallAudio* pAudio) {
    Lock g(m_m);
    m_pAudio = pAudio;
}

int CSkypeSim::ReceiveChatMessage(const std::string& strPartner, const std::string& strBody) {
    Lock g(m_m);
    UserFor(strPartner);
    CSimChatMessage msg;
    msg.m_nId = NextId();
    msg.m_strPartner = strPartner;
    msg.m_strBody = strBody;
    msg.m_strStatus = "RECEIVED";
    msg.m_bIncoming = true;
    msg.m_nTimestamp = Clock().WallNow().sec;
    m_mapMessages[msg.m_nId] = msg;
    QueueNotification(StrFormat("MESSAGE %d STATUS RECEIVED", msg.m_nId));
    Kick();
    return msg.m_nId;
}

std::optional<CSimChatMessage> CSkypeSim::GetChatMessage(int nId) const {
    Lock g(m_m);
    auto it = m_mapMessages.find(nId);
    return it == m_mapMessages.end() ? std::nullopt : std::optional<CSimChatMessage>(it->second);
}

std::vector<CSimChatMessage> CSkypeSim::SentChatMessages() const {
    Lock g(m_m);
    std::vector<CSimChatMessage> v;
    for (const auto& [id, msg] : m_mapMessages)
        if (!msg.m_bIncoming)
            v.push_back(msg);
    return v;
}

void CSkypeSim::Notify(const std::string& strLine) {
    Lock g(m_m);
    QueueNotification(strLine);
    Kick();
}

void CSkypeSim::SendRaw(const std::string& strBytes) {
    Lock g(m_m);
    COutgoing out;
    out.m_uDueMs = Clock().NowMs();
    out.m_strBytes = strBytes;
    InsertOut(std::move(out));
    Kick();
}

void CSkypeSim::DropReplies(int nCount, const std::string& strPrefix) {
    Lock g(m_m);
    m_faultDrop = CFault{nCount, strPrefix, 0};
}

void CSkypeSim::DelayReplies(int nCount, uint32_t nDelayMs, const std::string& strPrefix) {
    Lock g(m_m);
    m_faultDelay = CFault{nCount, strPrefix, nDelayMs};
}

void CSkypeSim::AnswerError68(int nCount, const std::string& strPrefix) {
    Lock g(m_m);
    m_faultError68 = CFault{nCount, strPrefix, 0};
}

void CSkypeSim::DuplicateNotifications(int nCount) {
    Lock g(m_m);
    m_nDuplicate = nCount;
}

void CSkypeSim::RefuseCopyData(int nCount) {
    Lock g(m_m);
    m_nRefuseCopyData = nCount;
}

void CSkypeSim::SetDeliveryDelay(uint32_t nDelayMs) {
    Lock g(m_m);
    m_nDeliveryDelayMs = nDelayMs;
}

void CSkypeSim::SetUnrelatedLines(bool bOn) {
    Lock g(m_m);
    m_bUnrelated = bOn;
}

std::vector<std::string> CSkypeSim::ReceivedLines() const {
    Lock g(m_m);
    return m_vecReceived;
}

std::vector<std::string> CSkypeSim::SentLines() const {
    Lock g(m_m);
    return m_vecSent;
}

int CSkypeSim::RefusedByClient() const {
    Lock g(m_m);
    return m_nRefusedByClient;
}

void CSkypeSim::ClearHistory() {
    Lock g(m_m);
    m_vecReceived.clear();
    m_vecSent.clear();
    m_nRefusedByClient = 0;
}
