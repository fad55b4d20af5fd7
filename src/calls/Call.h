#pragma once
// One Skype call as Skype reports it (id, caller, type, status) and the answering machine's
// progress with it: the four-step answering state machine and the decision whether to answer.
//
// Everything here runs on the Skype message handler thread, under CCallsDataLock; the user
// interface reads calls and the globals below under the same lock. Every change of
// g_pCurrentCall, g_pRingingCall and a call's answer state is made by the few operations of
// CCall marked "state operation" below (all in Call.cpp).
#include <atomic>
#include <cstdint>
#include <string>

// Distinct types so that set() can tell a type from a status; values are CALLTYPE_* and
// CALLSTATUS_* of the Skype codec.
enum CallType : int {};
enum CallStatus : int {};

// The answering machine's progress with a call (m_nAnswerState).
//
// state       event                                        next        commands sent
// IDLE        RINGING, no call current                     TIMER_SET   -  (answer timer armed)
// IDLE,       the current call ends, no other call is      TIMER_SET   -  (answer timer armed
//  TIMER_SET   in progress or held, this one still rings               afresh)
// TIMER_SET   timer or Force Answer, details missing       TIMER_SET   -  (300 ms re-check)
// TIMER_SET   timer or Force Answer, AnswerAllowed         SENT        SET AUDIO_IN cable 1,
//                                                                      SET AUDIO_OUT cable 2,
//                                                                      SET CALL id STATUS
//                                                                      INPROGRESS
// SENT        INPROGRESS                                   RECORDING   MESSAGE caller text
//                                                                      (if the greeting is on)
// SENT,       timer (recording limit), LOCALHOLD,          RELEASING   SET CALL id STATUS
//  RECORDING   REMOTEHOLD, MISSED; no messages folder                  FINISHED
// SENT ..     FINISHED or another end (MISSED, FAILED,     DONE        SET AUDIO_IN default,
//  RELEASING   REFUSED, BUSY, ...; ERROR 24 for its hang-up;           SET AUDIO_OUT default
//              a status word Skype added since, the hang-up
//              first)
// SENT ..     Take Control                                 DONE        SET AUDIO_IN default,
//  RELEASING                                                           SET AUDIO_OUT default
// DONE        anything                                     DONE        -
enum AnswerState : int {
    ANSWER_IDLE = 0,       // nothing done yet
    ANSWER_TIMER_SET = 1,  // (1/4) waiting for the answer delay
    ANSWER_SENT = 2,       // (2/4) answer commands queued
    ANSWER_RECORDING = 3,  // (3/4) message created, audio stages running
    ANSWER_RELEASING = 4,  // (4/4) hang-up queued
    ANSWER_DONE = 5,       // recording ended, Skype's devices given back
};
// "IDLE", "TIMER_SET", ... for log lines.
const char* AnswerStateName(AnswerState state);

class CCall;
class CMessage;
class CUser;

// The one call timer of the program and the Skype devices to give back after an answered call:
// the Skype message handler offers both to its calls.
class ICallTimer {
public:
    virtual ~ICallTimer() = default;
    // Arms the one-shot timer for the call; false (nothing changes) while another arming holds
    // it.
    virtual bool SetCallTimer(CCall* pCall, int ms) = 0;
    // Stops the timer whichever call holds it; true when pCall was the holder.
    virtual bool KillCallTimer(CCall* pCall) = 0;
    // A call that goes away stops the timer only if it holds it itself.
    virtual void ReleaseCallTimer(CCall* pCall) = 0;
    // Skype's own audio devices, as Skype last reported them outside an answered call.
    virtual std::string GetDefaultAudioIn() const = 0;
    virtual std::string GetDefaultAudioOut() const = 0;
};

class CCall {
public:
    CCall();
    virtual ~CCall();
    CCall(const CCall&) = delete;
    CCall& operator=(const CCall&) = delete;

    // A live call: asks Skype for its partner, type and status.
    void init(int callId, ICallTimer* pTimer);
    // A call rebuilt from a saved voice message; asks nothing.
    void init(int callId, CUser* pUser, int64_t tStart, int duration);
    void set(CUser* pUser);
    // The two below run the state machine.
    void set(CallType callType);
    void set(CallStatus status);
    // Caller, type and status have all arrived.
    bool IsInfoComplete() const;

