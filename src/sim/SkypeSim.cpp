#include "sim/SkypeSim.h"

#include <algorithm>
#include <cctype>

#include "app/Logger.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "skype/SkypeAccessAPI.h"
#include "skype/SkypeApi.h"

namespace {
constexpr UINT WM_SIM_COMMAND = WM_USER + 1000;  // owns the received line (std::string)
constexpr UINT WM_SIM_FLUSH = WM_USER + 1001;
constexpr UINT kTimerFlush = 1;
constexpr UINT kTimerCallBase = 1000;  // + call id: the call's one-second DURATION tick

// When the steps of a placed call happen, after the CALL command.
constexpr uint32_t kRoutingMs = 100;
constexpr uint32_t kRingingMs = 600;
constexpr uint32_t kCalleeDecidesMs = 2600;
constexpr uint32_t kMessageSentMs = 100;
constexpr uint32_t kDurationTickMs = 1000;

using Lock = std::lock_guard<std::recursive_mutex>;

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

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

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && Upper(s.substr(0, prefix.size())) == Upper(prefix);
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

bool IsActive(int status) {
    return status == CALLSTATUS_INPROGRESS || status == CALLSTATUS_ONHOLD ||
           status == CALLSTATUS_LOCALHOLD || status == CALLSTATUS_REMOTEHOLD;
}

bool IsHeld(int status) {
    return status == CALLSTATUS_ONHOLD || status == CALLSTATUS_LOCALHOLD ||
           status == CALLSTATUS_REMOTEHOLD;
}

bool IsEnded(int status) {
    return status == CALLSTATUS_FAILED || status == CALLSTATUS_FINISHED ||
           status == CALLSTATUS_MISSED || status == CALLSTATUS_REFUSED ||
           status == CALLSTATUS_BUSY || status == CALLSTATUS_CANCELLED;
}

bool IsIncoming(int type) {
    return type == CALLTYPE_INCOMING_P2P || type == CALLTYPE_INCOMING_PSTN;
}

const char* StatusName(const char* const* table, int count, int value) {
    return value >= 0 && value < count ? table[value] : "UNKNOWN";
}

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

// The simulator's own thread: creates the window on its loop before the loop runs.
class CSkypeSim::CThread : public CMsgThread {
public:
    explicit CThread(CSkypeSim& sim) : m_sim(sim) {}
    ~CThread() override { StopThread(); }

protected:
    bool InitInstance() override {
        if (!m_sim.CreateWindowOn(Loop(), g_szSkypeSimTitle))
            return false;
        m_sim.m_hWndSelf.store(m_sim.GetSafeHwnd());  // before any discover can reach us
        return true;
    }

private:
    CSkypeSim& m_sim;
};

bool CSkypeSim::CFault::Hits(const std::string& strLine) {
    if (m_nCount <= 0 || !StartsWithNoCase(strLine, m_strPrefix))
        return false;
    --m_nCount;
    return true;
}

CSkypeSim::CSkypeSim()
    : m_uMsgDiscover(RegisterWindowMessage(g_szSkypeControlAPIDiscover)),
      m_uMsgAttach(RegisterWindowMessage(g_szSkypeControlAPIAttach)) {
    m_vecAudioIn = {"Built-in Microphone", "Vokra Virtual Cable 1", "Vokra Virtual Cable 2"};
    m_vecAudioOut = {"Built-in Speakers", "Vokra Virtual Cable 1", "Vokra Virtual Cable 2"};
    m_strAudioIn = m_vecAudioIn.front();
    m_strAudioOut = m_vecAudioOut.front();
    SetCurrentUser("echo123", "Echo Test User");
}

CSkypeSim::~CSkypeSim() {
    Stop();
}

bool CSkypeSim::Start(CMsgLoop* pLoop) {
    if (m_hWndSelf.load() != 0 || m_pThread)
        return false;
    if (pLoop) {
        if (!CreateWindowOn(*pLoop, g_szSkypeSimTitle))
            return false;
    } else {
        m_pThread = std::make_unique<CThread>(*this);
        if (!m_pThread->CreateThread()) {
            m_pThread.reset();
            return false;
        }
    }
    m_hWndSelf.store(GetSafeHwnd());
    VLOG(INFO, "CSkypeSim::Start window %#zx", static_cast<size_t>(GetSafeHwnd()));
    return true;
}

void CSkypeSim::Stop() {
    if (m_pThread) {
        m_pThread->StopThread();  // its loop closes: the window can go from here
        m_pThread.reset();
    }
    m_hWndSelf.store(0);
    DestroyWindow();
    Lock g(m_m);
    m_qOut.clear();
}

uint32_t CSkypeSim::ThreadId() const {
    return m_pThread ? m_pThread->ThreadId() : 0;
}

// ---------------------------------------------------------------------------------------------
// Scenario

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

// ---------------------------------------------------------------------------------------------
// Outgoing lines and scheduled events

void CSkypeSim::InsertOut(COutgoing out) {
    out.m_uSeq = ++m_uOutSeq;
    // After everything due at the same moment or earlier: lines keep their order.
    auto it = std::upper_bound(m_qOut.begin(), m_qOut.end(), out.m_uDueMs,
                               [](uint64_t due, const COutgoing& o) { return due < o.m_uDueMs; });
    m_qOut.insert(it, std::move(out));
}

void CSkypeSim::QueueLine(const std::string& strLine, uint32_t nDelayMs, bool bDetachAfter) {
    COutgoing out;
    out.m_uDueMs = Clock().NowMs() + nDelayMs;
    out.m_strBytes = strLine;
    out.m_strBytes.push_back('\0');
    out.m_bDetachAfter = bDetachAfter;
    InsertOut(std::move(out));
}

void CSkypeSim::QueueNotification(const std::string& strLine, uint32_t nDelayMs) {
    QueueLine(strLine, nDelayMs);
    if (m_nDuplicate > 0) {
        --m_nDuplicate;
        QueueLine(strLine, nDelayMs);
    }
}

void CSkypeSim::QueueAction(uint32_t nDelayMs, std::function<void()> fn) {
    COutgoing out;
    out.m_uDueMs = Clock().NowMs() + nDelayMs;
    out.m_fnAction = std::move(fn);
    InsertOut(std::move(out));
}

void CSkypeSim::Kick() {
    ::PostMessage(m_hWndSelf.load(), WM_SIM_FLUSH);
}

void CSkypeSim::Flush() {
    for (;;) {
        COutgoing item;
        HWND hWndTo = 0;
        {
            Lock g(m_m);
            if (m_qOut.empty() || m_qOut.front().m_uDueMs > Clock().NowMs())
                break;
            item = std::move(m_qOut.front());
            m_qOut.pop_front();
            hWndTo = m_hWndClient;
        }
        if (item.m_fnAction) {
            item.m_fnAction();
            continue;
        }
        std::string strShown = item.m_strBytes;
        if (!strShown.empty() && strShown.back() == '\0')
            strShown.pop_back();
        if (hWndTo == 0) {
            VLOG(INFO, "CSkypeSim::Flush no program attached, line dropped: %s", strShown.c_str());
            continue;
        }
        // Sent without holding the lock: the program handles it on its own loop meanwhile.
        const std::optional<LRESULT> result =
            Desktop().SendCopyData(hWndTo, m_hWndSelf.load(), 0, item.m_strBytes.data(),
                                   static_cast<uint32_t>(item.m_strBytes.size()));
        Lock g(m_m);
        m_vecSent.push_back(strShown);
        if (!result || *result == 0)
            ++m_nRefusedByClient;
        if (item.m_bDetachAfter && m_hWndClient == hWndTo)
            m_hWndClient = 0;
    }
    Lock g(m_m);
    if (m_qOut.empty()) {
        KillTimer(kTimerFlush);
    } else {
        const uint64_t now = Clock().NowMs();
        const uint64_t due = m_qOut.front().m_uDueMs;
        SetTimer(kTimerFlush, static_cast<uint32_t>(due > now ? due - now : 0));
    }
}

// ---------------------------------------------------------------------------------------------
// The window

LRESULT CSkypeSim::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == m_uMsgDiscover) {
        OnDiscover(static_cast<HWND>(wParam));
        return 0;
    }
    if (message == m_uMsgAttach)
        return 0;  // our own announcement, broadcast to everyone
    switch (message) {
        case WM_COPYDATA:
            return OnCopyData(static_cast<HWND>(wParam),
                              reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        case WM_SIM_COMMAND:
            if (auto pLine = TakePayload<std::string>(wParam))
                OnCommand(*pLine);
            return 0;
        case WM_SIM_FLUSH:
            Flush();
            return 0;
        case WM_TIMER:
            if (wParam == kTimerFlush)
                Flush();
            else if (wParam >= kTimerCallBase)
                OnCallTick(static_cast<int>(wParam - kTimerCallBase));
            return 0;
        default:
            return 0;
    }
}

