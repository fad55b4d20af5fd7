// The tray's logic without its drawing: the icon each state shows, the tooltip, the balloons,
// the menu and its commands, the sheet's opening and end, and Quit.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/Languages.h"
#include "app/MessageBox.h"
#include "app/Settings.h"
#include "app/StringTable.h"
#include "app/WindowMessages.h"
#include "calls/Call.h"
#include "calls/CallsTestSupport.h"
#include "calls/User.h"
#include "main/VokraWndCore.h"
#include "messages/MessageCollection.h"
#include "platform/StrUtil.h"

using namespace callstest;

namespace {

// The front end: keeps what it was asked to show, and has a sheet and a tray that a test can
// put into any state.
class CShellDouble : public IVokraShell {
public:
    bool AddTrayIcon(ETrayIcon icon, const std::string& strTip) override {
        Event(StrFormat("add %s '%s'", TrayIconName(icon), strTip.c_str()));
        m_bHasIcon = m_bDesktopTakesIcon;
        return m_bHasIcon;
    }
    bool ModifyTrayIcon(ETrayIcon icon) override {
        m_vecIcons.push_back(icon);
        return m_bHasIcon;
    }
    bool SetTrayTip(const std::string& strTip) override {
        m_vecTips.push_back(strTip);
        return true;
    }
    void DeleteTrayIcon() override {
        Event("delete icon");
        m_bHasIcon = false;
    }
    bool ShowBalloon(const std::string& strTitle, const std::string& strText,
                     uint32_t uTimeoutMs) override {
        Event(StrFormat("balloon '%s' '%s' %u", strTitle.c_str(), strText.c_str(), uTimeoutMs));
        return true;
    }
    void ShowTrayMenu(const CTrayMenu& menu) override {
        m_vecMenus.push_back(menu);
        Event("menu");
    }
    bool OpenSheet(const std::string& strCaption, int nPage) override {
        Event(StrFormat("open '%s' %d", strCaption.c_str(), nPage));
        m_bSheet = true;
        m_nActivePage = nPage;
        return true;
    }
    void ActivateSheet(int nPage) override {
        Event(StrFormat("activate %d", nPage));
        if (nPage != -1)
            m_nActivePage = nPage;
    }
    int GetActiveSheetPage() const override { return m_nActivePage; }
    void RefreshSheetPage(int nPage) override { Event(StrFormat("refresh %d", nPage)); }
    void PlayNewMessages() override { Event("play new"); }
    void CloseSheet() override {
        Event("close sheet");
        m_bSheet = false;
        if (m_pCore != nullptr)
            m_pCore->OnSheetEnded(false);
    }
    bool IsAdvancedDialogOpen() const override { return m_bAdvanced; }
    void RaiseAdvancedDialog() override { Event("raise advanced"); }
    bool OpenUrl(const std::string& strUrl) override {
        Event("url " + strUrl);
        return m_bUrlOpens;
    }
    void EndApplication() override { Event("end"); }

    void Event(const std::string& e) { m_vecEvents.push_back(e); }
    // The events since the last call.
    std::vector<std::string> Take() {
        std::vector<std::string> v;
        v.swap(m_vecEvents);
        return v;
    }

    CVokraWndCore* m_pCore = nullptr;
    bool m_bDesktopTakesIcon = true;
    bool m_bHasIcon = false;
    bool m_bSheet = false;
    int m_nActivePage = -1;
    bool m_bAdvanced = false;
    bool m_bUrlOpens = true;
    std::vector<std::string> m_vecEvents;
    std::vector<ETrayIcon> m_vecIcons;
    std::vector<std::string> m_vecTips;
    std::vector<CTrayMenu> m_vecMenus;
};

class CBoxes : public IMessageBoxService {
public:
    int MessageBox(const std::string&, const std::string& text, UINT) override {
        m_vecTexts.push_back(text);
        return IDOK;
    }
    std::vector<std::string> m_vecTexts;
};

// The core with the transport's state set by the test.
class CTrayCore : public CVokraWndCore {
public:
    int m_nState = STL_CONNECTED;

protected:
    int GetConnectionState() const override { return m_nState; }
};

// What the calls database holds at the moment the tray looks.
enum ECallKind {
    CALL_NONE,
    CALL_ANSWERING,      // answered by the machine, recording
    CALL_ANSWERED_DONE,  // answered by the machine, recording over
    CALL_USERS_OWN,      // a call the user talks on
};

std::vector<std::string> MenuTexts(const CTrayMenu& menu) {
    std::vector<std::string> v;
    for (const CTrayMenuItem& item : menu) {
        std::string s = item.m_bSeparator ? "-" : item.m_strText;
        for (const CTrayMenuItem& sub : item.m_vecSubmenu)
            s += " >" + sub.m_strText + (sub.m_bChecked ? "*" : "");
        v.push_back(s);
    }
    return v;
}

const std::vector<std::string> kEightItems = {
    "Messages", "Answering Mode >Enable >Disable", "-", "Options...", "About Vokra", "Help", "-",
    "Quit"};

}  // namespace

