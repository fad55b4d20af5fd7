#pragma once
// The main window without its looks: the hidden window titled "Vokra" on the user-interface
// loop that the worker threads post to. It owns the Skype message handler and the call timer
// (its timer 2), and decides everything the tray shows: the icon (timer 1), the tooltip, the
// balloons and the right-click menu with its commands, the property sheet's opening and end,
// and Quit. The front end that draws it all is an IVokraShell.
//
// Everything here runs on the user-interface thread, except UpdateTrayIcon and the Post...
// functions of the handler, which any thread may call.
#include <cstdint>
#include <string>

#include "calls/SkypeMsgHndl.h"
#include "main/TrayMenu.h"
#include "main/VokraShell.h"
#include "platform/MsgLoop.h"

// Mouse messages carried in lParam of the tray callback message "VokraTaskbarMsg".
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONUP = 0x0205;

// Watches the requests that reach the main window from the workers, as they arrive (a headless
// host prints them, tests read the pages' data at those moments); called on the user-interface
// thread, before the core acts on them.
class IVokraWndListener {
public:
    virtual ~IVokraWndListener() = default;
    virtual void OnShowSheet(int page) = 0;
    virtual void OnRefreshPage(int page) = 0;
    virtual void OnShowBalloon(int textId, int timeout) = 0;
    virtual void OnUpdateTrayIcon() = 0;
};

// Toggled by every tray tick while an animation runs; both animations share it.
extern int g_bBlinkPhase;

class CVokraWndCore : public CWindow {
public:
    static constexpr const char* kTitle = "Vokra";
    static constexpr const char* kBalloonTitle = "Vokra - Answering Machine for Skype™ users";
    static constexpr uint32_t kTrayTickMs = 750;
    // The help page, beside the program.
    static constexpr const char* kHelpPage = "help/index.html";
    // Quit waits at most this long for Skype to acknowledge its own devices back, checking
    // every kQuitCheckMs.
    static constexpr uint32_t kQuitWaitMs = 2000;
    static constexpr uint32_t kQuitCheckMs = 50;

    CVokraWndCore();
    // Stops the handler and destroys the window; the shell is not called any more.
    ~CVokraWndCore() override;

    // Creates the window on the user-interface loop (owned by the calling thread) and makes it
    // the main window that every worker posts to.
    bool Create(CMsgLoop& uiLoop);
    // Not owned; must outlive the window's use of it. Null: a headless run, nothing is shown.
    void SetShell(IVokraShell* pShell) { m_pShell = pShell; }
    // Not owned; null: nobody watches.
    void SetListener(IVokraWndListener* pListener) { m_pListener = pListener; }

    // Once, after Create: InitTray, then StartHandler.
    bool Init();
    // The interface language, the menu, the tray icon and its 750 ms timer.
    void InitTray();
    // Starts the handler thread and its transport, which begins connecting to Skype.
    bool StartHandler();
    // (Re)builds the menu in the current interface language (also after a language change).
    void BuildTrayMenu();

    // Any thread: the icon is updated on the user-interface thread.
    void UpdateTrayIcon();
    // The sheet on page (-1: its last page); raised and switched when it is open already.
    void ShowPropSheet(int page);
    // The front end's sheet has ended; OK writes every setting, anything else reads them back.
    void OnSheetEnded(bool bOk);
    // The choice from a menu put up by ShowTrayMenu (ID_SYSTRAY_MENU_NONE: dismissed).
    void OnTrayMenuCommand(UINT uCommand);
    // Quit: closes the sheet, ends an answered call and gives Skype its devices back, then ends
    // the transport and the window (and with it the application). While connected the end
    // comes once Skype has acknowledged the devices (at most kQuitWaitMs later), otherwise at
    // once. Refused (false) while the Advanced options dialog is open, which is raised.
    bool Shutdown();
    // Quit has begun and waits for Skype.
    bool IsQuitting() const { return m_bQuitting; }

    // What the tray shows now.
    ETrayIcon GetTrayIcon() const { return m_nTrayIcon; }
    const std::string& GetTrayTip() const { return m_strTrayTip; }
    const CTrayMenu& GetTrayMenu() const { return m_TrayMenu; }
    bool IsSheetOpen() const { return m_bSheetOpen; }
    // The tooltip for the present connection, user and answering mode.
    std::string MakeTrayTip() const;
    // The file URL of the help page beside the program.
    static std::string HelpPageUrl();
    // The tray callback message, registered once.
    static UINT TaskbarMessage();

    CSkypeMsgHndl& Handler() { return m_SkypeMsgHndl; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    // The transport's connection state (-1 without a transport). Tests put a state here.
    virtual int GetConnectionState() const;

private:
    void OnTrayNotify(LPARAM mouseMessage);
    void OnShowBalloon(UINT uTextId, LPARAM timeout);
    void OnRefreshPage(int page);
    void OnPlayNewMessages();
    void OnClose();
    void OnQuit();
    void OnHelp();
    void SetAnsweringMode(int nAllowed);
    void UpdateTrayIconNow();
    ETrayIcon ChooseTrayIcon();
    void AddTrayIcon();
    bool ModifyTrayIcon(ETrayIcon icon);
    bool SetTrayTip(const std::string& strTip);
    bool ShowBalloon(const std::string& strTitle, const std::string& strText, uint32_t uTimeoutMs);
    // Shows the menu with the extra item the present calls and messages ask for.
    void ShowTrayMenu();
    void RemoveExtraMenuItem();
    // True (and the dialog is raised) while Quit must wait for the Advanced options dialog.
    bool QuitBlockedByAdvancedDialog();
    void DestroyMainWindow();
    void CheckQuitWait();
    void FinishShutdown();

    CSkypeMsgHndl m_SkypeMsgHndl;
    CMsgLoop* m_pUiLoop = nullptr;
    IVokraShell* m_pShell = nullptr;
    IVokraWndListener* m_pListener = nullptr;
    bool m_bHandlerStarted = false;
    // The tray record: filled by InitTray, emptied when the window closes.
    bool m_bTrayRecord = false;
    ETrayIcon m_nTrayIcon = TRAY_ICON_IDLE;
    std::string m_strTrayTip;
    CTrayMenu m_TrayMenu;
    bool m_bExtraMenuItem = false;  // the menu's first two entries are the extra item and a line
    bool m_bSheetOpen = false;
    bool m_bQuitting = false;
    bool m_bQuitCallEnded = false;
    uint64_t m_uQuitDeadlineMs = 0;
};

// Milliseconds a balloon stays, from the timeout the workers post: held between 10 and 30 s as
// the tray always did, so 10 is the shortest and -1 (the largest unsigned number) the longest.
uint32_t BalloonTimeoutMs(LPARAM timeout);
// "file://" and the absolute path, with every byte but letters, digits, "-._~" and "/"
// percent-encoded.
std::string FileUrl(const std::string& path);
