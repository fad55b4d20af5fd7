#include "main/VokraWndCore.h"

#include <sys/stat.h>

#include <algorithm>

#include "app/Languages.h"
#include "app/Logger.h"
#include "app/MessageBox.h"
#include "app/Settings.h"
#include "app/StringTable.h"
#include "app/WindowMessages.h"
#include "calls/Call.h"
#include "calls/CallsLock.h"
#include "calls/User.h"
#include "messages/MessageCollection.h"
#include "platform/Clock.h"
#include "platform/FileUtil.h"
#include "platform/StrUtil.h"
#include "skype/STL.h"

int g_bBlinkPhase = 0;

namespace {
constexpr uint32_t kBalloonShortestMs = 10000;
constexpr uint32_t kBalloonLongestMs = 30000;

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

uint32_t BalloonTimeoutMs(LPARAM timeout) {
    return std::clamp(static_cast<uint32_t>(timeout), kBalloonShortestMs, kBalloonLongestMs);
}

std::string FileUrl(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            url += c;
        } else {
            url += '%';
            url += kHex[u >> 4];
            url += kHex[u & 0xF];
        }
    }
    return url;
}

CVokraWndCore::CVokraWndCore() = default;

CVokraWndCore::~CVokraWndCore() {
    // The front end may be gone already: no shell calls from here.
    m_pShell = nullptr;
    if (m_bHandlerStarted) {
        m_bHandlerStarted = false;
        m_SkypeMsgHndl.Stop();
    }
    DestroyMainWindow();
}

UINT CVokraWndCore::TaskbarMessage() {
    static const UINT s_uMsg = RegisterWindowMessage("VokraTaskbarMsg");
    return s_uMsg;
}

bool CVokraWndCore::Create(CMsgLoop& uiLoop) {
    TaskbarMessage();
    if (!CreateWindowOn(uiLoop, kTitle)) {
        VLOG(WARNING, "CVokraWndCore::Create: the main window cannot be created");
        return false;
    }
    m_pUiLoop = &uiLoop;
    g_hWndMain = GetSafeHwnd();
    m_SkypeMsgHndl.SetTimerWnd(GetSafeHwnd());
    return true;
}

bool CVokraWndCore::Init() {
    InitTray();
    return StartHandler();
}

void CVokraWndCore::InitTray() {
    const std::string strFolder = GetLanguageFolder();
    LanguagesInit(strFolder);
    VLOG(INFO, "LanguagesInit( %s )", strFolder.c_str());
    LoadLanguageLibrary(LanguageFilePath.Get());
    BuildTrayMenu();
    AddTrayIcon();
    SetTimer(MAIN_WND_TIMER_TRAY, kTrayTickMs);
}

bool CVokraWndCore::StartHandler() {
    if (m_bHandlerStarted || GetSafeHwnd() == 0)
        return false;
    VLOG(INFO, "Starting CSkypeMsgHndl");
    if (!m_SkypeMsgHndl.CreateThread()) {
        VLOG(WARNING, "CVokraWndCore::StartHandler: the handler thread cannot start");
        return false;
    }
    m_bHandlerStarted = true;
    return m_SkypeMsgHndl.Start(GetSafeHwnd(), m_pUiLoop);
}

void CVokraWndCore::BuildTrayMenu() {
    m_TrayMenu = BuildTrayMenuItems();
    m_bExtraMenuItem = false;
}

int CVokraWndCore::GetConnectionState() const {
    return g_pSTL != nullptr ? g_pSTL->GetConnectionState() : -1;
}

// ---------------------------------------------------------------------------------------------
// The icon and its tooltip

void CVokraWndCore::UpdateTrayIcon() {
    PostMessage(WM_UPDATE_TRAY_ICON);
}

void CVokraWndCore::AddTrayIcon() {
    m_bTrayRecord = true;
    m_nTrayIcon = TRAY_ICON_IDLE;
    m_strTrayTip = kTitle;
    if (m_pShell != nullptr && !m_pShell->AddTrayIcon(m_nTrayIcon, m_strTrayTip))
        VLOG(WARNING, "CVokraWndCore: the desktop did not take the tray icon");
}

// Without a shell (a headless run) the record still follows, so the state can be read.
bool CVokraWndCore::ModifyTrayIcon(ETrayIcon icon) {
    if (!m_bTrayRecord)
        return false;
    m_nTrayIcon = icon;
    return m_pShell == nullptr || m_pShell->ModifyTrayIcon(icon);
}

