#include "calls/Call.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/CableNames.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "app/WindowMessages.h"
#include "calls/CallCollection.h"
#include "calls/CallsLock.h"
#include "calls/SkypeCmdQueue.h"
#include "calls/User.h"
#include "messages/Message.h"
#include "messages/MessageCollection.h"
#include "platform/Clock.h"
#include "skype/SkypeAccessAPI.h"

CCall* g_pCurrentCall = nullptr;
CCall* g_pRingingCall = nullptr;
std::atomic<bool> g_bNewVoiceMessage{false};

namespace {

constexpr int kKnownUser = 1;
constexpr int kKnownType = 2;
constexpr int kKnownStatus = 4;
constexpr int kRecheckMs = 300;

int SecondsToMs(int64_t seconds, int64_t extraMs) {
    return static_cast<int>(std::clamp<int64_t>(seconds * 1000 + extraMs, INT_MIN, INT_MAX));
}

// Skype's ids of calls that ended and were dropped, newest last: a late line about one (the
// answer to an earlier query) must not bring it back as a ringing call. Under the calls
// lock; a few are enough, lines come late by moments.
std::deque<int> g_dqEndedCallIds;
constexpr size_t kMaxEndedCallIds = 64;

// Recordings whose stop waits for the end of this thread's CRecordingStops.
struct CPendingStop {
    int nCallId;
    CCall* pCall;
    CMessage* pMessage;
};
thread_local int t_nStopsDepth = 0;
thread_local std::vector<CPendingStop> t_vecPendingStops;

// The listed call with the lowest id (Skype numbers its calls in order) that pred accepts.
template <class TPred>
CCall* FindListedCall(TPred pred) {
    CCall* pFound = nullptr;
    for (const auto& [id, pCall] : gCallsDB.GetMap())
        if (pred(*pCall) && (pFound == nullptr || id < pFound->m_nCallId))
            pFound = pCall.get();
    return pFound;
}

}  // namespace

const char* AnswerStateName(AnswerState state) {
    switch (state) {
        case ANSWER_IDLE:
            return "IDLE";
        case ANSWER_TIMER_SET:
            return "TIMER_SET";
        case ANSWER_SENT:
            return "SENT";
        case ANSWER_RECORDING:
            return "RECORDING";
        case ANSWER_RELEASING:
            return "RELEASING";
        case ANSWER_DONE:
            return "DONE";
    }
    return "?";
}

CCall::CCall() : m_tStart(Clock().WallNow().sec) {}

CCall::~CCall() = default;

void CCall::init(int callId, ICallTimer* pTimer) {
    VLOG(INFO, "CCall::init callId: %d, p=%p", callId, static_cast<void*>(this));
    m_pTimer = pTimer;
    m_nCallId = callId;
    m_pUser = nullptr;
    m_nCallType = CallType(-1);
    m_nStatus = CallStatus(-1);
    for (EProperty property : {PROP_PARTNER_HANDLE, PROP_TYPE, PROP_STATUS})
        QueueSkypeCmd(DeviceToSkypeCmd(D2S_GET_CALL, callId, property, ' '));
}

void CCall::init(int callId, CUser* pUser, int64_t tStart, int duration) {
    VLOG(INFO, "CCall::init callId: %d, username: %s, time:%lld, dur: %d, p=%p", callId,
         pUser ? pUser->m_strUserName.c_str() : "", static_cast<long long>(tStart), duration,
         static_cast<void*>(this));
    m_nCallId = callId;
    m_pUser = pUser;
    m_tStart = tStart;
    m_nDuration = duration;
}

void CCall::set(CUser* pUser) {
    VLOG(INFO, "CCall::set pUser=%p, username: %s, p=%p", static_cast<void*>(pUser),
         pUser ? pUser->m_strUserName.c_str() : "", static_cast<void*>(this));
    m_pUser = pUser;
    m_nKnown |= kKnownUser;
}

void CCall::set(CallType callType) {
    VLOG(INFO, "CCall::set callType: %d, p=%p", static_cast<int>(callType),
         static_cast<void*>(this));
    m_nCallType = callType;
    m_nKnown |= kKnownType;
    OnStatusChange();
}

