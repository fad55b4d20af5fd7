#include "calls/SkypeMsgHndl.h"

#include <cassert>
#include <string_view>

#include "app/CableNames.h"
#include "app/Logger.h"
#include "app/StringTable.h"
#include "app/WindowMessages.h"
#include "calls/CallCollection.h"
#include "calls/CallsLock.h"
#include "calls/SkypeCmdQueue.h"
#include "calls/User.h"
#include "calls/UserCollection.h"
#include "messages/MessageCollection.h"
#include "platform/Clock.h"
#include "platform/StrUtil.h"
#include "skype/SkypeApi.h"

namespace {

void Queue(const DeviceToSkypeCmd& cmd) {
    QueueSkypeCmd(cmd);
}

}  // namespace

CSkypeMsgHndl::CSkypeMsgHndl() = default;

CSkypeMsgHndl::~CSkypeMsgHndl() {
    StopThread();
    // The transport has been ended (or never started): nothing more goes to Skype.
    if (m_pSTL && g_pSTL == m_pSTL.get())
        g_pSTL = nullptr;
    {
        CCallsDataLock lock;
        // No call may outlive its timer service, and a recording in progress keeps its file.
        KillAll();
    }
    m_pSTL.reset();
}

bool CSkypeMsgHndl::Start(HWND hTimerWnd, CMsgLoop* pTransportLoop) {
    // The transport's window is made on that loop, so on its owner thread.
    m_pTransportLoop = pTransportLoop != nullptr ? pTransportLoop : CMsgLoop::Current();
    assert(m_pTransportLoop == nullptr || m_pTransportLoop->IsOwnerThread());
    SetTimerWnd(hTimerWnd);
    if (!m_pSTL)
        m_pSTL = std::make_unique<CSTL>();
    g_pSTL = m_pSTL.get();
    if (!m_pSTL->Init(1, this, this, pTransportLoop)) {
        VLOG(WARNING, "CSkypeMsgHndl::Start: the transport cannot start");
        return false;
    }
    m_pSTL->Connect();
    return true;
}

void CSkypeMsgHndl::Stop() {
    // The transport's window goes on its owner thread (or once that loop has ended).
    assert(m_pTransportLoop == nullptr || m_pTransportLoop->IsOwnerThread() ||
           m_pTransportLoop->IsClosed());
    if (m_pSTL)
        m_pSTL->End();
}

void CSkypeMsgHndl::AttachToCurrentThread() {
    Loop().Bind();
    Loop().SetThreadMessageHandler([this](UINT message, WPARAM wParam, LPARAM lParam) {
        OnThreadMessage(message, wParam, lParam);
    });
}

bool CSkypeMsgHndl::PostCallTimerElapse() {
    return PostThreadMessage(WM_HANDLER_TIMER);
}

bool CSkypeMsgHndl::PostForceAnswer() {
    return PostThreadMessage(WM_HANDLER_FORCE_ANSWER);
}

bool CSkypeMsgHndl::PostTakeControl() {
    return PostThreadMessage(WM_HANDLER_TAKE_CONTROL);
}

bool CSkypeMsgHndl::PostQuit() {
    return PostThreadMessage(WM_HANDLER_QUIT);
}

void CSkypeMsgHndl::OnConnectionState(int state) {
    VLOG(INFO, "CSkypeMsgHndl::ConnectionStateNotify (%d)", state);
    PostThreadMessage(WM_HANDLER_CONNECTION_STATE, static_cast<WPARAM>(state));
}

bool CSkypeMsgHndl::OnSkypeCmd(const SkypeToDeviceCmd& cmd) {
    return PostThreadMessage(WM_HANDLER_SKYPE_CMD, std::make_unique<SkypeToDeviceCmd>(cmd));
}

void CSkypeMsgHndl::OnThreadMessage(UINT message, WPARAM wParam, LPARAM) {
    assert(Loop().IsOwnerThread());
    if (message == WM_HANDLER_QUIT) {
        OnQuit();
        return;
    }
    // Declared before the lock so that they end after it: commands leave once the lock is free,
    // then a recording stopped by this message is stopped (which may take seconds) and filed.
    CRecordingStops stops;
    CSkypeCmdBatch batch;
    CCallsDataLock lock;
    switch (message) {
        case WM_HANDLER_CONNECTION_STATE:
            OnConnectionStageChangeNotify(static_cast<int>(wParam));
            break;
        case WM_HANDLER_SKYPE_CMD:
            if (std::unique_ptr<SkypeToDeviceCmd> pCmd = TakePayload<SkypeToDeviceCmd>(wParam))
                OnSkypeCmdMsg(*pCmd);
            break;
        case WM_HANDLER_TIMER:
            OnCallTimerElapse();
            break;
        case WM_HANDLER_FORCE_ANSWER:
            OnUserForceAnswerOfCall();
            break;
        case WM_HANDLER_TAKE_CONTROL:
            OnUserTakesControlOverCall();
            break;
        default:
            break;
    }
}

