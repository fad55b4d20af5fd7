#pragma once
// The numbered messages that cross threads inside the program, and the post box of the main
// window. Numbers keep their traditional values; the layers that post and the layers that
// receive them all see this one list.
#include <atomic>

#include "platform/Types.h"

// To the main window.
constexpr UINT WM_SHOW_SHEET = WM_USER + 200;    // wParam: sheet page
constexpr UINT WM_REFRESH_PAGE = WM_USER + 201;  // wParam: sheet page whose data changed
constexpr UINT WM_SHOW_BALLOON = WM_USER + 202;  // wParam: text id, lParam: display time
constexpr UINT WM_PLAY_ENDED = WM_USER + 203;    // to the window that started a playback
constexpr UINT WM_PLAY_NEW_MESSAGES = WM_USER + 204;
// The call handler asks for a tray icon update from its own thread; the main window does it on
// the user-interface thread, where the tray record lives.
constexpr UINT WM_UPDATE_TRAY_ICON = WM_USER + 205;

// Pages of the property sheet, as carried by WM_SHOW_SHEET and WM_REFRESH_PAGE.
enum {
    SHEET_PAGE_MESSAGES = 0,
    SHEET_PAGE_OPTIONS = 1,
    SHEET_PAGE_ABOUT = 2,
    SHEET_PAGE_DEBUG = 3,
};

// The main window's call timer (the handler's one-shot call timer runs on it).
constexpr UINT MAIN_WND_TIMER_TRAY = 1;
constexpr UINT MAIN_WND_TIMER_CALL = 2;
// While Quit waits for Skype to take its own devices back.
constexpr UINT MAIN_WND_TIMER_QUIT = 3;

// To the answering-stages thread.
constexpr UINT WM_STAGES_START = WM_USER + 700;
constexpr UINT WM_STAGES_STOP = WM_USER + 701;
constexpr UINT WM_STAGES_PLAY_ENDED = WM_USER + 702;

// To the Skype message handler thread.
constexpr UINT WM_HANDLER_CONNECTION_STATE = WM_USER + 800;  // wParam: transport state
constexpr UINT WM_HANDLER_SKYPE_CMD = WM_USER + 801;         // owns a SkypeToDeviceCmd
constexpr UINT WM_HANDLER_TIMER = WM_USER + 802;
constexpr UINT WM_HANDLER_FORCE_ANSWER = WM_USER + 804;
constexpr UINT WM_HANDLER_TAKE_CONTROL = WM_USER + 805;
// Quit: end the answered call and give Skype its devices back; the handler answers the main
// window with WM_QUIT_CALL_ENDED once the commands are with the transport.
constexpr UINT WM_HANDLER_QUIT = WM_USER + 806;
constexpr UINT WM_QUIT_CALL_ENDED = WM_USER + 206;

// The main window, once it exists; 0 before and after. Any thread reads it.
extern std::atomic<HWND> g_hWndMain;

// Posts to the main window. False (and nothing happens) while there is none: the workers keep
// working headless, their refresh requests simply have no page to reach.
bool PostToMainWnd(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
