#pragma once
// The Skype message handler: a thread with its own queue that receives everything the
// transport learns from Skype (connection states, parsed lines) and acts on it one message at
// a time. It keeps users, calls and the logged-in user's voice messages in step with Skype,
// owns the one call timer (timer 2 of the main window), and carries out Force Answer and Take
// Control from the tray menu.
//
// Each message is handled under CCallsDataLock; the commands it queues to Skype go out after
// the lock is released (CSkypeCmdBatch).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "calls/Call.h"
#include "platform/MsgLoop.h"
#include "skype/STL.h"

class CSkypeMsgHndl : public CMsgThread,
                      public IConnectionStateSink,
                      public ISkypeCmdSink,
                      public ICallTimer {
public:
    CSkypeMsgHndl();
    // Ends the thread, then drops everything of the logged-in user (a recording in progress is
    // filed first) and the transport.
    ~CSkypeMsgHndl() override;

    // User-interface thread, after CreateThread: the call timer runs on hTimerWnd; the
    // transport is created on pTransportLoop (null: the calling thread's loop), published as
    // g_pSTL and starts connecting. False when the transport cannot start.
    bool Start(HWND hTimerWnd, CMsgLoop* pTransportLoop = nullptr);
    // Ends the transport. On the transport's loop.
    void Stop();
    // The window whose timer 2 is the call timer (Start sets it).
    void SetTimerWnd(HWND hTimerWnd) { m_hTimerWnd = hTimerWnd; }
    // Instead of a thread of its own, the handler's messages run wherever the calling thread
    // pumps Loop() (a host that drives its loops itself).
    void AttachToCurrentThread();

    // Any thread.
    bool PostCallTimerElapse();
    bool PostForceAnswer();
    bool PostTakeControl();
    // Quit: the answered call ends as KillAll ends it (its recording filed, Skype's own devices
    // asked back); then WM_QUIT_CALL_ENDED goes to the main window.
    bool PostQuit();

    // IConnectionStateSink, ISkypeCmdSink: on the transport's loop; they only post.
    void OnConnectionState(int state) override;
    bool OnSkypeCmd(const SkypeToDeviceCmd& cmd) override;

    // ICallTimer: on the handler thread.
    bool SetCallTimer(CCall* pCall, int ms) override;
    bool KillCallTimer(CCall* pCall) override;
    void ReleaseCallTimer(CCall* pCall) override;
    std::string GetDefaultAudioIn() const override { return m_strDefaultAudioIn; }
    std::string GetDefaultAudioOut() const override { return m_strDefaultAudioOut; }

    // Drops everything that belongs to the logged-in user. On the handler thread (or once it
    // has ended), under CCallsDataLock.
    void KillAll();

    // The call holding the call timer; under CCallsDataLock.
    CCall* GetTimerCall() const { return m_pTimerCall; }

protected:
    void OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnConnectionStageChangeNotify(int state);
    void OnSkypeCmdMsg(const SkypeToDeviceCmd& cmd);
    void OnCallTimerElapse();
    void OnUserForceAnswerOfCall();
    void OnUserTakesControlOverCall();
    void OnQuit();
    void Skype2DeviceMsgHandleUsers(const SkypeToDeviceCmd& cmd);
    void Skype2DeviceMsgHandleUser(const SkypeToDeviceCmd& cmd);
    void Skype2DeviceMsgHandleCall(const SkypeToDeviceCmd& cmd);
    void OnCurrentUserHandle(const std::string& handle);
    // A call Skype is done with leaves the database unless its voice message needs it.
    void SettleEndedCall(CCall* pCall);

    std::string m_strDefaultAudioIn;
    std::string m_strDefaultAudioOut;
    std::atomic<HWND> m_hTimerWnd{0};
    bool m_bNeedInitialQueries = true;
    bool m_bFailureShown = false;
    CCall* m_pTimerCall = nullptr;
    // When the present arming falls due: a firing of an earlier arming that reaches the thread
    // late (the window timer repeats until it is stopped) must not end this one early.
    uint64_t m_uTimerDueMs = 0;
    std::unique_ptr<CSTL> m_pSTL;
    // The loop the transport's window lives on (debug checks of its owner thread).
    CMsgLoop* m_pTransportLoop = nullptr;
};