bool CVokraWndCore::SetTrayTip(const std::string& strTip) {
    if (!m_bTrayRecord || strTip.empty())
        return false;
    m_strTrayTip = strTip;
    return m_pShell == nullptr || m_pShell->SetTrayTip(strTip);
}

ETrayIcon CVokraWndCore::ChooseTrayIcon() {
    if (GetConnectionState() != STL_CONNECTED)
        return TRAY_ICON_IDLE;
    if (AnswerAllowed == 0)
        return TRAY_ICON_DISABLED;
    bool bAnsweringCall = false;
    {
        CCallsDataLock lock;
        bAnsweringCall = g_pCurrentCall != nullptr && g_pCurrentCall->m_bAnswered &&
                         g_pCurrentCall->m_nAnswerState < ANSWER_DONE;
    }
    // The call animation wins; each shows its frame on every other tick.
    if (bAnsweringCall) {
        g_bBlinkPhase ^= 1;
        return g_bBlinkPhase ? TRAY_ICON_CALL : TRAY_ICON_ENABLED;
    }
    if (g_bNewVoiceMessage) {
        g_bBlinkPhase ^= 1;
        return g_bBlinkPhase ? TRAY_ICON_NEW_MESSAGE : TRAY_ICON_ENABLED;
    }
    return TRAY_ICON_ENABLED;
}

void CVokraWndCore::UpdateTrayIconNow() {
    if (!ModifyTrayIcon(ChooseTrayIcon())) {
        // The desktop lost the icon (its panel restarted, or it was not there at start-up).
        if (m_bTrayRecord && m_pShell != nullptr)
            m_pShell->DeleteTrayIcon();
        AddTrayIcon();
        return;
    }
    // A front end may have no hover callback, so the tooltip follows every change here too.
    const std::string strTip = MakeTrayTip();
    if (strTip != m_strTrayTip)
        SetTrayTip(strTip);
}

std::string CVokraWndCore::MakeTrayTip() const {
    if (GetConnectionState() != STL_CONNECTED)
        return StrFormat("%s - %s", kTitle, LoadText(IDS_TIP_WAITING_FOR_SKYPE).c_str());
    std::string strName;
    {
        CCallsDataLock lock;
        strName = gCurrentUser.GetName();
    }
    return StrFormat("%s (%s) - ", kTitle, strName.c_str()) +
           LoadText(AnswerAllowed != 0 ? IDS_MENU_ENABLE : IDS_MENU_DISABLE);
}

// ---------------------------------------------------------------------------------------------
// Balloons

bool CVokraWndCore::ShowBalloon(const std::string& strTitle, const std::string& strText,
                                uint32_t uTimeoutMs) {
    if (!m_bTrayRecord || m_pShell == nullptr || strTitle.empty() || strText.empty())
        return false;
    return m_pShell->ShowBalloon(strTitle, strText, uTimeoutMs);
}

void CVokraWndCore::OnShowBalloon(UINT uTextId, LPARAM timeout) {
    if (ShowBalloonTips == 0)
        return;
    const std::string strText = LoadText(uTextId);
    if (strText.empty())
        return;
    ShowBalloon(kBalloonTitle, strText, BalloonTimeoutMs(timeout));
}

// ---------------------------------------------------------------------------------------------
// The menu

