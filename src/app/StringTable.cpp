#include "app/StringTable.h"

#include <algorithm>
#include <iterator>

namespace {

// Ascending by id (BuiltInText searches it by halves).
constexpr CBuiltInText g_BuiltInTexts[] = {
    {IDS_LANGUAGE_NAME, "English - English"},
    {IDS_MENU_MESSAGES, "Messages"},
    {IDS_MENU_PLAY_NEW_MESSAGES, "Play New Messages"},
    {IDS_MENU_ANSWERING_MODE, "Answering Mode"},
    {IDS_MENU_ENABLE, "Enable"},
    {IDS_MENU_DISABLE, "Disable"},
    {IDS_MENU_OPTIONS, "Options..."},
    {IDS_MENU_ABOUT, "About Vokra"},
    {IDS_MENU_HELP, "Help"},
    {IDS_MENU_QUIT, "Quit"},
    {IDS_BALLOON_API_NOT_FOUND,
     "Vokra could not find the Skype API. Please check that a current version of Skype is "
     "running on this computer."},
    {IDS_BALLOON_CONNECTION_REFUSED,
     "Skype refused connection from Vokra. Please change this setting in Skype then restart "
     "Vokra.\nGoto: Skype->File->Option->Privacy->Manage other programs' access to Skype and "
     "Allow Vokra access to API."},
    {IDS_BALLOON_CONNECTED, "Vokra has successfully established connection to Skype"},
    {IDS_CTX_PLAY, "Play"},
    {IDS_CTX_CALL_CONTACT, "Call Contact"},
    {IDS_CTX_IM_CONTACT, "IM Contact"},
    {IDS_CTX_MARK_AS_HEARD, "Mark as Heard"},
    {IDS_CTX_MARK_AS_NEW, "Mark as New"},
    {IDS_CTX_DELETE, "Delete"},
    {IDS_MSGS_BTN_PLAY, "Play"},
    {IDS_MSGS_BTN_CALL_USER, "Call User"},
    {IDS_MSGS_BTN_DELETE, "Delete"},
    {IDS_MSGS_BTN_OPEN_FOLDER, "Open Messages Folder"},
    {IDS_MSGS_COL_CALLER, "Caller ID"},
    {IDS_MSGS_COL_TIME, "Time of Call"},
    {IDS_MSGS_COL_DURATION, "Duration"},
    {IDS_TIP_WAITING_FOR_SKYPE, "Waiting for Skype® to be available"},
    {IDS_OPT_ANSWERING_SETTINGS, "Answering Settings"},
    {IDS_OPT_ENABLE_ANSWERING, "Enable answering of incoming Skype® calls"},
    {IDS_OPT_ONLINE_ANSWER_AFTER, "When Online answer after"},
    {IDS_OPT_AWAY_ANSWER_AFTER, "When Away/NA/DND answer after"},
    {IDS_OPT_GREETING_SETTINGS, "Greeting Message Settings"},
    {IDS_OPT_VOICE, "Voice:"},
    {IDS_OPT_TEXT, "Text:"},
    {IDS_OPT_RECORDING_SETTINGS, "Recording Voice Message Settings"},
    {IDS_OPT_MAX_RECORDING_TIME, "Max recording time for new voice messages"},
    {IDS_OPT_ADVANCED, "Advanced..."},
    {IDS_OPT_SECONDS, "seconds"},
    {IDS_ADV_NONBUDDY_GROUP, "Callers that are not on your Buddy List Settings"},
    {IDS_ADV_USE_NONBUDDY_SETTINGS, "Use other settings for non Buddy List callers"},
    {IDS_ADV_DISABLE_NONBUDDY, "Disable answering of non Buddy List callers"},
    {IDS_ADV_GREETING_SETTINGS, "Greeting Message Settings"},
    {IDS_ADV_VOICE, "Voice:"},
    {IDS_ADV_TEXT, "Text:"},
    {IDS_ADV_RECORDING_SETTINGS, "Recording Voice Message Settings"},
    {IDS_ADV_MAX_RECORDING_TIME, "Max recording time for new messages"},
    {IDS_ADV_SECONDS, "seconds"},
    {IDS_ADV_FOLDER_GROUP, "My Received Voice Messages Folder Settings"},
    {IDS_ADV_LOCATION, "Location:"},
    {IDS_ADV_LIMIT_FOLDER_SIZE, "Limit folder size to"},
    {IDS_ADV_CURRENT, "Current:"},
    {IDS_ADV_MORE, "More..."},
    {IDS_ADV_MUTE_VOLUME, "Mute volume when answering calls"},
    {IDS_ADV_APPLICATION_SETTINGS, "Application Settings"},
    {IDS_ADV_START_AT_LOGIN, "Automatically start when logging in to Windows"},
    {IDS_ADV_RESTORE_WINDOW, "Restore Vokra when new voice message is saved"},
    {IDS_ADV_SHOW_BALLOONS, "Show Balloon Info Messages"},
    {IDS_ADV_INTERFACE_LANGUAGE, "Interface Language"},
    {IDS_ADV_FACTORY_DEFAULTS, "Factory Defaults"},
    {IDS_ADV_FACTORY_DEFAULTS_HINT,
     "Click here if you need to restore all  options to their factory defaults"},
    {IDS_ADV_RESET, "Reset"},
    {IDS_OPT_EMAIL_FORWARDING, "email forwarding:"},
    {IDS_OPT_NOT_IMPLEMENTED, "Feature not implemented yet"},
    {IDS_PAGE_MESSAGES, "Messages"},
    {IDS_PAGE_OPTIONS, "Options"},
    {IDS_PAGE_ABOUT, "About"},
    {IDS_PLAY_TITLE, "Play Saved Message"},
    {IDS_PLAY_DETAILS, "Voice Message Details"},
    {IDS_PLAY_CALLER, "Caller:"},
    {IDS_PLAY_TIME_OF_CALL, "Time of Call:"},
    {IDS_PLAY_DURATION, "Duration"},
    {IDS_PLAY_PLAY, "Play"},
    {IDS_PLAY_STOP, "Stop"},
    {IDS_PLAY_NEXT, "Play Next"},
    {IDS_PLAY_DELETE, "Delete"},
    {IDS_PLAY_DELETE_AND_NEXT, "Delete && Play Next"},
    {IDS_PLAY_CLOSE, "Close"},
    {IDS_PLAY_RECORDING, "Recording"},
    {IDS_PLAY_NO_VOICE_MESSAGE, "%s did not leave a voice message (from %s)"},
    {IDS_PLAY_FILE_NOT_FOUND, "Can't find file: "},
    {IDS_MENU_TAKE_CONTROL, "Take Control over Call"},
    {IDS_CONFIRM_FACTORY_RESET,
     "Are you sure you want to restore all options to their factory defaults?"},
    {IDS_CONFIRM_DELETE_ONE, "Going to delete message from %s, received on %s"},
    {IDS_CONFIRM_DELETE_MANY, "Going to delete the following messages: "},
    {IDS_CONFIRM_DELETE_ITEM, "\nFrom %s, received on %s"},
    {IDS_INVALID_MAX_RECORDING,
     "Valid values for max recording duration are between 0 and %d seconds, were 0 is "
     "infinite"},
    {IDS_CONFIRM_MOVE_FOLDER,
     "Vokra is going to move your saved voice messages folder to new location. \nYour current "
     "folder location is: %s\nYour new folder location is: %s\n"},
    {IDS_NO_USER_LOGGED_IN, "No user is Logged In on Skype®"},
    {IDS_MSGS_RECORDING, "Recording"},
    {IDS_INVALID_ANSWER_DELAY,
     "Valid values for answering calls are between 0 and %d seconds only"},
    {IDS_SELECT_GREETING_FILE, "Select Greeting File"},
    {IDS_BTN_OK, "OK"},
    {IDS_BTN_CANCEL, "Cancel"},
    {IDS_SELECT_MESSAGES_FOLDER, "Vokra - Saved Voice Messages Folder Selection"},
    {IDS_ADV_TITLE, "Vokra Advanced Options..."},
    {IDS_AUDIO_TITLE, "Vokra Audio Settings"},
    {IDS_AUDIO_PLAYBACK_DEVICE, "Playback Device:"},
    {IDS_AUDIO_RECORDING_DEVICE, "Recording Device:"},
    {IDS_ADV_AUDIO_SETTINGS, "Audio Settings"},
    {IDS_MENU_FORCE_ANSWER, "Force Answering of Call"},
    {IDS_ERR_STARTUP_SHORTCUT, "Unable to add shortcut to the startup folder."},
    {IDS_ERR_CREATE_WINDOW, "Unable to create window."},
    {IDS_ERR_NO_AUDIO_CABLES,
     "Could not detect installation of 'Vokra Audio Cables' audio device. \nPlease reinstall "
     "Vokra.\nOn Linux, run 'scripts/cables up' to make the cables."},
    {IDS_ERR_HELP_PAGE, "The help page could not be opened:\n%s"},
};

constexpr bool IsAscending() {
    for (size_t i = 1; i < std::size(g_BuiltInTexts); ++i)
        if (g_BuiltInTexts[i - 1].m_uId >= g_BuiltInTexts[i].m_uId)
            return false;
    return true;
}
static_assert(IsAscending(), "BuiltInText searches the table by halves");

constexpr bool HasText(UINT id) {
    for (const CBuiltInText& t : g_BuiltInTexts)
        if (t.m_uId == id)
            return t.m_pszText != nullptr && t.m_pszText[0] != '\0';
    return false;
}
#define VOKRA_ASSERT_HAS_TEXT(name, number) \
    static_assert(HasText(name), "no built-in text for " #name);
VOKRA_TEXT_IDS(VOKRA_ASSERT_HAS_TEXT)
#undef VOKRA_ASSERT_HAS_TEXT

}  // namespace

const char* BuiltInText(UINT id) {
    auto [b, e] = BuiltInTextTable();
    auto it = std::lower_bound(b, e, id, [](const CBuiltInText& t, UINT v) { return t.m_uId < v; });
    return it != e && it->m_uId == id ? it->m_pszText : nullptr;
}

std::pair<const CBuiltInText*, const CBuiltInText*> BuiltInTextTable() {
    return {std::begin(g_BuiltInTexts), std::end(g_BuiltInTexts)};
}
