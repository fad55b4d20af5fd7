#include "app/Settings.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "app/Languages.h"
#include "app/Logger.h"
#include "app/MessageBox.h"
#include "app/StringTable.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"

namespace {
constexpr const char* kDefaultGreetingSound = "greeting.wav";
constexpr const char* kDefaultGreetingText =
    "Call answered by Vokra - Answering Machine for Skype® users. Please leave your voice message "
    "after the tone.";
constexpr const char* kSection = "Settings";
constexpr const char* kSettingsFileName = "Vokra.ini";
constexpr const char* kShortcutName = "Vokra";
// An older entry may carry the product's long title; it is always removed.
constexpr const char* kProductLongTitle = "Vokra - Answering Machine for Skype™ users";
}  // namespace

// Each group's keys in file order as X(variable, default); the variable's type gives the key's
// kind. Definitions, defaults, the key table and the groups below are all made from these lists.
#define VOKRA_AUDIO_SETTINGS(X)    \
    X(AudioPlaybackDeviceName, "") \
    X(AudioRecordingDeviceName, "")
#define VOKRA_ADVANCED_SETTINGS(X)                           \
    X(WinStartUp, 1)                                         \
    X(RestoreWin, 1)                                         \
    X(ShowBalloonTips, 1)                                    \
    X(UseNonAuthorizedCallerSettings, 0)                     \
    X(DisableAnswerOfNonAuthCaller, 1)                       \
    X(GreetingSoundMsgPathForNonAuth, kDefaultGreetingSound) \
    X(GreetingTextMsgForNonAuth, "")                         \
    X(GreetingTextMsgAllowedForNonAuth, 0)                   \
    X(MaxRecordingDurationForNonAuthSec, 40)                 \
    X(RcvdMsgsFolderPath, "")                                \
    X(IsRcvdMsgsFolderLimited, 0)                            \
    X(RcvdMsgsFolderSize, 0)                                 \
    X(MuteVolumeOnAnswer, 0)                                 \
    X(LanguageFilePath, "")
#define VOKRA_MAIN_SETTINGS(X)                     \
    X(AnswerAllowed, 1)                            \
    X(AnswerAllowedOnline, 1)                      \
    X(SecB4AnsweringOnline, 15)                    \
    X(AnswerAllowedAway, 1)                        \
    X(SecB4AnsweringAway, 2)                       \
    X(GreetingSoundMsgPath, kDefaultGreetingSound) \
    X(GreetingTextMsgAllowed, 1)                   \
    X(GreetingTextMsg, kDefaultGreetingText)       \
    X(MaxRecordingDurationSec, 120)                \
    X(DebugFileLevel, 0)
#define VOKRA_SHEET_POSITION(X) \
    X(WinTop, -1)               \
    X(WinLeft, -1)
#define VOKRA_PLAYMSG_POSITION(X) \
    X(PlayMsgWinTop, -1)          \
    X(PlayMsgWinLeft, -1)

#define VOKRA_DEFINE_SETTING(name, def) decltype(name) name{def};
VOKRA_AUDIO_SETTINGS(VOKRA_DEFINE_SETTING)
VOKRA_ADVANCED_SETTINGS(VOKRA_DEFINE_SETTING)
VOKRA_MAIN_SETTINGS(VOKRA_DEFINE_SETTING)
VOKRA_SHEET_POSITION(VOKRA_DEFINE_SETTING)
VOKRA_PLAYMSG_POSITION(VOKRA_DEFINE_SETTING)
#undef VOKRA_DEFINE_SETTING

