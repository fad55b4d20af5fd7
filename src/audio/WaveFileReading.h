#pragma once
// Reading helpers shared by the WAV and MP3 readers of CWaveSourceFromFile.
#include <cstdint>
#include <cstdio>

#include "audio/WaveFormat.h"
#include "audio/WaveSource.h"

// Milliseconds of sound in one block handed to the sinks.
constexpr uint32_t kFileBufferPeriod = 100;

inline bool ReadExact(FILE* f, void* buf, size_t len) {
    return std::fread(buf, 1, len, f) == len;
}

inline bool ReadLE32(FILE* f, uint32_t& v) {
    uint8_t b[4];
    if (!ReadExact(f, b, 4))
        return false;
    v = GetLE32(b);
    return true;
}

// The block size for a format: the buffer rule, cut to whole frames so that no sample is ever
// split between two blocks (at least one frame).
inline uint32_t WholeFrameBlock(const CWaveFormat& f, uint32_t period) {
    const uint32_t frame = f.nBlockAlign ? f.nBlockAlign : 1;
    const uint32_t size = WaveBufferSize(f, period) / frame * frame;
    return size ? size : frame;
}
