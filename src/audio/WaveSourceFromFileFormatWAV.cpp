#include <cstring>

#include "app/Logger.h"
#include "audio/WaveFileReading.h"
#include "audio/WaveSourceFromFile.h"

namespace {
constexpr DWORD kMinRate = 1000;
constexpr DWORD kMaxRate = 96000;
}  // namespace

#define WAV_HDR_FAIL(...)                                                                   \
    do {                                                                                    \
        VLOG(WARNING,                                                                       \
             "CWaveSourceFromFileFormatWAV::ReadAudioFileHeaderAndSaveFormat" __VA_ARGS__); \
        return false;                                                                       \
    } while (0)

bool CWaveSourceFromFileFormatWAV::ReadAudioFileHeaderAndSaveFormat() {
    VLOG(INFO, "CWaveSourceFromFileFormatWAV[%8.8x]::ReadAudioFileHeaderAndSaveFormat",
         LogAddr(this));
    FILE* f = m_pOwner->GetFile();
    if (f == nullptr)
        WAV_HDR_FAIL("[ Bad SEEK(end)]");

    // The file length bounds the walk and every length read from the file.
    if (fseeko(f, 0, SEEK_END) != 0)
        WAV_HDR_FAIL("[ Bad SEEK(end)]");
    const int64_t fileLen = ftello(f);
    if (fileLen < 0)
        WAV_HDR_FAIL("[ Bad FTELL(filelength)]");
    int64_t limit = fileLen;
    if (fseeko(f, 0, SEEK_SET) != 0)
        WAV_HDR_FAIL("[ Bad SEEK(0)]");

    enum : unsigned { kRiff = 1, kWave = 2, kFmt = 4, kFact = 8, kData = 0x20 };
    unsigned flags = 0;
    CWaveFormat local;

    // Skips a chunk body of len bytes plus its pad byte; false when it would leave the file.
    auto skipChunk = [&](uint32_t len) {
        const int64_t pos = ftello(f);
        if (pos < 0)
            return false;
        const int64_t next = pos + len + (len & 1);
        // A chunk that claims more than the file holds ends the walk; it is never followed.
        if (next > fileLen)
            return false;
        return fseeko(f, next, SEEK_SET) == 0;
    };

    // The chunk walk, up to and including the "data" chunk header.
    for (;;) {
        uint8_t id[4];
        if (!ReadExact(f, id, 4))
            WAV_HDR_FAIL("[ Bad READ(marker)]");
        if (std::memcmp(id, "RIFF", 4) == 0) {
            if (flags != 0)
                WAV_HDR_FAIL("[ RIFF on first marker in file]");
            uint32_t len;
            if (!ReadLE32(f, len))
                WAV_HDR_FAIL("[ Bad READ(RIFF length)]");
            if (static_cast<int64_t>(len) + 8 < limit)
                limit = static_cast<int64_t>(len) + 8;
            flags = kRiff;
        } else if (std::memcmp(id, "WAVE", 4) == 0) {
            if (!(flags & kRiff))
                WAV_HDR_FAIL("[ WAVE marker before RIFF ]");
            flags |= kWave;
        } else if (std::memcmp(id, "fmt ", 4) == 0) {
            if ((flags & (kRiff | kWave)) != (kRiff | kWave))
                WAV_HDR_FAIL("[ fmt marker before RIFF|WAVE ]");
            uint32_t len;
            if (!ReadLE32(f, len))
                WAV_HDR_FAIL("[ Bad READ(fmt length)]");
            if (flags & kFmt) {
                // A second format chunk: the first one counts.
                if (!skipChunk(len))
                    break;
            } else {
                if (len < 16)
                    WAV_HDR_FAIL("[ fmt length too small ]");
                uint8_t rec[16];
                if (!ReadExact(f, rec, 16))
                    WAV_HDR_FAIL("[ Bad READ(WAVEFORMATEX)]");
                local.FieldsFromBytes(rec);
                const int64_t pos = ftello(f);
                if (pos < 0 || pos + (len - 16) > fileLen)
                    WAV_HDR_FAIL("[ Bad READ(Format Extra)]");
                if (fseeko(f, pos + (len - 16) + (len & 1), SEEK_SET) != 0)
                    WAV_HDR_FAIL("[ Bad READ(Format Extra)]");
                flags |= kFmt;
            }
        } else if (std::memcmp(id, "fact", 4) == 0) {
            if ((flags & (kRiff | kWave)) != (kRiff | kWave))
                WAV_HDR_FAIL("[ fact marker before RIFF|WAVE ]");
            if (!(flags & kFmt))
                VLOG(WARNING,
                     "CWaveSourceFromFileFormatWAV::ReadAudioFileHeaderAndSaveFormat[ fact marker "
                     "before fmt ]");
            uint32_t len;
            if (!ReadLE32(f, len))
                WAV_HDR_FAIL("[ Bad READ(fact length)]");
            if (len != 0) {
                const int64_t pos = ftello(f);
                if (pos < 0 || pos + len > fileLen)
                    WAV_HDR_FAIL("[ Bad SEEK(passed fact)]");
                if (fseeko(f, pos + len + (len & 1), SEEK_SET) != 0)
                    WAV_HDR_FAIL("[ Bad SEEK(passed fact)]");
            }
            flags |= kFact;
        } else if (std::memcmp(id, "data", 4) == 0) {
            if ((flags & (kRiff | kWave | kFmt)) != (kRiff | kWave | kFmt))
                WAV_HDR_FAIL("[ data marker before RIFF|WAVE|fmt ]");
            uint32_t len;
            if (!ReadLE32(f, len))
                WAV_HDR_FAIL("[ Bad READ(data length)]");
            const int64_t offset = ftello(f);
            if (offset < 0)
                WAV_HDR_FAIL("[ Bad FTELL(nDataOffset)]");
            m_uDataLen = len;
            m_nDataOffset = offset;
            flags |= kData;
            // An unfinished recording keeps a placeholder length, and a cut-off one may claim
            // more than the file holds: both play what is really there.
            const uint64_t avail = static_cast<uint64_t>(fileLen - offset);
            m_uDataLeft = (len == 0x7FFFFFFFu || len == 0xFFFFFFFFu || len > avail) ? avail : len;
            if (m_uDataLeft >= 4) {
                uint8_t mark[4];
                if (!ReadExact(f, mark, 4))
                    WAV_HDR_FAIL("[ Bad READ(marker check for wvpk)]");
                if (std::memcmp(mark, "wvpk", 4) == 0)
                    WAV_HDR_FAIL(
                        "[ wvpk marker at the start of the DATA section. Not able to handle this "
                        "]");
            }
            break;  // what follows the samples is not needed to play them
        } else {
            if (!(flags & kRiff))
                WAV_HDR_FAIL("[ no RIFF marker at start of file ]");
            if (!(flags & kWave))
                WAV_HDR_FAIL("[ no WAVE marker after RIFF ]");
            // Any other chunk before the samples ("LIST", "JUNK", "bext", ...) is skipped.
            uint32_t len;
            if (!ReadLE32(f, len))
                break;
            if (!skipChunk(len))
                break;
        }
        const int64_t pos = ftello(f);
        if (pos < 0)
            WAV_HDR_FAIL("[ Bad FTELL(curpos)]");
        if (pos >= limit - 4)
            break;
    }
    if (!(flags & kData))
        WAV_HDR_FAIL("[ no data marker ]");

    // Back to the first sample.
    if (fseeko(f, m_nDataOffset, SEEK_SET) != 0)
        WAV_HDR_FAIL("[ Bad SEEK(data start)]");

    // Only what the sinks can convert.
    if (local.wFormatTag != WAVE_FORMAT_PCM)
        WAV_HDR_FAIL("[ NOT WAVE_FORMAT_PCM ]");
    if (local.nChannels != 1 && local.nChannels != 2)
        WAV_HDR_FAIL("[ nChannels: %d ]", local.nChannels);
    if (local.wBitsPerSample != 8 && local.wBitsPerSample != 16)
        WAV_HDR_FAIL("[ wBitsPerSample: %d ]", local.wBitsPerSample);
    // Below 1,000 Hz a "sound" file is nonsense, and a few bytes of it would stand for days of
    // playing and converting.
    if (local.nSamplesPerSec < kMinRate || local.nSamplesPerSec > kMaxRate)
        WAV_HDR_FAIL("[ nSamplesPerSec: %d ]", static_cast<int>(local.nSamplesPerSec));

    // The record the source publishes, with one channel's byte rate as InitPcmFormat has.
    auto format = std::make_unique<CWaveFormat>();
    InitPcmFormat(*format, local.nChannels, local.wBitsPerSample, local.nSamplesPerSec);
    m_uDataLeft -= m_uDataLeft % format->nBlockAlign;  // a trailing partial frame is no sound
    m_pOwner->SetBufferPeriod(kFileBufferPeriod);
    m_uBytesToRead = WholeFrameBlock(*format, kFileBufferPeriod);
    m_pOwner->SetFormat(std::move(format));
    return true;
}

bool CWaveSourceFromFileFormatWAV::DecodeFileLoop(void* block, uint32_t* length) {
    VLOG(FINER, "CWaveSourceFromFileFormatWAV[%8.8x]::DecodeFileLoop[ m_uBytesToRead: %d ]",
         LogAddr(this), static_cast<int>(m_uBytesToRead));
    *length = 0;
    FILE* f = m_pOwner->GetFile();
    if (f == nullptr)
        return false;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(m_uBytesToRead, m_uDataLeft));
    if (want == 0)
        return true;
    size_t got = std::fread(block, 1, want, f);
    if (got < want) {
        if (std::ferror(f))
            return false;
        m_uDataLeft = 0;  // the file is shorter than when it was opened
        const CWaveFormat* fmt = m_pOwner->GetFormat();
        if (fmt != nullptr && fmt->nBlockAlign)
            got -= got % fmt->nBlockAlign;
    } else {
        m_uDataLeft -= got;
    }
    *length = static_cast<uint32_t>(got);
    return true;
}