void CSkypeMsgHndl::OnConnectionStageChangeNotify(int state) {
    VLOG(INFO, "CSkypeMsgHndl::OnConnectionStageChangeNotify (%d)", state);
    // The tray record belongs to the user-interface thread: ask, do not touch.
    PostMessage(m_hTimerWnd.load(), WM_UPDATE_TRAY_ICON);
    switch (state) {
        case STL_DISCONNECTED:
            m_bNeedInitialQueries = true;
            KillAll();
            PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
            break;
        case STL_REFUSED:
            VLOG(INFO, "!!! Connection refused");
            if (g_pSTL != nullptr)
                g_pSTL->Disconnect();
            PostToMainWnd(WM_SHOW_BALLOON, IDS_BALLOON_CONNECTION_REFUSED, -1);
            m_bFailureShown = true;
            break;
        case STL_API_NOT_AVAILABLE:
            VLOG(INFO, "!!! Skype API not available");
            if (g_pSTL != nullptr)
                g_pSTL->Disconnect();
            PostToMainWnd(WM_SHOW_BALLOON, IDS_BALLOON_API_NOT_FOUND, -1);
            m_bFailureShown = true;
            break;
        case STL_API_AVAILABLE:
            VLOG(INFO, "!!! Skype API Available - Reconnect");
            if (g_pSTL != nullptr)
                g_pSTL->Connect();
            break;
        case STL_CONNECTING:
            break;
        case STL_CONNECTED:
            Queue(DeviceToSkypeCmd(D2S_NAME, g_szVokraAppName));
            Queue(DeviceToSkypeCmd(D2S_PROTOCOL, 2));
            if (m_bNeedInitialQueries) {
                m_bNeedInitialQueries = false;
                Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
                Queue(DeviceToSkypeCmd(D2S_GET_CURRENTUSERHANDLE));
            }
            if (m_bFailureShown)
                PostToMainWnd(WM_SHOW_BALLOON, IDS_BALLOON_CONNECTED, 10);
            break;
        default:
            VLOG(INFO, "!!! check it out (%d)", state);
            break;
    }
}

void CSkypeMsgHndl::OnSkypeCmdMsg(const SkypeToDeviceCmd& cmd) {
    switch (cmd.m_nCmd) {
        case S2D_USERSTATUS:
            if (gCurrentUser.m_strUserName.empty())
                Queue(DeviceToSkypeCmd(D2S_GET_CURRENTUSERHANDLE));
            gCurrentUser.SetUserStatus(cmd.m_nUserStatus);
            if (cmd.m_nUserStatus == USERSTATUS_LOGGEDOUT)
                KillAll();
            PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
            break;
        case S2D_CURRENTUSERHANDLE:
            OnCurrentUserHandle(cmd.m_strUserHandle);
            break;
        case S2D_AUDIO_IN:
            if (cmd.m_strAudioDevice != g_strVac1RecordingDevice) {
                m_strDefaultAudioIn = cmd.m_strAudioDevice;
                VLOG(INFO, "Saving Skype AUDIO IN device as default: %s",
                     m_strDefaultAudioIn.c_str());
            }
            break;
        case S2D_AUDIO_OUT:
            if (cmd.m_strAudioDevice != g_strVac2PlaybackDevice) {
                m_strDefaultAudioOut = cmd.m_strAudioDevice;
                VLOG(INFO, "Saving Skype AUDIO OUT device as default: %s",
                     m_strDefaultAudioOut.c_str());
            }
            break;
        case S2D_USERS:
            Skype2DeviceMsgHandleUsers(cmd);
            break;
        case S2D_USER:
            Skype2DeviceMsgHandleUser(cmd);
            break;
        case S2D_CALL:
            Skype2DeviceMsgHandleCall(cmd);
            break;
        case S2D_ERROR:
            // The call our hang-up was for has already ended: it is over, as if Skype had said
            // so. Only that call: by now another one may be current.
            if (cmd.m_nErrorCode == SKYPE_ERROR_CANNOT_HANGUP_INACTIVE_CALL) {
                if (CCall* pCall = CCall::OnHangUpRefused()) {
                    SettleEndedCall(pCall);
                    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
                }
            }
            break;
        default:
            break;
    }
}

