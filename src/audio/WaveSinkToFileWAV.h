#pragma once
// The sink that writes what its source delivers into a WAV file, converting channels, rate and
// width to the file's format on the way. The two length fields always describe what is in the
// file, so a recording cut off by a crash still reads back with its true length.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/PCMRateConvert.h"
#include "audio/WaveSink.h"
#include "platform/FileUtil.h"

class CWaveSinkToFile : public CWaveSinkBase {
public:
    virtual bool Init(const std::string& path, const CWaveFormat* fileFormat) = 0;
    virtual bool Release() = 0;

protected:
    CFilePtr m_pFile;
};

class CWaveSinkToFileWAV : public CWaveSinkToFile {
public:
    // Bytes before the samples: "RIFF", its length, then m_uHeaderCount (38) bytes.
    static constexpr uint32_t kHeaderSize = 46;

    CWaveSinkToFileWAV() = default;
    ~CWaveSinkToFileWAV() override;

    void WriteBuffer(const void* data, uint32_t len) override;
    void Terminate() override;
    bool Start() override;
    bool Stop(CWaveNotify* notify) override;
    // fileFormat null: the file gets the source's format. The record is copied.
    bool Init(const std::string& path, const CWaveFormat* fileFormat) override;
    bool Release() override;

    uint32_t GetDataCount() const { return m_uDataCount; }
    uint32_t GetDstBufLen() const { return m_uDstBufLen; }

private:
    bool WriteAll(const void* data, size_t len);
    // Appends samples in the file's format and brings the lengths up to date (m_mFile held).
    void AppendData(const void* block, uint32_t len);
    // Brings both length fields up to date with the samples written so far.
    bool UpdateLengths();

    // Guards the file and the counts: blocks arrive on the source's thread, Stop and Release
    // come from the owner's.
    std::mutex m_mFile;
    uint32_t m_uHeaderCount = 0;
    uint32_t m_uDataCount = 0;
    int32_t m_lRiffLenPos = 0;
    int32_t m_lDataLenPos = 0;
    std::optional<CWaveFormat> m_pWaveOutFormat;
    int m_bChannelChange = 0;
    int m_nChannelChangeByteWidth = -1;
    int m_bRateConvert = 0;
    CPCMRateConvert m_RateConvert;
    uint32_t m_uDstBufLen = 0;
    CWaveFormat m_SrcFormat;  // the source's format after the channel reduction
    CWaveFormat m_OutFormat;  // what the file holds
    std::vector<uint8_t> m_vMono;
    std::vector<uint8_t> m_vConverted;
};
