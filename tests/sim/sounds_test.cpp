// The program's own sounds as the build puts them beside each executable: readable by our own
// reader, in a format the devices take, short, neither silent nor clipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/FileUtil.h"
#include "sim/SkypeSimAudio.h"

namespace {

// The loudest sample, in 16-bit units.
int Peak(const CSimSound& sound) {
    int peak = 0;
    for (size_t i = 0; i + 1 < sound.m_vData.size(); i += 2)
        peak = std::max(
            peak, std::abs(static_cast<int16_t>(sound.m_vData[i] | (sound.m_vData[i + 1] << 8))));
    return peak;
}

TEST(SoundsTest, BeepsAndGreetingAreShortPleasantMono16BitFiles) {
    struct Case {
        const char* name;
        double minSeconds, maxSeconds;
    };
    const Case cases[] = {
        {"beep1.wav", 0.1, 1.0},
        {"beep2.wav", 0.1, 1.0},
        {"greeting.wav", 2.0, 6.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSimSound sound;
        ASSERT_TRUE(ReadSimSound(GetProgramFolder() + c.name, sound));
        EXPECT_EQ(sound.m_pcm.nChannels, 1);
        EXPECT_EQ(sound.m_pcm.wBitsPerSample, 16);
        EXPECT_GE(sound.m_pcm.nSamplesPerSec, 16000u);
        const double seconds = static_cast<double>(sound.m_vData.size()) / sound.BytesPerSecond();
        EXPECT_GT(seconds, c.minSeconds);
        EXPECT_LT(seconds, c.maxSeconds);
        // Clearly heard, with headroom left: a clipped tone is harsh.
        EXPECT_GT(Peak(sound), 32768 / 8);
        EXPECT_LT(Peak(sound), 32767 * 9 / 10);
    }
}

}  // namespace