class TrayTest : public CCallsTest {
protected:
    void SetUp() override {
        CCallsTest::SetUp();
        g_bBlinkPhase = 0;
        m_shell.m_pCore = &m_core;
        ASSERT_TRUE(m_core.Create(m_ui));
        m_core.SetShell(&m_shell);
        m_core.Handler().AttachToCurrentThread();
        m_core.InitTray();
        {
            CCallsDataLock lock;
            gCurrentUser.m_strUserName = "me";
            gCurrentUser.m_strDisplayName = "Me Myself";
        }
    }
    void TearDown() override {
        {
            CCallsDataLock lock;
            m_vecCalls.clear();
        }
        ResetLanguagesForTests();
        CCallsTest::TearDown();
    }
    void Run(uint64_t ms) { PumpFor(m_clock, {&m_ui, &m_core.Handler().Loop()}, ms); }
    void Tick() { Run(CVokraWndCore::kTrayTickMs); }
    void Mouse(UINT uMouseMessage) {
        PostMessage(m_core.GetSafeHwnd(), CVokraWndCore::TaskbarMessage(), 0, uMouseMessage);
        Run(0);
    }
    void SetCalls(ECallKind kind, bool bRinging) {
        CCallsDataLock lock;
        if (kind != CALL_NONE) {
            auto pCall = std::make_unique<CCall>();
            pCall->m_bAnswered = kind != CALL_USERS_OWN;
            pCall->m_nAnswerState = kind == CALL_ANSWERING       ? ANSWER_RECORDING
                                    : kind == CALL_ANSWERED_DONE ? ANSWER_DONE
                                                                 : ANSWER_IDLE;
            g_pCurrentCall = pCall.get();
            m_vecCalls.push_back(std::move(pCall));
        }
        if (bRinging) {
            m_vecCalls.push_back(std::make_unique<CCall>());
            g_pRingingCall = m_vecCalls.back().get();
        }
    }
    // With a new message saved in the logged-in user's folder, read as the handler would; or
    // with none.
    void SetNewMessages(bool bNew) {
        std::filesystem::create_directories(UserFolder("me"));
        WriteWav(UserFolder("me") + "alice.2006.01.03.09.05.07.5.n.wav", 1600);
        CCallsDataLock lock;
        gMessagesDB.deleteAll();
        if (bNew)
            gMessagesDB.init("me");
    }
    bool SettingsFileHas(const std::string& line) const {
        std::ifstream in(GetSettingsFilePath());
        for (std::string l; std::getline(in, l);)
            if (l == line)
                return true;
        return false;
    }

    CMsgLoop m_ui;
    CShellDouble m_shell;
    CTrayCore m_core;
    std::vector<std::unique_ptr<CCall>> m_vecCalls;
};

// ---- The icon ----

