#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "ShellTestSupport.h"
#include "app/Languages.h"
#include "app/StringTable.h"
#include "platform/IniFile.h"
#include "platform/StrUtil.h"

namespace {

class LanguagesTest : public CShellTest {
protected:
    void SetUp() override {
        CShellTest::SetUp();
        m_strFolder = m_strProgram + "Language/";
        std::filesystem::create_directories(m_strFolder);
    }
    // Writes Language/<file> with the given version line (none when null) and [Strings] body.
    std::string Pack(const std::string& file, const char* version, const std::string& strings,
                     const std::string& comments = "") {
        std::string text = "; a language pack\n";
        if (version) {
            text += "[Version]\nProductVersion=" + std::string(version) + "\n";
            if (!comments.empty())
                text += "Comments=" + comments + "\n";
        }
        text += "[Strings]\n" + strings;
        WriteFileBytes(m_strFolder + file, text);
        return m_strFolder + file;
    }
    std::vector<std::string> ListedNames() const {
        std::vector<std::string> names;
        for (const CLanguageEntry& e : g_LanguageList)
            names.push_back(e.m_strDisplayName);
        return names;
    }

    std::string m_strFolder;
};

TEST(StringTable, IsSortedUniqueAndHoldsTheExactTexts) {
    auto [b, e] = BuiltInTextTable();
    ASSERT_GT(e - b, 100);
    for (auto* p = b + 1; p < e; ++p)
        EXPECT_LT(p[-1].m_uId, p->m_uId);
    for (auto* p = b; p < e; ++p)
        EXPECT_TRUE(IsValidUtf8(p->m_pszText)) << p->m_uId;

    const std::map<UINT, std::string> samples = {
        {2, "English - English"},
        {15,
         "Skype refused connection from Vokra. Please change this setting in Skype then restart "
         "Vokra.\nGoto: Skype->File->Option->Privacy->Manage other programs' access to Skype and "
         "Allow Vokra access to API."},
        {37, "Waiting for Skype® to be available"},
        {79, "Click here if you need to restore all  options to their factory defaults"},
        {96, "Delete && Play Next"},
        {100, "Can't find file: "},
        {104, "Going to delete the following messages: "},
        {105, "\nFrom %s, received on %s"},
        {106,
         "Valid values for max recording duration are between 0 and %d seconds, were 0 is "
         "infinite"},
        {124, "Force Answering of Call"},
        {600, "Unable to add shortcut to the startup folder."},
        {601, "Unable to create window."},
        {602,
         "Could not detect installation of 'Vokra Audio Cables' audio device. \nPlease reinstall "
         "Vokra.\nOn Linux, run 'scripts/cables up' to make the cables."},
    };
    for (const auto& [id, text] : samples)
        EXPECT_EQ(LoadText(id), text) << id;
    EXPECT_EQ(LoadText(1), "");
    EXPECT_EQ(LoadText(24), "");
    EXPECT_EQ(LoadText(9999), "");
}

TEST_F(LanguagesTest, NoFolderOrNoPacksListsOnlyTheBuiltInLanguage) {
    LanguagesInit(m_strRoot + "missing/");
    ASSERT_EQ(g_LanguageList.size(), 1u);
    EXPECT_EQ(g_LanguageList[0].m_strFilePath, "");
    EXPECT_EQ(g_LanguageList[0].m_strDisplayName, "English - English");
    LanguagesInit(m_strFolder, true);
    EXPECT_EQ(ListedNames(), std::vector<std::string>{"English - English"});
}

TEST_F(LanguagesTest, PacksAreSortedByteWiseAroundTheBuiltInEntry) {
    const std::string fr = Pack("Vokra_Francais.lang", "1.0", "2=Francais - Francais\n");
    const std::string de = Pack("Vokra_Deutsch.lang", "1.0", "2=Deutsch - Deutsch\n");
    Pack("Vokra_cs.lang", "1.0", "2=Czech - Čeština\n");
    Pack("Vokra_lower.lang", "1.0", "2=deutsch - klein\n");
    LanguagesInit(m_strFolder);
    EXPECT_EQ(ListedNames(),
              (std::vector<std::string>{"Czech - Čeština", "Deutsch - Deutsch", "English - English",
                                        "Francais - Francais", "deutsch - klein"}));
    EXPECT_EQ(g_LanguageList[1].m_strFilePath, de);
    EXPECT_EQ(g_LanguageList[2].m_strFilePath, "");
    EXPECT_EQ(g_LanguageList[3].m_strFilePath, fr);
    EXPECT_EQ(CurrentLanguageLibrary(), "");  // every pack was unloaded again

    // It runs once; a new pack shows only when forced.
    Pack("Vokra_Alpha.lang", "1.0", "2=Alpha - Alpha\n");
    LanguagesInit(m_strFolder);
    EXPECT_EQ(g_LanguageList.size(), 5u);
    LanguagesInit(m_strFolder, true);
    EXPECT_EQ(g_LanguageList.size(), 6u);
    EXPECT_EQ(g_LanguageList[0].m_strDisplayName, "Alpha - Alpha");
}

TEST_F(LanguagesTest, OnlyPacksWithMajorVersionOneOrMoreAreListed) {
    const struct {
        const char* version;  // nullptr: no [Version] section
        bool listed;
    } cases[] = {
        {"1.0", true},     {"2.3", true},   {"1", true},        {"1,0,0,0", true},
        {"65535.0", true}, {"0.9", false},  {"0", false},       {"", false},
        {"abc", false},    {"1x.0", false}, {"70000.1", false}, {nullptr, false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(m_strFolder);
        std::filesystem::create_directories(m_strFolder);
        Pack("Vokra_V.lang", c.version, "2=Versioned - Versioned\n");
        LanguagesInit(m_strFolder, true);
        EXPECT_EQ(g_LanguageList.size(), c.listed ? 2u : 1u) << (c.version ? c.version : "none");
    }
}

TEST_F(LanguagesTest, OnlyFilesMatchingThePatternAreConsidered) {
    Pack("Vokra_Good.lang", "1.0", "2=Good - Good\n");
    for (const char* other : {"vokra_Low.lang", "Vokra_Bak.lang.bak", "Other.lang", "Vokra.lang"})
        Pack(other, "1.0", "2=Wrong - Wrong\n");
    std::filesystem::create_directories(m_strFolder + "Vokra_Folder.lang");
    LanguagesInit(m_strFolder);
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"English - English", "Good - Good"}));
}