    // The state machine: reacts to m_nStatus.
    void OnStatusChange();
    // The call timer fired for this call (or something imitates that).
    void OnTimer();
    // 0: may not answer; otherwise the answer switch that allowed it.
    int AnswerAllowed();
    // By the logged-in user's status; -1 for a status without an answer delay.
    int GetSecondsBeforeAnswering() const;
    void ForceAnswer();
    void TakeControl();
    // State operation. The answered call is over: stop its audio, give Skype its devices back,
    // file the recording. Does nothing for a call that is not being answered (states 2 to 4).
    void EndAnswering(bool bShowSheet = true);

    // State operation. A call just created by the handler: Force Answer acts on it unless
    // another call already rings.
    void BecomeRingingIfNone();
    // State operation. Skype is done with the call (a final status): Force Answer no longer
    // acts on it.
    void Ended();
    // State operation. Skype answered ERROR 24 ("cannot hang up an inactive call") to a hang-up
    // of the machine's: the call it was for has ended, and is finished unless Skype told its end
    // already. No other call is touched (by now another one may be current). Returns the call
    // finished.
    static CCall* OnHangUpRefused();
    // State operation. Everything of the logged-in user goes (KillAll): no call is current,
    // ringing or waiting for an answer to its hang-up.
    static void ForgetAll();
    // A call of this Skype id ended and was dropped (late lines about it do not make it again).
    static bool HasEnded(int callId);
    // The collection drops the call: nothing may point at it afterwards (current or ringing
    // call, call timer, its message). A current call hands over as when it ends.
    void Unlink();

    // UNPLACED, FAILED, FINISHED, MISSED, REFUSED, BUSY and CANCELLED: Skype is done with it.
    static bool IsFinalStatus(int status);
    // A word of Skype's status table (the codec gives CALLSTATUS_COUNT for any other).
    static bool IsKnownStatus(int status);
    // In progress or on hold: a call the user may be talking on.
    static bool IsLiveStatus(int status);

    bool m_bAnswered = false;
    int m_nCallId = -1;
    int64_t m_tStart = 0;  // seconds since 1970
    int m_nDuration = -1;  // seconds recorded; -1 while not stopped
    CUser* m_pUser = nullptr;
    CallType m_nCallType = CallType(-1);
    CallStatus m_nStatus = CallStatus(-1);
    // Read anywhere under the lock; changed only by EnterState.
    AnswerState m_nAnswerState = ANSWER_IDLE;
    CMessage* m_pMessage = nullptr;  // owned by gMessagesDB
    ICallTimer* m_pTimer = nullptr;
    int m_nKnown = 0;  // bit 0 caller, bit 1 type, bit 2 status

private:
    friend class CRecordingStops;

    // The only writer of m_nAnswerState.
    void EnterState(AnswerState next);
    // The only writers of g_pCurrentCall and g_pRingingCall.
    void MakeCurrent();
    void LeaveCurrent();
    void LeaveRinging();
    void ArmAnswerTimer();
    // Still ringing and not (yet) answered by the machine: it may be taken up or forced.
    bool IsWaitingToBeAnswered() const;
    void Answer();
    void Release();
    void StopRecording();
    void RecordingStopped(int seconds);
    void RestoreSkypeDevices();
    void FileRecording(bool bShowSheet);
    bool CallerIsBuddy() const;

    // The answer commands moved Skype to the cables; they go back exactly once.
    bool m_bSkypeDevicesTaken = false;
    // The machine's hang-up was queued and Skype has told neither this call's end nor that it
    // cannot hang it up.
    bool m_bHangUpPending = false;
    // The recording's stop waits until the calls lock is free (CRecordingStops), and its filing
    // with it.
    bool m_bStopPending = false;
    bool m_bFilePending = false;
    bool m_bShowSheetPending = false;
};

// While one lives on a thread, the recordings that calls stop on that thread are stopped when
// it ends, after the calls lock has been let go (stopping the audio stages can take seconds,
// and the user interface waits for that lock); each call is then completed under the lock.
// The handler opens one around each message, outside its lock. Without one, a stop is at once.
class CRecordingStops {
public:
    CRecordingStops();
    ~CRecordingStops();
    CRecordingStops(const CRecordingStops&) = delete;
    CRecordingStops& operator=(const CRecordingStops&) = delete;
    // Stops this thread's waiting recordings now, whatever lock it holds: the logged-in user is
    // about to go, and the recordings must be filed in that user's folder first.
    static void RunNow();
};

// The call being answered, recorded or talked on; null when none.
extern CCall* g_pCurrentCall;
// The call Force Answer acts on.
extern CCall* g_pRingingCall;
// A recording has ended and not been looked at yet (the tray blinks).
extern std::atomic<bool> g_bNewVoiceMessage;
