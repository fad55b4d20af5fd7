#pragma once
// The small vocabulary of window messages that the whole program speaks: handles, message
// numbers and their two parameters. Numbers keep their traditional values.
#include <cstdint>

using UINT = uint32_t;
using DWORD = uint32_t;
using WORD = uint16_t;
using BOOL = int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// A window handle is a number handed out by the window registry; 0 is "no window". Handles are
// never reused within a process, so a stale handle simply finds nothing.
using HWND = uintptr_t;

constexpr HWND HWND_BROADCAST = 0xFFFF;
constexpr uint32_t INFINITE = 0xFFFFFFFF;

constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_COPYDATA = 0x004A;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

// The block carried by WM_COPYDATA; lParam points at it for the duration of the (synchronous)
// delivery only.
struct COPYDATASTRUCT {
    uintptr_t dwData = 0;
    DWORD cbData = 0;
    const void* lpData = nullptr;
};