void CSkypeMsgHndl::OnCurrentUserHandle(const std::string& handle) {
    if (handle != gCurrentUser.m_strUserName) {
        if (!gCurrentUser.m_strUserName.empty())
            KillAll();
        // An empty handle means nobody is logged in: there is nobody to set up.
        if (!handle.empty()) {
            gCurrentUser.init(handle);
            gUsersDB.Add(&gCurrentUser);
            gMessagesDB.init(gCurrentUser.m_strUserName);
            Queue(DeviceToSkypeCmd(D2S_GET_USERSTATUS));
            Queue(DeviceToSkypeCmd(D2S_GET_CONNSTATUS));
        }
    }
    VLOG(INFO, "Current User Handle: %s", gCurrentUser.m_strUserName.c_str());
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
    Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_IN));
    Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_OUT));
}

void CSkypeMsgHndl::Skype2DeviceMsgHandleUsers(const SkypeToDeviceCmd& cmd) {
    // The list follows the first word: "USERS name1, name2, ...".
    const std::string& raw = cmd.m_pszRawText;
    size_t pos = raw.find_first_not_of(" \t");
    pos = pos == std::string::npos ? raw.size() : raw.find_first_of(" \t", pos);
    const std::string strList = pos == std::string::npos ? "" : raw.substr(pos);
    size_t start = 0;
    while (start <= strList.size()) {
        size_t end = strList.find(',', start);
        if (end == std::string::npos)
            end = strList.size();
        const std::string strName(Trim(std::string_view(strList).substr(start, end - start)));
        start = end + 1;
        // Telephone numbers are no Skype users to ask about.
        if (strName.empty() || IsPhoneNumber(strName))
            continue;
        gUsersDB.GetOrCreate(strName);
    }
}

void CSkypeMsgHndl::Skype2DeviceMsgHandleUser(const SkypeToDeviceCmd& cmd) {
    if (cmd.m_strUserHandle.empty()) {
        VLOG(INFO, "Skype2DeviceMsgHandleUser: Got Empty username in S2D cmd");
        return;
    }
    CUser* pUser = gUsersDB.GetOrCreate(cmd.m_strUserHandle);
    switch (cmd.m_nProperty) {
        case PROP_FULLNAME:
            pUser->SetFullName(cmd.m_strValue);
            if (pUser == &gCurrentUser)
                VLOG(INFO, "Current Username Fullname: %s", pUser->m_strFullName.c_str());
            break;
        case PROP_BUDDYSTATUS:
            pUser->SetBuddyStatus(ReadLeadingInt(cmd.m_strValue));
            break;
        case PROP_DISPLAYNAME:
            pUser->SetDisplayName(cmd.m_strValue);
            if (pUser == &gCurrentUser)
                VLOG(INFO, "Current Username Displayname: %s", pUser->m_strDisplayName.c_str());
            break;
        case PROP_ONLINESTATUS:
            pUser->SetUserStatus(cmd.m_nUserStatus);
            break;
        case PROP_LASTONLINETIMESTAMP:
            pUser->SetLastOnlineTimestamp(ReadLeadingInt(cmd.m_strValue));
            break;
        default:
            break;
    }
}

void CSkypeMsgHndl::Skype2DeviceMsgHandleCall(const SkypeToDeviceCmd& cmd) {
    CCall* pCall = nullptr;
    // Negative ids belong to the calls rebuilt from saved messages, never to Skype's calls.
    if (cmd.m_nCallId < 0 || !gCallsDB.Get(cmd.m_nCallId, pCall)) {
        // A call that ended does not come back: a RINGING about it is an answer that came late.
        if (cmd.m_nCallId < 0 || cmd.m_nProperty != PROP_STATUS ||
            cmd.m_nCallStatus != CALLSTATUS_RINGING || CCall::HasEnded(cmd.m_nCallId)) {
            VLOG(INFO, "Unrecognized CallId[%d] being discarded", cmd.m_nCallId);
            return;
        }
        // Skype's own devices are learnt before the call can be answered.
        Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_IN));
        Queue(DeviceToSkypeCmd(D2S_GET_AUDIO_OUT));
        auto pNewCall = std::make_unique<CCall>();
        pNewCall->init(cmd.m_nCallId, this);
        pCall = gCallsDB.Add(std::move(pNewCall));
        pCall->BecomeRingingIfNone();
    }
    if (cmd.m_nProperty == PROP_STATUS && CCall::IsFinalStatus(pCall->m_nStatus) &&
        !CCall::IsFinalStatus(cmd.m_nCallStatus)) {
        // Skype's calls do not come back from their end: this is an answer that came late.
        VLOG(INFO, "--> [CallId: %d] Status %d after the end of the call - ignored", cmd.m_nCallId,
             cmd.m_nCallStatus);
        return;
    }
    switch (cmd.m_nProperty) {
        case PROP_PARTNER_HANDLE:
            pCall->set(gUsersDB.GetOrCreate(cmd.m_strValue));
            break;
        case PROP_TYPE:
            pCall->set(CallType(cmd.m_nCallType));
            break;
        case PROP_STATUS:
            pCall->set(CallStatus(cmd.m_nCallStatus));
            break;
        default:
            break;
    }
    SettleEndedCall(pCall);
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
}