void CVokraWndCore::ShowTrayMenu() {
    VLOG(INFO, "WM_RBUTTONUP");
    // A menu whose choice never came back still has its extra item.
    RemoveExtraMenuItem();
    if (CTrayMenuItem* pEnable =
            FindTrayMenuItem(m_TrayMenu, ID_SYSTRAY_MENU_ANSWERING_MODE_ENABLED))
        pEnable->m_bChecked = AnswerAllowed != 0;
    if (CTrayMenuItem* pDisable =
            FindTrayMenuItem(m_TrayMenu, ID_SYSTRAY_MENU_ANSWERING_MODE_DISABLED))
        pDisable->m_bChecked = AnswerAllowed == 0;

    ETrayCommand nExtra = ID_SYSTRAY_MENU_NONE;
    UINT uExtraText = 0;
    {
        CCallsDataLock lock;
        if (g_pCurrentCall != nullptr && g_pCurrentCall->m_bAnswered &&
            g_pCurrentCall->m_nAnswerState < ANSWER_DONE) {
            nExtra = ID_SYSTRAY_MENU_TAKE_CONTROL;
            uExtraText = IDS_MENU_TAKE_CONTROL;
        } else if (g_pCurrentCall == nullptr && g_pRingingCall != nullptr) {
            nExtra = ID_SYSTRAY_MENU_FORCE_ANSWER;
            uExtraText = IDS_MENU_FORCE_ANSWER;
        } else if (gMessagesDB.GetNumNewSavedVoiceMessages() > 0) {
            nExtra = ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES;
            uExtraText = IDS_MENU_PLAY_NEW_MESSAGES;
        }
    }
    for (CTrayMenuItem& item : m_TrayMenu)
        item.m_bDefault = false;
    if (nExtra != ID_SYSTRAY_MENU_NONE) {
        CTrayMenuItem extra;
        extra.m_nCommand = nExtra;
        extra.m_strText = LoadText(uExtraText);
        extra.m_bDefault = true;
        CTrayMenuItem line;
        line.m_bSeparator = true;
        m_TrayMenu.insert(m_TrayMenu.begin(), {extra, line});
        m_bExtraMenuItem = true;
    } else if (CTrayMenuItem* pMessages =
                   FindTrayMenuItem(m_TrayMenu, ID_SYSTRAY_MENU_GOTO_MESSAGES)) {
        pMessages->m_bDefault = true;
    }
    if (m_pShell != nullptr)
        m_pShell->ShowTrayMenu(m_TrayMenu);
}

void CVokraWndCore::RemoveExtraMenuItem() {
    if (!m_bExtraMenuItem)
        return;
    m_bExtraMenuItem = false;
    m_TrayMenu.erase(m_TrayMenu.begin(), m_TrayMenu.begin() + 2);
}

void CVokraWndCore::OnTrayMenuCommand(UINT uCommand) {
    RemoveExtraMenuItem();
    const char* pszName = TrayCommandName(uCommand);
    switch (uCommand) {
        case ID_SYSTRAY_MENU_FORCE_ANSWER:
            m_SkypeMsgHndl.PostForceAnswer();
            break;
        case ID_SYSTRAY_MENU_TAKE_CONTROL:
            m_SkypeMsgHndl.PostTakeControl();
            break;
        case ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES:
            VLOG(INFO, "%s", pszName);
            // Handled once the sheet is open, so it reaches the Messages page.
            PostMessage(WM_PLAY_NEW_MESSAGES);
            ShowPropSheet(SHEET_PAGE_MESSAGES);
            break;
        case ID_SYSTRAY_MENU_GOTO_MESSAGES:
            VLOG(INFO, "%s", pszName);
            ShowPropSheet(SHEET_PAGE_MESSAGES);
            break;
        case ID_SYSTRAY_MENU_ANSWERING_MODE_ENABLED:
            VLOG(INFO, "%s", pszName);
            SetAnsweringMode(1);
            break;
        case ID_SYSTRAY_MENU_ANSWERING_MODE_DISABLED:
            VLOG(INFO, "%s", pszName);
            SetAnsweringMode(0);
            break;
        case ID_SYSTRAY_MENU_GOTO_OPTIONS:
            VLOG(INFO, "%s", pszName);
            ShowPropSheet(SHEET_PAGE_OPTIONS);
            break;
        case ID_SYSTRAY_MENU_GOTO_ABOUT:
            VLOG(INFO, "%s", pszName);
            ShowPropSheet(SHEET_PAGE_ABOUT);
            break;
        case ID_SYSTRAY_MENU_GOTO_HELP:
            VLOG(INFO, "%s", pszName);
            OnHelp();
            break;
        case ID_SYSTRAY_MENU_QUIT:
            VLOG(INFO, "%s", pszName);
            OnQuit();
            break;
        default:
            break;  // dismissed
    }
}

void CVokraWndCore::SetAnsweringMode(int nAllowed) {
    AnswerAllowed = nAllowed;
    if (m_bSheetOpen) {
        // The Options page shows the mode; the sheet's OK or Cancel settles it with the rest.
        if (m_pShell != nullptr)
            m_pShell->RefreshSheetPage(SHEET_PAGE_OPTIONS);
    } else {
        // Nothing else is pending, so the file takes exactly this choice. Kept in memory only,
        // the next sheet's Cancel (reading the file back) would undo it behind the user's back.
        WriteAllSettings();
    }
    UpdateTrayIconNow();
}

