#include "audio/WaveSinkToFileWAV.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/Logger.h"
#include "audio/WaveSourceFromFile.h"

CWaveSinkToFileWAV::~CWaveSinkToFileWAV() {
    // No block may arrive once this part of the object is gone.
    WaveSourceRemove();
    if (m_nState.load() == ST_RUNNING)
        Stop(nullptr);
    m_pFile.reset();
}

bool CWaveSinkToFileWAV::Init(const std::string& path, const CWaveFormat* fileFormat) {
    VLOG(INFO, "CWaveSinkToFileWAV[%8.8x]::Init [sWaveOutFilePath: %s]", LogAddr(this),
         path.c_str());
    std::lock_guard g(m_mFile);
    if (m_nState.load() == ST_RUNNING) {
        // Re-opening would cut a recording in progress short.
        VLOG(WARNING, "CWaveSinkToFileWAV::Init [ERROR: still recording]");
        return false;
    }
    if (!HasExtension(path, ".WAV")) {
        VLOG(WARNING, "CWaveSinkToFileWAV::Init [Audio file extention not handled]");
        return false;
    }
    m_pFile.reset();
    m_nState.store(ST_IDLE);
    m_pFile.reset(std::fopen(path.c_str(), "wb+e"));
    if (m_pFile == nullptr) {
        VLOG(WARNING, "CWaveSinkToFileWAV::Init [ERROR: unable to open output file]");
        return false;
    }
    // Unbuffered: every write reaches the file at once, so a write error is seen on the block
    // that caused it and a crash loses nothing already handed over.
    std::setvbuf(m_pFile.get(), nullptr, _IONBF, 0);
    if (fileFormat != nullptr)
        m_pWaveOutFormat = *fileFormat;
    else
        m_pWaveOutFormat.reset();
    m_uDataCount = 0;
    m_lRiffLenPos = 0;
    m_lDataLenPos = 0;
    m_uHeaderCount = 0;
    m_nState.store(ST_READY);
    return true;
}

bool CWaveSinkToFileWAV::WriteAll(const void* data, size_t len) {
    return std::fwrite(data, 1, len, m_pFile.get()) == len;
}

