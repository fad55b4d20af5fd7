#include <algorithm>
#include <cstring>
#include <string>

#include "app/Logger.h"
#include "audio/WaveFileReading.h"
#include "audio/WaveSourceFromFile.h"

namespace {
constexpr DWORD kMinRate = 1000;
constexpr DWORD kMaxRate = 96000;

// Logs why the header is refused; false, so a step can end with `return Refuse(...)`.
bool Refuse(const std::string& why) {
    VLOG(WARNING, "CWaveSourceFromFileFormatWAV::ReadAudioFileHeaderAndSaveFormat%s", why.c_str());
    return false;
}

// What one chunk tells the walk: go on to the next, stop walking, or refuse the file.
enum class EChunkStep { Next, Stop, Fail };

EChunkStep Fail(const std::string& why) {
    Refuse(why);
    return EChunkStep::Fail;
}

// What the chunk walk has found so far.
struct CHeaderWalk {
    enum : unsigned { kRiff = 1, kWave = 2, kFmt = 4, kFact = 8, kData = 0x20 };
    FILE* f = nullptr;
    int64_t fileLen = 0;
    int64_t limit = 0;  // the end of the RIFF body, or of the file when that is shorter
    unsigned flags = 0;
    CWaveFormat format;
    int64_t dataOffset = 0;
    uint64_t dataLeft = 0;
    bool Has(unsigned mask) const { return (flags & mask) == mask; }
};

// The file length bounds the walk and every length read from the file.
bool MeasureFile(CHeaderWalk& w) {
    if (fseeko(w.f, 0, SEEK_END) != 0)
        return Refuse("[ Bad SEEK(end)]");
    w.fileLen = ftello(w.f);
    if (w.fileLen < 0)
        return Refuse("[ Bad FTELL(filelength)]");
    w.limit = w.fileLen;
    if (fseeko(w.f, 0, SEEK_SET) != 0)
        return Refuse("[ Bad SEEK(0)]");
    return true;
}

// Skips a chunk body of len bytes plus its pad byte; false when it would leave the file.
bool SkipChunk(const CHeaderWalk& w, uint32_t len) {
    const int64_t pos = ftello(w.f);
    if (pos < 0)
        return false;
    const int64_t next = pos + len + (len & 1);
    // A chunk that claims more than the file holds ends the walk; it is never followed.
    if (next > w.fileLen)
        return false;
    return fseeko(w.f, next, SEEK_SET) == 0;
}

EChunkStep OnRiff(CHeaderWalk& w) {
    if (w.flags != 0)
        return Fail("[ RIFF on first marker in file]");
    uint32_t len;
    if (!ReadLE32(w.f, len))
        return Fail("[ Bad READ(RIFF length)]");
    w.limit = std::min(w.limit, static_cast<int64_t>(len) + 8);
    w.flags = CHeaderWalk::kRiff;
    return EChunkStep::Next;
}

EChunkStep OnWave(CHeaderWalk& w) {
    if (!w.Has(CHeaderWalk::kRiff))
        return Fail("[ WAVE marker before RIFF ]");
    w.flags |= CHeaderWalk::kWave;
    return EChunkStep::Next;
}

EChunkStep OnFmt(CHeaderWalk& w) {
    if (!w.Has(CHeaderWalk::kRiff | CHeaderWalk::kWave))
        return Fail("[ fmt marker before RIFF|WAVE ]");
    uint32_t len;
    if (!ReadLE32(w.f, len))
        return Fail("[ Bad READ(fmt length)]");
    // A second format chunk: the first one counts.
    if (w.Has(CHeaderWalk::kFmt))
        return SkipChunk(w, len) ? EChunkStep::Next : EChunkStep::Stop;
    if (len < 16)
        return Fail("[ fmt length too small ]");
    uint8_t rec[16];
    if (!ReadExact(w.f, rec, 16))
        return Fail("[ Bad READ(WAVEFORMATEX)]");
    w.format.FieldsFromBytes(rec);
    const int64_t pos = ftello(w.f);
    if (pos < 0 || pos + (len - 16) > w.fileLen)
        return Fail("[ Bad READ(Format Extra)]");
    if (fseeko(w.f, pos + (len - 16) + (len & 1), SEEK_SET) != 0)
        return Fail("[ Bad READ(Format Extra)]");
    w.flags |= CHeaderWalk::kFmt;
    return EChunkStep::Next;
}

EChunkStep OnFact(CHeaderWalk& w) {
    if (!w.Has(CHeaderWalk::kRiff | CHeaderWalk::kWave))
        return Fail("[ fact marker before RIFF|WAVE ]");
    if (!w.Has(CHeaderWalk::kFmt))
        VLOG(WARNING,
             "CWaveSourceFromFileFormatWAV::ReadAudioFileHeaderAndSaveFormat[ fact marker "
             "before fmt ]");
    uint32_t len;
    if (!ReadLE32(w.f, len))
        return Fail("[ Bad READ(fact length)]");
    if (len != 0) {
        const int64_t pos = ftello(w.f);
        if (pos < 0 || pos + len > w.fileLen)
            return Fail("[ Bad SEEK(passed fact)]");
        if (fseeko(w.f, pos + len + (len & 1), SEEK_SET) != 0)
            return Fail("[ Bad SEEK(passed fact)]");
    }
    w.flags |= CHeaderWalk::kFact;
    return EChunkStep::Next;
}

// The samples' chunk ends the walk: what follows them is not needed to play them.
EChunkStep OnData(CHeaderWalk& w) {
    if (!w.Has(CHeaderWalk::kRiff | CHeaderWalk::kWave | CHeaderWalk::kFmt))
        return Fail("[ data marker before RIFF|WAVE|fmt ]");
    uint32_t len;
    if (!ReadLE32(w.f, len))
        return Fail("[ Bad READ(data length)]");
    const int64_t offset = ftello(w.f);
    if (offset < 0)
        return Fail("[ Bad FTELL(nDataOffset)]");
    w.dataOffset = offset;
    w.flags |= CHeaderWalk::kData;
    // An unfinished recording keeps a placeholder length, and a cut-off one may claim more than
    // the file holds: both play what is really there.
    const uint64_t avail = static_cast<uint64_t>(w.fileLen - offset);
    w.dataLeft = (len == 0x7FFFFFFFu || len == 0xFFFFFFFFu || len > avail) ? avail : len;
    if (w.dataLeft >= 4) {
        uint8_t mark[4];
        if (!ReadExact(w.f, mark, 4))
            return Fail("[ Bad READ(marker check for wvpk)]");
        if (std::memcmp(mark, "wvpk", 4) == 0)
            return Fail(
                "[ wvpk marker at the start of the DATA section. Not able to handle this ]");
    }
    return EChunkStep::Stop;
}

// Any other chunk before the samples ("LIST", "JUNK", "bext", ...) is skipped.
EChunkStep OnOtherChunk(CHeaderWalk& w) {
    if (!w.Has(CHeaderWalk::kRiff))
        return Fail("[ no RIFF marker at start of file ]");
    if (!w.Has(CHeaderWalk::kWave))
        return Fail("[ no WAVE marker after RIFF ]");
    uint32_t len;
    if (!ReadLE32(w.f, len) || !SkipChunk(w, len))
        return EChunkStep::Stop;
    return EChunkStep::Next;
}

EChunkStep OnChunk(CHeaderWalk& w, const uint8_t (&id)[4]) {
    if (std::memcmp(id, "RIFF", 4) == 0)
        return OnRiff(w);
    if (std::memcmp(id, "WAVE", 4) == 0)
        return OnWave(w);
    if (std::memcmp(id, "fmt ", 4) == 0)
        return OnFmt(w);
    if (std::memcmp(id, "fact", 4) == 0)
        return OnFact(w);
    if (std::memcmp(id, "data", 4) == 0)
        return OnData(w);
    return OnOtherChunk(w);
}

// The chunk walk, up to and including the "data" chunk header.
bool WalkChunks(CHeaderWalk& w) {
    for (;;) {
        uint8_t id[4];
        if (!ReadExact(w.f, id, 4))
            return Refuse("[ Bad READ(marker)]");
        const EChunkStep step = OnChunk(w, id);
        if (step == EChunkStep::Fail)
            return false;
        if (step == EChunkStep::Stop)
            break;
        const int64_t pos = ftello(w.f);
        if (pos < 0)
            return Refuse("[ Bad FTELL(curpos)]");
        if (pos >= w.limit - 4)
            break;
    }
    if (!w.Has(CHeaderWalk::kData))
        return Refuse("[ no data marker ]");
    return true;
}

// Only what the sinks can convert.
bool CheckPlayable(const CWaveFormat& format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM)
        return Refuse("[ NOT WAVE_FORMAT_PCM ]");
    if (format.nChannels != 1 && format.nChannels != 2)
        return Refuse(StrFormat("[ nChannels: %d ]", format.nChannels));
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16)
        return Refuse(StrFormat("[ wBitsPerSample: %d ]", format.wBitsPerSample));
    // Below 1,000 Hz a "sound" file is nonsense, and a few bytes of it would stand for days of
    // playing and converting.
    if (format.nSamplesPerSec < kMinRate || format.nSamplesPerSec > kMaxRate)
        return Refuse(StrFormat("[ nSamplesPerSec: %d ]", static_cast<int>(format.nSamplesPerSec)));
    return true;
}
}  // namespace

bool CWaveSourceFromFileFormatWAV::ReadAudioFileHeaderAndSaveFormat() {
    VLOG(INFO, "CWaveSourceFromFileFormatWAV[%8.8x]::ReadAudioFileHeaderAndSaveFormat",
         LogAddr(this));
    CHeaderWalk w;
    w.f = m_pOwner->GetFile();
    if (w.f == nullptr)
        return Refuse("[ Bad SEEK(end)]");
    if (!MeasureFile(w))
        return false;
    const bool walked = WalkChunks(w);
    if (w.Has(CHeaderWalk::kData)) {
        m_nDataOffset = w.dataOffset;
        m_uDataLeft = w.dataLeft;
    }
    if (!walked)
        return false;

    // Back to the first sample.
    if (fseeko(w.f, m_nDataOffset, SEEK_SET) != 0)
        return Refuse("[ Bad SEEK(data start)]");
    if (!CheckPlayable(w.format))
        return false;

    // The record the source publishes, with one channel's byte rate as InitPcmFormat has.
    auto format = std::make_unique<CWaveFormat>();
    InitPcmFormat(*format, w.format.nChannels, w.format.wBitsPerSample, w.format.nSamplesPerSec);
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
