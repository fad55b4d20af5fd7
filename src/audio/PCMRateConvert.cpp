#include "audio/PCMRateConvert.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/Logger.h"

// 16-bit samples are handed around as host int16 values; WAV data is little-endian.
static_assert(std::endian::native == std::endian::little, "16-bit PCM is handled as host order");

namespace {
// Speex's VoIP setting: plenty for speech at 16 kHz and several thousand times real time.
constexpr int kResamplerQuality = SPEEX_RESAMPLER_QUALITY_VOIP;
constexpr DWORD kMaxRate = 96000;

bool IsConvertiblePcm(const CWaveFormat& f) {
    return (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 1 &&
           f.nSamplesPerSec <= kMaxRate;
}

uint32_t FrameBytes(const CWaveFormat& f) {
    return (f.wBitsPerSample / 8u) * f.nChannels;
}

const char* ChannelWord(const CWaveFormat& f) {
    return f.nChannels == 1 ? "MONO" : "STEREO";
}

// Source frames (8- or 16-bit, inCh channels) as 16-bit samples with ch channels.
void ConvertToInt16(const uint8_t* src, uint32_t inFrames, uint32_t inCh, uint32_t ch, bool b8Bit,
                    int16_t* in) {
    for (uint32_t f = 0; f < inFrames; ++f) {
        int16_t s[2];
        for (uint32_t c = 0; c < inCh; ++c) {
            if (b8Bit) {
                s[c] = static_cast<int16_t>((src[f * inCh + c] - 128) * 256);
            } else {
                int16_t v;
                std::memcpy(&v, src + (static_cast<size_t>(f) * inCh + c) * 2, 2);
                s[c] = v;
            }
        }
        if (inCh == ch) {
            for (uint32_t c = 0; c < ch; ++c)
                in[f * ch + c] = s[c];
        } else if (ch == 1) {
            in[f] = static_cast<int16_t>(s[0] / 2 + s[1] / 2);
        } else {
            in[f * 2] = in[f * 2 + 1] = s[0];
        }
    }
}
}  // namespace

CPCMRateConvert::~CPCMRateConvert() {
    Close();
}

void CPCMRateConvert::Close() {
    if (m_hStream != nullptr)
        speex_resampler_destroy(m_hStream);
    m_hStream = nullptr;
    m_bOpen = false;
}

bool CPCMRateConvert::Init(const CWaveFormat& from, const CWaveFormat& to) {
    Close();  // whatever the outcome, the previous stream is done
    if (from.wFormatTag != to.wFormatTag || from.wFormatTag != WAVE_FORMAT_PCM) {
        VLOG(WARNING,
             "CPCMRateConvert::Init [ FAILED: Rate Convert work with WAVE_FORMAT_PCM only ] ");
        return false;
    }
    VLOG(INFO, "CPCMRateConvert::Init [From: %d Hz, %d bits, %s, To: %d Hz, %d bits, %s] ",
         static_cast<int>(from.nSamplesPerSec), from.wBitsPerSample, ChannelWord(from),
         static_cast<int>(to.nSamplesPerSec), to.wBitsPerSample, ChannelWord(to));
    if (!IsConvertiblePcm(from) || !IsConvertiblePcm(to))
        return false;
    if (from.nSamplesPerSec != to.nSamplesPerSec) {
        int err = RESAMPLER_ERR_SUCCESS;
        m_hStream = speex_resampler_init(to.nChannels, from.nSamplesPerSec, to.nSamplesPerSec,
                                         kResamplerQuality, &err);
        if (m_hStream == nullptr || err != RESAMPLER_ERR_SUCCESS) {
            Close();
            return false;
        }
    }
    m_From = from;
    m_To = to;
    m_bOpen = true;
    return true;
}

uint32_t CPCMRateConvert::Convert(const void* pSrcBuf, uint32_t uSrcBufLen, void* dst,
                                  uint32_t uDstBufLen) {
    if (!m_bOpen) {
        VLOG(WARNING, "CPCMRateConvert::Convert [ FAILED: Rate Convert not Init() ] ");
        return 0;
    }
    if (pSrcBuf == nullptr || dst == nullptr)
        return 0;
    const uint32_t inFrames = uSrcBufLen / FrameBytes(m_From);  // whole frames only
    const uint32_t inCh = m_From.nChannels;
    const uint32_t ch = m_To.nChannels;
    const auto* src = static_cast<const uint8_t*>(pSrcBuf);

    // Source frames as 16-bit samples with the target's channel count.
    m_vIn.resize(static_cast<size_t>(inFrames) * ch);
    int16_t* in = m_vIn.data();
    if (m_From.wBitsPerSample == 16 && inCh == ch) {
        // The common case (recording, greetings): the samples are already what the resampler
        // takes.
        std::memcpy(in, src, static_cast<size_t>(inFrames) * ch * 2);
    } else {
        ConvertToInt16(src, inFrames, inCh, ch, m_From.wBitsPerSample == 8, in);
    }

    const int16_t* out = in;
    uint32_t outFrames = inFrames;
    if (m_hStream != nullptr) {
        // Room for the nominal output plus the resampler's rounding.
        const uint64_t expect =
            static_cast<uint64_t>(inFrames) * m_To.nSamplesPerSec / m_From.nSamplesPerSec + 16;
        if (m_vOut.size() < expect * ch)
            m_vOut.resize(expect * ch);
        uint32_t inDone = 0;
        outFrames = 0;
        while (inDone < inFrames) {
            spx_uint32_t inLen = inFrames - inDone;
            spx_uint32_t outLen = static_cast<spx_uint32_t>(m_vOut.size() / ch) - outFrames;
            if (outLen == 0) {
                m_vOut.resize(m_vOut.size() * 2);
                continue;
            }
            speex_resampler_process_interleaved_int(m_hStream,
                                                    in + static_cast<size_t>(inDone) * ch, &inLen,
                                                    m_vOut.data() + outFrames * ch, &outLen);
            inDone += inLen;
            outFrames += outLen;
            if (inLen == 0 && outLen == 0)
                break;  // the resampler made no progress
        }
        out = m_vOut.data();
    }

    const uint32_t outFrameBytes = FrameBytes(m_To);
    const uint32_t room = uDstBufLen / outFrameBytes;
    if (outFrames > room) {
        VLOG(WARNING, "CPCMRateConvert::Convert [ output truncated: %u of %u frames ]", room,
             outFrames);
        outFrames = room;
    }
    auto* d = static_cast<uint8_t*>(dst);
    const size_t samples = static_cast<size_t>(outFrames) * ch;
    if (m_To.wBitsPerSample == 16) {
        std::memcpy(d, out, samples * 2);
    } else {
        for (size_t i = 0; i < samples; ++i)
            d[i] = static_cast<uint8_t>((out[i] >> 8) + 128);
    }
    return outFrames * outFrameBytes;
}

uint32_t CPCMRateConvert::StereoToMono8(const uint8_t* in, uint32_t len, uint8_t* out) {
    const uint32_t n = len / 2;
    for (uint32_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(in[2 * i] / 2 + in[2 * i + 1] / 2);
    return n;
}

uint32_t CPCMRateConvert::StereoToMono16(const int16_t* in, uint32_t len, int16_t* out) {
    const uint32_t n = len / 4;
    for (uint32_t i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(in[2 * i] / 2 + in[2 * i + 1] / 2);
    return 2 * n;
}
