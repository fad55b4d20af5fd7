#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "app/Logger.h"
#include "audio/WaveFileReading.h"
#include "audio/WaveSourceFromFile.h"

namespace {
constexpr DWORD kMp3OutRate = 48000;
constexpr size_t kSyncWindow = 1000;

void Mpg123InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

// Logs why the header is refused; false, so a step can end with `return Refuse(...)`.
bool Refuse(const std::string& why) {
    VLOG(WARNING, "CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat%s", why.c_str());
    return false;
}

// The length of the file, or -1 (logged) when it cannot be measured; leaves f at its start.
int64_t MeasureFile(FILE* f) {
    if (fseeko(f, 0, SEEK_END) != 0) {
        Refuse("[ Bad SEEK(end)]");
        return -1;
    }
    const int64_t fileLen = ftello(f);
    if (fileLen < 0) {
        Refuse("[ Bad FTELL(filelength)]");
        return -1;
    }
    if (fseeko(f, 0, SEEK_SET) != 0) {
        Refuse("[ Bad SEEK(0)]");
        return -1;
    }
    return fileLen;
}

// Where the frame search begins: an ID3v2 tag (often with a picture) comes before the first
// frame, and its bytes could look like a frame sync, so the search starts after it.
int64_t FrameSearchStart(FILE* f, int64_t fileLen) {
    uint8_t id3[10];
    if (!ReadExact(f, id3, 10) || std::memcmp(id3, "ID3", 3) != 0 || id3[6] >= 0x80 ||
        id3[7] >= 0x80 || id3[8] >= 0x80 || id3[9] >= 0x80)
        return 0;
    const int64_t tagLen =
        (static_cast<int64_t>(id3[6]) << 21) | (id3[7] << 14) | (id3[8] << 7) | id3[9];
    return std::min(fileLen, 10 + tagLen + ((id3[5] & 0x10) ? 10 : 0));
}

// Finds the first frame sync from the file position on and copies its 4-byte header. Windows
// of up to 1000 bytes overlap by 4, so every position is tested.
bool FindFrameHeader(FILE* f, uint8_t (&header)[4]) {
    uint8_t win[kSyncWindow];
    for (;;) {
        const size_t n = std::fread(win, 1, kSyncWindow, f);
        if (n == 0) {
            if (std::ferror(f))
                return Refuse("[ Bad READ(sync search) ]");
            return Refuse("[ no mp3 frame header found ]");
        }
        for (size_t p = 0; p + 3 < n; ++p) {
            if (win[p] == 0xFF && (win[p + 1] & 0xE0) == 0xE0) {
                std::memcpy(header, win + p, 4);
                return true;
            }
        }
        // A short window was the end of the file: nothing further to search.
        if (n < kSyncWindow)
            return Refuse("[ no mp3 frame header found ]");
        if (fseeko(f, -4, SEEK_CUR) != 0)
            return Refuse("[ Bad SEEK(0)]");
    }
}

// Decodes the MPEG audio frame header (most significant bit first) far enough to know the
// stream is one, and logs its rate and channels.
bool CheckFrameHeader(const uint8_t (&hdr)[4]) {
    const unsigned version = (hdr[1] >> 3) & 3;
    const unsigned layer = (hdr[1] >> 1) & 3;
    const unsigned rateIndex = (hdr[2] >> 2) & 3;
    const unsigned mode = (hdr[3] >> 6) & 3;
    const unsigned divisor = version == 3 ? 1 : version == 2 ? 2 : 4;
    if (version == 1 || layer == 0 || rateIndex == 3 || mode == 2)
        return Refuse("[ Bad mp3 header decode ]");
    static constexpr DWORD kRates[3] = {44100, 48000, 32000};
    const DWORD headerRate = kRates[rateIndex] / divisor;
    const WORD headerChannels = mode == 3 ? 1 : 2;
    VLOG(INFO,
         "CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat[ decoded mp3 header]");
    VLOG(INFO,
         "CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat[ %d Hz, %d channels ]",
         static_cast<int>(headerRate), headerChannels);
    return true;
}
}  // namespace

void CMpg123Deleter::operator()(mpg123_handle_struct* h) const {
    mpg123_delete(h);
}

CWaveSourceFromFileFormatMP3::~CWaveSourceFromFileFormatMP3() = default;

bool CWaveSourceFromFileFormatMP3::ReadAudioFileHeaderAndSaveFormat() {
    VLOG(INFO, "CWaveSourceFromFileFormatMP3[%8.8x]::ReadAudioFileHeaderAndSaveFormat",
         LogAddr(this));
    FILE* f = m_pOwner->GetFile();
    if (f == nullptr)
        return Refuse("[ Bad SEEK(end)]");
    const int64_t fileLen = MeasureFile(f);
    if (fileLen < 0)
        return false;
    if (fseeko(f, FrameSearchStart(f, fileLen), SEEK_SET) != 0)
        return Refuse("[ Bad SEEK(0)]");
    uint8_t header[4];
    if (!FindFrameHeader(f, header) || !CheckFrameHeader(header))
        return false;
    if (fseeko(f, 0, SEEK_SET) != 0)
        return Refuse("[ Bad SEEK(0)]");

    // The decoder that will turn the frames into PCM must be there.
    Mpg123InitOnce();
    int err = MPG123_OK;
    m_hDecoder.reset();
    m_hDecoder.reset(mpg123_new(nullptr, &err));
    if (m_hDecoder == nullptr)
        return Refuse(StrFormat("[ no mp3 decoder: %s ]", mpg123_plain_strerror(err)));
    mpg123_param(m_hDecoder.get(), MPG123_FLAGS, MPG123_MONO_MIX | MPG123_QUIET | MPG123_GAPLESS,
                 0);
    mpg123_format_none(m_hDecoder.get());
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(m_hDecoder.get(), rates[i], MPG123_MONO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(m_hDecoder.get()) != MPG123_OK)
        return Refuse(StrFormat("[ no mp3 decoder: %s ]", mpg123_strerror(m_hDecoder.get())));

    // What the source delivers: 16-bit mono at 48,000 Hz, whatever the stream's own format.
    auto format = std::make_unique<CWaveFormat>();
    InitPcmFormat(*format, 1, 16, kMp3OutRate);
    m_pOwner->SetBufferPeriod(kFileBufferPeriod);
    m_uBytesToRead = WholeFrameBlock(*format, kFileBufferPeriod);
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
        if (m_bEnd) {
            // The resampler still holds the stream's last milliseconds; a second flush is empty.
            if (m_nStreamRate > 0 && m_nStreamRate != static_cast<long>(kMp3OutRate)) {
                m_vPending.resize(kMp3OutRate / 5 * 2);
                m_vPending.resize(m_RateConvert.Flush(m_vPending.data(),
                                                      static_cast<uint32_t>(m_vPending.size())));
                if (!m_vPending.empty())
                    continue;
            }
            break;
        }
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
