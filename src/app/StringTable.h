#pragma once
// The built-in (English) texts of the user interface, by numeric id. Language packs carry the
// same ids; LoadText (app/Languages.h) picks the pack's text or falls back to these.
#include <utility>

#include "platform/Types.h"

// Every text id as X(name, number), grouped as the user interface shows them. The enum below
// and the built-in table's completeness check are made from this one list.
#define VOKRA_TEXT_IDS(X)                                                                       \
    X(IDS_LANGUAGE_NAME, 2) /* names a language: "<English name> - <own name>" */               \
    /* Tray menu */                                                                             \
    X(IDS_MENU_MESSAGES, 3)                                                                     \
    X(IDS_MENU_PLAY_NEW_MESSAGES, 4)                                                            \
    X(IDS_MENU_ANSWERING_MODE, 5)                                                               \
    X(IDS_MENU_ENABLE, 6) /* also the tooltip's state word */                                   \
    X(IDS_MENU_DISABLE, 7)                                                                      \
    X(IDS_MENU_OPTIONS, 8)                                                                      \
    X(IDS_MENU_ABOUT, 9)                                                                        \
    X(IDS_MENU_HELP, 10)                                                                        \
    X(IDS_MENU_QUIT, 11)                                                                        \
    X(IDS_MENU_TAKE_CONTROL, 101)                                                               \
    X(IDS_MENU_FORCE_ANSWER, 124)                                                               \
    /* Tray balloons and tooltip */                                                             \
    X(IDS_BALLOON_API_NOT_FOUND, 14)                                                            \
    X(IDS_BALLOON_CONNECTION_REFUSED, 15)                                                       \
    X(IDS_BALLOON_CONNECTED, 16)                                                                \
    X(IDS_TIP_WAITING_FOR_SKYPE, 37)                                                            \
    /* Messages page: context menu, buttons, columns */                                         \
    X(IDS_CTX_PLAY, 17)                                                                         \
    X(IDS_CTX_CALL_CONTACT, 18)                                                                 \
    X(IDS_CTX_IM_CONTACT, 19)                                                                   \
    X(IDS_CTX_MARK_AS_HEARD, 20)                                                                \
    X(IDS_CTX_MARK_AS_NEW, 21)                                                                  \
    X(IDS_CTX_DELETE, 22)                                                                       \
    X(IDS_MSGS_BTN_PLAY, 23)                                                                    \
    X(IDS_MSGS_BTN_CALL_USER, 25)                                                               \
    X(IDS_MSGS_BTN_DELETE, 26)                                                                  \
    X(IDS_MSGS_BTN_OPEN_FOLDER, 27)                                                             \
    X(IDS_MSGS_COL_CALLER, 28)                                                                  \
    X(IDS_MSGS_COL_TIME, 29)                                                                    \
    X(IDS_MSGS_COL_DURATION, 30)                                                                \
    X(IDS_MSGS_RECORDING, 109)                                                                  \
    /* Options page */                                                                          \
    X(IDS_OPT_ANSWERING_SETTINGS, 42)                                                           \
    X(IDS_OPT_ENABLE_ANSWERING, 43)                                                             \
    X(IDS_OPT_ONLINE_ANSWER_AFTER, 44)                                                          \
    X(IDS_OPT_AWAY_ANSWER_AFTER, 45)                                                            \
    X(IDS_OPT_GREETING_SETTINGS, 46)                                                            \
    X(IDS_OPT_VOICE, 47)                                                                        \
    X(IDS_OPT_TEXT, 48)                                                                         \
    X(IDS_OPT_RECORDING_SETTINGS, 51)                                                           \
    X(IDS_OPT_MAX_RECORDING_TIME, 52)                                                           \
    X(IDS_OPT_ADVANCED, 53)                                                                     \
    X(IDS_OPT_SECONDS, 54)                                                                      \
    X(IDS_OPT_EMAIL_FORWARDING, 82)                                                             \
    X(IDS_OPT_NOT_IMPLEMENTED, 83)                                                              \
    /* Advanced options dialog */                                                               \
    X(IDS_ADV_NONBUDDY_GROUP, 55)                                                               \
    X(IDS_ADV_USE_NONBUDDY_SETTINGS, 56)                                                        \
    X(IDS_ADV_DISABLE_NONBUDDY, 57)                                                             \
    X(IDS_ADV_GREETING_SETTINGS, 58)                                                            \
    X(IDS_ADV_VOICE, 59)                                                                        \
    X(IDS_ADV_TEXT, 60)                                                                         \
    X(IDS_ADV_RECORDING_SETTINGS, 62)                                                           \
    X(IDS_ADV_MAX_RECORDING_TIME, 63)                                                           \
    X(IDS_ADV_SECONDS, 64)                                                                      \
    X(IDS_ADV_FOLDER_GROUP, 65)                                                                 \
    X(IDS_ADV_LOCATION, 66)                                                                     \
    X(IDS_ADV_LIMIT_FOLDER_SIZE, 67)                                                            \
    X(IDS_ADV_CURRENT, 68)                                                                      \
    X(IDS_ADV_MORE, 69)                                                                         \
    X(IDS_ADV_MUTE_VOLUME, 70)                                                                  \
    X(IDS_ADV_APPLICATION_SETTINGS, 73)                                                         \
    X(IDS_ADV_START_AT_LOGIN, 74)                                                               \
    X(IDS_ADV_RESTORE_WINDOW, 75)                                                               \
    X(IDS_ADV_SHOW_BALLOONS, 76)                                                                \
    X(IDS_ADV_INTERFACE_LANGUAGE, 77)                                                           \
    X(IDS_ADV_FACTORY_DEFAULTS, 78)                                                             \
    X(IDS_ADV_FACTORY_DEFAULTS_HINT, 79)                                                        \
    X(IDS_ADV_RESET, 80)                                                                        \
    X(IDS_ADV_TITLE, 119)                                                                       \
    X(IDS_ADV_AUDIO_SETTINGS, 123)                                                              \
    /* Property sheet */                                                                        \
    X(IDS_PAGE_MESSAGES, 84)                                                                    \
    X(IDS_PAGE_OPTIONS, 85)                                                                     \
    X(IDS_PAGE_ABOUT, 86)                                                                       \
    X(IDS_BTN_OK, 116)                                                                          \
    X(IDS_BTN_CANCEL, 117)                                                                      \
    /* Play voice message dialog */                                                             \
    X(IDS_PLAY_TITLE, 87)                                                                       \
    X(IDS_PLAY_DETAILS, 88)                                                                     \
    X(IDS_PLAY_CALLER, 89)                                                                      \
    X(IDS_PLAY_TIME_OF_CALL, 90)                                                                \
    X(IDS_PLAY_DURATION, 91)                                                                    \
    X(IDS_PLAY_PLAY, 92)                                                                        \
    X(IDS_PLAY_STOP, 93)                                                                        \
    X(IDS_PLAY_NEXT, 94)                                                                        \
    X(IDS_PLAY_DELETE, 95)                                                                      \
    X(IDS_PLAY_DELETE_AND_NEXT, 96)                                                             \
    X(IDS_PLAY_CLOSE, 97)                                                                       \
    X(IDS_PLAY_RECORDING, 98)                                                                   \
    X(IDS_PLAY_NO_VOICE_MESSAGE, 99) /* %s caller, %s time of call */                           \
    X(IDS_PLAY_FILE_NOT_FOUND, 100)  /* followed by the path */                                 \
    /* Questions and warnings */                                                                \
    X(IDS_CONFIRM_FACTORY_RESET, 102)                                                           \
    X(IDS_CONFIRM_DELETE_ONE, 103)    /* %s caller, %s time of call */                          \
    X(IDS_CONFIRM_DELETE_MANY, 104)   /* followed by one IDS_CONFIRM_DELETE_ITEM per message */ \
    X(IDS_CONFIRM_DELETE_ITEM, 105)   /* %s caller, %s time of call */                          \
    X(IDS_INVALID_MAX_RECORDING, 106) /* %d bound */                                            \
    X(IDS_CONFIRM_MOVE_FOLDER, 107)   /* %s old folder, %s new folder */                        \
    X(IDS_NO_USER_LOGGED_IN, 108)                                                               \
    X(IDS_INVALID_ANSWER_DELAY, 110) /* %d bound */                                             \
    X(IDS_SELECT_GREETING_FILE, 111)                                                            \
    X(IDS_SELECT_MESSAGES_FOLDER, 118)                                                          \
    /* Audio settings dialog */                                                                 \
    X(IDS_AUDIO_TITLE, 120)                                                                     \
    X(IDS_AUDIO_PLAYBACK_DEVICE, 121)                                                           \
    X(IDS_AUDIO_RECORDING_DEVICE, 122)                                                          \
    /* Errors */                                                                                \
    X(IDS_ERR_STARTUP_SHORTCUT, 600)                                                            \
    X(IDS_ERR_CREATE_WINDOW, 601)                                                               \
    X(IDS_ERR_NO_AUDIO_CABLES, 602)                                                             \
    X(IDS_ERR_HELP_PAGE, 603) /* %s the help page's path */

enum : UINT {
#define VOKRA_TEXT_ID_ENUMERATOR(name, number) name = number,
    VOKRA_TEXT_IDS(VOKRA_TEXT_ID_ENUMERATOR)
#undef VOKRA_TEXT_ID_ENUMERATOR
};

struct CBuiltInText {
    UINT m_uId;
    const char* m_pszText;
};

// The built-in text of id, or nullptr when there is none.
const char* BuiltInText(UINT id);
// The whole table in ascending id order (begin, end).
std::pair<const CBuiltInText*, const CBuiltInText*> BuiltInTextTable();
