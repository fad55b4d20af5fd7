#include "audio/WaveSourceFromFile.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "app/Logger.h"
#include "platform/StrUtil.h"
#include "platform/Sync.h"

bool HasExtension(const std::string& path, const std::string& ext) {
    if (path.empty() || ext.empty() || path.size() <= ext.size())
        return false;
    return EqualNoCase(std::string_view(path).substr(path.size() - ext.size()), ext);
}

namespace {
constexpr uint32_t kBufferPeriod = 100;
constexpr DWORD kMinRate = 1000;
constexpr DWORD kMaxRate = 96000;

// Opens a regular file for reading; anything else (a folder, a pipe that would block until
// someone writes to it, a device) is as good as missing.
FILE* OpenRegularFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* f = fdopen(fd, "rb");
    if (f == nullptr)
        close(fd);
    return f;
}

bool ReadExact(FILE* f, void* buf, size_t len) {
    return std::fread(buf, 1, len, f) == len;
}

bool ReadLE32(FILE* f, uint32_t& v) {
    uint8_t b[4];
    if (!ReadExact(f, b, 4))
        return false;
    v = GetLE32(b);
    return true;
}

// The block size for a format: the buffer rule, cut to whole frames so that no sample is ever
// split between two blocks (at least one frame).
uint32_t WholeFrameBlock(const CWaveFormat& f, uint32_t period) {
    const uint32_t frame = f.nBlockAlign ? f.nBlockAlign : 1;
    const uint32_t size = WaveBufferSize(f, period) / frame * frame;
    return size ? size : frame;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// WAV reader

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
    m_pOwner->SetBufferPeriod(kBufferPeriod);
    m_uBytesToRead = WholeFrameBlock(*format, kBufferPeriod);
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

// ---------------------------------------------------------------------------------------------
// MP3 reader

namespace {
constexpr DWORD kMp3OutRate = 48000;
constexpr size_t kSyncWindow = 1000;

void Mpg123InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}
}  // namespace

#define MP3_HDR_FAIL(...)                                                                   \
    do {                                                                                    \
        VLOG(WARNING,                                                                       \
             "CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat" __VA_ARGS__); \
        return false;                                                                       \
    } while (0)

void CMpg123Deleter::operator()(mpg123_handle_struct* h) const {
    mpg123_delete(h);
}

CWaveSourceFromFileFormatMP3::~CWaveSourceFromFileFormatMP3() = default;

