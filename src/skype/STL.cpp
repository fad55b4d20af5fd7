#include "skype/STL.h"

#include <cstring>

#include "app/Languages.h"
#include "app/Logger.h"
#include "app/MessageBox.h"
#include "app/StringTable.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "skype/STLSndr.h"
#include "skype/SkypeApi.h"

CSTL* g_pSTL = nullptr;

namespace {
constexpr const char* kWindowTitle = "Vokra_Skype_Transmission_Layer";
constexpr int kMaxInQueueWaits = 200;
constexpr uint32_t kInQueueWaitMs = 500;
constexpr uint32_t kEndSettleMs = 100;

size_t Identity(const void* p) {
    return static_cast<size_t>(reinterpret_cast<uintptr_t>(p));
}

// Replies are timed on the monotonic clock: a step of the system clock (set by the user, or a
// time sync) must not make Skype look silent. 32 bits of wrap-around hold 49 days, far more
// than any age measured here.
uint32_t MonotonicMs32() {
    return static_cast<uint32_t>(Clock().NowMs());
}
}  // namespace

CSTL::CSTL()
    : m_pSender(std::make_unique<CSTLSndr>()),
      m_cmdKeepAlive(D2S_PING),
      m_uMsgDiscover(RegisterWindowMessage(g_szSkypeControlAPIDiscover)),
      m_uMsgAttach(RegisterWindowMessage(g_szSkypeControlAPIAttach)) {}

CSTL::~CSTL() {
    // The sender only holds copies of our texts, but it must not outlive its transport.
    m_pSender.reset();
    if (g_pSTL == this)
        g_pSTL = nullptr;
}

int CSTL::Init(int nWindowSize, IConnectionStateSink* pStateSink, ISkypeCmdSink* pCmdSink,
               CMsgLoop* pLoop) {
    VLOG(INFO, "CSTL::Init");
    if (m_bInitialised.load())
        return 1;
    if (nWindowSize < 1) {
        // Nothing could ever be sent with room for no command.
        VLOG(WARNING, "CSTL::Init window size %d taken as 1", nWindowSize);
        nWindowSize = 1;
    }
    m_nWindowSize = nWindowSize;
    m_pStateSink = pStateSink;
    m_pCmdSink = pCmdSink;

    CMsgLoop* pOn = pLoop ? pLoop : CMsgLoop::Current();
    if (!pOn || !CreateWindowOn(*pOn, kWindowTitle, true)) {
        VLOG(WARNING, "CSTL::Init could not create the transport window");
        VokraMessageBox(LoadText(IDS_ERR_CREATE_WINDOW), MB_OK | MB_ICONERROR);
        return 0;
    }
    m_pLoop = pOn;
    m_hWndSelf.store(GetSafeHwnd());

    // A sender thread runs once; after an End a new Init needs a new one.
    if (m_bSenderStarted)
        m_pSender = std::make_unique<CSTLSndr>();
    m_bSenderStarted = true;
    if (!m_pSender->Start()) {
        m_hWndSelf.store(0);
        DestroyWindow();
        return 0;
    }
    m_pSender->SetMyhWnd(GetSafeHwnd());
    SetTimer(STL_TIMER_REPLY_TIMEOUT, kReplyCheckMs);
    m_bInitialised.store(true);
    return 1;
}

void CSTL::Connect() {
    if (!m_bInitialised.load()) {
        VLOG(WARNING, "CSTL::Connect - Init not done");
        return;
    }
    VLOG(INFO, "CSTL::Connect (%d) ", m_nState.load());
    m_bReconnect.store(true);
    m_nDiscoverAttempts.store(0);
    ::PostMessage(m_hWndSelf.load(), WM_STL_CONNECT);
}

void CSTL::Disconnect() {
    if (!m_bInitialised.load()) {
        VLOG(WARNING, "CSTL::Disconnect - Init not done");
        return;
    }
    VLOG(INFO, "CSTL::Disconnect (%d) ", m_nState.load());
    m_bReconnect.store(false);
    ::PostMessage(m_hWndSelf.load(), WM_STL_DISCONNECT);
}

