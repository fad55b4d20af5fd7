// The start-up of the whole program: one instance per user, the cable search's verdict, the
// debug log by DebugFileLevel, and a full start and Quit on the virtual devices.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "WaveTestUtil.h"
#include "app/CableNames.h"
#include "app/ShellTestSupport.h"
#include "app/StringTable.h"
#include "app/WindowMessages.h"
#include "main/HeadlessShell.h"
#include "main/VokraApp.h"
#include "messages/MessageAudioStages.h"
#include "platform/audio/VirtualWave.h"

namespace {

class CSheetWatch : public IVokraWndListener {
public:
    void OnShowSheet(int page) override { m_vecPages.push_back(page); }
    void OnRefreshPage(int) override {}
    void OnShowBalloon(int, int) override {}
    void OnUpdateTrayIcon() override {}
    std::vector<int> m_vecPages;
};

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

}  // namespace

class VokraAppTest : public CShellTest {
protected:
    void SetUp() override {
        CShellTest::SetUp();
        m_strLock = m_strRoot + "run";
        std::filesystem::create_directories(m_strLock);
        m_loop.Bind();
    }
    void TearDown() override {
        SetWaveBackend(CreateVirtualWaveBackend());
        for (std::string* s : {&g_strVac1PlaybackDevice, &g_strVac2PlaybackDevice,
                               &g_strVac1RecordingDevice, &g_strVac2RecordingDevice})
            s->clear();
        CShellTest::TearDown();
    }
    std::string LogFile() const { return m_strProgram + CVokraApp::kLogBaseName + "_0.log"; }

    std::string m_strLock;
    CMsgLoop m_loop;
    CAnsweringMessageBox m_boxes;
    CScopedMessageBoxService m_scopedBoxes{m_boxes};
};

TEST_F(VokraAppTest, ASecondStartShowsTheFirstOnesAboutPageAndTouchesNothing) {
    // The first instance: its lock and its main window.
    CSingleInstanceLock first;
    ASSERT_EQ(first.Acquire(m_strLock), CSingleInstanceLock::LOCK_TAKEN);
    CVokraWndCore wnd;
    CSheetWatch watch;
    ASSERT_TRUE(wnd.Create(m_loop));
    wnd.SetListener(&watch);

    {
        std::ofstream(IniPath()) << "[Settings]\nDebugFileLevel=4\n";
        CVokraApp second;
        second.SetLockFolder(m_strLock);
        EXPECT_FALSE(second.InitInstance(m_loop));
        EXPECT_EQ(second.MainWnd(), nullptr);
    }
    m_loop.PumpUntilIdle();
    EXPECT_EQ(watch.m_vecPages, std::vector<int>{SHEET_PAGE_ABOUT});
    EXPECT_EQ(ReadFileBytes(IniPath()), "[Settings]\nDebugFileLevel=4\n") << "settings untouched";
    EXPECT_FALSE(Exists(LogFile())) << "no log opened";
    EXPECT_TRUE(m_boxes.m_vecShown.empty());

    // Once the first has gone, a start takes the lock.
    first.Release();
    CSingleInstanceLock next;
    EXPECT_EQ(next.Acquire(m_strLock), CSingleInstanceLock::LOCK_TAKEN);
}

TEST_F(VokraAppTest, MissingCablesEndTheStartWithText602) {
    const std::string c1 = "Vokra Virtual Cable 1";
    SetWaveBackend(std::make_unique<wavetest::CNamesBackend>(
        std::vector<std::string>{"Speakers", c1}, std::vector<std::string>{}));
    CVokraApp app;
    app.SetLockFolder(m_strLock);
    EXPECT_FALSE(app.InitInstance(m_loop));
    ASSERT_EQ(m_boxes.m_vecShown.size(), 1u);
    EXPECT_EQ(m_boxes.m_vecShown[0].text, LoadText(IDS_ERR_NO_AUDIO_CABLES));
    EXPECT_NE(m_boxes.m_vecShown[0].text.find("scripts/cables up"), std::string::npos);
    EXPECT_EQ(m_boxes.m_vecShown[0].type, MB_OK);
    app.ExitInstance();
    // The refused start held the lock only while it ran.
    CSingleInstanceLock next;
    EXPECT_EQ(next.Acquire(m_strLock), CSingleInstanceLock::LOCK_TAKEN);
}

TEST_F(VokraAppTest, AFullStartAndQuitOnTheVirtualDevicesWithAndWithoutTheLog) {
    for (const int level : {0, 4}) {
        SCOPED_TRACE(level);
        std::filesystem::remove(LogFile());
        std::ofstream(IniPath()) << "[Settings]\nDebugFileLevel=" << level << "\n";
        SetWaveBackend(CreateVirtualWaveBackend());
        CHeadlessShell shell(m_loop, nullptr);
        CVokraApp app;
        app.SetLockFolder(m_strLock);
        app.SetShell(&shell);
        ASSERT_TRUE(app.InitInstance(m_loop));
        EXPECT_EQ(g_pVokraApp, &app);
        EXPECT_EQ(g_strVac1RecordingDevice, "Vokra Virtual Cable 1");
        EXPECT_EQ(g_strVac2PlaybackDevice, "Vokra Virtual Cable 2");
        EXPECT_NE(g_pMessageAudioStages, nullptr);
        EXPECT_EQ(FindWindowByTitle("Vokra"), app.MainWnd()->GetSafeHwnd());
        // Every key was written back.
        EXPECT_NE(ReadFileBytes(IniPath()).find("SecB4AnsweringOnline="), std::string::npos);

        // Nobody to connect to: Quit ends at once, and the loop with it.
        ASSERT_TRUE(app.MainWnd()->Shutdown());
        EXPECT_EQ(m_loop.Run(), 0);
        app.ExitInstance();
        EXPECT_EQ(g_pMessageAudioStages, nullptr);
        EXPECT_EQ(FindWindowByTitle("Vokra"), 0u);

        if (level == 0) {
            EXPECT_FALSE(Exists(LogFile()));
        } else {
            const std::string log = ReadFileBytes(LogFile());
            EXPECT_NE(log.find("Hello message from Vokra"), std::string::npos);
            EXPECT_NE(log.find(std::string("Starting Vokra version: ") + VokraVersion()),
                      std::string::npos);
            EXPECT_NE(log.find("Starting Log File in level: 4"), std::string::npos);
        }
    }
    EXPECT_STREQ(VokraVersion(), VOKRA_TEST_PROJECT_VERSION);
}

TEST(RuntimeFolderTest, WithoutXdgRuntimeDirAPrivateFolderUnderTmp) {
    CEnvOverride env;
    env.Set("XDG_RUNTIME_DIR", "relative/not/allowed");
    const std::string folder = GetRuntimeFolder();
    EXPECT_EQ(folder, "/tmp/vokra-" + std::to_string(getuid()));
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    CTempDir tmp;
    env.Set("XDG_RUNTIME_DIR", tmp.Dir());
    EXPECT_EQ(GetRuntimeFolder() + "/", tmp.Dir());
}
