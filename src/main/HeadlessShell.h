#pragma once
// A front end with nothing to draw, for a program that runs without a desktop (the demo, a
// server): it tells an observer what the tray would show, refuses what needs a person (the
// property sheet, web pages), and ends the user-interface loop when the main window closes.
#include <atomic>
#include <functional>
#include <string>

#include "main/VokraShell.h"

class CMsgLoop;

class CHeadlessShell : public IVokraShell {
public:
    // uiLoop is quit when the application ends. fnEvent (may be empty) gets one line per thing
    // the tray would show: "tray icon: enabled", "balloon: ...", "tooltip: ...".
    CHeadlessShell(CMsgLoop& uiLoop, std::function<void(const std::string&)> fnEvent);

    bool AddTrayIcon(ETrayIcon icon, const std::string& strTip) override;
    bool ModifyTrayIcon(ETrayIcon icon) override;
    bool SetTrayTip(const std::string& strTip) override;
    void DeleteTrayIcon() override;
    bool ShowBalloon(const std::string& strTitle, const std::string& strText,
                     uint32_t uTimeoutMs) override;
    // Nobody can choose from it: dismissed at once.
    void ShowTrayMenu(const CTrayMenu& menu) override;
    bool OpenSheet(const std::string& strCaption, int nPage) override;
    void ActivateSheet(int) override {}
    int GetActiveSheetPage() const override { return -1; }
    void RefreshSheetPage(int) override {}
    void PlayNewMessages() override {}
    void CloseSheet() override {}
    bool IsAdvancedDialogOpen() const override { return false; }
    void RaiseAdvancedDialog() override {}
    bool OpenUrl(const std::string& strUrl) override;
    void EndApplication() override;

    // Any thread.
    ETrayIcon GetIcon() const { return m_nIcon.load(); }

private:
    void Tell(const std::string& strLine);

    CMsgLoop& m_uiLoop;
    std::function<void(const std::string&)> m_fnEvent;
    std::atomic<ETrayIcon> m_nIcon{TRAY_ICON_IDLE};
    std::string m_strTip;
};
