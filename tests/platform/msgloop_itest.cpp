// The runtime with real threads: cross-thread post and send, sends that can never be answered,
// timed waits and sleeps under the manual clock, clean shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/MsgLoop.h"
#include "platform/Sync.h"

namespace {

struct Tracked {
    static inline std::atomic<int> s_nAlive{0};
    Tracked() { ++s_nAlive; }
    ~Tracked() { --s_nAlive; }
};

// A worker thread with one window; the window procedure runs the test's function.
class CWorker : public CMsgThread {
public:
    class CWnd : public CWindow {
    public:
        std::function<LRESULT(UINT, WPARAM, LPARAM)> f;
        LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override { return f ? f(m, w, l) : 0; }
    } wnd;
    std::vector<WPARAM> threadMsgs;  // only touched on the worker thread until it has ended
    ~CWorker() override { StopThread(); }

protected:
    bool InitInstance() override { return wnd.CreateWindowOn(Loop(), "worker"); }
    void OnThreadMessage(UINT, WPARAM w, LPARAM) override { threadMsgs.push_back(w); }
};

TEST(MsgThreadTest, PostsFromOtherThreadsArriveInOrderPerSender) {
    CWorker worker;
    std::vector<std::pair<int, int>> got;  // (sender, sequence), written on the worker thread
    worker.wnd.f = [&](UINT m, WPARAM w, LPARAM l) {
        if (m == WM_USER)
            got.push_back({static_cast<int>(w), static_cast<int>(l)});
        return LRESULT{0};
    };
    ASSERT_TRUE(worker.CreateThread());
    const HWND h = worker.wnd.GetSafeHwnd();
    std::vector<std::thread> senders;
    for (int s = 0; s < 3; ++s)
        senders.emplace_back([h, s] {
            for (int i = 0; i < 500; ++i)
                ASSERT_TRUE(PostMessage(h, WM_USER, s, i));
        });
    for (auto& t : senders)
        t.join();
    worker.StopThread();  // WM_QUIT comes after every message posted before it
    ASSERT_EQ(got.size(), 1500u);
    int next[3] = {0, 0, 0};
    for (auto [s, i] : got)
        EXPECT_EQ(i, next[s]++);
}

TEST(MsgThreadTest, SendRunsOnTheOwnerThreadAndReturnsItsResult) {
    CWorker worker;
    worker.wnd.f = [](UINT, WPARAM w, LPARAM) {
        return static_cast<LRESULT>(w + GetCurrentThreadId());
    };
    ASSERT_TRUE(worker.CreateThread());
    EXPECT_EQ(SendMessage(worker.wnd.GetSafeHwnd(), WM_USER, 5), LRESULT(5 + worker.ThreadId()));
    EXPECT_NE(worker.ThreadId(), GetCurrentThreadId());
}

TEST(MsgThreadTest, SendToAWindowWhoseThreadEndedFailsAtOnce) {
    CWorker worker;
    ASSERT_TRUE(worker.CreateThread());
    const HWND h = worker.wnd.GetSafeHwnd();
    worker.StopThread();
    EXPECT_FALSE(SendMessage(h, WM_USER).has_value());
    EXPECT_FALSE(PostMessage(h, WM_USER));
}

TEST(MsgThreadTest, SendPendingWhenTheOwnerLoopEndsFailsInsteadOfHanging) {
    // The manual clock lets the test see when both threads are blocked: the worker in its
    // handler, the sender in its send.
    CManualClock clock;
    CScopedClock scoped(clock);
    CWorker worker;
    CEvent inHandler(true), release(true);
    worker.wnd.f = [&](UINT m, WPARAM, LPARAM) {
        if (m == WM_USER) {
            inHandler.Set();
            release.Wait();
            worker.Loop().Close();  // the thread's loop goes away with a send still queued
        }
        return LRESULT{1};
    };
    ASSERT_TRUE(worker.CreateThread());
    const HWND h = worker.wnd.GetSafeHwnd();
    PostMessage(h, WM_USER);
    inHandler.Wait();
    while (clock.Waiters() < 1)
        std::this_thread::yield();  // the worker, in release.Wait()
    std::optional<LRESULT> result = 123;
    std::thread sender([&] { result = SendMessage(h, WM_USER + 1); });
    while (clock.Waiters() < 2)
        std::this_thread::yield();
    release.Set();
    sender.join();
    EXPECT_FALSE(result.has_value());
}

TEST(MsgThreadTest, TwoThreadsSendingToEachOtherDoNotDeadlock) {
    CWorker a, b;
    ASSERT_TRUE(a.CreateThread());
    ASSERT_TRUE(b.CreateThread());
    // a's handler sends to b, whose handler sends back to a while a is still waiting.
    a.wnd.f = [&](UINT m, WPARAM w, LPARAM) -> LRESULT {
        if (m == WM_USER)
            return *SendMessage(b.wnd.GetSafeHwnd(), WM_USER, w + 1);
        return static_cast<LRESULT>(w * 10);
    };
    b.wnd.f = [&](UINT, WPARAM w, LPARAM) -> LRESULT {
        return *SendMessage(a.wnd.GetSafeHwnd(), WM_USER + 1, w + 1);
    };
    EXPECT_EQ(SendMessage(a.wnd.GetSafeHwnd(), WM_USER, 1), 30);
}

TEST(MsgThreadTest, AThreadBlockedInASendServesSendsToEveryLoopItDrives) {
    // This thread drives two loops (as tests do). While it waits for the worker, the worker's
    // handler sends to a window of each: both must be handled here, whichever was bound last.
    CMsgLoop first, second;
    struct CEcho : CWindow {
        LRESULT WindowProc(UINT, WPARAM w, LPARAM) override { return static_cast<LRESULT>(w); }
    } a, b;
    ASSERT_TRUE(a.CreateWindowOn(first, "first"));
    ASSERT_TRUE(b.CreateWindowOn(second, "second"));
    CWorker worker;
    worker.wnd.f = [&](UINT, WPARAM, LPARAM) -> LRESULT {
        return SendMessage(a.GetSafeHwnd(), WM_USER, 1).value_or(-100) +
               SendMessage(b.GetSafeHwnd(), WM_USER, 20).value_or(-100);
    };
    ASSERT_TRUE(worker.CreateThread());
    EXPECT_EQ(SendMessage(worker.wnd.GetSafeHwnd(), WM_USER), 21);
}

TEST(MsgThreadTest, SendAfterTheThreadsLoopWasDestroyedElsewhere) {
    // A thread that once pumped a loop sends after another thread destroyed that loop: the send
    // must not touch the loop that is gone.
    CWorker worker;
    worker.wnd.f = [](UINT, WPARAM w, LPARAM) { return static_cast<LRESULT>(w * 3); };
    ASSERT_TRUE(worker.CreateThread());
    auto pLoop = std::make_unique<CMsgLoop>();
    CEvent bound(true), gone(true);
    std::optional<LRESULT> result;
    std::thread t([&] {
        pLoop->Pump();
        bound.Set();
        gone.Wait();
        result = SendMessage(worker.wnd.GetSafeHwnd(), WM_USER, 7);
    });
    bound.Wait();
    pLoop.reset();
    gone.Set();
    t.join();
    EXPECT_EQ(result, 21);
}

TEST(MsgThreadTest, StoppingAWorkerThatIsSendingToUsServesItsSend) {
    // The worker's handler sends to a window of this thread just as this thread stops the
    // worker: the join must handle that send, or each would wait for the other for ever.
    CMsgLoop mine;
    struct CEcho : CWindow {
        LRESULT WindowProc(UINT, WPARAM w, LPARAM) override { return static_cast<LRESULT>(w); }
    } echo;
    ASSERT_TRUE(echo.CreateWindowOn(mine, "echo"));
    CWorker worker;
    CEvent sending(true);
    std::optional<LRESULT> got;
    worker.wnd.f = [&](UINT m, WPARAM, LPARAM) {
        if (m == WM_USER) {
            sending.Set();
            got = SendMessage(echo.GetSafeHwnd(), WM_USER, 5);
        }
        return LRESULT{0};
    };
    ASSERT_TRUE(worker.CreateThread());
    worker.wnd.PostMessage(WM_USER);
    sending.Wait();
    worker.StopThread();
    EXPECT_EQ(got, 5);
}

TEST(MsgThreadTest, UndeliveredPayloadsAreFreedAtShutdown) {
    {
        CWorker worker;
        CEvent gate(true);
        worker.wnd.f = [&](UINT, WPARAM, LPARAM) {
            gate.Wait();
            return LRESULT{0};
        };
        ASSERT_TRUE(worker.CreateThread());
        PostMessage(worker.wnd.GetSafeHwnd(), WM_USER);
        worker.Quit();
        for (int i = 0; i < 10; ++i)
            PostMessage(worker.wnd.GetSafeHwnd(), WM_USER + 1, std::make_unique<Tracked>());
        EXPECT_EQ(Tracked::s_nAlive, 10);
        gate.Set();
        worker.StopThread();
        EXPECT_EQ(Tracked::s_nAlive, 0);
        EXPECT_FALSE(worker.PostThreadMessage(WM_USER, std::make_unique<Tracked>()));
    }
    EXPECT_EQ(Tracked::s_nAlive, 0);
}

TEST(ManualClockThreadsTest, TimedWaitsAndSleepsEndOnlyWhenTimeIsAdvanced) {
    CManualClock clock;
    CScopedClock scoped(clock);
    CEvent ev;
    std::atomic<int> stage{0};
    std::thread t([&] {
        EXPECT_FALSE(ev.Wait(3000));  // a 3-second time-out that costs no real second
        stage = 1;
        Sleep(10);
        stage = 2;
        EXPECT_TRUE(ev.Wait(INFINITE));
        stage = 3;
    });
    auto waitForWaiter = [&] {
        while (clock.Waiters() == 0)
            std::this_thread::yield();
    };
    waitForWaiter();
    clock.Advance(2999);
    EXPECT_EQ(stage, 0);
    clock.Advance(1);
    while (stage < 1)
        std::this_thread::yield();
    waitForWaiter();
    clock.Advance(9);
    EXPECT_EQ(stage, 1);
    clock.Advance(1);
    while (stage < 2)
        std::this_thread::yield();
    ev.Set();
    t.join();
    EXPECT_EQ(stage, 3);
}

TEST(ManualClockThreadsTest, WorkerTimersFireWhenTimeAdvances) {
    CManualClock clock;
    CScopedClock scoped(clock);
    CWorker worker;
    std::atomic<int> fired{0};
    CEvent firedEv;
    worker.wnd.f = [&](UINT m, WPARAM, LPARAM) {
        if (m == WM_TIMER) {
            ++fired;
            firedEv.Set();
        }
        return LRESULT{0};
    };
    ASSERT_TRUE(worker.CreateThread());
    worker.wnd.SetTimer(1, 750);
    while (clock.Waiters() == 0)
        std::this_thread::yield();
    clock.Advance(749);
    EXPECT_EQ(fired, 0);
    clock.Advance(1);
    firedEv.Wait();
    EXPECT_EQ(fired, 1);
    worker.StopThread();
}

TEST(EventTest, AutoResetReleasesOneWaitManualResetReleasesAll) {
    CEvent autoEv(false, false), manualEv(true, false);
    autoEv.Set();
    EXPECT_TRUE(autoEv.Wait(0));
    EXPECT_FALSE(autoEv.Wait(0));
    std::atomic<int> released{0};
    std::vector<std::thread> ts;
    for (int i = 0; i < 3; ++i)
        ts.emplace_back([&] {
            manualEv.Wait();
            ++released;
        });
    manualEv.Set();
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(released, 3);
    EXPECT_TRUE(manualEv.Wait(0));
    manualEv.Reset();
    EXPECT_FALSE(manualEv.Wait(0));
}

}  // namespace
