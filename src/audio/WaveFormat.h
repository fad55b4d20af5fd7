#pragma once
// The audio format record shared by every source and sink, and the buffer-size rule.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Types.h"

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x55;

// Serialised little-endian without gaps: 18 bytes, then cbSize extra bytes. In memory the
// fields are plain integers; ToBytes/FromBytes do the byte layout, so nothing depends on struct
// packing or host byte order.
struct CWaveFormat {
    static constexpr size_t kRecordSize = 18;

    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
    std::vector<uint8_t> abExtra;  // the cbSize bytes that follow the record

    // Replaces the extra bytes and keeps cbSize in step with them.
    void SetExtra(const uint8_t* data, size_t len);
    // 18 + cbSize bytes.
    std::vector<uint8_t> ToBytes() const;
    // The first 18 bytes only (cbSize as stored, extras not included).
    void RecordToBytes(uint8_t out[kRecordSize]) const;
    // Reads the six fields of the first 16 bytes (everything but cbSize).
    void FieldsFromBytes(const uint8_t* data);
    // Reads a record and its extra bytes; false when fewer than 18 + cbSize bytes are given.
    static bool FromBytes(const uint8_t* data, size_t len, CWaveFormat& out);

    bool operator==(const CWaveFormat&) const = default;
};

// All 18 bytes zeroed, then a PCM record. The byte rate is that of one channel
// (rate x bytes per sample); every caller passes one channel, where it equals rate x block.
void InitPcmFormat(CWaveFormat& format, WORD channels, WORD bits, DWORD rate);

// Bytes in one buffer of the format: period x bits x channels x rate / 1000, in unsigned 32-bit
// arithmetic. Bits rather than bytes, so one buffer holds 8 x period ms of sound.
uint32_t WaveBufferSize(const CWaveFormat& format, uint32_t period);

// Little-endian helpers for the file readers and writers.
inline void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint16_t GetLE16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The low 32 bits of an object's address, for the "%8.8x" / "%#x" fields of the log texts.
inline unsigned LogAddr(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}