void CCall::set(CallStatus status) {
    VLOG(INFO, "CCall::set callId: %d, status: %d, p=%p", m_nCallId, static_cast<int>(status),
         static_cast<void*>(this));
    m_nStatus = status;
    m_nKnown |= kKnownStatus;
    // Skype has told the end: an error for a hang-up sent earlier is about nothing any more.
    if (IsFinalStatus(status))
        m_bHangUpPending = false;
    OnStatusChange();
}

bool CCall::IsInfoComplete() const {
    return (m_nKnown & (kKnownUser | kKnownType | kKnownStatus)) ==
           (kKnownUser | kKnownType | kKnownStatus);
}

bool CCall::IsFinalStatus(int status) {
    switch (status) {
        case CALLSTATUS_UNPLACED:
        case CALLSTATUS_FAILED:
        case CALLSTATUS_FINISHED:
        case CALLSTATUS_MISSED:
        case CALLSTATUS_REFUSED:
        case CALLSTATUS_BUSY:
        case CALLSTATUS_CANCELLED:
            return true;
        default:
            return false;
    }
}

bool CCall::IsKnownStatus(int status) {
    return status >= 0 && status < CALLSTATUS_COUNT;
}

bool CCall::IsLiveStatus(int status) {
    switch (status) {
        case CALLSTATUS_INPROGRESS:
        case CALLSTATUS_ONHOLD:
        case CALLSTATUS_LOCALHOLD:
        case CALLSTATUS_REMOTEHOLD:
            return true;
        default:
            return false;
    }
}

bool CCall::CallerIsBuddy() const {
    // A caller whose buddy status has not arrived counts as not on the buddy list.
    return m_pUser != nullptr && m_pUser->m_bIsBuddy;
}

int CCall::GetSecondsBeforeAnswering() const {
    switch (gCurrentUser.m_nOnlineStatus) {
        // A negative delay (hand-edited into the settings file) would refuse the timer and
        // leave the call unanswered for good: it means "at once".
        case USERSTATUS_ONLINE:
        case USERSTATUS_SKYPEME:
            return std::max(0, SecB4AnsweringOnline.load());
        case USERSTATUS_AWAY:
        case USERSTATUS_NA:
        case USERSTATUS_DND:
        case USERSTATUS_INVISIBLE:
            return std::max(0, SecB4AnsweringAway.load());
        default:
            return -1;
    }
}

