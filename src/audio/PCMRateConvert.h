#pragma once
// PCM conversion for the sinks: stereo-to-mono reduction, and change of sample rate and width
// on speexdsp's resampler. One converter per stream; its filter state runs on from block to
// block so that block edges make no clicks.
#include <cstdint>
#include <vector>

#include "audio/WaveFormat.h"

struct SpeexResamplerState_;

class CPCMRateConvert {
public:
    CPCMRateConvert() = default;
    virtual ~CPCMRateConvert();
    CPCMRateConvert(const CPCMRateConvert&) = delete;
    CPCMRateConvert& operator=(const CPCMRateConvert&) = delete;

    // PCM to PCM only: 8- or 16-bit, one or two channels, 1 to 96,000 Hz on either side.
    // Closes any open stream first; false leaves the converter closed.
    bool Init(const CWaveFormat& from, const CWaveFormat& to);
    // Converts the whole source frames of one block; returns the bytes written to dst (0 on
    // failure). Never writes beyond uDstBufLen.
    uint32_t Convert(const void* pSrcBuf, uint32_t uSrcBufLen, void* dst, uint32_t uDstBufLen);
    bool IsOpen() const { return m_bOpen; }

    // Reductions of interleaved stereo (left first); return the output length in bytes.
    static uint32_t StereoToMono8(const uint8_t* in, uint32_t len, uint8_t* out);
    static uint32_t StereoToMono16(const int16_t* in, uint32_t len, int16_t* out);

private:
    void Close();

    bool m_bOpen = false;
    // The resampler; null when the rates are equal and only width or channels change.
    SpeexResamplerState_* m_hStream = nullptr;
    CWaveFormat m_From;
    CWaveFormat m_To;
    std::vector<int16_t> m_vIn;   // source frames as 16-bit, output channel count
    std::vector<int16_t> m_vOut;  // resampled frames
};