int CSTL::End() {
    if (!m_bInitialised.load()) {
        VLOG(WARNING, "CSTL::End - Init not done");
        return 0;
    }
    if (m_nState.load() != STL_DISCONNECTED) {
        Disconnect();
        Sleep(kEndSettleMs);
    }
    // From here on the queue messages still on their way are dropped as they arrive, and the
    // disconnect posted above is handled before the window closes.
    m_bInitialised.store(false);
    m_pSender->EndThread();
    VLOG(INFO, "CCSTL::End()");
    ::PostMessage(m_hWndSelf.load(), WM_CLOSE);
    return 1;
}

int CSTL::GetConnectionState() const {
    return m_bInitialised.load() ? m_nState.load() : -1;
}

int CSTL::QueueCtrlAckCmd(const DeviceToSkypeCmd& cmd) {
    if (!m_bInitialised.load()) {
        VLOG(WARNING, "CSTL::SendCmdAcknowledged - Init not done");
        return 0;
    }
    if (cmd.m_nLength == 0) {
        // Skype would never answer it, and it would hold up every command behind it.
        VLOG(WARNING, "CSTL::QueueCtrlAckCmd refused a command of type %d without text",
             cmd.m_nType);
        return 0;
    }
    if (m_nInQueueCount.load() > kMaxInQueue) {
        // Only the transport's own loop empties the queue: waiting on it would just freeze it.
        if (!m_pLoop || !m_pLoop->IsOwnerThread()) {
            for (int i = 0; i < kMaxInQueueWaits && m_nInQueueCount.load() > kMaxInQueue; ++i)
                Sleep(kInQueueWaitMs);
        }
        if (m_nInQueueCount.load() > kMaxInQueue) {
            VLOG(WARNING, "CSTL::SendCmdAcknowledged - ERROR - Msg Q is too big for too long");
            return 0;
        }
    }
    auto pCopy = std::make_unique<DeviceToSkypeCmd>(cmd);
    VLOG(INFO, "CSTL::QueueCtrlAckCmd [%s] [%#zx]", pCopy->m_szText.c_str(), Identity(pCopy.get()));
    return ::PostMessage(m_hWndSelf.load(), WM_STL_QUEUE_CMD, std::move(pCopy)) ? 1 : 0;
}

std::array<int, STL_CNT_COUNT> CSTL::GetDebugCounters() const {
    std::array<int, STL_CNT_COUNT> an{};
    for (int i = 0; i < STL_CNT_LINES_SENT; ++i)
        an[i] = m_anCounters[i];
    an[STL_CNT_LINES_SENT] = m_pSender ? m_pSender->GetLinesSent() : 0;
    return an;
}

void CSTL::ResetDebugCounters() {
    m_anCounters.fill(0);
    if (m_pSender)
        m_pSender->ResetLinesSent();
}

// ---------------------------------------------------------------------------------------------
// On the transport's loop

LRESULT CSTL::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == m_uMsgAttach) {
        OnAttach(static_cast<HWND>(wParam), lParam);
        return 0;
    }
    switch (message) {
        case WM_STL_CONNECT:
            OnConnect();
            return 0;
        case WM_STL_DISCONNECT:
            OnDisconnect();
            return 0;
        case WM_STL_QUEUE_CMD:
            OnQueueCmd(TakePayload<DeviceToSkypeCmd>(wParam));
            return 0;
        case WM_TIMER:
            OnTimer(static_cast<UINT>(wParam));
            return 0;
        case WM_COPYDATA:
            return OnCopyData(static_cast<HWND>(wParam),
                              reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        case WM_CLOSE:
            m_hWndSelf.store(0);
            DestroyWindow();
            return 0;
        default:
            // Our own discover broadcast comes back here too.
            return 0;
    }
}

void CSTL::SetConnectionState(int state) {
    VLOG(INFO, "CSTL::SetConnectionState( %d )", state);
    const bool bOneOfDisconnected = state >= STL_DISCONNECTED && state <= STL_API_AVAILABLE;
    m_nState.store(bOneOfDisconnected ? STL_DISCONNECTED : state);
    if (m_pStateSink)
        m_pStateSink->OnConnectionState(state);
}