bool CWaveSinkToFileWAV::Start() {
    VLOG(INFO, "CWaveSinkToFileWAV[%8.8x]::Start", LogAddr(this));
    std::lock_guard g(m_mFile);
    CWaveSourceBase* source = m_pWaveSource.load();
    if (m_nState.load() != ST_READY || source == nullptr || source->GetFormat() == nullptr)
        return false;
    if (m_uDataCount != 0) {
        // The file already holds a recording; a new header would overwrite its samples.
        VLOG(WARNING, "CWaveSinkToFileWAV::Start[ ERROR: file already recorded, Init again ]");
        return false;
    }

    CWaveFormat s = *source->GetFormat();
    if (s.wFormatTag != WAVE_FORMAT_PCM) {
        VLOG(WARNING, "CWaveSinkToFileWAV::Start[ ERROR: NOT WAVE_FORMAT_PCM(%d) ]", s.wFormatTag);
        return false;
    }

    m_bChannelChange = 0;
    m_nChannelChangeByteWidth = -1;
    if (m_pWaveOutFormat && m_pWaveOutFormat->nChannels != s.nChannels) {
        if (m_pWaveOutFormat->nChannels != 1 || s.nChannels != 2) {
            VLOG(WARNING,
                 "CWaveSinkToFileWAV::Start[ FAILED: Channel Convertion - convertion to MONO "
                 "only]");
            return false;
        }
        if (s.wBitsPerSample == 8)
            m_nChannelChangeByteWidth = 1;
        else if (s.wBitsPerSample == 16)
            m_nChannelChangeByteWidth = 2;
        else
            return false;
        m_bChannelChange = 1;
        s.nChannels = m_pWaveOutFormat->nChannels;
        s.nBlockAlign = static_cast<WORD>((s.wBitsPerSample / 8) * s.nChannels);
    }

    CWaveFormat o = s;
    m_bRateConvert = 0;
    if (m_pWaveOutFormat && (m_pWaveOutFormat->nSamplesPerSec != s.nSamplesPerSec ||
                             m_pWaveOutFormat->wBitsPerSample != s.wBitsPerSample)) {
        if (!m_RateConvert.Init(s, *m_pWaveOutFormat)) {
            VLOG(WARNING, "CWaveSinkToFileWAV::Start[ FAILED: Convertion Init ]");
            return false;
        }
        m_bRateConvert = 1;
        o = *m_pWaveOutFormat;
    }
    if (o.nBlockAlign == 0 || o.wBitsPerSample == 0)
        return false;
    m_uDstBufLen = WaveBufferSize(o, source->GetBufferPeriod());
    m_SrcFormat = s;
    m_OutFormat = o;

    // The header, piece by piece, from the start of the (empty) file. Its lengths are those of
    // an empty recording and grow with every block.
    if (fseeko(m_pFile.get(), 0, SEEK_SET) != 0 || ftruncate(fileno(m_pFile.get()), 0) != 0)
        return false;
    uint8_t u32[4];
    if (!WriteAll("RIFF", 4))
        return false;
    m_lRiffLenPos = static_cast<int32_t>(ftello(m_pFile.get()));
    PutLE32(u32, kHeaderSize - 8);
    if (!WriteAll(u32, 4))
        return false;
    m_uHeaderCount = 0;
    if (!WriteAll("WAVE", 4))
        return false;
    m_uHeaderCount += 4;
    if (!WriteAll("fmt ", 4))
        return false;
    m_uHeaderCount += 4;
    PutLE32(u32, CWaveFormat::kRecordSize);
    if (!WriteAll(u32, 4))
        return false;
    m_uHeaderCount += 4;
    uint8_t rec[CWaveFormat::kRecordSize];
    CWaveFormat written = o;
    written.cbSize = 0;  // the fmt chunk holds exactly the 18-byte record
    written.RecordToBytes(rec);
    if (!WriteAll(rec, sizeof rec))
        return false;
    m_uHeaderCount += CWaveFormat::kRecordSize;
    if (!WriteAll("data", 4))
        return false;
    m_uHeaderCount += 4;
    m_lDataLenPos = static_cast<int32_t>(ftello(m_pFile.get()));
    PutLE32(u32, 0);
    if (!WriteAll(u32, 4))
        return false;
    m_uHeaderCount += 4;

    m_nState.store(ST_RUNNING);
    return true;
}

bool CWaveSinkToFileWAV::UpdateLengths() {
    uint8_t riff[4], data[4];
    PutLE32(riff, m_uHeaderCount + m_uDataCount);
    PutLE32(data, m_uDataCount);
    const int fd = fileno(m_pFile.get());
    return pwrite(fd, riff, 4, m_lRiffLenPos) == 4 && pwrite(fd, data, 4, m_lDataLenPos) == 4;
}

void CWaveSinkToFileWAV::WriteBuffer(const void* data, uint32_t len) {
    if (m_nState.load() != ST_RUNNING)
        return;
    VLOG(FINER, "CWaveSinkToFileWAV[%8.8x]::WriteBuffer [pSrcBuf: %#x, uLen: %d]", LogAddr(this),
         LogAddr(data), static_cast<int>(len));
    std::lock_guard g(m_mFile);
    if (m_nState.load() != ST_RUNNING || m_pFile == nullptr)
        return;

    const void* block = data;
    if (m_bChannelChange) {
        m_vMono.resize(len / 2);
        if (m_nChannelChangeByteWidth == 1) {
            len = CPCMRateConvert::StereoToMono8(static_cast<const uint8_t*>(block), len,
                                                 m_vMono.data());
        } else if (m_nChannelChangeByteWidth == 2) {
            len = CPCMRateConvert::StereoToMono16(static_cast<const int16_t*>(block), len,
                                                  reinterpret_cast<int16_t*>(m_vMono.data()));
        } else {
            VLOG(WARNING, "CWaveSinkToFileWAV::WriteBuffer [ERROR! ChannelChangeByteWidth: %d]",
                 m_nChannelChangeByteWidth);
            return;
        }
        block = m_vMono.data();
    }
    if (m_bRateConvert) {
        // The rule's size, or more when the source hands over a longer block than its own rule.
        const uint64_t inFrames = len / (m_SrcFormat.nBlockAlign ? m_SrcFormat.nBlockAlign : 1);
        const uint64_t need = (inFrames * m_OutFormat.nSamplesPerSec /
                                   (m_SrcFormat.nSamplesPerSec ? m_SrcFormat.nSamplesPerSec : 1) +
                               16) *
                              m_OutFormat.nBlockAlign;
        const uint32_t cap = static_cast<uint32_t>(std::max<uint64_t>(m_uDstBufLen, need));
        m_vConverted.resize(cap);
        len = m_RateConvert.Convert(block, len, m_vConverted.data(), cap);
        block = m_vConverted.data();
    }
    AppendData(block, len);
}