bool CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat() {
    VLOG(INFO, "CWaveSourceFromFileFormatMP3[%8.8x]::ReadAudioFileHeaderAndSaveFormat",
         LogAddr(this));
    FILE* f = m_pOwner->GetFile();
    if (f == nullptr)
        MP3_HDR_FAIL("[ Bad SEEK(end)]");
    if (fseeko(f, 0, SEEK_END) != 0)
        MP3_HDR_FAIL("[ Bad SEEK(end)]");
    const int64_t fileLen = ftello(f);
    if (fileLen < 0)
        MP3_HDR_FAIL("[ Bad FTELL(filelength)]");
    if (fseeko(f, 0, SEEK_SET) != 0)
        MP3_HDR_FAIL("[ Bad SEEK(0)]");

    // An ID3v2 tag (often with a picture) comes before the first frame; its bytes could look
    // like a frame sync, so the search starts after it.
    uint8_t id3[10];
    int64_t searchStart = 0;
    if (ReadExact(f, id3, 10) && std::memcmp(id3, "ID3", 3) == 0 && id3[6] < 0x80 &&
        id3[7] < 0x80 && id3[8] < 0x80 && id3[9] < 0x80) {
        const int64_t tagLen =
            (static_cast<int64_t>(id3[6]) << 21) | (id3[7] << 14) | (id3[8] << 7) | id3[9];
        searchStart = 10 + tagLen + ((id3[5] & 0x10) ? 10 : 0);
        if (searchStart > fileLen)
            searchStart = fileLen;
    }
    if (fseeko(f, searchStart, SEEK_SET) != 0)
        MP3_HDR_FAIL("[ Bad SEEK(0)]");

    // Sync search: windows of up to 1000 bytes overlapping by 4, so every position is tested.
    uint8_t win[kSyncWindow];
    const uint8_t* hdr = nullptr;
    for (;;) {
        const size_t n = std::fread(win, 1, kSyncWindow, f);
        if (n == 0) {
            if (std::ferror(f))
                MP3_HDR_FAIL("[ Bad READ(sync search) ]");
            MP3_HDR_FAIL("[ no mp3 frame header found ]");
        }
        for (size_t p = 0; p + 3 < n; ++p) {
            if (win[p] == 0xFF && (win[p + 1] & 0xE0) == 0xE0) {
                hdr = win + p;
                break;
            }
        }
        if (hdr != nullptr)
            break;
        // A short window was the end of the file: nothing further to search.
        if (n < kSyncWindow)
            MP3_HDR_FAIL("[ no mp3 frame header found ]");
        if (fseeko(f, -4, SEEK_CUR) != 0)
            MP3_HDR_FAIL("[ Bad SEEK(0)]");
    }

    // The MPEG audio frame header, most significant bit first.
    const unsigned version = (hdr[1] >> 3) & 3;
    const unsigned layer = (hdr[1] >> 1) & 3;
    const unsigned rateIndex = (hdr[2] >> 2) & 3;
    const unsigned mode = (hdr[3] >> 6) & 3;
    const unsigned divisor = version == 3 ? 1 : version == 2 ? 2 : 4;
    if (version == 1 || layer == 0 || rateIndex == 3 || mode == 2)
        MP3_HDR_FAIL("[ Bad mp3 header decode ]");
    static constexpr DWORD kRates[3] = {44100, 48000, 32000};
    const DWORD headerRate = kRates[rateIndex] / divisor;
    const WORD headerChannels = mode == 3 ? 1 : 2;
    VLOG(INFO,
         "CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat[ decoded mp3 header]");
    VLOG(INFO,
         "CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat[ %d Hz, %d channels ]",
         static_cast<int>(headerRate), headerChannels);

    if (fseeko(f, 0, SEEK_SET) != 0)
        MP3_HDR_FAIL("[ Bad SEEK(0)]");

    // The decoder that will turn the frames into PCM must be there.
    Mpg123InitOnce();
    int err = MPG123_OK;
    m_hDecoder.reset();
    m_hDecoder.reset(mpg123_new(nullptr, &err));
    if (m_hDecoder == nullptr)
        MP3_HDR_FAIL("[ no mp3 decoder: %s ]", mpg123_plain_strerror(err));
    mpg123_param(m_hDecoder.get(), MPG123_FLAGS, MPG123_MONO_MIX | MPG123_QUIET | MPG123_GAPLESS,
                 0);
    mpg123_format_none(m_hDecoder.get());
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(m_hDecoder.get(), rates[i], MPG123_MONO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(m_hDecoder.get()) != MPG123_OK)
        MP3_HDR_FAIL("[ no mp3 decoder: %s ]", mpg123_strerror(m_hDecoder.get()));

    // What the source delivers: 16-bit mono at 48,000 Hz, whatever the stream's own format.
    auto format = std::make_unique<CWaveFormat>();
    InitPcmFormat(*format, 1, 16, kMp3OutRate);
    m_pOwner->SetBufferPeriod(kBufferPeriod);
    m_uBytesToRead = WholeFrameBlock(*format, kBufferPeriod);
    m_pOwner->SetFormat(std::move(format));
    m_nStreamRate = 0;
    m_bEnd = false;
    m_vPending.clear();
    m_uPendingPos = 0;
    return true;
}

bool CWaveSourceFromFileFormatMP3::DecodeMore() {
    FILE* f = m_pOwner->GetFile();
    if (f == nullptr || m_hDecoder == nullptr)
        return false;
    m_vDecoded.resize(16384);
    // Bounds the turns that yield neither sound nor a request for input.
    for (int idle = 0; idle < 64; ++idle) {
        size_t done = 0;
        const int rc = mpg123_read(m_hDecoder.get(), m_vDecoded.data(), m_vDecoded.size(), &done);
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(m_hDecoder.get(), &rate, &channels, &encoding);
            if (rate != m_nStreamRate) {
                m_nStreamRate = rate;
                if (rate != static_cast<long>(kMp3OutRate)) {
                    CWaveFormat from, to;
                    InitPcmFormat(from, 1, 16, static_cast<DWORD>(rate));
                    InitPcmFormat(to, 1, 16, kMp3OutRate);
                    if (!m_RateConvert.Init(from, to))
                        return false;
                }
            }
            continue;
        }
        if (rc == MPG123_OK || (rc == MPG123_NEED_MORE && done > 0) ||
            (rc == MPG123_DONE && done > 0)) {
            if (done == 0)
                continue;
            idle = 0;
            if (m_nStreamRate == static_cast<long>(kMp3OutRate)) {
                m_vPending.insert(m_vPending.end(), m_vDecoded.begin(),
                                  m_vDecoded.begin() + static_cast<ptrdiff_t>(done));
            } else {
                const uint64_t frames = done / 2;
                const uint64_t room =
                    (frames * kMp3OutRate / static_cast<uint64_t>(m_nStreamRate) + 64) * 2;
                m_vConverted.resize(room);
                const uint32_t n =
                    m_RateConvert.Convert(m_vDecoded.data(), static_cast<uint32_t>(done),
                                          m_vConverted.data(), static_cast<uint32_t>(room));
                m_vPending.insert(m_vPending.end(), m_vConverted.begin(), m_vConverted.begin() + n);
            }
            if (rc == MPG123_DONE)
                m_bEnd = true;
            return true;
        }
        if (rc == MPG123_NEED_MORE) {
            m_vIn.resize(16384);
            const size_t n = std::fread(m_vIn.data(), 1, m_vIn.size(), f);
            if (n == 0) {
                if (std::ferror(f))
                    return false;
                m_bEnd = true;
                return true;
            }
            if (mpg123_feed(m_hDecoder.get(), m_vIn.data(), n) != MPG123_OK)
                return false;
            idle = 0;
            continue;
        }
        if (rc == MPG123_DONE) {
            m_bEnd = true;
            return true;
        }
        VLOG(WARNING, "CWaveSourceFromFileFormatMP3::DecodeFileLoop[ %s ]",
             mpg123_strerror(m_hDecoder.get()));
        return false;
    }
    VLOG(WARNING, "CWaveSourceFromFileFormatMP3::DecodeFileLoop[ decoder makes no progress ]");
    return false;
}