TEST_F(LanguagesTest, APartialTranslationFallsBackPerText) {
    const std::string path = Pack("Vokra_Part.lang", "1.0",
                                  "2=Teil - Teil\n3=Nachrichten\n11=\n4=   \n99999=too big\nx=1\n");
    LoadLanguageLibrary(path);
    EXPECT_EQ(CurrentLanguageLibrary(), path);
    EXPECT_EQ(LoadText(IDS_LANGUAGE_NAME), "Teil - Teil");
    EXPECT_EQ(LoadText(IDS_MENU_MESSAGES), "Nachrichten");
    EXPECT_EQ(LoadText(IDS_MENU_PLAY_NEW_MESSAGES), "Play New Messages");  // blank
    EXPECT_EQ(LoadText(IDS_MENU_QUIT), "Quit");                            // empty
    EXPECT_EQ(LoadText(IDS_MENU_HELP), "Help");                            // missing
    EXPECT_EQ(m_log.Warnings("not a text id"), 1);

    LoadLanguageLibrary("");
    EXPECT_EQ(LoadText(IDS_MENU_MESSAGES), "Messages");
    LoadLanguageLibrary(path);
    UnloadLanguageLibrary();
    EXPECT_EQ(LoadText(IDS_MENU_MESSAGES), "Messages");
}

TEST_F(LanguagesTest, EscapesQuotesAndLengthLimitOfPackTexts) {
    const std::string long600 = std::string(509, 'l') + "€" + "tail";  // € at bytes 509..511
    const std::string path = Pack("Vokra_Esc.lang", "1.0",
                                  "15=line one\\nline two\\ttabbed \\\\ back\\q\n"
                                  "104=\"Folgende Nachrichten: \"\n"
                                  "105=\\nVon %s, am %s\n"
                                  "14=" +
                                      long600 + "\n");
    LoadLanguageLibrary(path);
    EXPECT_EQ(LoadText(15), "line one\nline two\ttabbed \\ back\\q");
    EXPECT_EQ(LoadText(104), "Folgende Nachrichten: ");
    EXPECT_EQ(LoadText(105), "\nVon %s, am %s");
    EXPECT_EQ(LoadText(14), std::string(509, 'l'));  // 511 bytes would split the "€"
}

TEST_F(LanguagesTest, TextsWithOtherFormatDirectivesAreNotUsed) {
    const std::string path = Pack("Vokra_Fmt.lang", "1.0",
                                  "103=%s %s %s\n"         // one argument too many
                                  "106=Bis %s Sekunden\n"  // a string where a number goes
                                  "110=Zwischen 0 und %5d Sekunden, 100%%\n"  // fine
                                  "99=%n%s\n"
                                  "3=Nachrichten %d\n"  // a directive the original lacks
                                  "5000=%s\n");         // no original to compare with
    LoadLanguageLibrary(path);
    EXPECT_EQ(LoadText(103), "Going to delete message from %s, received on %s");
    EXPECT_EQ(LoadText(106), BuiltInText(106));
    EXPECT_EQ(LoadText(110), "Zwischen 0 und %5d Sekunden, 100%%");
    EXPECT_EQ(LoadText(99), BuiltInText(99));
    EXPECT_EQ(LoadText(3), "Messages");
    EXPECT_EQ(LoadText(5000), "");
    EXPECT_EQ(m_log.Warnings("directives"), 5);
}

