#include "main/HeadlessShell.h"

#include "platform/MsgLoop.h"

CHeadlessShell::CHeadlessShell(CMsgLoop& uiLoop, std::function<void(const std::string&)> fnEvent)
    : m_uiLoop(uiLoop), m_fnEvent(std::move(fnEvent)) {}

void CHeadlessShell::Tell(const std::string& strLine) {
    if (m_fnEvent)
        m_fnEvent(strLine);
}

bool CHeadlessShell::AddTrayIcon(ETrayIcon icon, const std::string& strTip) {
    m_nIcon = icon;
    m_strTip = strTip;
    Tell(std::string("tray icon: ") + TrayIconName(icon) + " (" + strTip + ")");
    return true;
}

// Only changes of look are told: the animations would otherwise fill the page.
bool CHeadlessShell::ModifyTrayIcon(ETrayIcon icon) {
    if (icon != m_nIcon)
        Tell(std::string("tray icon: ") + TrayIconName(icon));
    m_nIcon = icon;
    return true;
}

bool CHeadlessShell::SetTrayTip(const std::string& strTip) {
    if (strTip != m_strTip)
        Tell("tray tooltip: " + strTip);
    m_strTip = strTip;
    return true;
}

void CHeadlessShell::DeleteTrayIcon() {
    Tell("tray icon removed");
}

bool CHeadlessShell::ShowBalloon(const std::string&, const std::string& strText, uint32_t) {
    Tell("balloon: " + strText);
    return true;
}

void CHeadlessShell::ShowTrayMenu(const CTrayMenu&) {}

bool CHeadlessShell::OpenSheet(const std::string& strCaption, int nPage) {
    Tell("(the window \"" + strCaption + "\" would open on page " + std::to_string(nPage) + ")");
    return false;
}

bool CHeadlessShell::OpenUrl(const std::string& strUrl) {
    Tell("(would open " + strUrl + ")");
    return false;
}

void CHeadlessShell::EndApplication() {
    m_uiLoop.Quit(0);
}