namespace {

struct CSettingKey {
    const char* m_pszKey;
    std::atomic<int>* m_pInt;   // an integer key, or
    CSettingString* m_pString;  // a string key
    int m_nDefault;
    const char* m_pszDefault;
};

constexpr CSettingKey KeyOf(const char* key, std::atomic<int>& v, int def) {
    return {key, &v, nullptr, def, nullptr};
}
constexpr CSettingKey KeyOf(const char* key, CSettingString& v, const char* def) {
    return {key, nullptr, &v, 0, def};
}

#define VOKRA_SETTING_KEY(name, def) KeyOf(#name, name, def),
// Table order is file order. The groups are consecutive ranges of it.
const CSettingKey g_Keys[] = {
    VOKRA_AUDIO_SETTINGS(VOKRA_SETTING_KEY) VOKRA_ADVANCED_SETTINGS(VOKRA_SETTING_KEY)
        VOKRA_MAIN_SETTINGS(VOKRA_SETTING_KEY) VOKRA_SHEET_POSITION(VOKRA_SETTING_KEY)
            VOKRA_PLAYMSG_POSITION(VOKRA_SETTING_KEY)};
#undef VOKRA_SETTING_KEY

#define VOKRA_COUNT_SETTING(name, def) +1
constexpr size_t kAudioKeys = 0 VOKRA_AUDIO_SETTINGS(VOKRA_COUNT_SETTING);
constexpr size_t kAdvancedKeys = 0 VOKRA_ADVANCED_SETTINGS(VOKRA_COUNT_SETTING);
constexpr size_t kMainKeys = 0 VOKRA_MAIN_SETTINGS(VOKRA_COUNT_SETTING);
constexpr size_t kSheetKeys = 0 VOKRA_SHEET_POSITION(VOKRA_COUNT_SETTING);
constexpr size_t kPlayMsgKeys = 0 VOKRA_PLAYMSG_POSITION(VOKRA_COUNT_SETTING);
#undef VOKRA_COUNT_SETTING

struct CKeyRange {
    size_t m_uBegin, m_uEnd;
};
constexpr CKeyRange kAudioGroup{0, kAudioKeys};
constexpr CKeyRange kAdvancedGroup{kAudioGroup.m_uEnd, kAudioGroup.m_uEnd + kAdvancedKeys};
constexpr CKeyRange kAllGroups{0, kAdvancedGroup.m_uEnd + kMainKeys};
constexpr CKeyRange kSheetPosition{kAllGroups.m_uEnd, kAllGroups.m_uEnd + kSheetKeys};
constexpr CKeyRange kPlayMsgWinPosition{kSheetPosition.m_uEnd,
                                        kSheetPosition.m_uEnd + kPlayMsgKeys};
static_assert(kPlayMsgWinPosition.m_uEnd == std::size(g_Keys));

void SetDefaults(CKeyRange r) {
    for (size_t i = r.m_uBegin; i < r.m_uEnd; ++i) {
        const CSettingKey& k = g_Keys[i];
        if (k.m_pInt)
            *k.m_pInt = k.m_nDefault;
        else
            *k.m_pString = k.m_pszDefault;
    }
}

// Loads the settings file. False when it exists but cannot be read (then ini is empty, and a
// write must not replace a file it has not seen).
bool LoadSettingsFile(CIniFile& ini) {
    const std::string path = GetSettingsFilePath();
    int err = 0;
    switch (ini.Load(path, &err)) {
        case CIniFile::INI_MISSING:
            return true;
        case CIniFile::INI_TOO_LARGE:
            VLOG(WARNING, "Settings: %s is larger than %zu bytes; it is not used", path.c_str(),
                 CIniFile::kMaxFileBytes);
            return false;
        case CIniFile::INI_UNREADABLE:
            VLOG(WARNING, "Settings: cannot read %s: %s", path.c_str(), strerror(err));
            return false;
        case CIniFile::INI_LOADED:
            break;
    }
    for (const std::string& p : ini.Problems())
        VLOG(WARNING, "Settings: %s %s", path.c_str(), p.c_str());
    if (!ini.GetText().empty() && !ini.HasSection(kSection))
        VLOG(WARNING, "Settings: %s has no [%s] section; defaults are used", path.c_str(),
             kSection);
    return true;
}

void ReadKeys(CKeyRange r) {
    CIniFile ini;
    LoadSettingsFile(ini);
    for (size_t i = r.m_uBegin; i < r.m_uEnd; ++i) {
        const CSettingKey& k = g_Keys[i];
        if (k.m_pInt) {
            int32_t v = 0;
            switch (ini.GetInt(kSection, k.m_pszKey, v)) {
                case CIniFile::VALUE_OK:
                    *k.m_pInt = v;
                    break;
                case CIniFile::VALUE_MALFORMED:
                    VLOG(WARNING, "Settings: %s is not a number; default %d is used", k.m_pszKey,
                         k.m_nDefault);
                    *k.m_pInt = k.m_nDefault;
                    break;
                default:
                    *k.m_pInt = k.m_nDefault;
                    break;
            }
        } else {
            std::string v;
            switch (ini.GetString(kSection, k.m_pszKey, v)) {
                case CIniFile::VALUE_CUT:
                    VLOG(WARNING, "Settings: %s is longer than %zu bytes; it is cut", k.m_pszKey,
                         CIniFile::kMaxStringBytes);
                    [[fallthrough]];
                case CIniFile::VALUE_OK:
                    *k.m_pString = v;
                    break;
                default:
                    *k.m_pString = k.m_pszDefault;
                    break;
            }
        }
    }
}

bool WriteKeys(CKeyRange r) {
    const std::string path = GetSettingsFilePath();
    CIniFile ini;
    if (!LoadSettingsFile(ini)) {
        VLOG(WARNING, "Settings: %s is left as it is; the settings are not saved", path.c_str());
        return false;
    }
    for (size_t i = r.m_uBegin; i < r.m_uEnd; ++i) {
        const CSettingKey& k = g_Keys[i];
        bool bIntact = k.m_pInt ? ini.SetInt(kSection, k.m_pszKey, k.m_pInt->load())
                                : ini.SetString(kSection, k.m_pszKey, k.m_pString->Get());
        if (!bIntact)
            VLOG(WARNING, "Settings: line breaks in %s are saved as blanks", k.m_pszKey);
    }
    int err = 0;
    if (!ini.Save(path, &err)) {
        VLOG(WARNING, "Settings: cannot write %s: %s; the file is unchanged", path.c_str(),
             strerror(err));
        return false;
    }
    return true;
}

// A desktop-entry Exec value that runs exactly this file, whatever characters its path holds.
std::string DesktopExecValue(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string value;  // the string-value escape comes on top of the quoting
    for (char c : quoted) {
        if (c == '\\')
            value += '\\';
        value += c;
    }
    return value;
}

std::string AutostartFolder() {
    return GetXdgConfigHome() + "/autostart/";
}

bool CreateStartupShortcut(const std::string& path) {
    const std::string exe = GetProgramPath();
    if (exe.empty() || exe.find_first_of("\r\n") != std::string::npos) {
        VLOG(WARNING, "UpdateStartupShortcut: the program's path is unusable: '%s'", exe.c_str());
        return false;
    }
    if (!MakeFolders(AutostartFolder())) {
        VLOG(WARNING, "UpdateStartupShortcut: cannot create %s: %s", AutostartFolder().c_str(),
             strerror(errno));
        return false;
    }
    std::string entry = "[Desktop Entry]\n";
    entry += "Type=Application\n";
    entry += std::string("Name=") + kShortcutName + "\n";
    entry += std::string("Comment=") + kShortcutName + "\n";
    entry += "Exec=" + DesktopExecValue(exe) + "\n";
    entry += "Terminal=false\n";
    entry += "X-GNOME-Autostart-enabled=true\n";
    int err = 0;
    if (!WriteFileAtomic(path, entry, &err)) {
        VLOG(WARNING, "UpdateStartupShortcut: cannot write %s: %s", path.c_str(), strerror(err));
        return false;
    }
    return true;
}

void RemoveFile(const std::string& path, const char* who) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        VLOG(WARNING, "%s: cannot delete %s: %s", who, path.c_str(), strerror(errno));
}

}  // namespace