TEST_F(TrayTest, IconForEachConnectionStateModeAndAnimation) {
    using I = std::vector<ETrayIcon>;
    const ETrayIcon IDLE = TRAY_ICON_IDLE, ON = TRAY_ICON_ENABLED, OFF = TRAY_ICON_DISABLED,
                    NEW = TRAY_ICON_NEW_MESSAGE, CALL = TRAY_ICON_CALL;
    struct {
        const char* name;
        int state;
        int allowed;
        ECallKind call;
        bool bNewMessage;
        I icons;  // on three ticks
    } cases[] = {
        {"no transport", -1, 1, CALL_ANSWERING, true, I{IDLE, IDLE, IDLE}},
        {"disconnected", STL_DISCONNECTED, 1, CALL_NONE, false, I{IDLE, IDLE, IDLE}},
        {"connecting", STL_CONNECTING, 1, CALL_ANSWERING, true, I{IDLE, IDLE, IDLE}},
        {"answering off", STL_CONNECTED, 0, CALL_ANSWERING, true, I{OFF, OFF, OFF}},
        {"answering on", STL_CONNECTED, 1, CALL_NONE, false, I{ON, ON, ON}},
        {"new message", STL_CONNECTED, 1, CALL_NONE, true, I{NEW, ON, NEW}},
        {"answering a call", STL_CONNECTED, 1, CALL_ANSWERING, false, I{CALL, ON, CALL}},
        {"the call wins", STL_CONNECTED, 1, CALL_ANSWERING, true, I{CALL, ON, CALL}},
        {"recording over", STL_CONNECTED, 1, CALL_ANSWERED_DONE, true, I{NEW, ON, NEW}},
        {"the user's own call", STL_CONNECTED, 1, CALL_USERS_OWN, false, I{ON, ON, ON}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_core.m_nState = c.state;
        AnswerAllowed = c.allowed;
        SetCalls(c.call, false);
        g_bNewVoiceMessage = c.bNewMessage;
        g_bBlinkPhase = 0;
        m_shell.m_vecIcons.clear();
        for (int i = 0; i < 3; ++i)
            Tick();
        EXPECT_EQ(m_shell.m_vecIcons, c.icons);
        EXPECT_EQ(m_core.GetTrayIcon(), c.icons.back());
        CCallsDataLock lock;
        g_pCurrentCall = nullptr;
    }
}

TEST_F(TrayTest, TheIconChangesEvery750Ms) {
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"add idle 'Vokra'"}));
    g_bNewVoiceMessage = true;
    Run(749);
    EXPECT_TRUE(m_shell.m_vecIcons.empty());
    Run(1);
    Run(749);
    EXPECT_EQ(m_shell.m_vecIcons, (std::vector<ETrayIcon>{TRAY_ICON_NEW_MESSAGE}));
    Run(1);
    EXPECT_EQ(m_shell.m_vecIcons,
              (std::vector<ETrayIcon>{TRAY_ICON_NEW_MESSAGE, TRAY_ICON_ENABLED}));
}

TEST_F(TrayTest, AnIconTheDesktopLostOrNeverTookIsAddedAgain) {
    m_shell.Take();
    m_shell.m_bHasIcon = false;  // the panel restarted
    Tick();
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"delete icon", "add idle 'Vokra'"}));
    EXPECT_EQ(m_core.GetTrayIcon(), TRAY_ICON_IDLE);
    Tick();
    EXPECT_EQ(m_core.GetTrayIcon(), TRAY_ICON_ENABLED);
    EXPECT_EQ(m_shell.m_vecTips.back(), "Vokra (Me Myself) - Enable");
    EXPECT_TRUE(m_shell.Take().empty());

    // A desktop without a tray yet: tried on every tick until it takes the icon.
    m_shell.m_bDesktopTakesIcon = false;
    m_shell.m_bHasIcon = false;
    Tick();
    Tick();
    m_shell.m_bDesktopTakesIcon = true;
    Tick();
    Tick();
    EXPECT_EQ(m_shell.Take(),
              (std::vector<std::string>{"delete icon", "add idle 'Vokra'", "delete icon",
                                        "add idle 'Vokra'", "delete icon", "add idle 'Vokra'"}));
    EXPECT_EQ(m_core.GetTrayIcon(), TRAY_ICON_ENABLED);
}

TEST_F(TrayTest, TheHandlersRequestUpdatesTheIconAtOnce) {
    m_core.UpdateTrayIcon();
    Run(0);
    EXPECT_EQ(m_shell.m_vecIcons, (std::vector<ETrayIcon>{TRAY_ICON_ENABLED}));
}

// ---- Tooltip and balloons ----