void CSkypeSim::PostAttach(HWND hWndClient, LPARAM status) {
    VLOG(INFO, "CSkypeSim attach reply %#lx to %#zx", static_cast<unsigned long>(status),
         static_cast<size_t>(hWndClient));
    Desktop().PostMessage(hWndClient, m_uMsgAttach, m_hWndSelf.load(), status);
}

void CSkypeSim::OnDiscover(HWND hWndClient) {
    Lock g(m_m);
    if (hWndClient == 0 || hWndClient == m_hWndSelf.load())
        return;
    if (!m_bApiAvailable) {
        PostAttach(hWndClient, SKYPE_ATTACH_NOT_AVAILABLE);
    } else if (m_nAttachMode == SIM_ATTACH_ALLOW || m_setAllowed.count(hWndClient)) {
        m_setAllowed.insert(hWndClient);
        m_hWndClient = hWndClient;
        PostAttach(hWndClient, SKYPE_ATTACH_SUCCESS);
    } else if (m_nAttachMode == SIM_ATTACH_ASK_USER) {
        m_hWndPending = hWndClient;
        PostAttach(hWndClient, SKYPE_ATTACH_PENDING_AUTHORIZATION);
    } else {
        PostAttach(hWndClient, SKYPE_ATTACH_REFUSED);
    }
}