void CCall::OnStatusChange() {
    switch (static_cast<int>(m_nStatus)) {
        case CALLSTATUS_RINGING:
            if (g_pCurrentCall == this) {
                // Answered, but Skype still says it rings (our answer has not taken, or this is
                // the answer to a status query). Asking for its own status would only bring the
                // same answer again, for ever; its end or its going in progress will come.
                VLOG(INFO, "--> [CallId: %d] The current call still rings - answer state %s",
                     m_nCallId, AnswerStateName(m_nAnswerState));
            } else if (g_pCurrentCall != nullptr) {
                VLOG(INFO,
                     "--> [CallId: %d] Another Call (%d) in progress. Do nothing with this one. "
                     "(g_pCurrentCall=%p)",
                     m_nCallId, g_pCurrentCall->m_nCallId, static_cast<void*>(g_pCurrentCall));
                // Skype answers with the current call's status, or with an error if it no
                // longer knows it: either way a current call that has ended is noticed.
                QueueSkypeCmd(
                    DeviceToSkypeCmd(D2S_GET_CALL, g_pCurrentCall->m_nCallId, PROP_STATUS, ' '));
            } else if (m_nAnswerState == ANSWER_IDLE) {
                ArmAnswerTimer();
            }
            break;

        case CALLSTATUS_INPROGRESS:
            if (g_pCurrentCall == nullptr)
                MakeCurrent();
            if (m_bAnswered && m_nAnswerState == ANSWER_SENT) {
                EnterState(ANSWER_RECORDING);
                const bool bNonAuth = UseNonAuthorizedCallerSettings && !CallerIsBuddy();
                const int nMaxSec =
                    bNonAuth ? MaxRecordingDurationForNonAuthSec : MaxRecordingDurationSec;
                if (nMaxSec > 0) {
                    VLOG(INFO, "--> (3/4) [CallId: %d] Call in progress, setting timer for %d sec",
                         m_nCallId, nMaxSec);
                    if (m_pTimer != nullptr) {
                        m_pTimer->KillCallTimer(this);
                        m_pTimer->SetCallTimer(this, SecondsToMs(nMaxSec, 0));
                    }
                } else {
                    VLOG(INFO, "--> (3/4) [CallId: %d] Call in progress, no timeout is set",
                         m_nCallId);
                }
                m_tStart = Clock().WallNow().sec;

                auto pNewMessage = std::make_unique<CMessage>();
                CMessage* pMessage = pNewMessage.get();
                pMessage->m_pCall = this;
                pMessage->m_bHeard = false;
                pMessage->m_nFileSize = 0;
                if (!gMessagesDB.add(std::move(pNewMessage))) {
                    // Nobody is logged in, so there is no folder to record into: hang up
                    // rather than keep the caller talking to nothing.
                    VLOG(WARNING, "--> [CallId: %d] No messages folder - nothing is recorded",
                         m_nCallId);
                    Release();
                    break;
                }
                m_pMessage = pMessage;
                pMessage->AudioCtrlTake();

                if (m_pUser != nullptr && !m_pUser->IsPhoneNumber()) {
                    const bool bAllowed =
                        bNonAuth ? GreetingTextMsgAllowedForNonAuth : GreetingTextMsgAllowed;
                    if (bAllowed) {
                        const std::string strText =
                            bNonAuth ? GreetingTextMsgForNonAuth.Get() : GreetingTextMsg.Get();
                        VLOG(INFO, "%s", strText.c_str());
                        QueueSkypeCmd(
                            DeviceToSkypeCmd(D2S_MESSAGE, m_pUser->m_strUserName, strText));
                    }
                }
            } else if (!m_bAnswered && g_pCurrentCall == this) {
                // The user took this call in Skype: no answer timer may run on meanwhile. A
                // call we answer keeps its timer, the maximum recording time, whatever Skype
                // repeats; so does another call that is current.
                if (m_pTimer != nullptr)
                    m_pTimer->KillCallTimer(this);
            }
            break;

        case CALLSTATUS_LOCALHOLD:
        case CALLSTATUS_REMOTEHOLD:
            VLOG(INFO, "--> (4/4) [CallId: %d] Call Hold Event [Local or Remote] - Releasing call ",
                 m_nCallId);
            OnTimer();
            break;

        case CALLSTATUS_MISSED:
            VLOG(INFO, "--> (4/4) [CallId: %d] Call Missed Event - Releasing call ", m_nCallId);
            OnTimer();
            // Skype sends nothing after MISSED: the call is over now.
            if (g_pCurrentCall == this) {
                EndAnswering();
                LeaveCurrent();
            }
            break;

        case CALLSTATUS_FINISHED:
            EndAnswering();
            // Only the current call's own end frees the machine: the end of another call must
            // not leave a recording without its limit and open the way to a second answer.
            LeaveCurrent();
            break;

        default:
            // Any other end of the current call (failed, refused, ...) ends its answering too,
            // or it would keep the cables and block every later call. So does a status word
            // Skype has added since (voicemail, transfer, ...): waiting for a FINISHED that may
            // never come would keep the machine from answering for good. Should the call still
            // be going on, its next INPROGRESS or hold makes it current again.
            if (g_pCurrentCall == this && !IsKnownStatus(m_nStatus)) {
                VLOG(INFO, "--> [CallId: %d] Unknown call status %d - taken as the end of the call",
                     m_nCallId, static_cast<int>(m_nStatus));
                Release();
            } else if (g_pCurrentCall != this || !IsFinalStatus(m_nStatus)) {
                break;
            }
            EndAnswering();
            LeaveCurrent();
            break;
    }
}

