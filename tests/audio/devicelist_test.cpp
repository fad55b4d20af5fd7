// The device lists and the cable search over a backend whose devices the test names: the
// default entry first, at most 31 devices, names cut to 31 characters, a failed query, and the
// prefix and digit rules that find the four cable ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "WaveTestUtil.h"
#include "app/CableNames.h"
#include "audio/AudioCtrl.h"
#include "audio/CableSearch.h"
#include "platform/audio/VirtualWave.h"

namespace {

using wavetest::CNamesBackend;

class DeviceListTest : public testing::Test {
protected:
    CNamesBackend& Use(std::vector<std::string> out, std::vector<std::string> in = {}) {
        auto backend = std::make_unique<CNamesBackend>(std::move(out), std::move(in));
        CNamesBackend& ref = *backend;
        SetWaveBackend(std::move(backend));
        return ref;
    }
    void TearDown() override {
        SetWaveBackend(CreateVirtualWaveBackend());
        g_strVac1PlaybackDevice.clear();
        g_strVac2PlaybackDevice.clear();
        g_strVac1RecordingDevice.clear();
        g_strVac2RecordingDevice.clear();
    }
    CLogCapture m_log;
};

TEST_F(DeviceListTest, TheDefaultComesFirstThenAtMost31Devices) {
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back("Device " + std::to_string(i));
    Use(names, {"Mic"});

    const CPlaybackDeviceList out;
    ASSERT_EQ(out.GetCount(), 32u);
    EXPECT_EQ(out.GetName(0), "System Default");
    EXPECT_EQ(out.GetDevId(0), WAVE_MAPPER);
    EXPECT_EQ(out.GetName(1), "Device 0");
    EXPECT_EQ(out.GetDevId(1), 0u);
    EXPECT_EQ(out.GetName(31), "Device 30");
    EXPECT_EQ(out.GetDevId(31), 30u);
    // Beyond the table: the default entry.
    EXPECT_EQ(out.GetName(32), "System Default");
    EXPECT_EQ(out.GetDevId(99), WAVE_MAPPER);
    EXPECT_EQ(out.GetDevIdByName("Device 31"), WAVE_MAPPER);
    EXPECT_EQ(out.GetDevIdByName("Device 7"), 7u);
    EXPECT_EQ(out.GetDevIdByName("device 7"), WAVE_MAPPER);  // letter case counts
    EXPECT_EQ(out.GetNameByDevId(30), "Device 30");

    const CRecordingDeviceList in;
    ASSERT_EQ(in.GetCount(), 2u);
    EXPECT_EQ(in.GetName(1), "Mic");
    EXPECT_EQ(in.GetNameByDevId(7), "System Default");
    // Both names of the default mean the default device, whatever the settings file holds.
    EXPECT_EQ(in.GetDevIdByName("System Default"), WAVE_MAPPER);
    EXPECT_EQ(in.GetDevIdByName("Windows Default"), WAVE_MAPPER);
}

TEST_F(DeviceListTest, LongNamesAreCutTo31CharactersNeverInsideACharacter) {
    const std::string ascii(40, 'x');
    // 30 ASCII characters, then a two-byte character across the limit.
    const std::string utf8 = std::string(30, 'a') + "\xC3\xA9" + "b";
    Use({ascii, utf8});
    const CPlaybackDeviceList out;
    EXPECT_EQ(out.GetName(1), std::string(31, 'x'));
    EXPECT_EQ(out.GetName(2), std::string(30, 'a'));
}

TEST_F(DeviceListTest, AFailedQueryLeavesOnlyTheDefault) {
    Use({"A", "B", "C", "D"}).m_nFailAt = 2;
    const CPlaybackDeviceList out;
    EXPECT_EQ(out.GetCount(), 1u);
    EXPECT_EQ(out.GetName(1), "System Default");
    EXPECT_TRUE(m_log.Has(
        "CPlaybackDeviceList::CPlaybackDeviceList[ ERROR in waveOutGetDevCaps( devId: 2) ]",
        WARNING))
        << m_log.Dump();
}

TEST_F(DeviceListTest, TheCableSearchFollowsThePrefixAndDigitRules) {
    const std::string c1 = "Vokra Virtual Cable 1", c2 = "Vokra Virtual Cable 2";
    struct Case {
        const char* what;
        std::vector<std::string> out, in;
        bool found;
        std::string play1, play2, rec1, rec2;
    } cases[] = {
        {"both cables", {"Speakers", c1, c2}, {"Mic", c2, c1}, true, c1, c2, c1, c2},
        {"only cable 1", {c1}, {c1}, false, c1, "", c1, ""},
        {"lower case is not ours",
         {"vokra virtual cable 1", "vokra virtual cable 2"},
         {"vokra virtual cable 1", "vokra virtual cable 2"},
         false,
         "",
         "",
         "",
         ""},
        {"no digits", {"Vokra Virtual Cable A"}, {"Vokra Virtual Cable B"}, false, "", "", "", ""},
        {"the prefix must come first",
         {"My Vokra Virtual Cable 1", c2},
         {c1, c2},
         false,
         "",
         c2,
         c1,
         c2},
        {"both digits fill both, the later match wins",
         {"Vokra Virtual Cable 12", "Vokra Virtual Cable 2b"},
         {"Vokra Virtual Cable 1+2"},
         true,
         "Vokra Virtual Cable 12",
         "Vokra Virtual Cable 2b",
         "Vokra Virtual Cable 1+2",
         "Vokra Virtual Cable 1+2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_strVac1RecordingDevice = "left from before";
        Use(c.out, c.in);
        EXPECT_EQ(FindCableDevices(), c.found);
        EXPECT_EQ(g_strVac1PlaybackDevice, c.play1);
        EXPECT_EQ(g_strVac2PlaybackDevice, c.play2);
        EXPECT_EQ(g_strVac1RecordingDevice, c.rec1);
        EXPECT_EQ(g_strVac2RecordingDevice, c.rec2);
    }
}

TEST_F(DeviceListTest, TheVirtualBackendsCablesAreFound) {
    SetWaveBackend(CreateVirtualWaveBackend());
    ASSERT_TRUE(FindCableDevices());
    EXPECT_EQ(g_strVac1PlaybackDevice, "Vokra Virtual Cable 1");
    EXPECT_EQ(g_strVac2PlaybackDevice, "Vokra Virtual Cable 2");
    EXPECT_EQ(g_strVac1RecordingDevice, "Vokra Virtual Cable 1");
    EXPECT_EQ(g_strVac2RecordingDevice, "Vokra Virtual Cable 2");
}

}  // namespace