LRESULT CSkypeSim::OnCopyData(HWND hWndFrom, const COPYDATASTRUCT* pBlock) {
    uint32_t nDelay;
    {
        Lock g(m_m);
        nDelay = m_nDeliveryDelayMs;
    }
    if (nDelay > 0)
        Sleep(nDelay);  // a busy client: the sender waits for us

    Lock g(m_m);
    if (!pBlock || hWndFrom == 0 || hWndFrom != m_hWndClient) {
        VLOG(INFO, "CSkypeSim::OnCopyData from %#zx, not the attached program",
             static_cast<size_t>(hWndFrom));
        return 0;
    }
    if (m_nRefuseCopyData > 0) {
        --m_nRefuseCopyData;
        return 0;
    }
    std::string line;
    if (!ReadSkypeCopyData(*pBlock, line))
        return 0;
    m_vecReceived.push_back(line);
    // Answered later, from our own loop, never inside the delivery.
    ::PostMessage(m_hWndSelf.load(), WM_SIM_COMMAND, std::make_unique<std::string>(line));
    return 1;
}

void CSkypeSim::OnCommand(const std::string& strLine) {
    Lock g(m_m);
    if (m_faultError68.Hits(strLine)) {
        QueueLine("ERROR 68 Access denied", 0, true);
        Kick();
        return;
    }
    if (m_faultDrop.Hits(strLine)) {
        VLOG(INFO, "CSkypeSim::OnCommand no reply to: %s", strLine.c_str());
        return;
    }
    const uint32_t nDelay = m_faultDelay.Hits(strLine) ? m_faultDelay.m_nDelayMs : 0;
    std::vector<std::string> replies;
    Execute(strLine, replies);
    if (m_bUnrelated && !replies.empty())
        QueueLine(UnrelatedLine(), nDelay);
    for (const auto& r : replies)
        QueueLine(r, nDelay);
    Kick();
}

std::string CSkypeSim::UnrelatedLine() {
    const int nCall = m_mapCalls.empty() ? 1 : m_mapCalls.rbegin()->first;
    switch (m_nUnrelated++ % 3) {
        case 0:
            return StrFormat("CHATMESSAGE %d STATUS RECEIVED", 4711 + m_nUnrelated);
        case 1:
            return "USER " +
                   (m_strCurrentUser.empty() ? std::string("echo123") : m_strCurrentUser) +
                   " NROF_AUTHED_BUDDIES 80";
        default:
            return StrFormat("CALL %d VIDEO_STATUS VIDEO_NONE", nCall);
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

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

// ---------------------------------------------------------------------------------------------
// The model

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