bool CWaveSourceFromFileFormatMP3::DecodeFileLoop(void* block, uint32_t* length) {
    VLOG(FINER, "CWaveSourceFromFileFormatMP3[%8.8x]::DecodeFileLoop[ m_uBytesToRead: %d ]",
         LogAddr(this), static_cast<int>(m_uBytesToRead));
    *length = 0;
    auto* out = static_cast<uint8_t*>(block);
    uint32_t filled = 0;
    while (filled < m_uBytesToRead) {
        if (m_uPendingPos < m_vPending.size()) {
            const size_t n =
                std::min<size_t>(m_uBytesToRead - filled, m_vPending.size() - m_uPendingPos);
            std::memcpy(out + filled, m_vPending.data() + m_uPendingPos, n);
            filled += static_cast<uint32_t>(n);
            m_uPendingPos += n;
            continue;
        }
        m_vPending.clear();
        m_uPendingPos = 0;
        if (m_bEnd)
            break;
        if (!DecodeMore()) {
            // A damaged stream ends here; what was decoded before still plays.
            m_bEnd = true;
            if (filled == 0)
                return false;
            break;
        }
    }
    *length = filled;
    return true;
}

// ---------------------------------------------------------------------------------------------
// The file source

struct CWaveSourceFromFile::CThreadControl {
    CEvent evKnown{true, false};  // the thread has published its id
    CEvent evGo{true, false};     // the thread may start streaming
    CEvent evEnded{true, false};  // the streaming loop has returned
    uint32_t uThreadId = 0;
};

CWaveSourceFromFile::CWaveSourceFromFile() = default;

CWaveSourceFromFile::~CWaveSourceFromFile() {
    int running = ST_RUNNING;
    if (m_nState.compare_exchange_strong(running, ST_READY))
        m_pNotify.store(nullptr);
    JoinStreamingThread();
    std::lock_guard loop(m_mLoop);
    m_pFileFormat.reset();
    CloseFile();
}

void CWaveSourceFromFile::CloseFile() {
    m_pFile.reset();
}

void CWaveSourceFromFile::JoinStreamingThread() {
    if (!m_hThread.joinable())
        return;
    if (m_hThread.get_id() == std::this_thread::get_id())
        m_hThread.detach();
    else
        m_hThread.join();
    m_pThreadControl.reset();
}

bool CWaveSourceFromFile::Init(const std::string& path) {
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::Init [File Path: %s]", LogAddr(this), path.c_str());
    if (m_nState.load() == ST_RUNNING) {
        // The streaming loop is using the reader and the file.
        VLOG(WARNING, "CWaveSourceFromFile::Init [ERROR: still streaming]");
        return false;
    }
    JoinStreamingThread();
    std::lock_guard loop(m_mLoop);
    m_pFileFormat.reset();
    SetFormat(nullptr);
    if (HasExtension(path, ".WAV")) {
        m_pFileFormat = std::make_unique<CWaveSourceFromFileFormatWAV>(this);
    } else if (HasExtension(path, ".MP3")) {
        m_pFileFormat = std::make_unique<CWaveSourceFromFileFormatMP3>(this);
    } else {
        VLOG(WARNING, "CWaveSourceFromFile::Init [Audio file extention not handled]");
        return false;
    }
    m_strFilePath = path;
    CloseFile();
    m_pFile.reset(OpenRegularFile(path));
    if (m_pFile == nullptr) {
        VLOG(WARNING, "CWaveSourceFromFile::Init [Could not find \"%s\"]", path.c_str());
        m_pFileFormat.reset();
        return false;
    }
    if (!m_pFileFormat->ReadAudioFileHeaderAndSaveFormat()) {
        VLOG(WARNING, "CWaveSourceFromFile::Init [ERROR with File Header]");
        m_pFileFormat.reset();
        SetFormat(nullptr);
        CloseFile();
        return false;
    }
    SetReady();
    return true;
}

