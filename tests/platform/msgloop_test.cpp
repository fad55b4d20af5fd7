// The message loop driven from outside under a manual clock: no threads, no real time.
#include <gtest/gtest.h>
#include <poll.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/MsgLoop.h"

namespace {

struct Tracked {
    static inline int s_nAlive = 0;
    int value;
    explicit Tracked(int v) : value(v) { ++s_nAlive; }
    ~Tracked() { --s_nAlive; }
};

// Records what it receives; handlers can be customised per test.
class CRecWnd : public CWindow {
public:
    std::vector<std::string> log;
    std::function<void(UINT, WPARAM)> onMsg;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        log.push_back(std::to_string(message) + ":" + std::to_string(wParam) + ":" +
                      std::to_string(lParam));
        if (onMsg)
            onMsg(message, wParam);
        return static_cast<LRESULT>(wParam * 2);
    }
    int Count(UINT message) const {
        int n = 0;
        for (const auto& s : log)
            n += s.rfind(std::to_string(message) + ":", 0) == 0;
        return n;
    }
};

class MsgLoopTest : public ::testing::Test {
protected:
    CManualClock clock;
    CScopedClock scoped{clock};
    CMsgLoop loop;
    CRecWnd wnd;
    void SetUp() override {
        ASSERT_TRUE(wnd.CreateWindowOn(loop, "test window"));
        Tracked::s_nAlive = 0;
    }
};

TEST_F(MsgLoopTest, PostedMessagesArriveInOrderAcrossWindowsAndThreadMessages) {
    CRecWnd other;
    ASSERT_TRUE(other.CreateWindowOn(loop, "other"));
    std::vector<std::string> order;
    wnd.onMsg = [&](UINT m, WPARAM w) {
        order.push_back("w" + std::to_string(m) + "/" + std::to_string(w));
    };
    other.onMsg = [&](UINT m, WPARAM w) {
        order.push_back("o" + std::to_string(m) + "/" + std::to_string(w));
    };
    loop.SetThreadMessageHandler([&](UINT m, WPARAM w, LPARAM) {
        order.push_back("t" + std::to_string(m) + "/" + std::to_string(w));
    });

    PostMessage(wnd.GetSafeHwnd(), WM_USER + 1, 1);
    loop.PostThreadMessage(WM_USER + 2, 2);
    PostMessage(other.GetSafeHwnd(), WM_USER + 3, 3);
    PostMessage(wnd.GetSafeHwnd(), WM_USER + 1, 4);
    EXPECT_EQ(loop.Pump(), 4);
    const std::vector<std::string> want = {"w1025/1", "t1026/2", "o1027/3", "w1025/4"};
    EXPECT_EQ(order, want);
}

TEST_F(MsgLoopTest, MessagesPostedWhileHandlingWaitForTheNextPump) {
    wnd.onMsg = [&](UINT m, WPARAM w) {
        if (m == WM_USER && w < 3)
            wnd.PostMessage(WM_USER, w + 1);
    };
    wnd.PostMessage(WM_USER, 0);
    EXPECT_EQ(loop.Pump(), 1);
    EXPECT_EQ(loop.Pump(), 1);
    EXPECT_EQ(loop.PumpUntilIdle(), 2);
    EXPECT_EQ(wnd.Count(WM_USER), 4);
}

TEST_F(MsgLoopTest, RepeatingTimerFiresEveryPeriodUntilKilled) {
    wnd.SetTimer(105, 200);
    PumpFor(clock, {&loop}, 199);
    EXPECT_EQ(wnd.Count(WM_TIMER), 0);
    PumpFor(clock, {&loop}, 1);
    EXPECT_EQ(wnd.Count(WM_TIMER), 1);
    PumpFor(clock, {&loop}, 1000);
    EXPECT_EQ(wnd.Count(WM_TIMER), 6);
    EXPECT_TRUE(wnd.KillTimer(105));
    EXPECT_FALSE(wnd.KillTimer(105));
    PumpFor(clock, {&loop}, 5000);
    EXPECT_EQ(wnd.Count(WM_TIMER), 6);
    EXPECT_EQ(loop.NextDeadlineMs(), UINT64_MAX);
}

TEST_F(MsgLoopTest, OneShotUseKillsItselfInItsHandler) {
    wnd.onMsg = [&](UINT m, WPARAM id) {
        if (m == WM_TIMER)
            wnd.KillTimer(static_cast<UINT>(id));
    };
    wnd.SetTimer(101, 3000);
    PumpFor(clock, {&loop}, 20000);
    EXPECT_EQ(wnd.log, std::vector<std::string>{"275:101:0"});
    EXPECT_FALSE(wnd.IsTimerSet(101));
}