void CWaveSinkToFileWAV::AppendData(const void* block, uint32_t len) {
    // Whole frames only: a split sample would shift every later sample in the file.
    len -= len % m_OutFormat.nBlockAlign;
    if (len == 0)
        return;
    if (static_cast<uint64_t>(m_uHeaderCount) + m_uDataCount + len > 0xFFFFFFFFull) {
        VLOG(WARNING, "CWaveSinkToFileWAV::WriteBuffer [ERROR: file full at %u bytes]",
             m_uDataCount);
        return;
    }

    errno = 0;
    if (!WriteAll(block, len)) {
        const int err = errno ? errno : 1;
        VLOG(WARNING, "CWaveSinkToFileWAV::WriteBuffer [ERROR: fwrite(%d)]", err);
        // Cut a partly written block off again so the file keeps whole samples and matches its
        // lengths; later blocks follow on from the last complete one.
        std::clearerr(m_pFile.get());
        const off_t end = static_cast<off_t>(kHeaderSize) + m_uDataCount;
        if (ftruncate(fileno(m_pFile.get()), end) != 0 || fseeko(m_pFile.get(), end, SEEK_SET) != 0)
            VLOG(WARNING, "CWaveSinkToFileWAV::WriteBuffer [ERROR: truncate(%d)]", errno);
        return;
    }
    m_uDataCount += len;
    if (!UpdateLengths())
        VLOG(WARNING, "CWaveSinkToFileWAV::WriteBuffer [ERROR: header update(%d)]", errno);
}

bool CWaveSinkToFileWAV::Stop(CWaveNotify* /*notify*/) {
    std::lock_guard g(m_mFile);
    if (m_nState.load() != ST_RUNNING)
        return false;
    if (m_bRateConvert) {
        // The resampler's filter still holds the last few milliseconds of the recording.
        m_vConverted.resize(std::max<size_t>(m_uDstBufLen, m_vConverted.size()));
        const uint32_t len =
            m_RateConvert.Flush(m_vConverted.data(), static_cast<uint32_t>(m_vConverted.size()));
        AppendData(m_vConverted.data(), len);
    }
    VLOG(INFO, "CWaveSinkToFileWAV[%8.8x]::Stop [Header Count: %d, Data Count: %d]", LogAddr(this),
         static_cast<int>(m_uHeaderCount), static_cast<int>(m_uDataCount));
    uint8_t u32[4];
    PutLE32(u32, m_uHeaderCount + m_uDataCount);
    if (fseeko(m_pFile.get(), m_lRiffLenPos, SEEK_SET) != 0 || !WriteAll(u32, 4))
        return false;
    PutLE32(u32, m_uDataCount);
    if (fseeko(m_pFile.get(), m_lDataLenPos, SEEK_SET) != 0 || !WriteAll(u32, 4))
        return false;
    VLOG(INFO, "CWaveSinkToFileWAV::Stop [updated file header]");
    m_nState.store(ST_READY);
    return true;
}

bool CWaveSinkToFileWAV::Release() {
    std::lock_guard g(m_mFile);
    if (m_nState.load() != ST_READY)
        return false;
    m_nState.store(ST_IDLE);
    m_pFile.reset();
    VLOG(INFO, "CWaveSinkToFileWAV[%8.8x]::Release [Closed output file]", LogAddr(this));
    return true;
}

void CWaveSinkToFileWAV::Terminate() {
    VLOG(INFO, "CWaveSinkToFileWAV[%8.8x]::Terminate", LogAddr(this));
    Stop(nullptr);
    WaveSourceRemove();
}