TEST_F(LanguagesTest, MalformedPacksNeverCrashAndAreLogged) {
    std::string binary =
        "\x7f"
        "ELF";
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 131) % 256);
    WriteFileBytes(m_strFolder + "Vokra_Binary.lang", binary);
    // A readable version but strings that cannot be used: listed under the built-in name.
    WriteFileBytes(m_strFolder + "Vokra_Broken.lang",
                   "[Version]\nProductVersion=1.0\n[Strings]\n2=Kaputt\n" + binary);
    WriteFileBytes(m_strFolder + "Vokra_NoStrings.lang", "[Version]\nProductVersion=1.0\n");
    const std::string longLine =
        Pack("Vokra_Long.lang", "1.0",
             "2=Lang - Lang\n3=" + std::string(100000, 'w') + "\n4=Neue abspielen\n");

    LanguagesInit(m_strFolder);
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"English - English", "English - English",
                                                       "English - English", "Lang - Lang"}));
    EXPECT_GE(m_log.Warnings(), 4);

    LoadLanguageLibrary(m_strFolder + "Vokra_Broken.lang");
    EXPECT_EQ(CurrentLanguageLibrary(), "");
    EXPECT_EQ(LoadText(IDS_LANGUAGE_NAME), "English - English");

    LoadLanguageLibrary(longLine);
    EXPECT_EQ(LoadText(3), std::string(511, 'w'));
    EXPECT_EQ(LoadText(4), "Neue abspielen");

    LoadLanguageLibrary(m_strFolder + "Vokra_Missing.lang");
    EXPECT_EQ(CurrentLanguageLibrary(), "");
    EXPECT_EQ(LoadText(IDS_MENU_MESSAGES), "Messages");
}

TEST_F(LanguagesTest, CommentsOfAPackAreItsCreditLine) {
    std::string comments = "stale";
    EXPECT_FALSE(GetLanguagePackComments(m_strFolder + "Vokra_None.lang", comments));
    EXPECT_EQ(comments, "");
    EXPECT_FALSE(GetLanguagePackComments(Pack("Vokra_A.lang", nullptr, "2=A - A\n"), comments));
    EXPECT_TRUE(GetLanguagePackComments(Pack("Vokra_B.lang", "1.0", "2=B - B\n"), comments));
    EXPECT_EQ(comments, "");
    EXPECT_TRUE(
        GetLanguagePackComments(Pack("Vokra_C.lang", "1.0", "2=C - C\n", "Von Jürgen"), comments));
    EXPECT_EQ(comments, "Von Jürgen");
}

// The German pack that ships with the program.
TEST_F(LanguagesTest, ShippedGermanPackTranslatesEveryText) {
    const std::string folder = std::string(VOKRA_SOURCE_DIR) + "/assets/Language/";
    const std::string path = folder + "Vokra_Deutsch.lang";
    CIniFile ini;
    ASSERT_EQ(ini.Load(path), CIniFile::INI_LOADED);
    EXPECT_TRUE(ini.Problems().empty());
    std::map<UINT, std::string> raw;
    for (const auto& [key, value] : ini.GetSection("Strings"))
        raw[std::stoul(key)] = value;

    LanguagesInit(folder);
    EXPECT_EQ(ListedNames(), (std::vector<std::string>{"Deutsch - Deutsch", "English - English"}));
    LoadLanguageLibrary(path);
    ASSERT_EQ(CurrentLanguageLibrary(), path);
    EXPECT_EQ(m_log.Warnings(), 0);

    auto [b, e] = BuiltInTextTable();
    std::set<UINT> ids;
    for (auto* p = b; p < e; ++p) {
        ids.insert(p->m_uId);
        ASSERT_TRUE(raw.count(p->m_uId)) << "text " << p->m_uId << " is not translated";
        // Whatever the pack says is what the program shows (escapes decoded).
        const std::string shown = LoadText(p->m_uId);
        EXPECT_FALSE(shown.empty()) << p->m_uId;
        EXPECT_EQ(shown.find('\\'), std::string::npos) << p->m_uId;
        const std::string& r = raw[p->m_uId];
        if (r.find("\\n") == std::string::npos && (r.empty() || r.front() != '"')) {
            EXPECT_EQ(shown, r) << p->m_uId;
        }
    }
    for (const auto& [id, text] : raw)
        EXPECT_TRUE(ids.count(id)) << "unknown id " << id;
    EXPECT_EQ(LoadText(IDS_MENU_QUIT), "Beenden");
    EXPECT_EQ(LoadText(IDS_PLAY_FILE_NOT_FOUND), "Datei nicht gefunden: ");
    EXPECT_EQ(LoadText(IDS_CONFIRM_DELETE_ITEM), "\nVon %s, empfangen am %s");

    std::string comments;
    EXPECT_TRUE(GetLanguagePackComments(path, comments));
    EXPECT_FALSE(comments.empty());
}

}  // namespace