void CSkypeMsgHndl::SettleEndedCall(CCall* pCall) {
    if (!CCall::IsFinalStatus(pCall->m_nStatus))
        return;
    // An answered call stays while its voice message refers to it; one that ended before
    // anything was recorded has none.
    if (!pCall->m_bAnswered ||
        (pCall->m_pMessage == nullptr && pCall->m_nAnswerState == ANSWER_DONE)) {
        VLOG(INFO, "Deleting pCall: CallID: %d, Status: %d, ", pCall->m_nCallId,
             static_cast<int>(pCall->m_nStatus));
        pCall->Ended();
        gCallsDB.Del(pCall->m_nCallId);
        return;
    }
    pCall->Ended();
}

void CSkypeMsgHndl::OnQuit() {
    {
        CSkypeCmdBatch batch;
        CCallsDataLock lock;
        VLOG(INFO, "CSkypeMsgHndl::OnQuit");
        if (g_pCurrentCall != nullptr)
            g_pCurrentCall->EndAnswering(false);
        KillCallTimer(nullptr);
    }
    // Only now, with the restore commands handed to the transport: the main window waits for
    // their replies from here on.
    PostToMainWnd(WM_QUIT_CALL_ENDED, 0, 0);
}

void CSkypeMsgHndl::KillAll() {
    VOKRA_ASSERT_CALLS_LOCKED();
    VLOG(INFO, "Kill all associated with the current username");
    // A call being answered ends first: its recording is filed under its final name and Skype
    // gets its own devices back before the call records go.
    if (g_pCurrentCall != nullptr) {
        g_pCurrentCall->EndAnswering(false);
        // Filed now, under the lock, while the user's folder is still known.
        CRecordingStops::RunNow();
    }
    KillCallTimer(nullptr);
    gMessagesDB.deleteAll();
    gCallsDB.RemoveAll();
    CCall::ForgetAll();
    gUsersDB.Remove(gCurrentUser.m_strUserName);
    gCurrentUser.Reset();
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
}

bool CSkypeMsgHndl::SetCallTimer(CCall* pCall, int ms) {
    VOKRA_ASSERT_CALLS_LOCKED();
    if (m_pTimerCall != nullptr)
        return false;
    // A delay of nothing (or less) would fire at once as if the time had passed.
    if (pCall == nullptr || ms <= 0) {
        VLOG(WARNING, "CSkypeMsgHndl::SetCallTimer: refused %d ms", ms);
        return false;
    }
    // Read before the window timer is armed: its first firing then never comes before this
    // due time, and is never taken for a late firing of an earlier arming.
    const uint64_t uNowMs = Clock().NowMs();
    if (!SetTimer(m_hTimerWnd.load(), MAIN_WND_TIMER_CALL, static_cast<uint32_t>(ms))) {
        VLOG(WARNING, "CSkypeMsgHndl::SetCallTimer: no main window for the call timer");
        return false;
    }
    m_pTimerCall = pCall;
    m_uTimerDueMs = uNowMs + static_cast<uint64_t>(ms);
    return true;
}

bool CSkypeMsgHndl::KillCallTimer(CCall* pCall) {
    VOKRA_ASSERT_CALLS_LOCKED();
    KillTimer(m_hTimerWnd.load(), MAIN_WND_TIMER_CALL);
    const bool bWasHolder = pCall != nullptr && m_pTimerCall == pCall;
    m_pTimerCall = nullptr;
    return bWasHolder;
}

void CSkypeMsgHndl::ReleaseCallTimer(CCall* pCall) {
    if (pCall != nullptr && m_pTimerCall == pCall)
        KillCallTimer(pCall);
}

void CSkypeMsgHndl::OnCallTimerElapse() {
    CCall* pCall = m_pTimerCall;
    if (pCall != nullptr && Clock().NowMs() < m_uTimerDueMs)
        return;
    m_pTimerCall = nullptr;
    KillTimer(m_hTimerWnd.load(), MAIN_WND_TIMER_CALL);
    if (pCall == nullptr)
        return;
    VLOG(INFO, "CSkypeMsgHndl::OnCallTimerElapse[ CallID: %d ]", pCall->m_nCallId);
    pCall->OnTimer();
}

void CSkypeMsgHndl::OnUserForceAnswerOfCall() {
    VLOG(INFO, "OnUserForceAnswerOfCall()");
    if (g_pRingingCall != nullptr && g_pCurrentCall == nullptr)
        g_pRingingCall->ForceAnswer();
}

void CSkypeMsgHndl::OnUserTakesControlOverCall() {
    VLOG(INFO, "OnUserTakesControlOverCall()");
    if (g_pCurrentCall != nullptr)
        g_pCurrentCall->TakeControl();
}