void CVokraWndCore::OnHelp() {
    const std::string strPath = GetProgramFolder() + kHelpPage;
    const bool bOpened =
        IsRegularFile(strPath) && m_pShell != nullptr && m_pShell->OpenUrl(FileUrl(strPath));
    if (!bOpened) {
        VLOG(WARNING, "CVokraWndCore::OnHelp: cannot open the help page %s", strPath.c_str());
        VokraMessageBox(StrFormat(LoadText(IDS_ERR_HELP_PAGE).c_str(), strPath.c_str()),
                        MB_OK | MB_ICONWARNING);
    }
}

std::string CVokraWndCore::HelpPageUrl() {
    return FileUrl(GetProgramFolder() + kHelpPage);
}

// ---------------------------------------------------------------------------------------------
// The sheet

void CVokraWndCore::ShowPropSheet(int page) {
    if (page < -1 || page > SHEET_PAGE_DEBUG) {
        // The number may come from another process (a second start of the program).
        VLOG(WARNING, "CVokraWndCore::ShowPropSheet: no sheet page %d", page);
        return;
    }
    if (m_bSheetOpen) {
        if (m_pShell != nullptr)
            m_pShell->ActivateSheet(page);
        return;
    }
    if (m_pShell == nullptr)
        return;
    std::string strUser;
    {
        CCallsDataLock lock;
        strUser = gCurrentUser.m_strUserName;
    }
    const std::string strCaption =
        strUser.empty() ? std::string(kTitle) : StrFormat("%s - %s", kTitle, strUser.c_str());
    m_bSheetOpen = m_pShell->OpenSheet(strCaption, page);
    if (!m_bSheetOpen)
        VLOG(WARNING, "CVokraWndCore::ShowPropSheet: the sheet cannot be opened");
}

void CVokraWndCore::OnSheetEnded(bool bOk) {
    if (!m_bSheetOpen)
        return;
    m_bSheetOpen = false;
    if (bOk)
        WriteAllSettings();
    else
        ReadAllSettings();  // throws away what the pages changed
}

void CVokraWndCore::OnRefreshPage(int page) {
    if (m_bSheetOpen && m_pShell != nullptr && m_pShell->GetActiveSheetPage() == page)
        m_pShell->RefreshSheetPage(page);
}

void CVokraWndCore::OnPlayNewMessages() {
    VLOG(INFO, "Play all New message");
    if (m_bSheetOpen && m_pShell != nullptr)
        m_pShell->PlayNewMessages();
}

// ---------------------------------------------------------------------------------------------
// Quit

bool CVokraWndCore::QuitBlockedByAdvancedDialog() {
    if (!m_bSheetOpen || m_pShell == nullptr || !m_pShell->IsAdvancedDialogOpen())
        return false;
    VLOG(INFO, "CVokraWndCore: Quit waits for the Advanced options dialog");
    m_pShell->RaiseAdvancedDialog();
    return true;
}

void CVokraWndCore::OnQuit() {
    // Asked before anything is written: the dialog's changes are not the user's to keep until
    // its OK, and a Cancel after a refused Quit must still undo them.
    if (QuitBlockedByAdvancedDialog())
        return;
    if (m_bSheetOpen)
        WriteAllSettings();
    Shutdown();
}

bool CVokraWndCore::Shutdown() {
    if (QuitBlockedByAdvancedDialog())
        return false;
    if (m_bSheetOpen) {
        if (m_pShell != nullptr)
            m_pShell->CloseSheet();
        OnSheetEnded(false);  // unless the front end reported it while closing
    }
    if (m_bQuitting)
        return true;  // already waiting for Skype's devices
    // A call being answered would leave Skype on the cables if the link ended first: the
    // handler ends it and asks for Skype's own devices, and the link ends once Skype has
    // acknowledged them, or after kQuitWaitMs.
    if (m_bHandlerStarted && GetConnectionState() == STL_CONNECTED && m_SkypeMsgHndl.PostQuit()) {
        m_bQuitting = true;
        m_uQuitDeadlineMs = Clock().NowMs() + kQuitWaitMs;
        SetTimer(MAIN_WND_TIMER_QUIT, kQuitCheckMs);
        return true;
    }
    FinishShutdown();
    return true;
}