std::string GetSettingsFilePath() {
    return GetProgramFolder() + kSettingsFileName;
}

void ReadAudioDeviceSettings() {
    ReadKeys(kAudioGroup);
}
bool WriteAudioDeviceSettings() {
    return WriteKeys(kAudioGroup);
}

void ReadAdvancedSettings() {
    ReadKeys(kAdvancedGroup);
}
bool WriteAdvancedSettings() {
    bool bOk = WriteKeys(kAdvancedGroup);
    UpdateStartupShortcut();
    return bOk;
}

void ReadAllSettings() {
    ReadKeys(kAllGroups);
}
bool WriteAllSettings() {
    // One file replacement for all groups: a crash never leaves half of them written.
    bool bOk = WriteKeys(kAllGroups);
    UpdateStartupShortcut();
    return bOk;
}

void ReadSheetPosition() {
    ReadKeys(kSheetPosition);
}
bool WriteSheetPosition() {
    return WriteKeys(kSheetPosition);
}
void ReadPlayMsgWinPosition() {
    ReadKeys(kPlayMsgWinPosition);
}
bool WritePlayMsgWinPosition() {
    return WriteKeys(kPlayMsgWinPosition);
}

void ResetToFactoryDefaults() {
    const std::string path = GetSettingsFilePath();
    VLOG(INFO, "ResetToFactoryDefaults: deleting %s", path.c_str());
    RemoveFile(path, "ResetToFactoryDefaults");
    ReadAllSettings();
    SetDefaults(kSheetPosition);
    SetDefaults(kPlayMsgWinPosition);
    LoadLanguageLibrary(LanguageFilePath.Get());
}

std::string GetMessagesFolderRoot() {
    std::string root = RcvdMsgsFolderPath.Get();
    if (!root.empty()) {
        // The folder is always followed by a name; a hand-edited value may lack its "/".
        if (root.back() != '/')
            root += '/';
        return root;
    }
    std::string docs = GetXdgDocumentsFolder();
    if (!MakeFolders(docs))
        VLOG(WARNING, "GetMessagesFolderRoot: cannot create %s: %s", docs.c_str(), strerror(errno));
    return docs == "/" ? docs : docs + "/";
}

std::string GetStartupShortcutPath() {
    return AutostartFolder() + kShortcutName + ".desktop";
}

void UpdateStartupShortcut() {
    const std::string path = GetStartupShortcutPath();
    const int nStartUp = WinStartUp;
    if (nStartUp == 1) {
        if (!CreateStartupShortcut(path))
            VokraMessageBox(LoadText(IDS_ERR_STARTUP_SHORTCUT), MB_OK | MB_ICONERROR);
    } else if (nStartUp == 0) {
        RemoveFile(path, "UpdateStartupShortcut");
    }
    RemoveFile(AutostartFolder() + kProductLongTitle + ".desktop", "UpdateStartupShortcut");
}

void ResetSettingsForTests() {
    SetDefaults({0, std::size(g_Keys)});
}