void CSTL::Discover() {
    VLOG(INFO, "Send SkypeAPI Discover - sending HWND_BROADCAST( SkypeControlAPIDiscover )");
    m_nDiscoverAttempts.fetch_add(1);
    if (!IsTimerSet(STL_TIMER_DISCOVER_FAILED))
        SetTimer(STL_TIMER_DISCOVER_FAILED, kDiscoverFailedMs);
    Desktop().PostMessage(HWND_BROADCAST, m_uMsgDiscover, GetSafeHwnd(), 0);
}

void CSTL::StartReconnectTimer(uint32_t ms) {
    if (m_bReconnect.load() && !IsTimerSet(STL_TIMER_TRY_RECONNECT))
        SetTimer(STL_TIMER_TRY_RECONNECT, ms);
}

void CSTL::OnConnect() {
    VLOG(INFO, "CSTL::OnConnect (%d) ", m_nState.load());
    SetConnectionState(STL_CONNECTING);
    Discover();
}

void CSTL::OnDisconnect() {
    VLOG(INFO, "CSTL::OnDisconnect (%d) ", m_nState.load());
    m_bReconnect.store(false);
    KillTimer(STL_TIMER_TRY_RECONNECT);
    KillTimer(STL_TIMER_DISCOVER_FAILED);
    KillTimer(STL_TIMER_KEEPALIVE);
    KillTimer(STL_TIMER_KEEPALIVE_FAILED);
    m_pSender->SetSkypehWnd(0);
    m_hWndSkypeAPI = 0;
    ClearAllCmdQueues();
    SetConnectionState(STL_DISCONNECTED);
}

void CSTL::OnAttach(HWND hWndSkype, LPARAM status) {
    VLOG(INFO, "CSTL::SkypeAPI Control Handle...(got %x at state %d)",
         static_cast<unsigned>(status), m_nState.load());
    m_nDiscoverAttempts.store(0);
    KillTimer(STL_TIMER_DISCOVER_FAILED);
    switch (status) {
        case SKYPE_ATTACH_SUCCESS: {
            const int state = m_nState.load();
            if (state != STL_CONNECTING && state != STL_CONNECTED)
                break;  // not asked for: ignored
            if (hWndSkype == 0) {
                VLOG(WARNING, "CSTL::OnAttach attach reply without a Skype window ignored");
                break;
            }
            VLOG(INFO, "!!! Connected");
            SetConnectionState(STL_CONNECTED);
            m_hWndSkypeAPI = hWndSkype;
            m_pSender->SetSkypehWnd(hWndSkype);
            SetTimer(STL_TIMER_KEEPALIVE, kKeepAliveMs);
            SendNextAckCmdIfPossible();
            break;
        }
        case SKYPE_ATTACH_PENDING_AUTHORIZATION:
            VLOG(INFO, "!!! Pending authorization");
            break;
        case SKYPE_ATTACH_REFUSED:
            SetConnectionState(STL_REFUSED);
            VLOG(INFO, "!!! Connection refused");
            break;
        case SKYPE_ATTACH_NOT_AVAILABLE:
            SetConnectionState(STL_API_NOT_AVAILABLE);
            VLOG(INFO, "!!! Skype API not available");
            break;
        case SKYPE_ATTACH_API_AVAILABLE:
            VLOG(INFO, "!!! Try connect now (API available)");
            if (m_nState.load() == STL_DISCONNECTED)
                SetConnectionState(STL_API_AVAILABLE);
            StartReconnectTimer(kReconnectMs);
            break;
        default:
            VLOG(INFO, "!!! Check it out (%d)", static_cast<int>(status));
            break;
    }
}

