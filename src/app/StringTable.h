#pragma once
// The built-in (English) texts of the user interface, by numeric id. Language packs carry the
// same ids; LoadText (app/Languages.h) picks the pack's text or falls back to these.
#include <utility>

#include "platform/Types.h"

enum : UINT {
    IDS_LANGUAGE_NAME = 2,  // names a language: "<English name> - <own name>"

    // Tray menu
    IDS_MENU_MESSAGES = 3,
    IDS_MENU_PLAY_NEW_MESSAGES = 4,
    IDS_MENU_ANSWERING_MODE = 5,
    IDS_MENU_ENABLE = 6,  // also the tooltip's state word
    IDS_MENU_DISABLE = 7,
    IDS_MENU_OPTIONS = 8,
    IDS_MENU_ABOUT = 9,
    IDS_MENU_HELP = 10,
    IDS_MENU_QUIT = 11,
    IDS_MENU_TAKE_CONTROL = 101,
    IDS_MENU_FORCE_ANSWER = 124,

    // Tray balloons and tooltip
    IDS_BALLOON_API_NOT_FOUND = 14,
    IDS_BALLOON_CONNECTION_REFUSED = 15,
    IDS_BALLOON_CONNECTED = 16,
    IDS_TIP_WAITING_FOR_SKYPE = 37,

    // Messages page: context menu, buttons, columns
    IDS_CTX_PLAY = 17,
    IDS_CTX_CALL_CONTACT = 18,
    IDS_CTX_IM_CONTACT = 19,
    IDS_CTX_MARK_AS_HEARD = 20,
    IDS_CTX_MARK_AS_NEW = 21,
    IDS_CTX_DELETE = 22,
    IDS_MSGS_BTN_PLAY = 23,
    IDS_MSGS_BTN_CALL_USER = 25,
    IDS_MSGS_BTN_DELETE = 26,
    IDS_MSGS_BTN_OPEN_FOLDER = 27,
    IDS_MSGS_COL_CALLER = 28,
    IDS_MSGS_COL_TIME = 29,
    IDS_MSGS_COL_DURATION = 30,
    IDS_MSGS_RECORDING = 109,

    // Options page
    IDS_OPT_ANSWERING_SETTINGS = 42,
    IDS_OPT_ENABLE_ANSWERING = 43,
    IDS_OPT_ONLINE_ANSWER_AFTER = 44,
    IDS_OPT_AWAY_ANSWER_AFTER = 45,
    IDS_OPT_GREETING_SETTINGS = 46,
    IDS_OPT_VOICE = 47,
    IDS_OPT_TEXT = 48,
    IDS_OPT_RECORDING_SETTINGS = 51,
    IDS_OPT_MAX_RECORDING_TIME = 52,
    IDS_OPT_ADVANCED = 53,
    IDS_OPT_SECONDS = 54,
    IDS_OPT_EMAIL_FORWARDING = 82,
    IDS_OPT_NOT_IMPLEMENTED = 83,

    // Advanced options dialog
    IDS_ADV_NONBUDDY_GROUP = 55,
    IDS_ADV_USE_NONBUDDY_SETTINGS = 56,
    IDS_ADV_DISABLE_NONBUDDY = 57,
    IDS_ADV_GREETING_SETTINGS = 58,
    IDS_ADV_VOICE = 59,
    IDS_ADV_TEXT = 60,
    IDS_ADV_RECORDING_SETTINGS = 62,
    IDS_ADV_MAX_RECORDING_TIME = 63,
    IDS_ADV_SECONDS = 64,
    IDS_ADV_FOLDER_GROUP = 65,
    IDS_ADV_LOCATION = 66,
    IDS_ADV_LIMIT_FOLDER_SIZE = 67,
    IDS_ADV_CURRENT = 68,
    IDS_ADV_MORE = 69,
    IDS_ADV_MUTE_VOLUME = 70,
    IDS_ADV_APPLICATION_SETTINGS = 73,
    IDS_ADV_START_AT_LOGIN = 74,
    IDS_ADV_RESTORE_WINDOW = 75,
    IDS_ADV_SHOW_BALLOONS = 76,
    IDS_ADV_INTERFACE_LANGUAGE = 77,
    IDS_ADV_FACTORY_DEFAULTS = 78,
    IDS_ADV_FACTORY_DEFAULTS_HINT = 79,
    IDS_ADV_RESET = 80,
    IDS_ADV_TITLE = 119,
    IDS_ADV_AUDIO_SETTINGS = 123,

    // Property sheet
    IDS_PAGE_MESSAGES = 84,
    IDS_PAGE_OPTIONS = 85,
    IDS_PAGE_ABOUT = 86,
    IDS_BTN_OK = 116,
    IDS_BTN_CANCEL = 117,

    // Play voice message dialog
    IDS_PLAY_TITLE = 87,
    IDS_PLAY_DETAILS = 88,
    IDS_PLAY_CALLER = 89,
    IDS_PLAY_TIME_OF_CALL = 90,
    IDS_PLAY_DURATION = 91,
    IDS_PLAY_PLAY = 92,
    IDS_PLAY_STOP = 93,
    IDS_PLAY_NEXT = 94,
    IDS_PLAY_DELETE = 95,
    IDS_PLAY_DELETE_AND_NEXT = 96,
    IDS_PLAY_CLOSE = 97,
    IDS_PLAY_RECORDING = 98,
    IDS_PLAY_NO_VOICE_MESSAGE = 99,  // %s caller, %s time of call
    IDS_PLAY_FILE_NOT_FOUND = 100,   // followed by the path

    // Questions and warnings
    IDS_CONFIRM_FACTORY_RESET = 102,
    IDS_CONFIRM_DELETE_ONE = 103,     // %s caller, %s time of call
    IDS_CONFIRM_DELETE_MANY = 104,    // followed by one IDS_CONFIRM_DELETE_ITEM per message
    IDS_CONFIRM_DELETE_ITEM = 105,    // %s caller, %s time of call
    IDS_INVALID_MAX_RECORDING = 106,  // %d bound
    IDS_CONFIRM_MOVE_FOLDER = 107,    // %s old folder, %s new folder
    IDS_NO_USER_LOGGED_IN = 108,
    IDS_INVALID_ANSWER_DELAY = 110,  // %d bound
    IDS_SELECT_GREETING_FILE = 111,
    IDS_SELECT_MESSAGES_FOLDER = 118,

    // Audio settings dialog
    IDS_AUDIO_TITLE = 120,
    IDS_AUDIO_PLAYBACK_DEVICE = 121,
    IDS_AUDIO_RECORDING_DEVICE = 122,

    // Errors
    IDS_ERR_STARTUP_SHORTCUT = 600,
    IDS_ERR_CREATE_WINDOW = 601,
    IDS_ERR_NO_AUDIO_CABLES = 602,
    IDS_ERR_HELP_PAGE = 603,  // %s the help page's path
};

struct CBuiltInText {
    UINT m_uId;
    const char* m_pszText;
};

// The built-in text of id, or nullptr when there is none.
const char* BuiltInText(UINT id);
// The whole table in ascending id order (begin, end).
std::pair<const CBuiltInText*, const CBuiltInText*> BuiltInTextTable();
