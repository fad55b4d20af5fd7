#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestFiles.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"

namespace {

// Prefix and number appended piece by piece: gcc 12 takes "u" + std::to_string(i) for an
// overlapping copy (-Wrestrict) at -O2 and above.
std::string Numbered(const char* prefix, int i) {
    std::string s = prefix;
    s += std::to_string(i);
    return s;
}

class IniFileTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_tmp.Ok()); }
    CTempDir m_tmp{"vokra_ini"};
    const std::string m_strDir = m_tmp.Dir();
};

CIniFile FromText(const std::string& text) {
    CIniFile ini;
    ini.SetText(text);
    return ini;
}

struct IntCase {
    const char* text;
    CIniFile::EValue expected;
    int32_t value;
};

TEST(IniFile, ReadsIntegersAsThe32BitDecimalsTheyWereWrittenAs) {
    const IntCase cases[] = {
        {"[Settings]\nA=5\n", CIniFile::VALUE_OK, 5},
        {"[settings]\na=5\n", CIniFile::VALUE_OK, 5},  // names ignore ASCII case
        {"  [ Settings ]  \n  A  =  7  \n", CIniFile::VALUE_OK, 7},
        {"[Settings]\r\nA=8\r\n", CIniFile::VALUE_OK, 8},  // CR LF lines
        {"[Settings]\nA=4294967295\n", CIniFile::VALUE_OK, -1},
        {"[Settings]\nA=2147483648\n", CIniFile::VALUE_OK, INT32_MIN},
        {"[Settings]\nA=-1\n", CIniFile::VALUE_OK, -1},
        {"[Settings]\nA=12abc\n", CIniFile::VALUE_OK, 12},  // digits up to the first other
        {"[Settings]\nA=\"40\"\n", CIniFile::VALUE_OK, 40},
        {"[Settings]\nA=1\nA=2\n", CIniFile::VALUE_OK, 1},  // the first key wins
        {"[Settings]\nA=1\n[Settings]\nA=2\n", CIniFile::VALUE_OK, 1},
        {"[Settings]\nA=abc\n", CIniFile::VALUE_MALFORMED, 0},
        {"[Settings]\nA=\n", CIniFile::VALUE_MALFORMED, 0},
        {"[Settings]\nA=-\n", CIniFile::VALUE_MALFORMED, 0},
        {"[Settings]\nA=4294967296\n", CIniFile::VALUE_MALFORMED, 0},
        {"[Settings]\nA=99999999999999999999999\n", CIniFile::VALUE_MALFORMED, 0},
        {"[Settings]\nA=-2147483649\n", CIniFile::VALUE_MALFORMED, 0},
        {"A=5\n[Settings]\n", CIniFile::VALUE_MISSING, 0},  // before any section
        {"[Other]\nA=5\n", CIniFile::VALUE_MISSING, 0},
        {"[Settings]\n;A=5\n#A=5\n", CIniFile::VALUE_MISSING, 0},
        {"[Settings]\nAB=5\n", CIniFile::VALUE_MISSING, 0},
        {"", CIniFile::VALUE_MISSING, 0},
    };
    for (const IntCase& c : cases) {
        int32_t v = 12345;
        EXPECT_EQ(FromText(c.text).GetInt("Settings", "A", v), c.expected) << c.text;
        EXPECT_EQ(v, c.expected == CIniFile::VALUE_OK ? c.value : 12345) << c.text;
    }
}

TEST(IniFile, StripsOnePairOfQuotesAndCutsLongStringsOnUtf8Boundaries) {
    struct {
        std::string raw, expected;
        CIniFile::EValue result;
    } cases[] = {
        {"plain", "plain", CIniFile::VALUE_OK},
        {"\"quoted\"", "quoted", CIniFile::VALUE_OK},
        {"\"\"twice\"\"", "\"twice\"", CIniFile::VALUE_OK},
        {"\"open", "\"open", CIniFile::VALUE_OK},
        {"close\"", "close\"", CIniFile::VALUE_OK},
        {"\"", "\"", CIniFile::VALUE_OK},
        {"\" padded \"", " padded ", CIniFile::VALUE_OK},
        {"a=b", "a=b", CIniFile::VALUE_OK},  // only the first '=' separates
        {"", "", CIniFile::VALUE_OK},
        {std::string(300, 'x'), std::string(255, 'x'), CIniFile::VALUE_CUT},
        {std::string(1, '"').append(300, 'x').append(1, '"'), std::string(255, 'x'),
         CIniFile::VALUE_CUT},
        // "ü" is two bytes at 254..255: it would be split, so it goes as a whole
        {std::string(254, 'a') + "üb", std::string(254, 'a'), CIniFile::VALUE_CUT},
        {std::string(253, 'a') + "üb", std::string(253, 'a') + "ü", CIniFile::VALUE_CUT},
        {std::string(253, 'a') + "ü", std::string(253, 'a') + "ü", CIniFile::VALUE_OK},
    };
    for (const auto& c : cases) {
        std::string v = "untouched";
        EXPECT_EQ(FromText("[S]\nK=" + c.raw + "\n").GetString("S", "K", v), c.result) << c.raw;
        EXPECT_EQ(v, c.expected) << c.raw;
    }
    std::string v;
    EXPECT_EQ(FromText("[S]\nK=" + std::string(600, 'y')).GetString("S", "K", v, 1000),
              CIniFile::VALUE_OK);
    EXPECT_EQ(v.size(), 600u);
}

