// The transport before Init: every operation refuses, says so, and starts nothing.
#include <gtest/gtest.h>

#include "TestClock.h"
#include "skype/STL.h"

TEST(StlBeforeInit, EveryOperationRefusesAndLogs) {
    CLogRecorder logs;
    CSTL stl;
    EXPECT_EQ(stl.GetConnectionState(), -1);
    EXPECT_EQ(stl.QueueCtrlAckCmd(DeviceToSkypeCmd(D2S_GET_USERSTATUS)), 0);
    stl.Connect();
    stl.Disconnect();
    EXPECT_EQ(stl.End(), 0);
    EXPECT_EQ(stl.GetConnectionState(), -1);
    for (const char* text :
         {"CSTL::SendCmdAcknowledged - Init not done", "CSTL::Connect - Init not done",
          "CSTL::Disconnect - Init not done", "CSTL::End - Init not done"})
        EXPECT_EQ(logs.CountAt(WARNING, text), 1) << text;
    EXPECT_EQ(stl.GetSafeHwnd(), 0u);
}

TEST(StlBeforeInit, InitWithoutALoopFailsAndShowsTheError) {
    CLogRecorder logs;
    CSTL stl;
    // No loop is given and none is bound to this thread.
    ASSERT_EQ(CMsgLoop::Current(), nullptr);
    EXPECT_EQ(stl.Init(1, nullptr, nullptr), 0);
    EXPECT_EQ(stl.GetConnectionState(), -1);
    EXPECT_EQ(logs.Count("Unable to create window."), 1);
}
