// The commands a program sends, answered in the real client's forms.
#include "sim/SkypeSim.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Clock.h"
#include "platform/StrUtil.h"
#include "sim/SkypeSimUtil.h"
#include "skype/SkypeAccessAPI.h"
#include "skype/SkypeApi.h"

using namespace sim_detail;

namespace {
// When the steps of a placed call happen, after the CALL command.
constexpr uint32_t kRoutingMs = 100;
constexpr uint32_t kRingingMs = 600;
constexpr uint32_t kCalleeDecidesMs = 2600;
constexpr uint32_t kMessageSentMs = 100;

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ')
            ++j;
        if (j > i)
            words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

// The text after the first n words and the one blank that follows them, as it stands.
std::string RestAfter(const std::string& line, size_t n) {
    size_t i = 0;
    for (size_t k = 0; k < n; ++k) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        while (i < line.size() && line[i] != ' ')
            ++i;
    }
    if (i < line.size())
        ++i;
    return i < line.size() ? line.substr(i) : std::string();
}

std::string TrimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

bool IsNumber(const std::string& s) {
    return !s.empty() && s.size() < 10 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Join(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& x : v) {
        if (!s.empty())
            s += ", ";
        s += x;
    }
    return s;
}
}  // namespace

void CSkypeSim::Execute(const std::string& strLine, std::vector<std::string>& replies) {
    const std::vector<std::string> w = SplitWords(strLine);
    const std::string k0 = w.empty() ? std::string() : Upper(w[0]);
    const std::string k1 = w.size() > 1 ? Upper(w[1]) : std::string();

    if (k0 == "NAME" && w.size() > 1) {
        replies.push_back("OK");
    } else if (k0 == "PROTOCOL" && w.size() > 1 && IsNumber(w[1])) {
        const int n = std::clamp(std::atoi(w[1].c_str()), 1, m_nMaxProtocol);
        replies.push_back(StrFormat("PROTOCOL %d", n));
    } else if (k0 == "PING" && w.size() == 1) {
        replies.push_back("PONG");
    } else if (k0 == "GET") {
        CmdGet(w, strLine, replies);
    } else if (k0 == "SET") {
        CmdSet(w, strLine, replies);
    } else if (k0 == "MESSAGE") {
        CmdMessage(w.size() > 1 ? w[1] : std::string(), TrimRight(RestAfter(strLine, 2)), replies);
    } else if (k0 == "CALL") {
        CmdCall(w.size() > 1 ? w[1] : std::string(), replies);
    } else if (k0 == "OPEN" && k1 == "IM" && w.size() > 2) {
        replies.push_back("OPEN IM " + RestAfter(strLine, 2));
    } else if (k0 == "OPEN" && k1 == "ADDAFRIEND" && w.size() > 2) {
        replies.push_back("OPEN ADDAFRIEND " + w[2]);
    } else if (k0 == "SEARCH" && k1 == "FRIENDS") {
        std::vector<std::string> v;
        for (const auto& [key, user] : m_mapUsers)
            if (user.m_nBuddyStatus >= SIM_BUDDY_PENDING)
                v.push_back(user.m_strHandle);
        replies.push_back("USERS " + Join(v));
    } else if (k0 == "SEARCH" && (k1 == "ACTIVECALLS" || k1 == "MISSEDCALLS" || k1 == "CALLS")) {
        std::vector<std::string> v;
        for (const auto& [id, call] : m_mapCalls) {
            const bool bWanted = k1 == "CALLS" ||
                                 (k1 == "ACTIVECALLS" && !IsEnded(call.m_nStatus)) ||
                                 (k1 == "MISSEDCALLS" && call.m_nStatus == CALLSTATUS_MISSED);
            if (bWanted)
                v.push_back(std::to_string(id));
        }
        replies.push_back("CALLS " + Join(v));
    } else if (k0 == "FOCUS" && w.size() == 1) {
        replies.push_back("FOCUS");
    } else {
        replies.push_back("ERROR 2 Unknown command");
    }
}