void CCall::OnTimer() {
    VLOG(INFO, "CCall::OnTimer callId: %d, p=%p", m_nCallId, static_cast<void*>(this));
    switch (static_cast<int>(m_nStatus)) {
        case CALLSTATUS_RINGING:
            if (g_pCurrentCall == nullptr && m_nAnswerState == ANSWER_TIMER_SET) {
                VLOG(INFO, "--> (2/4) [CallId: %d] Timer Event - Can we answer this call?",
                     m_nCallId);
                if (!IsInfoComplete()) {
                    VLOG(INFO,
                         "--> [CallId: %d] Didn't finish collecting all needed information to "
                         "decide - Reschedule Timer Event (300ms)",
                         m_nCallId);
                    if (m_pTimer != nullptr) {
                        m_pTimer->KillCallTimer(this);
                        m_pTimer->SetCallTimer(this, kRecheckMs);
                    }
                } else if (AnswerAllowed() != 0) {
                    Answer();
                }
            } else if (g_pCurrentCall != nullptr) {
                VLOG(INFO,
                     "--> (2/4) [CallId: %d] Timer Event - Cancel Timer - Another Call (%d) in "
                     "progress.",
                     m_nCallId, g_pCurrentCall->m_nCallId);
            } else {
                VLOG(INFO, "--> (2/4) [CallId: %d] Timer Event - Cancel Timer - answer state %s",
                     m_nCallId, AnswerStateName(m_nAnswerState));
            }
            break;

        case CALLSTATUS_INPROGRESS:
        case CALLSTATUS_LOCALHOLD:
        case CALLSTATUS_REMOTEHOLD:
        case CALLSTATUS_MISSED:
            Release();
            break;

        default:
            break;
    }
}

void CCall::EnterState(AnswerState next) {
    VOKRA_ASSERT_CALLS_LOCKED();
    m_nAnswerState = next;
}

void CCall::MakeCurrent() {
    VOKRA_ASSERT_CALLS_LOCKED();
    g_pCurrentCall = this;
}

void CCall::LeaveCurrent() {
    VOKRA_ASSERT_CALLS_LOCKED();
    if (g_pCurrentCall != this)
        return;
    g_pCurrentCall = nullptr;
    // The user may still be on another call: one picked up while this one was current, or one
    // on hold. It becomes current, so that no call is answered over it.
    CCall* pNext = FindListedCall([this](const CCall& call) {
        return &call != this && static_cast<int>(call.m_nStatus) == CALLSTATUS_INPROGRESS;
    });
    if (pNext == nullptr)
        pNext = FindListedCall(
            [this](const CCall& call) { return &call != this && IsLiveStatus(call.m_nStatus); });
    if (pNext != nullptr) {
        VLOG(INFO, "--> [CallId: %d] Call ended, call %d goes on - it becomes the current call",
             m_nCallId, pNext->m_nCallId);
        pNext->MakeCurrent();
        return;
    }
    // A caller who rang meanwhile was left alone (step 1/4 waits while a call is current): now
    // the machine takes the call up, its answer delay counted from here.
    CCall* pRinging =
        g_pRingingCall != nullptr && g_pRingingCall->IsWaitingToBeAnswered()
            ? g_pRingingCall
            : FindListedCall([](const CCall& call) { return call.IsWaitingToBeAnswered(); });
    if (pRinging != nullptr && pRinging != this) {
        VLOG(INFO, "--> [CallId: %d] Call ended, call %d still rings - taking it up", m_nCallId,
             pRinging->m_nCallId);
        if (g_pRingingCall == nullptr)
            g_pRingingCall = pRinging;
        pRinging->ArmAnswerTimer();
    }
}

bool CCall::IsWaitingToBeAnswered() const {
    return static_cast<int>(m_nStatus) == CALLSTATUS_RINGING && !m_bAnswered &&
           (m_nAnswerState == ANSWER_IDLE || m_nAnswerState == ANSWER_TIMER_SET) &&
           g_pCurrentCall != this;
}