void CSTL::OnTimer(UINT id) {
    switch (id) {
        case STL_TIMER_DISCOVER_FAILED: {
            ++m_anCounters[STL_CNT_DISCOVER_FAILED];
            const int nAttempts = m_nDiscoverAttempts.load();
            VLOG(INFO, "CSTL::OnTimer SKYPEAPI_DISCOVER_FAILED (%d) ", nAttempts);
            KillTimer(STL_TIMER_DISCOVER_FAILED);
            if (nAttempts < kMaxDiscoverAttempts)
                StartReconnectTimer(kReconnectMs);
            else
                SetConnectionState(STL_API_NOT_AVAILABLE);
            break;
        }
        case STL_TIMER_TRY_RECONNECT:
            ++m_anCounters[STL_CNT_RECONNECT_ATTEMPTS];
            VLOG(INFO, "CSTL::OnTimer TRY_RECONNECT");
            KillTimer(STL_TIMER_TRY_RECONNECT);
            Discover();
            break;
        case STL_TIMER_KEEPALIVE:
            if (!IsTimerSet(STL_TIMER_KEEPALIVE_FAILED))
                SetTimer(STL_TIMER_KEEPALIVE_FAILED, kKeepAliveFailedMs);
            // Straight to the sender: a PING is never queued nor matched as a reply.
            m_pSender->PostCmd(m_cmdKeepAlive);
            break;
        case STL_TIMER_KEEPALIVE_FAILED:
            ++m_anCounters[STL_CNT_KEEPALIVE_FAILED];
            VLOG(INFO, "CSTL::OnTimer SKYPEAPI_KEEPALIVE_FAILED");
            KillTimer(STL_TIMER_KEEPALIVE_FAILED);
            StartReconnectTimer(0);
            break;
        case STL_TIMER_REPLY_TIMEOUT:
            CheckIfTimeoutOnWaitingAckCmd();
            break;
        default:
            break;
    }
}

void CSTL::CheckIfTimeoutOnWaitingAckCmd() {
    if (m_qWait.empty())
        return;
    const DeviceToSkypeCmd& first = *m_qWait.front();
    if (MonotonicMs32() - first.m_dwSentMs < kReplyTimeoutMs)
        return;
    VLOG(INFO, "CSTL::CheckIfTimeoutOnWaitingAckCmd - Reply Timeout on Ack CMD [%#zx]",
         Identity(&first));
    ++m_anCounters[STL_CNT_REPLY_TIMEOUTS];
    // We keep our own record of Skype's window, so its lines are still taken until the next
    // attach; only the sender stops delivering.
    m_pSender->SetSkypehWnd(0);
    ReQueAllWaitAckCmds();
    StartReconnectTimer(0);
}

void CSTL::OnQueueCmd(std::unique_ptr<DeviceToSkypeCmd> pCmd) {
    if (!pCmd)
        return;
    if (!m_bInitialised.load()) {
        // Queued before End but arriving after it: never sent.
        VLOG(INFO, "CSTL::OnQueueCmd - ended, dropping Ack CMD [%s] [%#zx]", pCmd->m_szText.c_str(),
             Identity(pCmd.get()));
        return;
    }
    m_qIn.push_back(std::move(pCmd));
    m_nInQueueCount.store(static_cast<int>(m_qIn.size()));
    SendNextAckCmdIfPossible();
}

void CSTL::SendNextAckCmdIfPossible() {
    if (m_hWndSkypeAPI == 0 || m_qIn.empty())
        return;
    int nSent = 0;
    while (static_cast<int>(m_qWait.size()) < m_nWindowSize && !m_qIn.empty()) {
        std::unique_ptr<DeviceToSkypeCmd> pCmd = std::move(m_qIn.front());
        m_qIn.pop_front();
        pCmd->m_dwSentMs = MonotonicMs32();
        const DeviceToSkypeCmd& cmd = *pCmd;
        m_qWait.push_back(std::move(pCmd));
        m_pSender->PostCmd(cmd);
        ++nSent;
    }
    m_nInQueueCount.store(static_cast<int>(m_qIn.size()));
    if (nSent > 0)
        VLOG(INFO, "CSTL::SendNextAckCmdIfPossible - Sent %d Ack CMD to Sender Thread", nSent);
}

