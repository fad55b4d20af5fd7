#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "ShellTestSupport.h"
#include "app/Languages.h"
#include "app/MessageBox.h"
#include "app/Settings.h"
#include "app/StringTable.h"
#include "platform/FileUtil.h"

namespace {

const char* const kDefaultGreeting =
    "Call answered by Vokra - Answering Machine for Skype® users. Please leave your voice message "
    "after the tone.";

// What a complete file holds when every key has its default.
const std::string kDefaultFile =
    "[Settings]\n"
    "AudioPlaybackDeviceName=\n"
    "AudioRecordingDeviceName=\n"
    "WinStartUp=1\n"
    "RestoreWin=1\n"
    "ShowBalloonTips=1\n"
    "UseNonAuthorizedCallerSettings=0\n"
    "DisableAnswerOfNonAuthCaller=1\n"
    "GreetingSoundMsgPathForNonAuth=greeting.wav\n"
    "GreetingTextMsgForNonAuth=\n"
    "GreetingTextMsgAllowedForNonAuth=0\n"
    "MaxRecordingDurationForNonAuthSec=40\n"
    "RcvdMsgsFolderPath=\n"
    "IsRcvdMsgsFolderLimited=0\n"
    "RcvdMsgsFolderSize=0\n"
    "MuteVolumeOnAnswer=0\n"
    "LanguageFilePath=\n"
    "AnswerAllowed=1\n"
    "AnswerAllowedOnline=1\n"
    "SecB4AnsweringOnline=15\n"
    "AnswerAllowedAway=1\n"
    "SecB4AnsweringAway=2\n"
    "GreetingSoundMsgPath=greeting.wav\n"
    "GreetingTextMsgAllowed=1\n"
    "GreetingTextMsg=Call answered by Vokra - Answering Machine for Skype® users. Please leave "
    "your voice message after the tone.\n"
    "MaxRecordingDurationSec=120\n"
    "DebugFileLevel=0\n";

// Every setting changed away from its default.
void ChangeEverySetting() {
    AudioPlaybackDeviceName = "Speakers";
    AudioRecordingDeviceName = "Mic";
    WinStartUp = 0;
    RestoreWin = 0;
    ShowBalloonTips = 0;
    UseNonAuthorizedCallerSettings = 1;
    DisableAnswerOfNonAuthCaller = 0;
    GreetingSoundMsgPathForNonAuth = "/s/other.wav";
    GreetingTextMsgForNonAuth = "Hi stranger";
    GreetingTextMsgAllowedForNonAuth = 1;
    MaxRecordingDurationForNonAuthSec = 0;
    RcvdMsgsFolderPath = "/data/msgs/";
    IsRcvdMsgsFolderLimited = 1;
    RcvdMsgsFolderSize = 64;
    MuteVolumeOnAnswer = 1;
    LanguageFilePath = "/x/Vokra_X.lang";
    AnswerAllowed = 0;
    AnswerAllowedOnline = 0;
    SecB4AnsweringOnline = 180;
    AnswerAllowedAway = 0;
    SecB4AnsweringAway = 0;
    GreetingSoundMsgPath = "/s/g.mp3";
    GreetingTextMsgAllowed = 0;
    GreetingTextMsg = "Grüße";
    MaxRecordingDurationSec = 36000;
    DebugFileLevel = 6;
}

void ExpectEveryDefault() {
    EXPECT_EQ(AudioPlaybackDeviceName.Get(), "");
    EXPECT_EQ(AudioRecordingDeviceName.Get(), "");
    EXPECT_EQ(WinStartUp, 1);
    EXPECT_EQ(RestoreWin, 1);
    EXPECT_EQ(ShowBalloonTips, 1);
    EXPECT_EQ(UseNonAuthorizedCallerSettings, 0);
    EXPECT_EQ(DisableAnswerOfNonAuthCaller, 1);
    EXPECT_EQ(GreetingSoundMsgPathForNonAuth.Get(), "greeting.wav");
    EXPECT_EQ(GreetingTextMsgForNonAuth.Get(), "");
    EXPECT_EQ(GreetingTextMsgAllowedForNonAuth, 0);
    EXPECT_EQ(MaxRecordingDurationForNonAuthSec, 40);
    EXPECT_EQ(RcvdMsgsFolderPath.Get(), "");
    EXPECT_EQ(IsRcvdMsgsFolderLimited, 0);
    EXPECT_EQ(RcvdMsgsFolderSize, 0);
    EXPECT_EQ(MuteVolumeOnAnswer, 0);
    EXPECT_EQ(LanguageFilePath.Get(), "");
    EXPECT_EQ(AnswerAllowed, 1);
    EXPECT_EQ(AnswerAllowedOnline, 1);
    EXPECT_EQ(SecB4AnsweringOnline, 15);
    EXPECT_EQ(AnswerAllowedAway, 1);
    EXPECT_EQ(SecB4AnsweringAway, 2);
    EXPECT_EQ(GreetingSoundMsgPath.Get(), "greeting.wav");
    EXPECT_EQ(GreetingTextMsgAllowed, 1);
    EXPECT_EQ(GreetingTextMsg.Get(), kDefaultGreeting);
    EXPECT_EQ(MaxRecordingDurationSec, 120);
    EXPECT_EQ(DebugFileLevel, 0);
}

using SettingsTest = CShellTest;

TEST_F(SettingsTest, NoFileGivesDefaultsAndAWriteStoresAll26Keys) {
    ChangeEverySetting();
    ReadAllSettings();
    ExpectEveryDefault();
    EXPECT_EQ(m_log.Warnings(), 0);

    ASSERT_TRUE(WriteAllSettings());
    EXPECT_EQ(ReadFileBytes(IniPath()), kDefaultFile);
}

TEST_F(SettingsTest, EveryKeySurvivesAWriteAndARead) {
    ChangeEverySetting();
    WinTop = 10;
    ASSERT_TRUE(WriteAllSettings());
    ResetSettingsForTests();
    ReadAllSettings();
    EXPECT_EQ(AudioPlaybackDeviceName.Get(), "Speakers");
    EXPECT_EQ(AudioRecordingDeviceName.Get(), "Mic");
    EXPECT_EQ(WinStartUp, 0);
    EXPECT_EQ(RestoreWin, 0);
    EXPECT_EQ(ShowBalloonTips, 0);
    EXPECT_EQ(UseNonAuthorizedCallerSettings, 1);
    EXPECT_EQ(DisableAnswerOfNonAuthCaller, 0);
    EXPECT_EQ(GreetingSoundMsgPathForNonAuth.Get(), "/s/other.wav");
    EXPECT_EQ(GreetingTextMsgForNonAuth.Get(), "Hi stranger");
    EXPECT_EQ(GreetingTextMsgAllowedForNonAuth, 1);
    EXPECT_EQ(MaxRecordingDurationForNonAuthSec, 0);
    EXPECT_EQ(RcvdMsgsFolderPath.Get(), "/data/msgs/");
    EXPECT_EQ(IsRcvdMsgsFolderLimited, 1);
    EXPECT_EQ(RcvdMsgsFolderSize, 64);
    EXPECT_EQ(MuteVolumeOnAnswer, 1);
    EXPECT_EQ(LanguageFilePath.Get(), "/x/Vokra_X.lang");
    EXPECT_EQ(AnswerAllowed, 0);
    EXPECT_EQ(AnswerAllowedOnline, 0);
    EXPECT_EQ(SecB4AnsweringOnline, 180);
    EXPECT_EQ(AnswerAllowedAway, 0);
    EXPECT_EQ(SecB4AnsweringAway, 0);
    EXPECT_EQ(GreetingSoundMsgPath.Get(), "/s/g.mp3");
    EXPECT_EQ(GreetingTextMsgAllowed, 0);
    EXPECT_EQ(GreetingTextMsg.Get(), "Grüße");
    EXPECT_EQ(MaxRecordingDurationSec, 36000);
    EXPECT_EQ(DebugFileLevel, 6);
    EXPECT_EQ(WinTop, -1);  // positions are not part of the groups
}

TEST_F(SettingsTest, NegativeOneIsStoredUnsignedAndReadsBack) {
    WinTop = -1;
    WinLeft = 20;
    ASSERT_TRUE(WriteSheetPosition());
    EXPECT_EQ(ReadFileBytes(IniPath()), "[Settings]\nWinTop=4294967295\nWinLeft=20\n");
    WinTop = 5;
    WinLeft = 5;
    ReadSheetPosition();
    EXPECT_EQ(WinTop, -1);
    EXPECT_EQ(WinLeft, 20);

    PlayMsgWinTop = 300;
    PlayMsgWinLeft = -2;
    ASSERT_TRUE(WritePlayMsgWinPosition());
    PlayMsgWinTop = 0;
    PlayMsgWinLeft = 0;
    ReadPlayMsgWinPosition();
    EXPECT_EQ(PlayMsgWinTop, 300);
    EXPECT_EQ(PlayMsgWinLeft, -2);
    EXPECT_NE(ReadFileBytes(IniPath()).find("PlayMsgWinLeft=4294967294\n"), std::string::npos);
}

TEST_F(SettingsTest, GreetingTextsWithQuotesAndBlanksSurvive) {
    const std::string texts[] = {
        "\"Hello\", said the machine",
        "\"fully quoted\"",
        "  indented and trailing  ",
        "Grüße aus Köln ™",
    };
    for (const std::string& t : texts) {
        GreetingTextMsg = t;
        ASSERT_TRUE(WriteAllSettings());
        GreetingTextMsg = "reset";
        ReadAllSettings();
        EXPECT_EQ(GreetingTextMsg.Get(), t) << ReadFileBytes(IniPath());
    }
    GreetingTextMsg = "\"Hello\"";
    WriteAllSettings();
    EXPECT_NE(ReadFileBytes(IniPath()).find("\nGreetingTextMsg=\"\"Hello\"\"\n"),
              std::string::npos);
}

TEST_F(SettingsTest, LongStringValuesAreCutTo255Bytes) {
    WriteFileBytes(IniPath(), "[Settings]\nGreetingTextMsg=" + std::string(300, 'x') +
                                  "\nGreetingSoundMsgPath=" + std::string(254, 'a') + "é.wav\n");
    ReadAllSettings();
    EXPECT_EQ(GreetingTextMsg.Get(), std::string(300, 'x').substr(0, 255));
    EXPECT_EQ(GreetingSoundMsgPath.Get(), std::string(254, 'a'));  // "é" would be split
    EXPECT_EQ(m_log.Warnings("GreetingTextMsg"), 1);
}

TEST_F(SettingsTest, UnrelatedLinesSurviveAWrite) {
    const std::string before =
        "; my notes about Vokra\n"
        "[Window]\n"
        "AnswerAllowed=keep me\n"
        "[Settings]\n"
        "PluginKey=42\n"
        "answerallowed=0\n"
        "WinTop=7\n";
    WriteFileBytes(IniPath(), before);
    ReadAllSettings();
    EXPECT_EQ(AnswerAllowed, 0);
    AnswerAllowed = 1;
    ASSERT_TRUE(WriteAllSettings());
    const std::string after = ReadFileBytes(IniPath());
    EXPECT_EQ(after.rfind("; my notes about Vokra\n[Window]\nAnswerAllowed=keep me\n[Settings]\n"
                          "PluginKey=42\nAnswerAllowed=1\nWinTop=7\nAudioPlaybackDeviceName=\n",
                          0),
              0u)
        << after;
    EXPECT_EQ(after.find("answerallowed=0"), std::string::npos);  // replaced in place, not added
}

TEST_F(SettingsTest, EachGroupReadsAndWritesOnlyItsKeys) {
    AudioPlaybackDeviceName = "Speakers";
    AnswerAllowed = 0;
    ASSERT_TRUE(WriteAudioDeviceSettings());
    EXPECT_EQ(ReadFileBytes(IniPath()),
              "[Settings]\nAudioPlaybackDeviceName=Speakers\nAudioRecordingDeviceName=\n");

    ASSERT_TRUE(WriteAdvancedSettings());  // 14 keys, from WinStartUp to LanguageFilePath
    std::string text = ReadFileBytes(IniPath());
    EXPECT_NE(text.find("\nWinStartUp=1\n"), std::string::npos);
    EXPECT_NE(text.find("\nLanguageFilePath=\n"), std::string::npos);
    EXPECT_EQ(text.find("AnswerAllowed"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 2 + 14);

    WriteFileBytes(IniPath(),
                   "[Settings]\nRestoreWin=0\nAnswerAllowed=0\nAudioPlaybackDeviceName=X\n");
    AnswerAllowed = 1;
    AudioPlaybackDeviceName = "Y";
    ReadAdvancedSettings();
    EXPECT_EQ(RestoreWin, 0);
    EXPECT_EQ(AnswerAllowed, 1);
    EXPECT_EQ(AudioPlaybackDeviceName.Get(), "Y");
    ReadAudioDeviceSettings();
    EXPECT_EQ(AudioPlaybackDeviceName.Get(), "X");
}

TEST_F(SettingsTest, MalformedFilesGiveDefaultsAndALogLine) {
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    const struct {
        const char* name;
        std::string bytes;
        size_t kept;  // leading bytes that a write leaves as they are
    } cases[] = {
        {"binary garbage", binary, binary.size()},
        {"a line of 100000 characters", std::string(100000, 'Q') + "\nAnswerAllowed=0\n", 100017},
        {"no section", "AnswerAllowed=0\nSecB4AnsweringOnline=99\n", 40},
        {"numbers that are not numbers",
         "[Settings]\nSecB4AnsweringOnline=soon\nMaxRecordingDurationSec=99999999999\n", 11},
    };
    for (const auto& c : cases) {
        m_log.Clear();
        WriteFileBytes(IniPath(), c.bytes);
        ChangeEverySetting();
        ReadAllSettings();
        ExpectEveryDefault();
        EXPECT_GE(m_log.Warnings(), 1) << c.name;

        // Writing keeps the user's bytes and adds a proper section that reads back.
        AnswerAllowed = 0;
        ASSERT_TRUE(WriteAllSettings()) << c.name;
        AnswerAllowed = 1;
        ReadAllSettings();
        EXPECT_EQ(AnswerAllowed, 0) << c.name;
        EXPECT_EQ(ReadFileBytes(IniPath()).rfind(c.bytes.substr(0, c.kept), 0), 0u) << c.name;
    }
}

TEST_F(SettingsTest, AFileThatCannotBeReadIsNeitherUsedNorOverwritten) {
    std::filesystem::create_directory(IniPath());  // "Vokra.ini" is a folder
    ChangeEverySetting();
    ReadAllSettings();
    ExpectEveryDefault();
    EXPECT_FALSE(WriteAllSettings());
    EXPECT_TRUE(std::filesystem::is_directory(IniPath()));
    EXPECT_GE(m_log.Warnings("Vokra.ini"), 2);
}

TEST_F(SettingsTest, AWriteThatFailsKeepsTheOldFile) {
    AnswerAllowed = 0;
    ASSERT_TRUE(WriteAllSettings());
    const std::string old = ReadFileBytes(IniPath());
    std::filesystem::create_directory(IniPath() + ".tmp");  // the new file cannot be made
    AnswerAllowed = 1;
    EXPECT_FALSE(WriteAllSettings());
    EXPECT_EQ(ReadFileBytes(IniPath()), old);
    EXPECT_GE(m_log.Warnings("cannot write"), 1);
}

TEST_F(SettingsTest, MessagesRootIsTheSettingOrTheDocumentsFolder) {
    RcvdMsgsFolderPath = "/data/voice/";
    EXPECT_EQ(GetMessagesFolderRoot(), "/data/voice/");
    RcvdMsgsFolderPath = "/data/voice";  // edited by hand
    EXPECT_EQ(GetMessagesFolderRoot(), "/data/voice/");

    RcvdMsgsFolderPath = "";
    const struct {
        std::string userDirs;  // empty: no user-dirs.dirs file
        std::string expected;
    } cases[] = {
        {"", m_strHome + "/Documents/"},
        {"# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", m_strHome + "/Dokumente/"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"\n", m_strHome + "/My \"Docs\"/"},
        {"XDG_DOCUMENTS_DIR=\"" + m_strRoot + "abs/docs/\"\n", m_strRoot + "abs/docs/"},
        {"XDG_DOCUMENTS_DIR=relative/path\n", m_strHome + "/Documents/"},
        {"XDG_DESKTOP_DIR=\"$HOME/Desk\"\n", m_strHome + "/Documents/"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(m_strConfig + "/user-dirs.dirs");
        if (!c.userDirs.empty()) {
            std::filesystem::create_directories(m_strConfig);
            WriteFileBytes(m_strConfig + "/user-dirs.dirs", c.userDirs);
        }
        EXPECT_EQ(GetMessagesFolderRoot(), c.expected) << c.userDirs;
        EXPECT_TRUE(std::filesystem::is_directory(c.expected)) << c.expected;
    }
}

TEST_F(SettingsTest, AutostartEntryFollowsWinStartUp) {
    const std::string entry = m_strConfig + "/autostart/Vokra.desktop";
    const std::string oldEntry =
        m_strConfig + "/autostart/Vokra - Answering Machine for Skype™ users.desktop";
    EXPECT_EQ(GetStartupShortcutPath(), entry);

    WinStartUp = 1;
    ASSERT_TRUE(WriteAllSettings());
    const std::string text = ReadFileBytes(entry);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nName=Vokra\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"" + GetProgramPath() + "\"\n"), std::string::npos) << text;

    WriteFileBytes(oldEntry, "[Desktop Entry]\n");
    WinStartUp = 0;
    ASSERT_TRUE(WriteAdvancedSettings());
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(std::filesystem::exists(oldEntry));
    ASSERT_TRUE(WriteAdvancedSettings());  // deleting what is not there is no error
    EXPECT_EQ(m_log.Warnings(), 0);

    WinStartUp = 1;
    WriteFileBytes(oldEntry, "[Desktop Entry]\n");
    UpdateStartupShortcut();
    EXPECT_TRUE(std::filesystem::exists(entry));
    EXPECT_FALSE(std::filesystem::exists(oldEntry));
}

TEST_F(SettingsTest, AutostartEntryThatCannotBeMadeShowsText600) {
    std::filesystem::create_directories(m_strConfig);
    WriteFileBytes(m_strConfig + "/autostart", "a file where the folder should be");
    CAnsweringMessageBox box;
    {
        CScopedMessageBoxService scope(box);
        WinStartUp = 1;
        EXPECT_TRUE(WriteAllSettings());  // the settings themselves are saved
    }
    ASSERT_EQ(box.m_vecShown.size(), 1u);
    EXPECT_EQ(box.m_vecShown[0].caption, "Vokra");
    EXPECT_EQ(box.m_vecShown[0].text, "Unable to add shortcut to the startup folder.");
    EXPECT_EQ(box.m_vecShown[0].type, MB_OK | MB_ICONERROR);

    // Without a user interface the text goes to the log.
    m_log.Clear();
    UpdateStartupShortcut();
    EXPECT_EQ(m_log.Warnings("Unable to add shortcut to the startup folder."), 1);
}

TEST_F(SettingsTest, FactoryResetDeletesTheFileAndBringsDefaultsAndEnglishBack) {
    const std::string pack = m_strProgram + "Vokra_Test.lang";
    WriteFileBytes(pack,
                   "[Version]\nProductVersion=1.0\n[Strings]\n2=Test - Test\n3=Nachrichten\n");
    ChangeEverySetting();
    LanguageFilePath = pack;
    ASSERT_TRUE(WriteAllSettings());
    LoadLanguageLibrary(LanguageFilePath);
    ASSERT_EQ(LoadText(IDS_MENU_MESSAGES), "Nachrichten");
    WinTop = 3;

    ResetToFactoryDefaults();
    EXPECT_FALSE(std::filesystem::exists(IniPath()));
    ExpectEveryDefault();
    EXPECT_EQ(WinTop, -1);
    EXPECT_EQ(LoadText(IDS_MENU_MESSAGES), "Messages");
    EXPECT_EQ(CurrentLanguageLibrary(), "");

    ASSERT_TRUE(WriteAllSettings());  // the next start writes a complete file again
    EXPECT_EQ(ReadFileBytes(IniPath()), kDefaultFile);
}

}  // namespace