TEST(IniFile, Utf8CutNeverEndsInsideACharacter) {
    const std::string euro = "€";  // 3 bytes
    const std::string clef = "𝄞";  // 4 bytes
    EXPECT_EQ(Utf8Cut("abc", 5), "abc");
    EXPECT_EQ(Utf8Cut("abc", 2), "ab");
    EXPECT_EQ(Utf8Cut("a" + euro, 1), "a");
    EXPECT_EQ(Utf8Cut("a" + euro, 2), "a");
    EXPECT_EQ(Utf8Cut("a" + euro, 3), "a");
    EXPECT_EQ(Utf8Cut("a" + euro + "b", 4), "a" + euro);
    EXPECT_EQ(Utf8Cut(clef + "x", 3), "");
    EXPECT_EQ(Utf8Cut(clef + "x", 4), clef);
    // Bytes that are not UTF-8 are cut where the limit says.
    EXPECT_EQ(Utf8Cut("\x80\x80\x80\x80\x80", 3), "\x80\x80\x80");
    EXPECT_EQ(Utf8Cut("ab\xff\x80\x80", 3), "ab\xff");
}

TEST(IniFile, WritingAKeyKeepsEveryOtherLineByteForByte) {
    const std::string before =
        "; written by hand\n"
        "[Other]\n"
        "AnswerAllowed=7\n"
        "\n"
        "[Settings]\n"
        "Unknown=kept\n"
        "answerallowed = 0   \n"
        "# a comment inside\n"
        "\n"
        "[Third]\n"
        "X=1\n";
    CIniFile ini = FromText(before);
    EXPECT_TRUE(ini.SetInt("Settings", "AnswerAllowed", 1));  // replaced in place
    EXPECT_TRUE(ini.SetInt("Settings", "WinTop", -1));        // added at the end of its section
    EXPECT_TRUE(ini.SetString("New", "Key", "v"));            // section added at the end
    EXPECT_EQ(ini.GetText(),
              "; written by hand\n"
              "[Other]\n"
              "AnswerAllowed=7\n"
              "\n"
              "[Settings]\n"
              "Unknown=kept\n"
              "AnswerAllowed=1\n"
              "# a comment inside\n"
              "WinTop=4294967295\n"
              "\n"
              "[Third]\n"
              "X=1\n"
              "\n"
              "[New]\n"
              "Key=v\n");
}

TEST(IniFile, WritesIntoFilesWithoutFinalNewlineOrWithCrLf) {
    CIniFile a = FromText("[Settings]\nA=1");
    a.SetInt("Settings", "B", 2);
    EXPECT_EQ(a.GetText(), "[Settings]\nA=1\nB=2\n");

    CIniFile b = FromText("junk without newline");
    b.SetInt("Settings", "A", 1);
    EXPECT_EQ(b.GetText(), "junk without newline\n\n[Settings]\nA=1\n");

    CIniFile c = FromText("[Settings]\r\nA=1\r\n");
    c.SetInt("Settings", "A", 3);
    c.SetInt("Settings", "B", 4);
    EXPECT_EQ(c.GetText(), "[Settings]\r\nA=3\r\nB=4\r\n");

    CIniFile d;
    d.SetString("Settings", "A", "x");
    EXPECT_EQ(d.GetText(), "[Settings]\nA=x\n");
}

TEST(IniFile, StringsReadBackAsTheyWereWritten) {
    const std::string values[] = {
        "",
        "plain text",
        "\"begins with a quote",
        "\"fully quoted\"",
        "\"",
        "ends with a quote\"",
        "  leading blanks",
        "trailing blank ",
        "\ttab",
        "a = b ; not a comment",
        "[not a section]",
        "Grüße, 山田 ®™",
    };
    for (const std::string& v : values) {
        CIniFile w;
        ASSERT_TRUE(w.SetString("S", "K", v));
        std::string back = "untouched";
        EXPECT_EQ(FromText(w.GetText()).GetString("S", "K", back), CIniFile::VALUE_OK) << v;
        EXPECT_EQ(back, v) << w.GetText();
    }
}

TEST(IniFile, LineBreaksCannotInjectKeysAndBadNamesAreRefused) {
    CIniFile ini;
    EXPECT_FALSE(ini.SetString("S", "K", "hello\nWinStartUp=0\r\n"));
    EXPECT_EQ(ini.GetText(), "[S]\nK=\"hello WinStartUp=0  \"\n");
    int32_t v = 0;
    EXPECT_EQ(ini.GetInt("S", "WinStartUp", v), CIniFile::VALUE_MISSING);

    std::string withNul("a\0b", 3);
    EXPECT_FALSE(ini.SetString("S", "N", withNul));
    std::string back;
    ini.GetString("S", "N", back);
    EXPECT_EQ(back, "a b");

    const std::string before = ini.GetText();
    for (const char* bad : {"", "A=B", "[A", "A]", "A\nB", " A", ";A"}) {
        EXPECT_FALSE(ini.SetString("S", bad, "1")) << bad;
        EXPECT_FALSE(ini.SetString(bad, "K", "1")) << bad;
    }
    EXPECT_EQ(ini.GetText(), before);
}