void CCall::LeaveRinging() {
    VOKRA_ASSERT_CALLS_LOCKED();
    if (g_pRingingCall != this)
        return;
    // Force Answer passes on to another caller still waiting, if there is one.
    g_pRingingCall = FindListedCall(
        [this](const CCall& call) { return &call != this && call.IsWaitingToBeAnswered(); });
}

void CCall::BecomeRingingIfNone() {
    VOKRA_ASSERT_CALLS_LOCKED();
    if (g_pRingingCall == nullptr)
        g_pRingingCall = this;
}

void CCall::Ended() {
    // Only its own end: another caller may still be waiting for Force Answer.
    LeaveRinging();
}

void CCall::ForgetAll() {
    VOKRA_ASSERT_CALLS_LOCKED();
    g_pCurrentCall = nullptr;
    g_pRingingCall = nullptr;
    // Another user, or Skype started anew: its call ids start afresh.
    g_dqEndedCallIds.clear();
}

bool CCall::HasEnded(int callId) {
    VOKRA_ASSERT_CALLS_LOCKED();
    return std::find(g_dqEndedCallIds.begin(), g_dqEndedCallIds.end(), callId) !=
           g_dqEndedCallIds.end();
}

void CCall::Unlink() {
    if (m_nCallId >= 0 && IsFinalStatus(m_nStatus)) {
        g_dqEndedCallIds.push_back(m_nCallId);
        if (g_dqEndedCallIds.size() > kMaxEndedCallIds)
            g_dqEndedCallIds.pop_front();
    }
    LeaveCurrent();
    LeaveRinging();
    if (m_pTimer != nullptr)
        m_pTimer->ReleaseCallTimer(this);
    if (m_pMessage != nullptr && m_pMessage->m_pCall == this)
        m_pMessage->m_pCall = nullptr;
    m_pMessage = nullptr;
}

void CCall::ArmAnswerTimer() {
    const int nSeconds = GetSecondsBeforeAnswering();
    EnterState(ANSWER_TIMER_SET);
    if (nSeconds < 0) {
        // No delay belongs to this status, and the answer rules refuse it anyway: no timer.
        // Force Answer still reaches the call.
        VLOG(INFO,
             "--> (1/4) [CallId: %d] No answer delay for user status %d - Answer timer not set",
             m_nCallId, gCurrentUser.m_nOnlineStatus);
        return;
    }
    const int nDelayMs = SecondsToMs(nSeconds, 10);
    VLOG(INFO, "--> (1/4) [CallId: %d] Setting Answer timer for %d MSec", m_nCallId, nDelayMs);
    if (m_pTimer != nullptr) {
        m_pTimer->KillCallTimer(this);
        m_pTimer->SetCallTimer(this, nDelayMs);
    }
}

void CCall::Answer() {
    EnterState(ANSWER_SENT);
    QueueSkypeCmd(DeviceToSkypeCmd(D2S_SET_AUDIO_IN, g_strVac1RecordingDevice));
    QueueSkypeCmd(DeviceToSkypeCmd(D2S_SET_AUDIO_OUT, g_strVac2PlaybackDevice));
    QueueSkypeCmd(DeviceToSkypeCmd(D2S_SET_CALL, m_nCallId, PROP_STATUS_INPROGRESS, ' '));
    m_bSkypeDevicesTaken = true;
    m_bAnswered = true;
    MakeCurrent();
    // Force Answer has nothing to do while a call is answered.
    g_pRingingCall = nullptr;
}

void CCall::Release() {
    if (g_pCurrentCall != this || !m_bAnswered || m_nAnswerState > ANSWER_RECORDING)
        return;
    EnterState(ANSWER_RELEASING);
    VLOG(INFO, "--> (4/4) [CallId: %d] Timer Event - Releasing call ", m_nCallId);
    StopRecording();
    QueueSkypeCmd(DeviceToSkypeCmd(D2S_SET_CALL, m_nCallId, PROP_STATUS_FINISHED, ' '));
    m_bHangUpPending = true;
}

