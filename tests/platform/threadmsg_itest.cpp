// Thread messages addressed by thread id: they reach the worker's own loop, in order, and a post
// to a thread that has no loop (any more) fails instead of vanishing.
#include <gtest/gtest.h>

#include <vector>

#include "platform/MsgLoop.h"
#include "platform/Sync.h"

namespace {

class CCollector : public CMsgThread {
public:
    ~CCollector() override { StopThread(); }
    std::vector<std::pair<UINT, WPARAM>> got;  // worker thread only, until it has ended
    CEvent evGot{false, false};

protected:
    void OnThreadMessage(UINT m, WPARAM w, LPARAM) override {
        got.push_back({m, w});
        evGot.Set();
    }
};

TEST(ThreadMessageTest, ReachesTheThreadsLoopInOrderAndFailsOnceItHasEnded) {
    CCollector worker;
    ASSERT_TRUE(worker.CreateThread());
    const uint32_t tid = worker.ThreadId();
    ASSERT_NE(tid, 0u);
    for (WPARAM i = 0; i < 5; ++i)
        EXPECT_TRUE(PostThreadMessage(tid, WM_USER + 7, i));
    worker.StopThread();
    ASSERT_EQ(worker.got.size(), 5u);
    for (WPARAM i = 0; i < 5; ++i)
        EXPECT_EQ(worker.got[i], std::make_pair(WM_USER + 7, i));

    EXPECT_FALSE(PostThreadMessage(tid, WM_USER + 7, 99));
}

TEST(ThreadMessageTest, UnknownThreadFailsAndADrivenLoopIsReachedByItsThreadId) {
    EXPECT_FALSE(PostThreadMessage(0, WM_USER));
    EXPECT_FALSE(PostThreadMessage(0xFFFFFFF0u, WM_USER));

    std::vector<WPARAM> got;
    {
        CMsgLoop loop;
        loop.SetThreadMessageHandler([&](UINT, WPARAM w, LPARAM) { got.push_back(w); });
        loop.Bind();
        EXPECT_TRUE(PostThreadMessage(GetCurrentThreadId(), WM_USER, 42));
        loop.PumpUntilIdle();
    }
    EXPECT_EQ(got, std::vector<WPARAM>{42});
    // The loop is gone: this thread has none to post to now.
    EXPECT_FALSE(PostThreadMessage(GetCurrentThreadId(), WM_USER, 43));
}

}  // namespace
