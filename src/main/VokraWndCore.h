#pragma once
// The main window without its looks: the hidden window titled "Vokra" on the user-interface
// loop that the worker threads post to. It owns the Skype message handler and the call timer
// (its timer 2), and hands the requests it receives (open the sheet, refresh a page, show a
// balloon, update the tray icon) to the front end that draws them.
#include <string>

#include "calls/SkypeMsgHndl.h"
#include "platform/MsgLoop.h"

// What the front end does with the main window's requests; called on the user-interface
// thread.
class IVokraWndListener {
public:
    virtual ~IVokraWndListener() = default;
    virtual void OnShowSheet(int page) = 0;
    virtual void OnRefreshPage(int page) = 0;
    virtual void OnShowBalloon(int textId, int timeout) = 0;
    virtual void OnUpdateTrayIcon() = 0;
    // A window timer other than the call timer (the tray's own, timer 1).
    virtual void OnWindowTimer(UINT /*id*/) {}
};

class CVokraWndCore : public CWindow {
public:
    static constexpr const char* kTitle = "Vokra";

    CVokraWndCore();
    ~CVokraWndCore() override;

    // Creates the window on the user-interface loop (owned by the calling thread) and makes it
    // the main window that every worker posts to.
    bool Create(CMsgLoop& uiLoop);
    // Starts the handler thread and its transport, which begins connecting to Skype.
    bool StartHandler();
    // Ends the transport (if the handler was started) and destroys the window.
    void Shutdown();
    // Not owned; null: requests are only logged.
    void SetListener(IVokraWndListener* pListener) { m_pListener = pListener; }
    // Any thread: the icon is updated on the user-interface thread.
    void UpdateTrayIcon();

    CSkypeMsgHndl& Handler() { return m_SkypeMsgHndl; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CSkypeMsgHndl m_SkypeMsgHndl;
    CMsgLoop* m_pUiLoop = nullptr;
    IVokraWndListener* m_pListener = nullptr;
    bool m_bHandlerStarted = false;
};
