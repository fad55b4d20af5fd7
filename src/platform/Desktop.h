#pragma once
// The desktop: where windows of different programs find and talk to each other (the discover
// broadcast, the attach reply, copy-data lines). In-process here; a transport that crosses
// processes implements the same interface.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Types.h"

class IDesktop {
public:
    virtual ~IDesktop() = default;
    virtual HWND FindWindow(const std::string& title) = 0;
    // HWND_BROADCAST posts to every top-level window.
    virtual bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual std::optional<LRESULT> SendMessage(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) = 0;
    // Delivers WM_COPYDATA synchronously: wParam = from, lParam = the block (valid during the
    // call only). No value when the window is gone.
    virtual std::optional<LRESULT> SendCopyData(HWND to, HWND from, uintptr_t dwData,
                                                const void* data, uint32_t cbData) = 0;
};

// Windows of this process, through the window registry.
class CLocalDesktop : public IDesktop {
public:
    HWND FindWindow(const std::string& title) override;
    bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    std::optional<LRESULT> SendMessage(HWND hwnd, UINT message, WPARAM wParam,
                                       LPARAM lParam) override;
    std::optional<LRESULT> SendCopyData(HWND to, HWND from, uintptr_t dwData, const void* data,
                                        uint32_t cbData) override;
};

IDesktop& Desktop();
// Tests and the cross-process transport install another desktop; nullptr restores the local one.
void SetDesktop(IDesktop* desktop);