TEST_F(MsgLoopTest, SettingARunningTimerRestartsIt) {
    wnd.SetTimer(103, 4800);
    PumpFor(clock, {&loop}, 4000);
    wnd.SetTimer(103, 4800);  // a received line restarts the keep-alive
    PumpFor(clock, {&loop}, 4700);
    EXPECT_EQ(wnd.Count(WM_TIMER), 0);
    PumpFor(clock, {&loop}, 100);
    EXPECT_EQ(wnd.Count(WM_TIMER), 1);
}

TEST_F(MsgLoopTest, HandlerReArmsWithNewPeriodAndKillsOtherTimers) {
    std::vector<std::pair<uint64_t, WPARAM>> fired;
    wnd.onMsg = [&](UINT m, WPARAM id) {
        if (m != WM_TIMER)
            return;
        fired.push_back({clock.NowMs(), id});
        if (id == 2) {
            wnd.KillTimer(2);
            if (fired.size() < 3)
                wnd.SetTimer(2, 300);  // the 300 ms re-check
            wnd.KillTimer(7);
        }
    };
    wnd.SetTimer(2, 1000);
    wnd.SetTimer(7, 1000);  // due at the same moment, set later: runs after timer 2, which kills it
    PumpFor(clock, {&loop}, 5000);
    const std::vector<std::pair<uint64_t, WPARAM>> want = {{1000, 2}, {1300, 2}, {1600, 2}};
    EXPECT_EQ(fired, want);
}

TEST_F(MsgLoopTest, ZeroPeriodTimerFiresAtOnce) {
    wnd.onMsg = [&](UINT m, WPARAM id) {
        if (m == WM_TIMER)
            wnd.KillTimer(static_cast<UINT>(id));
    };
    wnd.SetTimer(102, 0);
    EXPECT_EQ(loop.NextDeadlineMs(), clock.NowMs());
    loop.Pump();
    EXPECT_EQ(wnd.Count(WM_TIMER), 1);
}

TEST_F(MsgLoopTest, PayloadTakenByHandlerIsOwnedByIt) {
    std::unique_ptr<Tracked> kept;
    wnd.onMsg = [&](UINT, WPARAM w) { kept = TakePayload<Tracked>(w); };
    ASSERT_TRUE(PostMessage(wnd.GetSafeHwnd(), WM_USER, std::make_unique<Tracked>(7)));
    loop.Pump();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->value, 7);
    EXPECT_EQ(Tracked::s_nAlive, 1);
}

TEST_F(MsgLoopTest, PayloadsAreFreedWhenNotTakenOrNeverDelivered) {
    wnd.onMsg = [&](UINT, WPARAM w) {
        EXPECT_EQ(TakePayload<std::string>(w), nullptr);  // wrong type: not taken
    };
    PostMessage(wnd.GetSafeHwnd(), WM_USER, std::make_unique<Tracked>(1));
    loop.Pump();
    EXPECT_EQ(Tracked::s_nAlive, 0);

    // Window destroyed before delivery.
    PostMessage(wnd.GetSafeHwnd(), WM_USER, std::make_unique<Tracked>(2));
    wnd.DestroyWindow();
    loop.Pump();
    EXPECT_EQ(Tracked::s_nAlive, 0);
    // Posting to a handle that no longer exists.
    EXPECT_FALSE(PostMessage(wnd.GetSafeHwnd(), WM_USER, std::make_unique<Tracked>(3)));
    EXPECT_EQ(Tracked::s_nAlive, 0);

    {
        CMsgLoop other;
        other.PostThreadMessage(WM_USER, std::make_unique<Tracked>(4));
        other.PostThreadMessage(WM_USER, std::make_unique<Tracked>(5));
        EXPECT_EQ(Tracked::s_nAlive, 2);
    }  // never pumped: destroyed with its queue
    EXPECT_EQ(Tracked::s_nAlive, 0);

    loop.Close();
    EXPECT_FALSE(loop.PostThreadMessage(WM_USER, std::make_unique<Tracked>(6)));
    EXPECT_EQ(Tracked::s_nAlive, 0);
}

TEST_F(MsgLoopTest, SendOnTheOwnerThreadCallsTheProcedureDirectly) {
    EXPECT_EQ(SendMessage(wnd.GetSafeHwnd(), WM_USER, 21), 42);
    EXPECT_EQ(wnd.Count(WM_USER), 1);
    const HWND gone = wnd.GetSafeHwnd();
    wnd.DestroyWindow();
    EXPECT_FALSE(SendMessage(gone, WM_USER, 1).has_value());
    EXPECT_FALSE(IsWindow(gone));
}

