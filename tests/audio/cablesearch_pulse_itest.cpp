// The cable search on a private PulseAudio daemon: the cables made by the same code as
// scripts/cables are found by their names, and a server without them makes the search fail.
#include <gtest/gtest.h>

#include <string>

#include "app/CableNames.h"
#include "audio/CableSearch.h"
#include "platform/PulseTestDaemon.h"
#include "platform/audio/PulseCables.h"
#include "platform/audio/PulseWave.h"
#include "platform/audio/VirtualWave.h"

// libpulse is not built for ThreadSanitizer: its memory pools hand blocks from one thread to
// another with atomics the sanitizer cannot see, so it reports races inside the library alone.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon-*.so\nrace:libpulse.so*\n";
}

namespace {

class CableSearchPulseTest : public testing::Test {
protected:
    void SetUp() override {
        if (!m_daemon.Start())
            GTEST_SKIP() << "a private PulseAudio daemon cannot start here: " << m_daemon.Error();
    }
    void TearDown() override {
        SetWaveBackend(CreateVirtualWaveBackend());
        g_strVac1PlaybackDevice.clear();
        g_strVac2PlaybackDevice.clear();
        g_strVac1RecordingDevice.clear();
        g_strVac2RecordingDevice.clear();
    }
    // A fresh backend on the daemon, so the lists are read as they are now.
    static void UsePulse() {
        std::string error;
        auto backend = CreatePulseWaveBackend(&error);
        ASSERT_TRUE(backend) << error;
        SetWaveBackend(std::move(backend));
    }
    CPulseTestDaemon m_daemon;
};

TEST_F(CableSearchPulseTest, TheFourEndsAreFoundOnlyWhileTheCablesExist) {
    UsePulse();
    EXPECT_FALSE(FindCableDevices());

    std::string error;
    ASSERT_TRUE(CreatePulseCables(&error)) << error;
    UsePulse();
    ASSERT_TRUE(FindCableDevices());
    EXPECT_EQ(g_strVac1PlaybackDevice, "Vokra Virtual Cable 1");
    EXPECT_EQ(g_strVac2PlaybackDevice, "Vokra Virtual Cable 2");
    EXPECT_EQ(g_strVac1RecordingDevice, "Vokra Virtual Cable 1");
    EXPECT_EQ(g_strVac2RecordingDevice, "Vokra Virtual Cable 2");

    ASSERT_TRUE(RemovePulseCables(&error)) << error;
    UsePulse();
    EXPECT_FALSE(FindCableDevices());
    EXPECT_TRUE(g_strVac1PlaybackDevice.empty());
}

}  // namespace