TEST_F(TrayTest, TooltipNamesTheUserAndTheModeOrWaitsForSkype) {
    struct {
        int state;
        int allowed;
        const char* tip;
    } cases[] = {
        {STL_CONNECTED, 1, "Vokra (Me Myself) - Enable"},
        {STL_CONNECTED, 0, "Vokra (Me Myself) - Disable"},
        {STL_DISCONNECTED, 1, "Vokra - Waiting for Skype® to be available"},
        {STL_CONNECTING, 0, "Vokra - Waiting for Skype® to be available"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tip);
        m_core.m_nState = c.state;
        AnswerAllowed = c.allowed;
        Mouse(WM_MOUSEMOVE);
        ASSERT_FALSE(m_shell.m_vecTips.empty());
        EXPECT_EQ(m_shell.m_vecTips.back(), c.tip);
    }
    // The ticks set it only when it changes (a front end may have no hover callback).
    m_shell.m_vecTips.clear();
    Tick();
    Tick();
    EXPECT_EQ(m_shell.m_vecTips, (std::vector<std::string>{}));
    m_core.m_nState = STL_CONNECTED;
    Tick();
    Tick();
    EXPECT_EQ(m_shell.m_vecTips, (std::vector<std::string>{"Vokra (Me Myself) - Disable"}));
}

TEST_F(TrayTest, BalloonsShowTheirTextForTheirTimeUnlessTurnedOff) {
    const std::string title = "Vokra - Answering Machine for Skype™ users";
    struct {
        int tips;
        WPARAM textId;
        LPARAM timeout;
        std::vector<std::string> events;
    } cases[] = {
        {1,
         IDS_BALLOON_CONNECTED,
         10,
         {"balloon '" + title +
          "' 'Vokra has successfully established connection to Skype' "
          "10000"}},
        {1,
         IDS_BALLOON_API_NOT_FOUND,
         -1,
         {"balloon '" + title + "' '" + BuiltInText(IDS_BALLOON_API_NOT_FOUND) + "' 30000"}},
        {1,
         IDS_BALLOON_CONNECTION_REFUSED,
         -1,
         {"balloon '" + title + "' '" + BuiltInText(IDS_BALLOON_CONNECTION_REFUSED) + "' 30000"}},
        {0, IDS_BALLOON_CONNECTED, 10, {}},
        {0, IDS_BALLOON_API_NOT_FOUND, -1, {}},
        {1, 12345, 10, {}},  // a text that does not exist
    };
    m_shell.Take();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.textId);
        ShowBalloonTips = c.tips;
        PostToMainWnd(WM_SHOW_BALLOON, c.textId, c.timeout);
        Run(0);
        EXPECT_EQ(m_shell.Take(), c.events);
    }
}

TEST(BalloonTimeout, HeldBetween10And30Seconds) {
    EXPECT_EQ(BalloonTimeoutMs(10), 10000u);
    EXPECT_EQ(BalloonTimeoutMs(0), 10000u);
    EXPECT_EQ(BalloonTimeoutMs(12000), 12000u);
    EXPECT_EQ(BalloonTimeoutMs(45000), 30000u);
    EXPECT_EQ(BalloonTimeoutMs(-1), 30000u);
}

// ---- The menu ----

TEST_F(TrayTest, MenuHasItsEightEntriesInTheInterfaceLanguageAndTheModeChecked) {
    AnswerAllowed = 1;
    Mouse(WM_RBUTTONUP);
    ASSERT_EQ(m_shell.m_vecMenus.size(), 1u);
    std::vector<std::string> expected = kEightItems;
    expected[1] = "Answering Mode >Enable* >Disable";
    EXPECT_EQ(MenuTexts(m_shell.m_vecMenus[0]), expected);
    for (const CTrayMenuItem& item : m_shell.m_vecMenus[0]) {
        EXPECT_TRUE(item.m_bEnabled);
        EXPECT_EQ(item.m_bDefault, item.m_nCommand == ID_SYSTRAY_MENU_GOTO_MESSAGES);
    }
    EXPECT_TRUE(m_log.Has("WM_RBUTTONUP", INFO));
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_NONE);

    AnswerAllowed = 0;
    LoadLanguageLibrary(std::string(VOKRA_SOURCE_DIR) + "/assets/Language/Vokra_Deutsch.lang");
    m_core.BuildTrayMenu();
    Mouse(WM_RBUTTONUP);
    EXPECT_EQ(MenuTexts(m_shell.m_vecMenus.back()),
              (std::vector<std::string>{"Nachrichten", "Anrufannahme >Aktiviert >Deaktiviert*", "-",
                                        "Optionen...", "Über Vokra", "Hilfe", "-", "Beenden"}));
}