void CSTL::ReQueAllWaitAckCmds() {
    int nMoved = 0;
    while (!m_qWait.empty()) {
        std::unique_ptr<DeviceToSkypeCmd> pCmd = std::move(m_qWait.back());
        m_qWait.pop_back();
        pCmd->m_dwSentMs = 0;
        m_qIn.push_front(std::move(pCmd));
        ++nMoved;
    }
    m_nInQueueCount.store(static_cast<int>(m_qIn.size()));
    if (nMoved > 0)
        VLOG(INFO, "CSTL::ReQueAllWaitAckCmds - Re Qued %d Ack CMD", nMoved);
}

void CSTL::ClearAllCmdQueues() {
    VLOG(INFO, "CSTL::ClearAllCmdQueues");
    for (const auto& pCmd : m_qIn)
        VLOG(INFO, "CSTL::Removing and Delete Ack Skype CMD from IN Q [%#zx]",
             Identity(pCmd.get()));
    m_qIn.clear();
    m_nInQueueCount.store(0);
    for (const auto& pCmd : m_qWait)
        VLOG(INFO, "CSTL::Removing and Delete Ack Skype CMD from WAIT Ack Q [%#zx]",
             Identity(pCmd.get()));
    m_qWait.clear();
}

LRESULT CSTL::OnCopyData(HWND hWndFrom, const COPYDATASTRUCT* pBlock) {
    if (m_hWndSkypeAPI == 0 || hWndFrom != m_hWndSkypeAPI || !pBlock || pBlock->cbData == 0)
        return 0;
    const int nLine = ++m_anCounters[STL_CNT_LINES_RECEIVED];
    {
        // Logged as received, up to a NUL, before we know whether it is a proper line.
        const char* p = static_cast<const char*>(pBlock->lpData);
        const std::string strRaw = p ? std::string(p, strnlen(p, pBlock->cbData)) : std::string();
        VLOG(INFO, "<- S2D[#%d]: %s ", nLine, strRaw.c_str());
    }
    std::string line;
    if (!ReadSkypeCopyData(*pBlock, line))
        return 0;

    // Any line proves the link alive.
    SetTimer(STL_TIMER_KEEPALIVE, kKeepAliveMs);
    KillTimer(STL_TIMER_KEEPALIVE_FAILED);

    std::unique_ptr<SkypeToDeviceCmd> pRecord;
    try {
        pRecord = std::make_unique<SkypeToDeviceCmd>(line);
    } catch (const std::exception&) {
        VLOG(WARNING,
             "SkypeToDeviceCmd::SkypeToDeviceCmd( Failed on SkypeToDeviceCmd - Last Skype message "
             "bad parsing]");
        return 1;
    }
    const SkypeToDeviceCmd& rec = *pRecord;

    if (rec.m_nCmd == S2D_ERROR && rec.m_nErrorCode == SKYPE_ERROR_ACCESS_DENIED) {
        ++m_anCounters[STL_CNT_ERROR_68];
        m_hWndSkypeAPI = 0;
        m_pSender->SetSkypehWnd(0);
        ReQueAllWaitAckCmds();
        StartReconnectTimer(0);
    } else if (!m_qWait.empty() && IsReplyTo(*m_qWait.front(), rec)) {
        VLOG(INFO, "CSTL::Removing and Delete Ack Skype CMD from Q [%#zx]",
             Identity(m_qWait.front().get()));
        m_qWait.pop_front();
        SendNextAckCmdIfPossible();
    } else if (!m_qWait.empty() && rec.m_nCmd == S2D_ERROR) {
        // Skype answers every command with its reply or an error. Sent again, the command
        // would only fail the same way, so waiting for a reply that never comes would hold
        // up every command behind it for good: the error settles it.
        VLOG(WARNING, "CSTL::OnCopyData - Ack CMD [%s] [%#zx] answered with ERROR %d, removed",
             m_qWait.front()->m_szText.c_str(), Identity(m_qWait.front().get()), rec.m_nErrorCode);
        m_qWait.pop_front();
        SendNextAckCmdIfPossible();
    }

    if (m_pCmdSink)
        m_pCmdSink->OnSkypeCmd(rec);
    return 1;
}
