#pragma once
// The conversions at the ends of a virtual cable: device PCM to the cable's float stereo and
// back, and a streaming rate change that keeps its filter state from one tick to the next.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/audio/WaveDevice.h"

struct soxr;

// Appends `frames` frames of PCM in `pcm` to `out` as interleaved float stereo (mono on both
// channels).
void PcmToCable(const uint8_t* data, size_t frames, const CPcmSpec& pcm, std::vector<float>& out);
// Appends the frames of interleaved float stereo `in` to `out` as PCM in `pcm` (mono: the mean
// of the two channels), rounded and clipped.
void CableToPcm(const float* in, size_t frames, const CPcmSpec& pcm, std::vector<uint8_t>& out);
// Bytes per frame of the format.
inline uint32_t PcmBlockAlign(const CPcmSpec& pcm) {
    return static_cast<uint32_t>(pcm.nChannels) * (pcm.wBitsPerSample / 8u);
}

// A streaming stereo float resampler on libsoxr; a pass-through when both rates are equal.
class CCableResampler {
public:
    CCableResampler() = default;
    ~CCableResampler();
    CCableResampler(const CCableResampler&) = delete;
    CCableResampler& operator=(const CCableResampler&) = delete;

    // False when libsoxr refuses the pair.
    bool Init(double inRate, double outRate);
    // Appends what the frames of `in` give at the output rate (the resampler holds back a few
    // milliseconds of its own delay).
    void Process(const float* in, size_t frames, std::vector<float>& out);

private:
    soxr* m_hSoxr = nullptr;
    double m_dRatio = 1.0;
};
