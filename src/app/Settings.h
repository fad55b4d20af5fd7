#pragma once
// The settings record: every user option, held in process-wide variables named by their keys
// and persisted in "Vokra.ini" beside the program, section "Settings".
//
// The variables are written on the user-interface thread and read on the call-handling and
// audio threads as well, so each one is safe to read while it is being replaced: integers are
// atomics, strings are CSettingString (a copy is taken under a lock).
#include <atomic>
#include <mutex>
#include <string>

class CSettingString {
public:
    CSettingString() = default;
    explicit CSettingString(const char* psz) : m_str(psz) {}
    CSettingString(const CSettingString&) = delete;
    CSettingString& operator=(const CSettingString&) = delete;

    CSettingString& operator=(const std::string& s) {
        std::lock_guard<std::mutex> lk(m_m);
        m_str = s;
        return *this;
    }
    CSettingString& operator=(const char* psz) { return *this = std::string(psz); }
    std::string Get() const {
        std::lock_guard<std::mutex> lk(m_m);
        return m_str;
    }
    operator std::string() const { return Get(); }
    bool empty() const {
        std::lock_guard<std::mutex> lk(m_m);
        return m_str.empty();
    }
    friend bool operator==(const CSettingString& a, const std::string& b) { return a.Get() == b; }

private:
    mutable std::mutex m_m;
    std::string m_str;
};

// Audio-device group
extern CSettingString AudioPlaybackDeviceName;   // "" = the system's default device
extern CSettingString AudioRecordingDeviceName;  // shown in the audio dialog only
// Advanced group (in file order)
extern std::atomic<int> WinStartUp;  // 1: start at logon (XDG autostart entry)
extern std::atomic<int> RestoreWin;
extern std::atomic<int> ShowBalloonTips;
extern std::atomic<int> UseNonAuthorizedCallerSettings;
extern std::atomic<int> DisableAnswerOfNonAuthCaller;
extern CSettingString GreetingSoundMsgPathForNonAuth;
extern CSettingString GreetingTextMsgForNonAuth;
extern std::atomic<int> GreetingTextMsgAllowedForNonAuth;
extern std::atomic<int> MaxRecordingDurationForNonAuthSec;
extern CSettingString RcvdMsgsFolderPath;  // ends with "/" when set; "" = documents folder
extern std::atomic<int> IsRcvdMsgsFolderLimited;
extern std::atomic<int> RcvdMsgsFolderSize;  // MiB
extern std::atomic<int> MuteVolumeOnAnswer;
extern CSettingString LanguageFilePath;  // "" = built-in texts
// The rest of the main table
extern std::atomic<int> AnswerAllowed;
extern std::atomic<int> AnswerAllowedOnline;
extern std::atomic<int> SecB4AnsweringOnline;
extern std::atomic<int> AnswerAllowedAway;
extern std::atomic<int> SecB4AnsweringAway;
extern CSettingString GreetingSoundMsgPath;
extern std::atomic<int> GreetingTextMsgAllowed;
extern CSettingString GreetingTextMsg;
extern std::atomic<int> MaxRecordingDurationSec;
extern std::atomic<int> DebugFileLevel;
// Window positions, -1 = none stored; read and written on their own
extern std::atomic<int> WinTop;
extern std::atomic<int> WinLeft;
extern std::atomic<int> PlayMsgWinTop;
extern std::atomic<int> PlayMsgWinLeft;

// The settings file: the program folder followed by "Vokra.ini".
std::string GetSettingsFilePath();

// Each read sets every key of its group from the file, a missing (or unusable) key to its
// default; each write stores its group and replaces the file atomically. Problems are logged at
// WARNING; a write returns false when the file could not be written (the old file then stays).
void ReadAudioDeviceSettings();
bool WriteAudioDeviceSettings();
void ReadAdvancedSettings();
// Also brings the autostart entry in line with WinStartUp (UpdateStartupShortcut).
bool WriteAdvancedSettings();
void ReadAllSettings();
bool WriteAllSettings();
// The position pairs: WinTop/WinLeft (property sheet), PlayMsgWinTop/PlayMsgWinLeft (play
// dialog). A write stores both keys of its pair at once.
void ReadSheetPosition();
bool WriteSheetPosition();
void ReadPlayMsgWinPosition();
bool WritePlayMsgWinPosition();

// Deletes the settings file, brings every setting back to its default and the interface back to
// the built-in language. The file is written again by the next write.
void ResetToFactoryDefaults();

// The folder that holds "My Received Voice Messages": RcvdMsgsFolderPath, else the user's
// documents folder (created if missing). Always ends with "/".
std::string GetMessagesFolderRoot();

// Creates (WinStartUp 1) or deletes (WinStartUp 0) the autostart entry Vokra.desktop in
// $XDG_CONFIG_HOME/autostart/, and always removes an entry named after the product's long
// title. A failure to create the entry is shown as text 600.
void UpdateStartupShortcut();
// The autostart entry's path.
std::string GetStartupShortcutPath();

// Tests: every setting (and position) back to its default in memory; the file is not touched.
void ResetSettingsForTests();