TEST_F(TrayTest, ExtraTopItemPerStateAndBackToEightEntries) {
    struct {
        const char* name;
        ECallKind call;
        bool bRinging;
        bool bNewMessages;
        ETrayCommand extra;
        const char* text;
    } cases[] = {
        {"nothing going on", CALL_NONE, false, false, ID_SYSTRAY_MENU_NONE, ""},
        {"ringing", CALL_NONE, true, false, ID_SYSTRAY_MENU_FORCE_ANSWER,
         "Force Answering of Call"},
        {"ringing beside the user's own call", CALL_USERS_OWN, true, false, ID_SYSTRAY_MENU_NONE,
         ""},
        {"answering", CALL_ANSWERING, false, false, ID_SYSTRAY_MENU_TAKE_CONTROL,
         "Take Control over Call"},
        {"answering, ringing, messages", CALL_ANSWERING, true, true, ID_SYSTRAY_MENU_TAKE_CONTROL,
         "Take Control over Call"},
        {"the user's own call, messages", CALL_USERS_OWN, false, true,
         ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES, "Play New Messages"},
        {"recording over, messages", CALL_ANSWERED_DONE, true, true,
         ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES, "Play New Messages"},
        {"messages", CALL_NONE, false, true, ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES,
         "Play New Messages"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            CCallsDataLock lock;
            g_pCurrentCall = nullptr;
            g_pRingingCall = nullptr;
        }
        SetNewMessages(c.bNewMessages);
        SetCalls(c.call, c.bRinging);
        Mouse(WM_RBUTTONUP);
        ASSERT_FALSE(m_shell.m_vecMenus.empty());
        const CTrayMenu& shown = m_shell.m_vecMenus.back();
        if (c.extra == ID_SYSTRAY_MENU_NONE) {
            EXPECT_EQ(shown.size(), 8u);
            EXPECT_TRUE(shown[0].m_bDefault);  // Messages
        } else {
            ASSERT_EQ(shown.size(), 10u);
            EXPECT_EQ(shown[0].m_nCommand, c.extra);
            EXPECT_EQ(shown[0].m_strText, c.text);
            EXPECT_TRUE(shown[0].m_bDefault);
            EXPECT_TRUE(shown[1].m_bSeparator);
            EXPECT_FALSE(shown[2].m_bDefault) << "the extra item is the default instead";
        }
        m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_NONE);
        EXPECT_EQ(MenuTexts(m_core.GetTrayMenu()).size(), 8u);
    }
    // A menu whose answer never came back does not leave its extra item in the next one.
    SetCalls(CALL_NONE, true);
    {
        CCallsDataLock lock;
        g_pCurrentCall = nullptr;
    }
    Mouse(WM_RBUTTONUP);
    Mouse(WM_RBUTTONUP);
    EXPECT_EQ(m_shell.m_vecMenus.back().size(), 10u);
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_NONE);
    std::vector<std::string> texts = MenuTexts(m_core.GetTrayMenu());
    texts[1] = "Answering Mode >Enable >Disable";  // checks aside
    EXPECT_EQ(texts, kEightItems);
}

