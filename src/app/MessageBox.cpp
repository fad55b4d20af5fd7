#include "app/MessageBox.h"

#include <atomic>

#include "app/Logger.h"

namespace {
std::atomic<IMessageBoxService*> g_pMessageBoxService{nullptr};
}

void SetMessageBoxService(IMessageBoxService* pService) {
    g_pMessageBoxService = pService;
}

IMessageBoxService* GetMessageBoxService() {
    return g_pMessageBoxService;
}

int VokraMessageBox(const std::string& text, UINT uType) {
    if (IMessageBoxService* p = g_pMessageBoxService.load())
        return p->MessageBox(g_szMessageBoxCaption, text, uType);
    VLOG(WARNING, "VokraMessageBox (no user interface): %s", text.c_str());
    switch (uType & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return IDCANCEL;
        case MB_YESNO:
            return IDNO;
        default:
            return IDOK;
    }
}
