#include "main/VokraWndCore.h"

#include "app/Logger.h"
#include "app/WindowMessages.h"

CVokraWndCore::CVokraWndCore() = default;

CVokraWndCore::~CVokraWndCore() {
    Shutdown();
}

bool CVokraWndCore::Create(CMsgLoop& uiLoop) {
    if (!CreateWindowOn(uiLoop, kTitle)) {
        VLOG(WARNING, "CVokraWndCore::Create: the main window cannot be created");
        return false;
    }
    m_pUiLoop = &uiLoop;
    g_hWndMain = GetSafeHwnd();
    m_SkypeMsgHndl.SetTimerWnd(GetSafeHwnd());
    return true;
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

void CVokraWndCore::Shutdown() {
    if (m_bHandlerStarted) {
        m_bHandlerStarted = false;
        m_SkypeMsgHndl.Stop();
    }
    if (GetSafeHwnd() != 0) {
        HWND hWnd = GetSafeHwnd();
        g_hWndMain.compare_exchange_strong(hWnd, 0);
        DestroyWindow();
    }
}

void CVokraWndCore::UpdateTrayIcon() {
    PostMessage(WM_UPDATE_TRAY_ICON);
}

LRESULT CVokraWndCore::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (wParam == MAIN_WND_TIMER_CALL)
                m_SkypeMsgHndl.PostCallTimerElapse();
            else if (m_pListener != nullptr)
                m_pListener->OnWindowTimer(static_cast<UINT>(wParam));
            return 0;
        case WM_SHOW_SHEET:
            VLOG(INFO, "CVokraWndCore: show sheet page %d", static_cast<int>(wParam));
            if (m_pListener != nullptr)
                m_pListener->OnShowSheet(static_cast<int>(wParam));
            return 0;
        case WM_REFRESH_PAGE:
            if (m_pListener != nullptr)
                m_pListener->OnRefreshPage(static_cast<int>(wParam));
            return 0;
        case WM_SHOW_BALLOON:
            VLOG(INFO, "CVokraWndCore: balloon text %d", static_cast<int>(wParam));
            if (m_pListener != nullptr)
                m_pListener->OnShowBalloon(static_cast<int>(wParam), static_cast<int>(lParam));
            return 0;
        case WM_UPDATE_TRAY_ICON:
            if (m_pListener != nullptr)
                m_pListener->OnUpdateTrayIcon();
            return 0;
        default:
            return 0;
    }
}
