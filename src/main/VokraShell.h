#pragma once
// What the front end shows and does for the main window: the tray icon with its tooltip,
// balloons and menu, the property sheet, web pages. The main window core decides every one of
// these; the front end (Qt, or a test double) only carries them out. Message boxes go through
// the program's message-box service (app/MessageBox.h) instead.
//
// All calls come on the user-interface thread. Nothing here waits for the user: a menu or a
// sheet is put up and the call returns; the user's answer comes back through the core
// (CVokraWndCore::OnTrayMenuCommand, CVokraWndCore::OnSheetEnded).
#include <cstdint>
#include <string>

#include "main/TrayMenu.h"

class IVokraShell {
public:
    virtual ~IVokraShell() = default;

    // ---- The tray icon ----
    // Puts the icon into the notification area with its look and tooltip. False when the
    // desktop refused (it is tried again on the next tick).
    virtual bool AddTrayIcon(ETrayIcon icon, const std::string& strTip) = 0;
    // Changes the look only. False when the desktop no longer has the icon (after a restart of
    // the desktop's panel, say): the core then deletes and adds it again.
    virtual bool ModifyTrayIcon(ETrayIcon icon) = 0;
    virtual bool SetTrayTip(const std::string& strTip) = 0;
    virtual void DeleteTrayIcon() = 0;
    // An information balloon (notification) beside the icon, shown for uTimeoutMs.
    virtual bool ShowBalloon(const std::string& strTitle, const std::string& strText,
                             uint32_t uTimeoutMs) = 0;
    // Pops the menu up at the pointer. The chosen command, or ID_SYSTRAY_MENU_NONE when the menu
    // was dismissed, goes to CVokraWndCore::OnTrayMenuCommand, once per menu shown.
    virtual void ShowTrayMenu(const CTrayMenu& menu) = 0;

    // ---- The property sheet (at most one at a time) ----
    // Opens it with the caption on page nPage (0 Messages, 1 Options, 2 About, 3 Debug; -1: the
    // page that was active last). False when it cannot be opened. When it ends, with OK or
    // otherwise, the front end calls CVokraWndCore::OnSheetEnded.
    virtual bool OpenSheet(const std::string& strCaption, int nPage) = 0;
    // The open sheet switches to nPage (-1: stays on its page) and comes to the front.
    virtual void ActivateSheet(int nPage) = 0;
    virtual int GetActiveSheetPage() const = 0;
    // The open sheet's page nPage reads its data again.
    virtual void RefreshSheetPage(int nPage) = 0;
    // The open sheet's Messages page plays every new message.
    virtual void PlayNewMessages() = 0;
    // Ends the open sheet as if its window had been closed (cancelled).
    virtual void CloseSheet() = 0;
    // The Options page's Advanced options dialog.
    virtual bool IsAdvancedDialogOpen() const = 0;
    virtual void RaiseAdvancedDialog() = 0;

    // ---- The desktop ----
    // Opens a web address or a file:// URL with the user's default program. False when nothing
    // could open it.
    virtual bool OpenUrl(const std::string& strUrl) = 0;
    // The main window has closed: the application ends.
    virtual void EndApplication() = 0;
};