TEST_F(TrayTest, MenuCommandsOpenTheSheetAndReachTheHandler) {
    struct {
        UINT command;
        std::vector<std::string> events;
        const char* log;
    } cases[] = {
        {ID_SYSTRAY_MENU_GOTO_MESSAGES, {"open 'Vokra - me' 0"}, "ID_SYSTRAY_MENU_GOTO_MESSAGES"},
        {ID_SYSTRAY_MENU_GOTO_OPTIONS, {"open 'Vokra - me' 1"}, "ID_SYSTRAY_MENU_GOTO_OPTIONS"},
        {ID_SYSTRAY_MENU_GOTO_ABOUT, {"open 'Vokra - me' 2"}, "ID_SYSTRAY_MENU_GOTO_ABOUT"},
        {ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES,
         {"open 'Vokra - me' 0", "play new"},
         "ID_SYSTRAY_MENU_PLAY_NEW_MESSAGES"},
        {ID_SYSTRAY_MENU_FORCE_ANSWER, {}, "OnUserForceAnswerOfCall()"},
        {ID_SYSTRAY_MENU_TAKE_CONTROL, {}, "OnUserTakesControlOverCall()"},
        {ID_SYSTRAY_MENU_NONE, {}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        m_shell.Take();
        m_log.Clear();
        m_core.OnTrayMenuCommand(c.command);
        Run(0);
        EXPECT_EQ(m_shell.Take(), c.events);
        if (c.log != nullptr) {
            EXPECT_TRUE(m_log.Has(c.log, INFO));
        }
        m_core.OnSheetEnded(false);
    }
}

TEST_F(TrayTest, AnsweringModeFromTheMenuShowsAtOnceAndOutlivesTheNextCancel) {
    // Sheet closed: the choice goes to the file, so a later Cancel keeps it.
    AnswerAllowed = 1;
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_ANSWERING_MODE_DISABLED);
    EXPECT_EQ(AnswerAllowed.load(), 0);
    EXPECT_EQ(m_shell.m_vecIcons, (std::vector<ETrayIcon>{TRAY_ICON_DISABLED}));
    EXPECT_TRUE(SettingsFileHas("AnswerAllowed=0"));
    EXPECT_TRUE(m_log.Has("ID_SYSTRAY_MENU_ANSWERING_MODE_DISABLED", INFO));
    m_core.ShowPropSheet(SHEET_PAGE_MESSAGES);
    m_core.OnSheetEnded(false);
    EXPECT_EQ(AnswerAllowed.load(), 0);

    // Sheet open: the Options page follows, and the sheet's OK or Cancel settles it.
    m_core.ShowPropSheet(SHEET_PAGE_MESSAGES);
    m_shell.Take();
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_ANSWERING_MODE_ENABLED);
    EXPECT_EQ(AnswerAllowed.load(), 1);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"refresh 1"}));
    EXPECT_EQ(m_shell.m_vecIcons.back(), TRAY_ICON_ENABLED);
    EXPECT_TRUE(SettingsFileHas("AnswerAllowed=0"));
    m_core.OnSheetEnded(false);
    EXPECT_EQ(AnswerAllowed.load(), 0);
}

TEST_F(TrayTest, HelpOpensTheLocalPageOrSaysItCannot) {
    CBoxes boxes;
    CScopedMessageBoxService scoped(boxes);
    const std::string page = m_strRoot + "prog/help/index.html";
    m_shell.Take();

    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_GOTO_HELP);
    EXPECT_TRUE(m_shell.Take().empty()) << "no page beside the program";
    ASSERT_EQ(boxes.m_vecTexts.size(), 1u);
    EXPECT_EQ(boxes.m_vecTexts[0], "The help page could not be opened:\n" + page);

    std::filesystem::create_directories(m_strRoot + "prog/help");
    std::ofstream(page) << "<html></html>";
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_GOTO_HELP);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"url " + FileUrl(page)}));
    EXPECT_EQ(boxes.m_vecTexts.size(), 1u);
    EXPECT_TRUE(m_log.Has("ID_SYSTRAY_MENU_GOTO_HELP", INFO));

    m_shell.m_bUrlOpens = false;  // no program to show it
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_GOTO_HELP);
    EXPECT_EQ(boxes.m_vecTexts.size(), 2u);
}

TEST(FileUrl, EncodesEverythingButPlainPathCharacters) {
    EXPECT_EQ(FileUrl("/opt/vokra/help/index.html"), "file:///opt/vokra/help/index.html");
    EXPECT_EQ(FileUrl("/home/J\xc3\xbcrgen/my vokra/a#b%c?.html"),
              "file:///home/J%C3%BCrgen/my%20vokra/a%23b%25c%3F.html");
}

// ---- The sheet and the post box ----

TEST_F(TrayTest, OneSheetAtATimeCaptionedWithTheUser) {
    m_shell.Take();
    PostToMainWnd(WM_SHOW_SHEET, 7, 0);                 // no such page
    PostToMainWnd(WM_SHOW_SHEET, SHEET_PAGE_ABOUT, 0);  // a second start of the program
    PostToMainWnd(WM_SHOW_SHEET, SHEET_PAGE_MESSAGES, 0);
    PostToMainWnd(WM_SHOW_SHEET, static_cast<WPARAM>(-5), 0);
    Run(0);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"open 'Vokra - me' 2", "activate 0"}));
    EXPECT_TRUE(m_core.IsSheetOpen());
    m_core.OnSheetEnded(false);
    EXPECT_FALSE(m_core.IsSheetOpen());

    {
        CCallsDataLock lock;
        gCurrentUser.m_strUserName.clear();
    }
    Mouse(WM_LBUTTONDBLCLK);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"open 'Vokra' 0"}));
    EXPECT_TRUE(m_log.Has("WM_LBUTTONDBLCLK", INFO));
}