TEST(IniFile, ReportsBinaryBytesAndLongLinesButStillReadsWhatItCan) {
    const char bytes[] =
        "\x7f"
        "ELF\0\0\x01[Settings]\nA=3\n\xff\xfe";
    const std::string garbage(bytes, sizeof bytes - 1);
    CIniFile a = FromText(garbage);
    EXPECT_TRUE(a.IsBinary());
    EXPECT_FALSE(a.Problems().empty());
    int32_t v = 0;
    EXPECT_EQ(a.GetInt("Settings", "A", v), CIniFile::VALUE_MISSING);  // the header is not alone

    CIniFile b = FromText("[Settings]\nLong=" + std::string(100000, 'z') + "\nA=4\n");
    EXPECT_FALSE(b.IsBinary());
    ASSERT_EQ(b.Problems().size(), 1u);
    EXPECT_NE(b.Problems()[0].find("line 2"), std::string::npos);
    EXPECT_EQ(b.GetInt("Settings", "A", v), CIniFile::VALUE_OK);
    EXPECT_EQ(v, 4);

    EXPECT_TRUE(FromText("[Settings]\nA=1\n").Problems().empty());
    EXPECT_TRUE(FromText("[S]\nK=Grüße\n").Problems().empty());
    EXPECT_TRUE(FromText("[S]\nK=\xc3\x28\n").IsBinary());  // invalid UTF-8
}

TEST(IniFile, GetSectionListsKeysInFileOrderFirstOccurrenceWins) {
    CIniFile ini = FromText("[Strings]\n3=c\n; note\n2=\" b \"\n3=again\n[Next]\n4=d\n");
    auto s = ini.GetSection("strings");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], std::make_pair(std::string("3"), std::string("c")));
    EXPECT_EQ(s[1], std::make_pair(std::string("2"), std::string(" b ")));
    EXPECT_TRUE(ini.GetSection("Missing").empty());
}

TEST_F(IniFileTest, LoadTellsMissingUnreadableAndLoadedApart) {
    CIniFile ini;
    EXPECT_EQ(ini.Load(m_strDir + "none.ini"), CIniFile::INI_MISSING);
    EXPECT_EQ(ini.Load(m_strDir), CIniFile::INI_UNREADABLE);  // a folder
    WriteFileBytes(m_strDir + "a.ini", "[S]\nK=1\n");
    EXPECT_EQ(ini.Load(m_strDir + "a.ini"), CIniFile::INI_LOADED);
    EXPECT_TRUE(ini.HasSection("S"));
    EXPECT_EQ(ini.Load(m_strDir + "none.ini"), CIniFile::INI_MISSING);
    EXPECT_FALSE(ini.HasSection("S"));  // contents replaced
}

TEST_F(IniFileTest, SaveReplacesTheFileAndKeepsItsPermissions) {
    const std::string path = m_strDir + "Vokra.ini";
    WriteFileBytes(path, "[Settings]\nA=1\n");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    CIniFile ini;
    ASSERT_EQ(ini.Load(path), CIniFile::INI_LOADED);
    ini.SetInt("Settings", "A", 2);
    ASSERT_TRUE(ini.Save(path));
    EXPECT_EQ(ReadFileBytes(path), "[Settings]\nA=2\n");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(IniFileTest, AFailedSaveLeavesTheOldFileWhole) {
    const std::string path = m_strDir + "Vokra.ini";
    const std::string old = "[Settings]\nA=1\n; the user's notes\n";
    WriteFileBytes(path, old);
    CIniFile ini;
    ini.SetText(old);
    ini.SetString("Settings", "Big", std::string(200, 'x'));
    for (int i = 0; i < 200; ++i)
        ini.SetInt("Settings", Numbered("K", i), i);

    // The disk fills up half-way: the file-size limit makes the write fail after 512 bytes.
    auto saveOnFullDisk = [&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        lim.rlim_cur = lim.rlim_max = 512;
        setrlimit(RLIMIT_FSIZE, &lim);
        int err = 0;
        bool ok = ini.Save(path, &err);
        _exit(!ok && err == EFBIG ? 0 : 1);
    };
    EXPECT_EXIT(saveOnFullDisk(), testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    // The temporary file cannot be made (its name is taken by a folder).
    std::filesystem::create_directory(path + ".tmp");
    int err = 0;
    EXPECT_FALSE(ini.Save(path, &err));
    EXPECT_NE(err, 0);
    EXPECT_EQ(ReadFileBytes(path), old);

    EXPECT_FALSE(ini.Save(m_strDir + "no/such/folder/Vokra.ini"));
}

}  // namespace
