#pragma once
// The tray as data: which of its five looks the icon shows and what its right-click menu holds.
// The main window core decides both; the front end only draws them.
#include <string>
#include <vector>

#include "platform/Types.h"

enum ETrayIcon : int {
    TRAY_ICON_IDLE = 0,     // not connected to Skype
    TRAY_ICON_ENABLED,      // connected, answering enabled
    TRAY_ICON_DISABLED,     // connected, answering disabled
    TRAY_ICON_NEW_MESSAGE,  // blink frame: a new voice message was saved
    TRAY_ICON_CALL,         // blink frame: a call is being answered
    TRAY_ICON_COUNT,
};
// "idle", "enabled", ...; "?" for a value out of range.
const char* TrayIconName(ETrayIcon icon);

// The menu's commands, with their traditional numbers.
enum ETrayCommand : UINT {
    ID_SYSTRAY_MENU_NONE = 0,  // a separator or submenu; also: the menu was dismissed
    ID_SYSTRAY_MENU_FORCE_ANSWER = 32770,
    ID_SYSTRAY_MENU_TAKE_CONTROL = 32771,
    ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES = 32773,
    ID_SYSTRAY_MENU_GOTO_MESSAGES = 32774,
    ID_SYSTRAY_MENU_ANSWERING_MODE_ENABLED = 32775,
    ID_SYSTRAY_MENU_ANSWERING_MODE_DISABLED = 32776,
    ID_SYSTRAY_MENU_GOTO_OPTIONS = 32777,
    ID_SYSTRAY_MENU_GOTO_ABOUT = 32778,
    ID_SYSTRAY_MENU_GOTO_HELP = 32779,
    ID_SYSTRAY_MENU_QUIT = 32780,
};
// The command's name as the log writes it ("ID_SYSTRAY_MENU_QUIT"); "" for an unknown number.
const char* TrayCommandName(UINT uCommand);

struct CTrayMenuItem {
    ETrayCommand m_nCommand = ID_SYSTRAY_MENU_NONE;
    std::string m_strText;
    bool m_bSeparator = false;
    bool m_bChecked = false;
    bool m_bDefault = false;  // drawn bold; chosen by a double-click on the icon's menu
    bool m_bEnabled = true;
    std::vector<CTrayMenuItem> m_vecSubmenu;  // opens from this item when not empty
};
using CTrayMenu = std::vector<CTrayMenuItem>;

// The eight entries of the popup, texts in the current interface language: Messages, Answering
// Mode (submenu Enable / Disable), a separator, Options..., About Vokra, Help, a separator, Quit.
CTrayMenu BuildTrayMenuItems();
// The item that runs uCommand, searched in submenus too; null when there is none.
CTrayMenuItem* FindTrayMenuItem(CTrayMenu& menu, UINT uCommand);