void CSkypeSim::CmdGet(const std::vector<std::string>& w, const std::string& strLine,
                       std::vector<std::string>& replies) {
    (void)strLine;
    const std::string k1 = w.size() > 1 ? Upper(w[1]) : std::string();
    if (k1 == "USERSTATUS" && w.size() == 2) {
        replies.push_back(std::string("USERSTATUS ") +
                          StatusName(g_aszUserStatus, USERSTATUS_COUNT, m_nUserStatus));
    } else if (k1 == "CONNSTATUS" && w.size() == 2) {
        replies.push_back(std::string("CONNSTATUS ") +
                          StatusName(g_aszConnStatus, CONNSTATUS_COUNT, m_nConnStatus));
    } else if (k1 == "CURRENTUSERHANDLE" && w.size() == 2) {
        replies.push_back("CURRENTUSERHANDLE " + m_strCurrentUser);
    } else if (k1 == "AUDIO_IN" && w.size() == 2) {
        replies.push_back("AUDIO_IN " + m_strAudioIn);
    } else if (k1 == "AUDIO_OUT" && w.size() == 2) {
        replies.push_back("AUDIO_OUT " + m_strAudioOut);
    } else if (k1 == "SKYPEVERSION" && w.size() == 2) {
        replies.push_back("SKYPEVERSION 3.8.0.188");
    } else if (k1 == "MUTE" && w.size() == 2) {
        replies.push_back("MUTE OFF");
    } else if (k1 == "USER") {
        if (w.size() < 3) {
            replies.push_back("ERROR 8 Invalid user handle");
            return;
        }
        const std::string prop = w.size() > 3 ? Upper(w[3]) : std::string();
        const CSimUser* pUser = FindUser(w[2]);
        CSimUser probe;  // property names are checked before the user is looked up
        if (w.size() != 4 || !UserProperty(probe, prop)) {
            replies.push_back("ERROR 10 Invalid PROP");
        } else if (!pUser) {
            replies.push_back("ERROR 9 Unknown user");
        } else {
            // The handle as the program wrote it: that is what it matches the reply by.
            replies.push_back("USER " + w[2] + " " + prop + " " + *UserProperty(*pUser, prop));
        }
    } else if (k1 == "CALL") {
        if (w.size() < 3 || !IsNumber(w[2])) {
            replies.push_back("ERROR 11 Invalid call id");
            return;
        }
        const int id = std::atoi(w[2].c_str());
        const std::string prop = w.size() > 3 ? Upper(w[3]) : std::string();
        auto it = m_mapCalls.find(id);
        if (w.size() != 4 || !CallProperty(CSimCall{}, prop)) {
            replies.push_back("ERROR 13 Invalid PROP");
        } else if (it == m_mapCalls.end()) {
            replies.push_back("ERROR 12 Unknown call");
        } else {
            replies.push_back(StrFormat("CALL %d ", id) + prop + " " +
                              *CallProperty(it->second, prop));
        }
    } else if (k1 == "MESSAGE") {
        if (w.size() < 3 || !IsNumber(w[2])) {
            replies.push_back("ERROR 14 Invalid message id");
            return;
        }
        const int id = std::atoi(w[2].c_str());
        const std::string prop = w.size() > 3 ? Upper(w[3]) : std::string();
        auto it = m_mapMessages.find(id);
        if (w.size() != 4 || !MessageProperty(CSimChatMessage{}, prop)) {
            replies.push_back("ERROR 16 Invalid PROP");
        } else if (it == m_mapMessages.end()) {
            replies.push_back("ERROR 15 Unknown message");
        } else {
            replies.push_back(StrFormat("MESSAGE %d ", id) + prop + " " +
                              *MessageProperty(it->second, prop));
        }
    } else {
        replies.push_back("ERROR 2 Unknown command");
    }
}