void CVokraWndCore::CheckQuitWait() {
    if (!m_bQuitting)
        return;
    const bool bTimeUp = Clock().NowMs() >= m_uQuitDeadlineMs;
    if (!bTimeUp) {
        if (!m_bQuitCallEnded)
            return;
        // Sent and waiting commands both count: a reply still due keeps the link open.
        if (g_pSTL != nullptr && g_pSTL->GetConnectionState() == STL_CONNECTED &&
            g_pSTL->GetInQueueCount() + g_pSTL->GetWaitQueueCount() > 0)
            return;
    } else {
        VLOG(WARNING, "CVokraWndCore: Quit stopped waiting for Skype after %u ms", kQuitWaitMs);
    }
    FinishShutdown();
}

void CVokraWndCore::FinishShutdown() {
    m_bQuitting = false;
    KillTimer(MAIN_WND_TIMER_QUIT);
    if (m_bHandlerStarted) {
        m_bHandlerStarted = false;
        m_SkypeMsgHndl.Stop();
    }
    PostMessage(WM_CLOSE);
}

void CVokraWndCore::OnClose() {
    KillTimer(MAIN_WND_TIMER_TRAY);
    if (m_bTrayRecord && m_pShell != nullptr)
        m_pShell->DeleteTrayIcon();
    m_bTrayRecord = false;
    DestroyMainWindow();
    if (m_pShell != nullptr)
        m_pShell->EndApplication();
}

void CVokraWndCore::DestroyMainWindow() {
    if (GetSafeHwnd() == 0)
        return;
    HWND hWnd = GetSafeHwnd();
    g_hWndMain.compare_exchange_strong(hWnd, 0);
    DestroyWindow();
}

// ---------------------------------------------------------------------------------------------
// Messages

void CVokraWndCore::OnTrayNotify(LPARAM mouseMessage) {
    switch (static_cast<UINT>(mouseMessage)) {
        case WM_MOUSEMOVE:
            SetTrayTip(MakeTrayTip());
            break;
        case WM_LBUTTONDBLCLK:
            VLOG(INFO, "WM_LBUTTONDBLCLK");
            ShowPropSheet(SHEET_PAGE_MESSAGES);
            break;
        case WM_RBUTTONUP:
            ShowTrayMenu();
            break;
        default:
            break;
    }
}

LRESULT CVokraWndCore::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == TaskbarMessage()) {
        OnTrayNotify(lParam);
        return 0;
    }
    switch (message) {
        case WM_TIMER:
            if (wParam == MAIN_WND_TIMER_CALL)
                m_SkypeMsgHndl.PostCallTimerElapse();
            else if (wParam == MAIN_WND_TIMER_TRAY)
                UpdateTrayIconNow();
            else if (wParam == MAIN_WND_TIMER_QUIT)
                CheckQuitWait();
            return 0;
        case WM_QUIT_CALL_ENDED:
            m_bQuitCallEnded = true;
            CheckQuitWait();
            return 0;
        case WM_SHOW_SHEET:
            VLOG(INFO, "CVokraWndCore: show sheet page %d", static_cast<int>(wParam));
            if (m_pListener != nullptr)
                m_pListener->OnShowSheet(static_cast<int>(wParam));
            ShowPropSheet(static_cast<int>(wParam));
            return 0;
        case WM_REFRESH_PAGE:
            if (m_pListener != nullptr)
                m_pListener->OnRefreshPage(static_cast<int>(wParam));
            OnRefreshPage(static_cast<int>(wParam));
            return 0;
        case WM_SHOW_BALLOON:
            VLOG(INFO, "CVokraWndCore: balloon text %d", static_cast<int>(wParam));
            if (m_pListener != nullptr)
                m_pListener->OnShowBalloon(static_cast<int>(wParam), static_cast<int>(lParam));
            OnShowBalloon(static_cast<UINT>(wParam), lParam);
            return 0;
        case WM_PLAY_NEW_MESSAGES:
            OnPlayNewMessages();
            return 0;
        case WM_UPDATE_TRAY_ICON:
            if (m_pListener != nullptr)
                m_pListener->OnUpdateTrayIcon();
            UpdateTrayIconNow();
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        default:
            return 0;
    }
}