TEST_F(TrayTest, RefreshAndPlayReachOnlyAnOpenSheetsActivePage) {
    m_shell.Take();
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
    PostToMainWnd(WM_PLAY_NEW_MESSAGES);
    Run(0);
    EXPECT_TRUE(m_shell.Take().empty());
    EXPECT_TRUE(m_log.Has("Play all New message", INFO));

    m_core.ShowPropSheet(SHEET_PAGE_MESSAGES);
    m_shell.Take();
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_MESSAGES, 0);
    PostToMainWnd(WM_PLAY_NEW_MESSAGES);
    Run(0);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"refresh 0", "play new"}));
}

TEST_F(TrayTest, SheetOkWritesTheSettingsAndCancelThrowsTheChangesAway) {
    m_core.ShowPropSheet(SHEET_PAGE_OPTIONS);
    MaxRecordingDurationSec = 77;
    m_core.OnSheetEnded(false);
    EXPECT_NE(MaxRecordingDurationSec.load(), 77);
    EXPECT_FALSE(std::filesystem::exists(GetSettingsFilePath()));

    m_core.ShowPropSheet(SHEET_PAGE_OPTIONS);
    MaxRecordingDurationSec = 77;
    m_core.OnSheetEnded(true);
    EXPECT_TRUE(SettingsFileHas("MaxRecordingDurationSec=77"));
}

// ---- Quit ----

TEST_F(TrayTest, QuitWithTheSheetClosedWritesNothingAndEndsTheProgram) {
    m_shell.Take();
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_QUIT);
    Run(0);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"delete icon", "end"}));
    EXPECT_FALSE(std::filesystem::exists(GetSettingsFilePath()));
    EXPECT_EQ(g_hWndMain.load(), 0u);
    EXPECT_EQ(FindWindowByTitle("Vokra"), 0u);
    EXPECT_TRUE(m_log.Has("ID_SYSTRAY_MENU_QUIT", INFO));
}

TEST_F(TrayTest, QuitWithTheSheetOpenWritesItsChangesClosesItAndEnds) {
    m_core.ShowPropSheet(SHEET_PAGE_OPTIONS);
    MaxRecordingDurationSec = 77;
    m_shell.Take();
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_QUIT);
    Run(0);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"close sheet", "delete icon", "end"}));
    EXPECT_TRUE(SettingsFileHas("MaxRecordingDurationSec=77"));
    EXPECT_EQ(MaxRecordingDurationSec.load(), 77) << "read back as written";
    EXPECT_FALSE(m_core.IsSheetOpen());
    EXPECT_EQ(g_hWndMain.load(), 0u);
}

TEST_F(TrayTest, QuitIsRefusedWhileTheAdvancedDialogIsOpenAndWritesNothing) {
    m_core.ShowPropSheet(SHEET_PAGE_OPTIONS);
    m_shell.m_bAdvanced = true;
    MaxRecordingDurationSec = 77;
    m_shell.Take();
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_QUIT);
    EXPECT_FALSE(m_core.Shutdown());
    Run(0);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"raise advanced", "raise advanced"}));
    EXPECT_FALSE(std::filesystem::exists(GetSettingsFilePath()))
        << "the dialog's Cancel must still undo its changes";
    EXPECT_TRUE(m_core.IsSheetOpen());
    EXPECT_EQ(g_hWndMain.load(), m_core.GetSafeHwnd());

    m_shell.m_bAdvanced = false;
    m_core.OnTrayMenuCommand(ID_SYSTRAY_MENU_QUIT);
    Run(0);
    EXPECT_EQ(m_shell.Take(), (std::vector<std::string>{"close sheet", "delete icon", "end"}));
    EXPECT_EQ(g_hWndMain.load(), 0u);
}
