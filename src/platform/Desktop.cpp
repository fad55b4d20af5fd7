#include "platform/Desktop.h"

#include <atomic>

#include "platform/MsgLoop.h"

namespace {
// Built on first use, like the clock: other static objects may reach the desktop first.
IDesktop& LocalDesktop() {
    static CLocalDesktop s_desktop;
    return s_desktop;
}
std::atomic<IDesktop*> g_pDesktop{nullptr};  // null: the local desktop
}  // namespace

IDesktop& Desktop() {
    IDesktop* p = g_pDesktop.load(std::memory_order_acquire);
    return p ? *p : LocalDesktop();
}

void SetDesktop(IDesktop* desktop) {
    g_pDesktop.store(desktop, std::memory_order_release);
}

HWND CLocalDesktop::FindWindow(const std::string& title) {
    return FindWindowByTitle(title);
}

bool CLocalDesktop::PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessage(hwnd, message, wParam, lParam);
}

std::optional<LRESULT> CLocalDesktop::SendMessage(HWND hwnd, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    return ::SendMessage(hwnd, message, wParam, lParam);
}

std::optional<LRESULT> CLocalDesktop::SendCopyData(HWND to, HWND from, uintptr_t dwData,
                                                   const void* data, uint32_t cbData) {
    COPYDATASTRUCT cds{dwData, cbData, data};
    return ::SendMessage(to, WM_COPYDATA, static_cast<WPARAM>(from),
                         reinterpret_cast<LPARAM>(&cds));
}
