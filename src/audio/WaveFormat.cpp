#include "audio/WaveFormat.h"

void CWaveFormat::SetExtra(const uint8_t* data, size_t len) {
    if (len > 0xFFFF)
        len = 0xFFFF;
    abExtra.assign(data, data + len);
    cbSize = static_cast<WORD>(len);
}

void CWaveFormat::RecordToBytes(uint8_t out[kRecordSize]) const {
    PutLE16(out + 0, wFormatTag);
    PutLE16(out + 2, nChannels);
    PutLE32(out + 4, nSamplesPerSec);
    PutLE32(out + 8, nAvgBytesPerSec);
    PutLE16(out + 12, nBlockAlign);
    PutLE16(out + 14, wBitsPerSample);
    PutLE16(out + 16, cbSize);
}

std::vector<uint8_t> CWaveFormat::ToBytes() const {
    std::vector<uint8_t> bytes(kRecordSize + cbSize, 0);
    RecordToBytes(bytes.data());
    for (size_t i = 0; i < cbSize && i < abExtra.size(); ++i)
        bytes[kRecordSize + i] = abExtra[i];
    return bytes;
}

bool CWaveFormat::FromBytes(const uint8_t* data, size_t len, CWaveFormat& out) {
    if (len < kRecordSize)
        return false;
    const WORD extra = GetLE16(data + 16);
    if (len - kRecordSize < extra)
        return false;
    out.FieldsFromBytes(data);
    out.SetExtra(data + kRecordSize, extra);
    return true;
}

void CWaveFormat::FieldsFromBytes(const uint8_t* data) {
    wFormatTag = GetLE16(data + 0);
    nChannels = GetLE16(data + 2);
    nSamplesPerSec = GetLE32(data + 4);
    nAvgBytesPerSec = GetLE32(data + 8);
    nBlockAlign = GetLE16(data + 12);
    wBitsPerSample = GetLE16(data + 14);
}

void InitPcmFormat(CWaveFormat& format, WORD channels, WORD bits, DWORD rate) {
    format = CWaveFormat{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * (bits / 8u);
    format.nBlockAlign = static_cast<WORD>(channels * (bits / 8u));
    format.wBitsPerSample = bits;
    format.cbSize = 0;
}

uint32_t WaveBufferSize(const CWaveFormat& format, uint32_t period) {
    return period * format.wBitsPerSample * format.nChannels * format.nSamplesPerSec / 1000u;
}