bool CWaveSourceFromFile::Start(CWaveNotify* notify) {
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::Start [ Notify: %#x ]", LogAddr(this), LogAddr(notify));
    if (m_nState.load() == ST_RUNNING || !m_pFileFormat)
        return false;
    // A thread from an earlier run must be gone before a new loop uses the reader.
    JoinStreamingThread();
    m_nState.store(ST_RUNNING);
    m_pNotify.store(notify);
    if (notify != nullptr) {
        VLOG(INFO, "CWaveSourceFromFile::Start [spawn dedicated thread]");
        auto control = std::make_shared<CThreadControl>();
        m_pThreadControl = control;
        // The thread waits for the go signal, as a thread created suspended would, so that its
        // id is logged before it streams.
        m_hThread = std::thread([this, control] {
            control->uThreadId = GetCurrentThreadId();
            control->evKnown.Set();
            control->evGo.Wait();
            StreamFileNotifyOnDoneOrStopOnFlagThread(this);
            control->evEnded.Set();
        });
        control->evKnown.Wait();
        VLOG(INFO, "CWaveSourceFromFile::Start [Thread ID: %#x, Hndl: %#x]", control->uThreadId,
             static_cast<unsigned>(m_hThread.native_handle()));
        control->evGo.Set();
    } else {
        VLOG(INFO, "CWaveSourceFromFile::Start [block caller thread]");
        StreamFileNotifyOnDoneOrStopOnFlag();
    }
    return true;
}

uint32_t CWaveSourceFromFile::StreamFileNotifyOnDoneOrStopOnFlagThread(
    CWaveSourceFromFile* source) {
    source->StreamFileNotifyOnDoneOrStopOnFlag();
    // The source may be released by now: only its address is used.
    VLOG(INFO, "StreamFileNotifyOnDoneOrStopOnFlagThread [Thread End [%8.8x]]", LogAddr(source));
    return 0;
}

void CWaveSourceFromFile::StreamFileNotifyOnDoneOrStopOnFlag() {
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::StreamFileNotifyOnDoneOrStopOnFlag", LogAddr(this));
    std::lock_guard loop(m_mLoop);
    CWaveSourceFromFileFormat* reader = m_pFileFormat.get();
    std::vector<uint8_t> block(reader->GetBytesToRead(), 0);
    while (m_nState.load() == ST_RUNNING) {
        uint32_t length = 0;
        if (!reader->DecodeFileLoop(block.data(), &length)) {
            VLOG(WARNING, "CWaveSourceFromFile::ERROR from DecodeFileLoop");
            length = 0;
        }
        if (length == 0) {
            // Only one of the end of the data and Stop moves the state on; the notice belongs to
            // the end of the data. After it nothing of the source is touched.
            int running = ST_RUNNING;
            if (m_nState.compare_exchange_strong(running, ST_READY)) {
                CWaveNotify* notify = m_pNotify.exchange(nullptr);
                if (notify != nullptr)
                    notify->NotifyStopped(this);
            }
            break;
        }
        SinkWriteAll(block.data(), length);
    }
}

bool CWaveSourceFromFile::Stop() {
    int running = ST_RUNNING;
    if (!m_nState.compare_exchange_strong(running, ST_READY))
        return false;
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::Stop", LogAddr(this));
    m_pNotify.store(nullptr);
    if (m_hThread.joinable() && m_hThread.get_id() != std::this_thread::get_id()) {
        if (m_pThreadControl->evEnded.Wait(1000)) {
            VLOG(INFO, "CWaveSourceFromFile::Stop [ Thread Ended successfully ]");
            JoinStreamingThread();
        } else {
            // Still delivering a block (a sink may be pacing); it ends at the top of its loop
            // and is joined before the reader or the file is touched again.
            VLOG(WARNING, "CWaveSourceFromFile::Stop [ Timeout before Thread Ends ]");
        }
    }
    return true;
}

bool CWaveSourceFromFile::Release() {
    int ready = ST_READY;
    if (!m_nState.compare_exchange_strong(ready, ST_IDLE))
        return false;
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::Release", LogAddr(this));
    JoinStreamingThread();
    std::lock_guard loop(m_mLoop);
    SetFormat(nullptr);
    m_pFileFormat.reset();
    m_strFilePath.clear();
    CloseFile();
    return true;
}