TEST_F(MsgLoopTest, SendToAWindowOfAnyLoopThisThreadDrivesRunsAtOnce) {
    // Tests drive several loops from one thread; the loop bound last must not make a send to
    // another of them wait for a pump that can never come.
    CMsgLoop second;
    CRecWnd other;
    ASSERT_TRUE(other.CreateWindowOn(second, "other"));
    EXPECT_EQ(SendMessage(wnd.GetSafeHwnd(), WM_USER, 4), 8);
    EXPECT_EQ(SendMessage(other.GetSafeHwnd(), WM_USER, 5), 10);

    std::optional<LRESULT> fromHandler;
    other.onMsg = [&](UINT m, WPARAM w) {
        if (m == WM_USER + 1)
            fromHandler = SendMessage(wnd.GetSafeHwnd(), WM_USER, w);
    };
    other.PostMessage(WM_USER + 1, 3);
    PumpFor(clock, {&loop, &second}, 0);
    EXPECT_EQ(fromHandler, 6);
}

TEST_F(MsgLoopTest, ALoopThatReceivedQuitHasNothingDueSoDriversDoNotSpin) {
    wnd.SetTimer(1, 100);
    loop.Quit();
    loop.Pump();
    ASSERT_TRUE(loop.QuitReceived());
    wnd.PostMessage(WM_USER);
    EXPECT_EQ(loop.NextDeadlineMs(), UINT64_MAX);  // nothing the loop will run any more
    PumpFor(clock, {&loop}, 1000);                 // used to spin for ever on the due timer
    EXPECT_EQ(wnd.Count(WM_TIMER), 0);
    EXPECT_EQ(wnd.Count(WM_USER), 0);
}

TEST_F(MsgLoopTest, RegisteredMessagesAndWindowSearch) {
    const UINT a = RegisterWindowMessage("SkypeControlAPIDiscover");
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(RegisterWindowMessage("SkypeControlAPIDiscover"), a);
    EXPECT_NE(RegisterWindowMessage("SkypeControlAPIAttach"), a);

    CRecWnd child;
    ASSERT_TRUE(child.CreateWindowOn(loop, "child", /*bTopLevel=*/false));
    EXPECT_EQ(FindWindowByTitle("test window"), wnd.GetSafeHwnd());
    EXPECT_EQ(FindWindowByTitle("child"), 0u);
    EXPECT_EQ(Desktop().FindWindow("nobody"), 0u);

    EXPECT_TRUE(Desktop().PostMessage(HWND_BROADCAST, a, 77, 0));
    loop.Pump();
    EXPECT_EQ(wnd.Count(a), 1);
    EXPECT_EQ(child.Count(a), 0);
}

TEST_F(MsgLoopTest, CopyDataIsDeliveredWithSenderAndBlock) {
    std::string got;
    WPARAM from = 0;
    class CCopyWnd : public CWindow {
    public:
        std::function<LRESULT(WPARAM, const COPYDATASTRUCT&)> f;
        LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
            return m == WM_COPYDATA ? f(w, *reinterpret_cast<const COPYDATASTRUCT*>(l)) : 0;
        }
    } cw;
    ASSERT_TRUE(cw.CreateWindowOn(loop, "copy"));
    cw.f = [&](WPARAM w, const COPYDATASTRUCT& cds) {
        from = w;
        got.assign(static_cast<const char*>(cds.lpData), cds.cbData);
        return LRESULT{1};
    };
    EXPECT_EQ(Desktop().SendCopyData(cw.GetSafeHwnd(), 1234, 0, "PING", 5), 1);
    EXPECT_EQ(from, 1234u);
    EXPECT_EQ(got, std::string("PING\0", 5));
}

TEST_F(MsgLoopTest, WakeDescriptorAndDeadlineTellWhenToPump) {
    pollfd p{loop.WakeFd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    wnd.PostMessage(WM_USER);
    EXPECT_EQ(poll(&p, 1, 0), 1);
    EXPECT_EQ(loop.NextDeadlineMs(), clock.NowMs());
    loop.Pump();
    EXPECT_EQ(poll(&p, 1, 0), 0);
    wnd.SetTimer(1, 750);
    EXPECT_EQ(loop.NextDeadlineMs(), clock.NowMs() + 750);
}

TEST_F(MsgLoopTest, QuitStopsPumpingAndLeavesLaterMessages) {
    loop.Quit(3);
    wnd.PostMessage(WM_USER);
    loop.Pump();
    EXPECT_TRUE(loop.QuitReceived());
    EXPECT_EQ(wnd.Count(WM_USER), 0);
}

TEST(ClockTest, ManualWallTimeAndStamp) {
    CManualClock clock(CWallTime{1000, 900});
    CScopedClock scoped(clock);
    clock.Advance(250);
    EXPECT_EQ(Clock().WallNow().sec, 1001);
    EXPECT_EQ(Clock().WallNow().ms, 150);
    EXPECT_EQ(WallMs32(), 1001150u);
    clock.Advance(uint64_t{1} << 32);  // the stamp wraps in 32 bits
    EXPECT_EQ(WallMs32(), 1001150u);
}

}  // namespace
