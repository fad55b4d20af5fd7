// The device layer's error texts and the process's backend.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/audio/VirtualWave.h"
#include "platform/audio/WaveDevice.h"

namespace {

TEST(WaveErrorTextTest, EveryCodeHasItsOwnText) {
    const MMRESULT codes[] = {MMSYSERR_NOERROR,    MMSYSERR_ERROR,       MMSYSERR_BADDEVICEID,
                              MMSYSERR_ALLOCATED,  MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER,
                              MMSYSERR_NOMEM,      MMSYSERR_INVALPARAM,  WAVERR_BADFORMAT,
                              WAVERR_STILLPLAYING, WAVERR_UNPREPARED,    12345};
    std::set<std::string> texts;
    for (MMRESULT code : codes) {
        const std::string text = WaveErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), std::size(codes));
    EXPECT_NE(WaveErrorText(12345).find("12345"), std::string::npos);
}

TEST(WaveDevicesTest, TheVirtualBackendServesUntilAnotherIsSet) {
    EXPECT_STREQ(WaveDevices().Name(), "virtual");
    auto own = std::make_unique<CVirtualWaveBackend>();
    own->AddDevice({"Mine", EWaveKind::In, 0, {}, false});
    IWaveBackend* p = own.get();
    SetWaveBackend(std::move(own));
    EXPECT_EQ(&WaveDevices(), p);
    EXPECT_EQ(WaveDevices().GetNumDevs(EWaveKind::In), 4u);
    SetWaveBackend(nullptr);
    EXPECT_EQ(WaveDevices().GetNumDevs(EWaveKind::In), 3u);
}

}  // namespace
