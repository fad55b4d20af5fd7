#pragma once
// PCM conversion for the sinks: stereo-to-mono reduction, and change of sample rate and width
// on libsoxr's resampler. One converter per stream; its filter state runs on from block to
// block so that block edges make no clicks, and Flush hands over what the filter still holds
// when the stream ends.
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/WaveFormat.h"

struct soxr;

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
    // failure). Never writes beyond uDstBufLen. When the rates differ, the first blocks of a
    // stream come out shorter by the filter's delay (GetDelayFrames); output that does not fit
    // stays in the converter for the next call.
    uint32_t Convert(const void* pSrcBuf, uint32_t uSrcBufLen, void* dst, uint32_t uDstBufLen);
    // Ends the stream: writes what the filter still holds (at most the delay and the output
    // that did not fit before), then starts a new stream with the same formats. Returns the
    // bytes written; 0 when there is nothing to flush or the converter is closed.
    uint32_t Flush(void* dst, uint32_t uDstBufLen);
    void Close();
    bool IsOpen() const { return m_bOpen; }
    // Output frames the filter holds back at this moment (0 when only width or channels change).
    double GetDelayFrames() const;

    // Reductions of interleaved stereo (left first); return the output length in bytes.
    static uint32_t StereoToMono8(const uint8_t* in, uint32_t len, uint8_t* out);
    static uint32_t StereoToMono16(const int16_t* in, uint32_t len, int16_t* out);

private:
    struct CSoxrDeleter {
        void operator()(soxr* s) const;
    };
    using SoxrPtr = std::unique_ptr<soxr, CSoxrDeleter>;

    // Writes resampled frames (up to the room of dst) in the target's width; returns bytes.
    uint32_t Drain(const int16_t* in, uint32_t inFrames, bool bEnd, void* dst, uint32_t uDstBufLen);

    bool m_bOpen = false;
    // The resampler; null when the rates are equal and only width or channels change.
    SoxrPtr m_hStream;
    CWaveFormat m_From;
    CWaveFormat m_To;
    std::vector<int16_t> m_vIn;   // source frames as 16-bit, output channel count
    std::vector<int16_t> m_vOut;  // resampled frames, when the target is 8-bit
};
