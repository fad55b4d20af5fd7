#include "app/WindowMessages.h"

#include "platform/MsgLoop.h"

std::atomic<HWND> g_hWndMain{0};

bool PostToMainWnd(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND hWnd = g_hWndMain.load();
    return hWnd != 0 && PostMessage(hWnd, message, wParam, lParam);
}