CCall* CCall::OnHangUpRefused() {
    VOKRA_ASSERT_CALLS_LOCKED();
    CCall* pCall = FindListedCall([](const CCall& call) { return call.m_bHangUpPending; });
    if (pCall == nullptr) {
        VLOG(INFO, "ERROR %d answers no hang-up still waiting - nothing to finish",
             static_cast<int>(SKYPE_ERROR_CANNOT_HANGUP_INACTIVE_CALL));
        return nullptr;
    }
    pCall->m_bHangUpPending = false;
    VLOG(INFO, "--> [CallId: %d] Skype cannot hang up the call: it has ended", pCall->m_nCallId);
    // A call whose end came with the hang-up itself (MISSED) is over already.
    if (IsFinalStatus(pCall->m_nStatus))
        return nullptr;
    pCall->set(CallStatus(CALLSTATUS_FINISHED));
    return pCall;
}

void CCall::StopRecording() {
    if (m_nDuration != -1 || m_bStopPending)
        return;
    if (t_nStopsDepth > 0 && m_pMessage != nullptr && m_pMessage->AudioCtrlDetach()) {
        m_bStopPending = true;
        t_vecPendingStops.push_back({m_nCallId, this, m_pMessage});
        return;
    }
    // A call answered but not yet in progress has no message: nothing was recorded.
    m_nDuration = m_pMessage != nullptr ? m_pMessage->AudioCtrlBreak() : 0;
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
}

void CCall::RestoreSkypeDevices() {
    if (!m_bSkypeDevicesTaken)
        return;
    m_bSkypeDevicesTaken = false;
    const std::string strIn = m_pTimer != nullptr ? m_pTimer->GetDefaultAudioIn() : "";
    const std::string strOut = m_pTimer != nullptr ? m_pTimer->GetDefaultAudioOut() : "";
    QueueSkypeCmd(DeviceToSkypeCmd(D2S_SET_AUDIO_IN, strIn));
    QueueSkypeCmd(DeviceToSkypeCmd(D2S_SET_AUDIO_OUT, strOut));
}

void CCall::RecordingStopped(int seconds) {
    m_bStopPending = false;
    m_nDuration = seconds;
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
    if (m_bFilePending) {
        m_bFilePending = false;
        FileRecording(m_bShowSheetPending);
    }
}

void CCall::FileRecording(bool bShowSheet) {
    if (m_bStopPending) {
        // The recording's length is known only once it has stopped.
        m_bFilePending = true;
        m_bShowSheetPending = bShowSheet;
        return;
    }
    if (m_pMessage == nullptr)
        return;
    if (m_nDuration > 0) {
        VLOG(INFO, "New recorded voice message");
        m_pMessage->RenameVoiceMessageFileName();
    }
    g_bNewVoiceMessage = true;
    if (bShowSheet && RestoreWin) {
        VLOG(INFO, "Restore Main Message dialog window");
        PostToMainWnd(WM_SHOW_SHEET, SHEET_PAGE_MESSAGES, 0);
    }
}

void CCall::EndAnswering(bool bShowSheet) {
    if (!m_bAnswered || m_nAnswerState < ANSWER_SENT || m_nAnswerState > ANSWER_RELEASING)
        return;
    EnterState(ANSWER_DONE);
    if (m_pTimer != nullptr)
        m_pTimer->KillCallTimer(this);
    StopRecording();
    RestoreSkypeDevices();
    FileRecording(bShowSheet);
}

