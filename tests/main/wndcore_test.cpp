// The main window's core: the post box of the worker threads and the home of the call timer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/WindowMessages.h"
#include "calls/Call.h"
#include "calls/CallCollection.h"
#include "calls/CallsTestSupport.h"
#include "main/VokraWndCore.h"
#include "platform/Sync.h"

using namespace callstest;

namespace {

class CListener : public IVokraWndListener {
public:
    void OnShowSheet(int page) override { m_vecEvents.push_back(StrFormat("sheet %d", page)); }
    void OnRefreshPage(int page) override { m_vecEvents.push_back(StrFormat("refresh %d", page)); }
    void OnShowBalloon(int textId, int timeout) override {
        m_vecEvents.push_back(StrFormat("balloon %d %d", textId, timeout));
    }
    void OnUpdateTrayIcon() override {
        m_vecEvents.push_back("icon");
        m_uIconThread = GetCurrentThreadId();
    }
    std::vector<std::string> m_vecEvents;
    uint32_t m_uIconThread = 0;
};

// A call known to the calls database that uses the handler's timer; the caller holds the lock.
CCall* AddCall(int nCallId, CSkypeMsgHndl& hndl) {
    CCall* pCall = new CCall();
    pCall->init(nCallId, &hndl);
    gCallsDB.Add(pCall);
    return pCall;
}

}  // namespace

class WndCoreTest : public CCallsTest {
protected:
    void SetUp() override {
        CCallsTest::SetUp();
        ASSERT_TRUE(m_core.Create(m_ui));
        m_core.SetListener(&m_listener);
        m_core.Handler().AttachToCurrentThread();
    }
    void TearDown() override {
        m_core.Shutdown();
        CCallsTest::TearDown();
    }
    void Run(uint64_t ms) { PumpFor(m_clock, {&m_ui, &m_core.Handler().Loop()}, ms); }

    CMsgLoop m_ui;
    CVokraWndCore m_core;
    CListener m_listener;
};

TEST_F(WndCoreTest, IsTheMainWindowTitledVokraUntilShutdown) {
    EXPECT_EQ(FindWindowByTitle("Vokra"), m_core.GetSafeHwnd());
    EXPECT_EQ(g_hWndMain.load(), m_core.GetSafeHwnd());
    EXPECT_TRUE(m_core.Shutdown());
    Run(0);  // the window closes on its own loop
    EXPECT_EQ(g_hWndMain.load(), 0u);
    EXPECT_EQ(FindWindowByTitle("Vokra"), 0u);
    EXPECT_FALSE(PostToMainWnd(WM_REFRESH_PAGE, 0, 0));
}

TEST_F(WndCoreTest, HandsTheWorkersRequestsToTheFrontEnd) {
    PostToMainWnd(WM_SHOW_SHEET, SHEET_PAGE_MESSAGES, 0);
    PostToMainWnd(WM_REFRESH_PAGE, SHEET_PAGE_DEBUG, 0);
    PostToMainWnd(WM_SHOW_BALLOON, 16, 10);
    Run(0);
    EXPECT_EQ(m_listener.m_vecEvents,
              (std::vector<std::string>{"sheet 0", "refresh 3", "balloon 16 10"}));
}

TEST_F(WndCoreTest, TrayIconUpdatesFromAnotherThreadRunOnTheWindowsThread) {
    std::thread worker([this] { m_core.UpdateTrayIcon(); });
    worker.join();
    Run(0);
    EXPECT_EQ(m_listener.m_vecEvents, std::vector<std::string>{"icon"});
    EXPECT_EQ(m_listener.m_uIconThread, GetCurrentThreadId());
}

TEST_F(WndCoreTest, TimerTwoIsTheHandlersCallTimer) {
    CSkypeMsgHndl& hndl = m_core.Handler();
    CCall* pCall = nullptr;
    {
        CCallsDataLock lock;
        pCall = AddCall(12, hndl);
        ASSERT_TRUE(hndl.SetCallTimer(pCall, 1000));
        EXPECT_FALSE(hndl.SetCallTimer(pCall, 5)) << "one holder at a time";
    }
    EXPECT_TRUE(m_core.IsTimerSet(MAIN_WND_TIMER_CALL));
    Run(999);
    EXPECT_FALSE(m_log.Has("CSkypeMsgHndl::OnCallTimerElapse[ CallID: 12 ]"));
    Run(1);
    EXPECT_TRUE(m_log.Has("CSkypeMsgHndl::OnCallTimerElapse[ CallID: 12 ]"));
    EXPECT_TRUE(
        m_log.Has("CCall::OnTimer callId: 12, p=" + StrFormat("%p", static_cast<void*>(pCall))));
    // One-shot: the window timer was stopped.
    EXPECT_FALSE(m_core.IsTimerSet(MAIN_WND_TIMER_CALL));
    EXPECT_EQ(hndl.GetTimerCall(), nullptr);
}

TEST_F(WndCoreTest, ALateFiringOfAnEarlierArmingDoesNotEndTheNextOneEarly) {
    CSkypeMsgHndl& hndl = m_core.Handler();
    CCall* pCall = nullptr;
    {
        CCallsDataLock lock;
        pCall = AddCall(12, hndl);
        hndl.SetCallTimer(pCall, 300);
    }
    // The window fires, but before the handler sees it the call re-arms for longer.
    PumpFor(m_clock, {&m_ui}, 300);
    {
        CCallsDataLock lock;
        hndl.KillCallTimer(pCall);
        hndl.SetCallTimer(pCall, 5000);
    }
    Run(0);
    EXPECT_EQ(hndl.GetTimerCall(), pCall);
    EXPECT_FALSE(m_log.Has("CSkypeMsgHndl::OnCallTimerElapse[ CallID: 12 ]"));
    Run(5000);
    EXPECT_TRUE(m_log.Has("CSkypeMsgHndl::OnCallTimerElapse[ CallID: 12 ]"));
}

namespace {

// Moves on a millisecond at every reading while m_bTicking is set, as the real clock may between
// two readings a few instructions apart.
class CTickingClock : public CManualClock {
public:
    uint64_t NowMs() const override {
        if (m_bTicking)
            const_cast<CTickingClock*>(this)->Advance(1);
        return CManualClock::NowMs();
    }
    std::atomic<bool> m_bTicking{false};
};

}  // namespace

class WndCoreTickingClockTest : public CCallsEnv {
protected:
    void TearDown() override {
        m_core.Shutdown();
        CCallsEnv::TearDown();
    }
    CTickingClock m_clock;
    CScopedClock m_scopedClock{m_clock};
    CCmdRecorder m_cmds;
    CMsgLoop m_ui;
    CVokraWndCore m_core;
};

TEST_F(WndCoreTickingClockTest, TheCallTimerFiresOnTimeWhenTheClockMovesWhileItIsArmed) {
    ASSERT_TRUE(m_core.Create(m_ui));
    CSkypeMsgHndl& hndl = m_core.Handler();
    hndl.AttachToCurrentThread();
    CCall* pCall = nullptr;
    bool bArmed = false;
    {
        CCallsDataLock lock;
        pCall = AddCall(12, hndl);
        m_clock.m_bTicking = true;
        bArmed = hndl.SetCallTimer(pCall, 300);
        m_clock.m_bTicking = false;
    }
    ASSERT_TRUE(bArmed);
    PumpFor(m_clock, {&m_ui, &hndl.Loop()}, 300);
    EXPECT_TRUE(m_log.Has("CSkypeMsgHndl::OnCallTimerElapse[ CallID: 12 ]"))
        << "the first firing of the window timer is this arming's own";
}
