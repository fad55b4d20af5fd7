// The tray with the real handler thread, transport and sender, attached to the substitute Skype
// client: the icon and tooltip follow the real connection, and Quit ends the link.
#include <gtest/gtest.h>

#include "TestClock.h"
#include "app/Languages.h"
#include "calls/CallsTestSupport.h"
#include "calls/User.h"
#include "main/VokraWndCore.h"
#include "sim/SkypeSim.h"

using namespace callstest;

namespace {

class CTrayShell : public IVokraShell {
public:
    bool AddTrayIcon(ETrayIcon icon, const std::string&) override {
        m_vecIcons.push_back(icon);
        return true;
    }
    bool ModifyTrayIcon(ETrayIcon icon) override {
        m_vecIcons.push_back(icon);
        return true;
    }
    bool SetTrayTip(const std::string& strTip) override {
        m_strTip = strTip;
        return true;
    }
    void DeleteTrayIcon() override {}
    bool ShowBalloon(const std::string&, const std::string&, uint32_t) override { return true; }
    void ShowTrayMenu(const CTrayMenu&) override {}
    bool OpenSheet(const std::string&, int) override { return false; }
    void ActivateSheet(int) override {}
    int GetActiveSheetPage() const override { return -1; }
    void RefreshSheetPage(int) override {}
    void PlayNewMessages() override {}
    void CloseSheet() override {}
    bool IsAdvancedDialogOpen() const override { return false; }
    void RaiseAdvancedDialog() override {}
    bool OpenUrl(const std::string&) override { return false; }
    void EndApplication() override { m_bEnded = true; }

    std::vector<ETrayIcon> m_vecIcons;
    std::string m_strTip;
    bool m_bEnded = false;
};

}  // namespace

class TrayLinkTest : public CCallsEnv {
protected:
    void TearDown() override {
        m_core.Shutdown();
        m_clock.Settle({&m_loop});
        m_sim.Stop();
        CCallsEnv::TearDown();
    }
    bool RunUntil(const std::function<bool()>& pred, uint64_t maxMs) {
        return m_clock.RunUntil(pred, maxMs, {&m_loop});
    }

    CTestClock m_clock{CWallTime{1136279107, 0}};
    CScopedClock m_scoped{m_clock};
    CMsgLoop m_loop;
    CSkypeSim m_sim;
    CTrayShell m_shell;
    CVokraWndCore m_core;
};

TEST_F(TrayLinkTest, IconAndTooltipFollowTheLinkAndQuitEndsIt) {
    m_loop.Bind();
    m_sim.SetCurrentUser("me", "Me Myself");
    ASSERT_TRUE(m_sim.Start(&m_loop));
    ASSERT_TRUE(m_core.Create(m_loop));
    m_core.SetShell(&m_shell);
    ASSERT_TRUE(m_core.Init());
    EXPECT_TRUE(m_log.Has("LanguagesInit( " + GetLanguageFolder() + " )", INFO));
    ASSERT_TRUE(m_clock.WaitForParticipants(2));  // the sender and the handler
    EXPECT_EQ(m_shell.m_vecIcons.front(), TRAY_ICON_IDLE);

    // Connected and the user known: the next tick shows the enabled icon and the user's name.
    ASSERT_TRUE(RunUntil(
        [this] {
            return m_core.GetTrayIcon() == TRAY_ICON_ENABLED &&
                   m_shell.m_strTip == "Vokra (Me Myself) - Enable";
        },
        20000));

    // Skype goes away: once the transport gives up finding it, back to idle and waiting.
    m_sim.Stop();
    ASSERT_TRUE(RunUntil([this] { return m_core.GetTrayIcon() == TRAY_ICON_IDLE; }, 300000));
    EXPECT_EQ(m_shell.m_strTip, "Vokra - Waiting for Skype® to be available");

    EXPECT_TRUE(m_core.Shutdown());
    m_clock.Settle({&m_loop});
    EXPECT_TRUE(m_shell.m_bEnded);
    EXPECT_EQ(g_pSTL != nullptr ? g_pSTL->GetConnectionState() : -1, -1) << "the link ended";
}