int CCall::AnswerAllowed() {
    std::string strWhy;
    int nSwitch = 0;
    const int nUserStatus = gCurrentUser.m_nOnlineStatus;
    // 64 bits: a limit of 4096 MiB or more does not fit the folder size's 32.
    const uint64_t uLimit =
        static_cast<uint64_t>(std::max(0, RcvdMsgsFolderSize.load())) * 1048576u;
    uint64_t uSize = 0;
    if (::AnswerAllowed == 0) {
        strWhy = " Global Answering OFF on INCOMING call";
    } else if (IsRcvdMsgsFolderLimited != 0 &&
               (uSize = gMessagesDB.GetMessagesFolderSizeBytes()) >= uLimit) {
        strWhy = StrFormat(" Messages Folder Size limit Exceeded [%llu/%llu]",
                           static_cast<unsigned long long>(uSize),
                           static_cast<unsigned long long>(uLimit));
    } else if (static_cast<int>(m_nCallType) != CALLTYPE_INCOMING_PSTN &&
               static_cast<int>(m_nCallType) != CALLTYPE_INCOMING_P2P) {
        strWhy = StrFormat(" Call Type not INCOMING [%d]", static_cast<int>(m_nCallType));
    } else if (UseNonAuthorizedCallerSettings != 0 && m_pUser == nullptr) {
        strWhy = " Waiting for Caller authorization information";
    } else if (UseNonAuthorizedCallerSettings != 0 && DisableAnswerOfNonAuthCaller != 0 &&
               !CallerIsBuddy()) {
        strWhy = " Caller not on your Buddy List";
    } else {
        switch (nUserStatus) {
            case USERSTATUS_ONLINE:
            case USERSTATUS_SKYPEME:
                nSwitch = AnswerAllowedOnline;
                break;
            case USERSTATUS_AWAY:
            case USERSTATUS_NA:
            case USERSTATUS_DND:
            case USERSTATUS_INVISIBLE:
                nSwitch = AnswerAllowedAway;
                break;
            default:
                nSwitch = 0;
                break;
        }
        if (nSwitch == 0)
            strWhy = StrFormat(" Current UserStatus [%d]", nUserStatus);
    }
    if (!strWhy.empty()) {
        VLOG(INFO, "--> [CallId: %d] AnswerAllowed - NOT !!%s", m_nCallId, strWhy.c_str());
        return 0;
    }
    VLOG(INFO, "--> [CallId: %d] AnswerAllowed - YES", m_nCallId);
    return nSwitch;
}

void CCall::ForceAnswer() {
    VLOG(INFO,
         "--> (2/4) [CallId: %d] User Forces Answering of Call Event - Make it look as timer "
         "expired",
         m_nCallId);
    if (static_cast<int>(m_nStatus) != CALLSTATUS_RINGING)
        return;
    if (m_pTimer != nullptr)
        m_pTimer->KillCallTimer(this);
    OnTimer();
}

void CCall::TakeControl() {
    VLOG(INFO,
         "--> (4/4) [CallId: %d] User Takes Control over Call Event - Stopping Recording only",
         m_nCallId);
    if (!m_bAnswered || m_nAnswerState < ANSWER_SENT || m_nAnswerState > ANSWER_RELEASING) {
        // Not a call the machine is answering: nothing of ours to stop or give back.
        VLOG(INFO, "--> [CallId: %d] Take Control ignored - answer state %s", m_nCallId,
             AnswerStateName(m_nAnswerState));
        return;
    }
    EnterState(ANSWER_DONE);
    if (m_pTimer != nullptr)
        m_pTimer->KillCallTimer(this);
    RestoreSkypeDevices();
    StopRecording();
    FileRecording(true);
}

CRecordingStops::CRecordingStops() {
    ++t_nStopsDepth;
}

CRecordingStops::~CRecordingStops() {
    if (--t_nStopsDepth == 0)
        RunNow();
}

void CRecordingStops::RunNow() {
    std::vector<CPendingStop> vecStops;
    vecStops.swap(t_vecPendingStops);
    for (const CPendingStop& stop : vecStops) {
        const int nSeconds = CMessage::AudioCtrlStopDetached();
        CCallsDataLock lock;
        // The user interface may have deleted the message (and with it the call) meanwhile.
        CCall* pCall = nullptr;
        if (gCallsDB.Get(stop.nCallId, pCall) && pCall == stop.pCall &&
            pCall->m_pMessage == stop.pMessage && pCall->m_bStopPending) {
            pCall->RecordingStopped(nSeconds);
        } else {
            VLOG(WARNING, "CRecordingStops: call %d went while its recording stopped - not filed",
                 stop.nCallId);
        }
    }
}
