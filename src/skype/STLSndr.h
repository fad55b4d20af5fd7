#pragma once
// The sender thread: delivers command lines to the Skype client. A delivery is a synchronous
// copy-data message that blocks until Skype's window has handled it; doing it here keeps the
// transport's (user-interface) loop free while Skype is slow. The sender never deletes or
// re-queues commands: the reply time-out belongs to the transport.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/MsgLoop.h"
#include "skype/SkypeAccessAPI.h"

constexpr UINT WM_STLSNDR_SEND_CMD = WM_USER + 951;  // owns a CSTLSndrCmd (TakePayload)
constexpr UINT WM_STLSNDR_QUIT = WM_USER + 952;

// What the sender gets for one command: its own copy of the text, so that the transport may
// delete its command (a disconnect clears the queues at any moment) while the line is on its way.
struct CSTLSndrCmd {
    std::string m_strText;
    uintptr_t m_uCmdIdentity = 0;  // the transport's command, for the log only
};

class CSTLSndr : public CMsgThread {
public:
    static constexpr uint32_t kLineGapMs = 10;    // consecutive lines at least this far apart
    static constexpr int kSlowDeliveryMs = 3000;  // a delivery this slow is logged as failed
    static constexpr uint32_t kEndWaitMs = 1500;  // EndThread waits this long for the thread

    CSTLSndr() = default;
    ~CSTLSndr() override;

    // Starts the thread. False when it cannot be started (or was started before).
    bool Start();
    // The transport window, sent with every line so that Skype knows who speaks.
    void SetMyhWnd(HWND hWndSTL);
    // Skype's API window; 0 while the transport has no attachment (lines are then discarded).
    void SetSkypehWnd(HWND hWndSkypeAPI);
    // Hands a copy of the command's text to the thread. False when the thread takes no more.
    bool PostCmd(const DeviceToSkypeCmd& cmd);
    // Lets the commands posted so far go out, then ends the thread; waits up to kEndWaitMs of
    // the process clock. Returns 1.
    int EndThread();

    int GetLinesSent() const { return m_nLinesSent.load(); }
    void ResetLinesSent() { m_nLinesSent.store(0); }

protected:
    void OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnSendCmd(const CSTLSndrCmd& cmd);
    // Delivers one line; the milliseconds Skype took, or -1 when it did not take the line.
    int SendToSkype(HWND hWndSkype, const std::string& text);

    std::atomic<HWND> m_hWndSTL{0};
    std::atomic<HWND> m_hWndSkypeAPI{0};
    std::atomic<int> m_nLinesSent{0};
};
