#include "main/TrayMenu.h"

#include <iterator>

#include "app/Languages.h"
#include "app/StringTable.h"

namespace {

constexpr const char* kIconNames[] = {"idle", "enabled", "disabled", "new message", "call"};
static_assert(std::size(kIconNames) == TRAY_ICON_COUNT, "a name for every tray icon");

struct CCommandName {
    UINT m_uCommand;
    const char* m_pszName;
};
constexpr CCommandName kCommandNames[] = {
    {ID_SYSTRAY_MENU_FORCE_ANSWER, "ID_SYSTRAY_MENU_FORCE_ANSWER"},
    {ID_SYSTRAY_MENU_TAKE_CONTROL, "ID_SYSTRAY_MENU_TAKE_CONTROL"},
    {ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES, "ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES"},
    {ID_SYSTRAY_MENU_GOTO_MESSAGES, "ID_SYSTRAY_MENU_GOTO_MESSAGES"},
    {ID_SYSTRAY_MENU_ANSWERING_MODE_ENABLED, "ID_SYSTRAY_MENU_ANSWERING_MODE_ENABLED"},
    {ID_SYSTRAY_MENU_ANSWERING_MODE_DISABLED, "ID_SYSTRAY_MENU_ANSWERING_MODE_DISABLED"},
    {ID_SYSTRAY_MENU_GOTO_OPTIONS, "ID_SYSTRAY_MENU_GOTO_OPTIONS"},
    {ID_SYSTRAY_MENU_GOTO_ABOUT, "ID_SYSTRAY_MENU_GOTO_ABOUT"},
    {ID_SYSTRAY_MENU_GOTO_HELP, "ID_SYSTRAY_MENU_GOTO_HELP"},
    {ID_SYSTRAY_MENU_QUIT, "ID_SYSTRAY_MENU_QUIT"},
};

CTrayMenuItem Item(UINT uTextId, ETrayCommand nCommand) {
    CTrayMenuItem item;
    item.m_nCommand = nCommand;
    item.m_strText = LoadText(uTextId);
    return item;
}

CTrayMenuItem Separator() {
    CTrayMenuItem item;
    item.m_bSeparator = true;
    return item;
}

}  // namespace

const char* TrayIconName(ETrayIcon icon) {
    return icon >= 0 && icon < TRAY_ICON_COUNT ? kIconNames[icon] : "?";
}

const char* TrayCommandName(UINT uCommand) {
    for (const CCommandName& c : kCommandNames)
        if (c.m_uCommand == uCommand)
            return c.m_pszName;
    return "";
}

CTrayMenu BuildTrayMenuItems() {
    CTrayMenuItem mode = Item(IDS_MENU_ANSWERING_MODE, ID_SYSTRAY_MENU_NONE);
    mode.m_vecSubmenu = {Item(IDS_MENU_ENABLE, ID_SYSTRAY_MENU_ANSWERING_MODE_ENABLED),
                         Item(IDS_MENU_DISABLE, ID_SYSTRAY_MENU_ANSWERING_MODE_DISABLED)};
    return {Item(IDS_MENU_MESSAGES, ID_SYSTRAY_MENU_GOTO_MESSAGES),
            mode,
            Separator(),
            Item(IDS_MENU_OPTIONS, ID_SYSTRAY_MENU_GOTO_OPTIONS),
            Item(IDS_MENU_ABOUT, ID_SYSTRAY_MENU_GOTO_ABOUT),
            Item(IDS_MENU_HELP, ID_SYSTRAY_MENU_GOTO_HELP),
            Separator(),
            Item(IDS_MENU_QUIT, ID_SYSTRAY_MENU_QUIT)};
}

CTrayMenuItem* FindTrayMenuItem(CTrayMenu& menu, UINT uCommand) {
    for (CTrayMenuItem& item : menu) {
        if (!item.m_bSeparator && item.m_nCommand == uCommand && uCommand != ID_SYSTRAY_MENU_NONE)
            return &item;
        if (CTrayMenuItem* pSub = FindTrayMenuItem(item.m_vecSubmenu, uCommand))
            return pSub;
    }
    return nullptr;
}