void CSkypeSim::CmdSet(const std::vector<std::string>& w, const std::string& strLine,
                       std::vector<std::string>& replies) {
    const std::string k1 = w.size() > 1 ? Upper(w[1]) : std::string();
    if ((k1 == "AUDIO_IN" || k1 == "AUDIO_OUT") && w.size() > 2) {
        const bool bIn = k1 == "AUDIO_IN";
        const std::string dev = TrimRight(RestAfter(strLine, 2));
        const auto& list = bIn ? m_vecAudioIn : m_vecAudioOut;
        if (std::find(list.begin(), list.end(), dev) == list.end()) {
            replies.push_back("ERROR 50 cannot set device");
            return;
        }
        (bIn ? m_strAudioIn : m_strAudioOut) = dev;
        replies.push_back(k1 + " " + dev);
        // Calls that carry sound switch to the new device at once.
        for (auto& [id, call] : m_mapCalls) {
            if (call.m_bAudio && m_pAudio) {
                m_pAudio->OnCallAudioStop(id);
                m_pAudio->OnCallAudioStart(id, m_strAudioIn, m_strAudioOut);
            }
        }
    } else if (k1 == "CALL") {
        CmdSetCall(w, replies);
    } else if (k1 == "USERSTATUS" && w.size() == 3) {
        const int n = FindKeyword(g_aszUserStatus, USERSTATUS_COUNT, w[2]);
        if (n == USERSTATUS_COUNT || n == USERSTATUS_LOGGEDOUT || n == USERSTATUS_SKYPEOUT) {
            replies.push_back("ERROR 28 Unknown userstatus");
            return;
        }
        m_nUserStatus = n;
        if (CSimUser* me = FindUser(m_strCurrentUser))
            me->m_nOnlineStatus = n;
        replies.push_back(std::string("USERSTATUS ") + g_aszUserStatus[n]);
    } else {
        replies.push_back("ERROR 2 Unknown command");
    }
}

void CSkypeSim::CmdSetCall(const std::vector<std::string>& w, std::vector<std::string>& replies) {
    if (w.size() < 3 || !IsNumber(w[2])) {
        replies.push_back("ERROR 11 Invalid call id");
        return;
    }
    const int id = std::atoi(w[2].c_str());
    auto it = m_mapCalls.find(id);
    if (it == m_mapCalls.end()) {
        replies.push_back("ERROR 12 Unknown call");
        return;
    }
    if (w.size() != 5 || Upper(w[3]) != "STATUS") {
        replies.push_back("ERROR 21 Unknown/disallowed call prop");
        return;
    }
    CSimCall& call = it->second;
    const std::string value = Upper(w[4]);
    const auto reply = [&](int nStatus) {
        SetCallStatus(call, nStatus);
        replies.push_back(StrFormat("CALL %d STATUS %s", id, g_aszCallStatus[nStatus]));
    };
    if (value == "INPROGRESS") {
        if ((call.m_nStatus == CALLSTATUS_RINGING && IsIncoming(call.m_nType)) ||
            call.m_nStatus == CALLSTATUS_ONHOLD || call.m_nStatus == CALLSTATUS_LOCALHOLD ||
            call.m_nStatus == CALLSTATUS_INPROGRESS)
            reply(CALLSTATUS_INPROGRESS);
        else
            replies.push_back("ERROR 23 Cannot resume this call");
    } else if (value == "FINISHED") {
        if (IsActive(call.m_nStatus))
            reply(CALLSTATUS_FINISHED);
        else if (call.m_nStatus == CALLSTATUS_RINGING && IsIncoming(call.m_nType))
            reply(CALLSTATUS_REFUSED);
        else if (!IsEnded(call.m_nStatus))
            reply(CALLSTATUS_CANCELLED);  // our own call, not answered yet
        else
            replies.push_back("ERROR 24 Cannot hangup inactive call");
    } else if (value == "ONHOLD") {
        if (call.m_nStatus == CALLSTATUS_INPROGRESS)
            reply(CALLSTATUS_ONHOLD);
        else
            replies.push_back("ERROR 22 Cannot hold this call at the moment");
    } else {
        replies.push_back("ERROR 21 Unknown/disallowed call prop");
    }
}

