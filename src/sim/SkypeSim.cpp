// The client's window and thread: the attach handshake, received lines, and the queue of
// outgoing lines and scheduled events.
#include "sim/SkypeSim.h"

#include <algorithm>

#include "app/Logger.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/StrUtil.h"
#include "sim/SkypeSimUtil.h"
#include "skype/SkypeAccessAPI.h"
#include "skype/SkypeApi.h"

using namespace sim_detail;

namespace {
constexpr UINT WM_SIM_COMMAND = WM_USER + 1000;  // owns the received line (std::string)
constexpr UINT WM_SIM_FLUSH = WM_USER + 1001;
constexpr UINT kTimerFlush = 1;

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && Upper(s.substr(0, prefix.size())) == Upper(prefix);
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