void CSkypeSim::CmdCall(const std::string& strTarget, std::vector<std::string>& replies) {
    if (strTarget.empty()) {
        replies.push_back("ERROR 8 Invalid user handle");
        return;
    }
    CSimCall call;
    call.m_nId = NextId();
    call.m_strPartner = strTarget;
    call.m_nType = strTarget[0] == '+' ? CALLTYPE_OUTGOING_PSTN : CALLTYPE_OUTGOING_P2P;
    call.m_nStatus = CALLSTATUS_UNPLACED;
    call.m_nTimestamp = Clock().WallNow().sec;
    m_mapCalls[call.m_nId] = call;
    replies.push_back(StrFormat("CALL %d STATUS UNPLACED", call.m_nId));

    const int id = call.m_nId;
    const CSimUser* pUser = FindUser(strTarget);
    const bool bReachable = call.m_nType == CALLTYPE_OUTGOING_PSTN ||
                            (pUser && pUser->m_nOnlineStatus != USERSTATUS_OFFLINE &&
                             pUser->m_nOnlineStatus != USERSTATUS_LOGGEDOUT);
    const int nAction = pUser ? pUser->m_nCalleeAction : SIM_CALLEE_ANSWERS;
    auto step = [this, id](int nExpect, int nNew) {
        return [this, id, nExpect, nNew] { PlaceCallStep(id, nExpect, nNew); };
    };
    QueueAction(kRoutingMs, step(CALLSTATUS_UNPLACED, CALLSTATUS_ROUTING));
    if (!bReachable) {
        QueueAction(kRingingMs, step(CALLSTATUS_ROUTING, CALLSTATUS_FAILED));
    } else if (nAction == SIM_CALLEE_BUSY) {
        QueueAction(kRingingMs, step(CALLSTATUS_ROUTING, CALLSTATUS_BUSY));
    } else {
        QueueAction(kRingingMs, step(CALLSTATUS_ROUTING, CALLSTATUS_RINGING));
        if (nAction == SIM_CALLEE_ANSWERS)
            QueueAction(kCalleeDecidesMs, step(CALLSTATUS_RINGING, CALLSTATUS_INPROGRESS));
        else if (nAction == SIM_CALLEE_REFUSES)
            QueueAction(kCalleeDecidesMs, step(CALLSTATUS_RINGING, CALLSTATUS_REFUSED));
    }
}

void CSkypeSim::PlaceCallStep(int nCallId, int nExpectStatus, int nNewStatus) {
    Lock g(m_m);
    auto it = m_mapCalls.find(nCallId);
    if (it == m_mapCalls.end() || it->second.m_nStatus != nExpectStatus)
        return;  // hung up (or otherwise moved on) meanwhile
    SetCallStatus(it->second, nNewStatus);
    QueueNotification(StrFormat("CALL %d STATUS %s", nCallId, g_aszCallStatus[nNewStatus]));
    Kick();
}

void CSkypeSim::CmdMessage(const std::string& strHandle, const std::string& strText,
                           std::vector<std::string>& replies) {
    if (strHandle.empty()) {
        replies.push_back("ERROR 8 Invalid user handle");
        return;
    }
    if (strText.empty()) {
        replies.push_back("ERROR 43 cannot send empty message");
        return;
    }
    CSimChatMessage msg;
    msg.m_nId = NextId();
    msg.m_strPartner = strHandle;
    msg.m_strBody = strText;
    msg.m_strStatus = "SENDING";
    msg.m_nTimestamp = Clock().WallNow().sec;
    m_mapMessages[msg.m_nId] = msg;
    replies.push_back(StrFormat("MESSAGE %d STATUS SENDING", msg.m_nId));
    const int id = msg.m_nId;
    QueueAction(kMessageSentMs, [this, id] {
        Lock g(m_m);
        auto it = m_mapMessages.find(id);
        if (it == m_mapMessages.end())
            return;
        it->second.m_strStatus = "SENT";
        QueueNotification(StrFormat("MESSAGE %d STATUS SENT", id));
        Kick();
    });
}
