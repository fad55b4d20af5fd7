#include "audio/PCMRateConvert.h"

#include <soxr.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "app/Logger.h"

// 16-bit samples are handed around as host int16 values; WAV data is little-endian.
static_assert(std::endian::native == std::endian::little, "16-bit PCM is handled as host order");

namespace {
// soxr's medium quality: at 16 kHz flat to 7.3 kHz, tones that would fold back below the last
// bit of a 16-bit sample, and several thousand times real time.
constexpr unsigned long kResamplerQuality = SOXR_MQ;
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

bool IsAligned16(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % alignof(int16_t) == 0;
}

// n samples into dst in the target's width: 16-bit as they are, 8-bit unsigned.
void WriteSamples(const int16_t* s, size_t n, bool b8Bit, void* dst) {
    auto* d = static_cast<uint8_t*>(dst);
    if (!b8Bit) {
        std::memcpy(d, s, n * 2);
        return;
    }
    for (size_t i = 0; i < n; ++i)
        d[i] = static_cast<uint8_t>((s[i] >> 8) + 128);
}
}  // namespace

void CPCMRateConvert::CSoxrDeleter::operator()(soxr* s) const {
    soxr_delete(s);
}

CPCMRateConvert::~CPCMRateConvert() {
    Close();
}

void CPCMRateConvert::Close() {
    m_hStream.reset();
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
        soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        // Speech at 16 bits needs no dither, and without it the output is reproducible.
        io.flags |= SOXR_NO_DITHER;
        const soxr_quality_spec_t quality = soxr_quality_spec(kResamplerQuality, 0);
        // One channel or two: extra threads would cost more than they save.
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t err = nullptr;
        m_hStream.reset(soxr_create(from.nSamplesPerSec, to.nSamplesPerSec, to.nChannels, &err, &io,
                                    &quality, &runtime));
        if (!m_hStream || err != nullptr) {
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
    const int16_t* in = nullptr;
    if (m_From.wBitsPerSample == 16 && inCh == ch && IsAligned16(src)) {
        // The common case (recording, greetings): the block is already what the resampler
        // takes.
        in = reinterpret_cast<const int16_t*>(src);
    } else {
        m_vIn.resize(static_cast<size_t>(inFrames) * ch);
        if (m_From.wBitsPerSample == 16 && inCh == ch)
            std::memcpy(m_vIn.data(), src, m_vIn.size() * 2);
        else
            ConvertToInt16(src, inFrames, inCh, ch, m_From.wBitsPerSample == 8, m_vIn.data());
        in = m_vIn.data();
    }
    if (m_hStream)
        return Drain(in, inFrames, false, dst, uDstBufLen);

    const uint32_t outFrameBytes = FrameBytes(m_To);
    uint32_t outFrames = inFrames;
    const uint32_t room = uDstBufLen / outFrameBytes;
    if (outFrames > room) {
        VLOG(WARNING, "CPCMRateConvert::Convert [ output truncated: %u of %u frames ]", room,
             outFrames);
        outFrames = room;
    }
    WriteSamples(in, static_cast<size_t>(outFrames) * ch, m_To.wBitsPerSample == 8, dst);
    return outFrames * outFrameBytes;
}

uint32_t CPCMRateConvert::Flush(void* dst, uint32_t uDstBufLen) {
    if (!m_bOpen || !m_hStream || dst == nullptr)
        return 0;
    const uint32_t n = Drain(nullptr, 0, true, dst, uDstBufLen);
    // A tail that did not fit is lost with the stream; the caller sized dst too small.
    if (soxr_delay(m_hStream.get()) >= 1.0)
        VLOG(WARNING, "CPCMRateConvert::Flush [ output truncated: %.0f frames left ]",
             soxr_delay(m_hStream.get()));
    soxr_clear(m_hStream.get());
    return n;
}

double CPCMRateConvert::GetDelayFrames() const {
    return m_hStream ? soxr_delay(m_hStream.get()) : 0.0;
}

uint32_t CPCMRateConvert::Drain(const int16_t* in, uint32_t inFrames, bool bEnd, void* dst,
                                uint32_t uDstBufLen) {
    const uint32_t ch = m_To.nChannels;
    const uint32_t outFrameBytes = FrameBytes(m_To);
    const uint32_t room = uDstBufLen / outFrameBytes;
    // 16-bit output goes straight into the caller's buffer when it can.
    const bool bDirect = m_To.wBitsPerSample == 16 && IsAligned16(dst);
    if (!bDirect)
        m_vOut.resize(static_cast<size_t>(room) * ch);
    auto* out = bDirect ? static_cast<int16_t*>(dst) : m_vOut.data();

    // Without idone soxr takes the whole input and keeps what does not fit in the output.
    size_t outFrames = 0;
    soxr_error_t err = nullptr;
    if (!bEnd) {
        err = soxr_process(m_hStream.get(), in, inFrames, nullptr, out, room, &outFrames);
    } else {
        // The end of input: the filter hands over its tail, over several calls if it must.
        while (err == nullptr && outFrames < room) {
            size_t n = 0;
            err = soxr_process(m_hStream.get(), nullptr, 0, nullptr, out + outFrames * ch,
                               room - outFrames, &n);
            if (n == 0)
                break;
            outFrames += n;
        }
    }
    if (err != nullptr) {
        VLOG(WARNING, "CPCMRateConvert::Convert [ FAILED: %s ]", err);
        return 0;
    }
    if (!bDirect)
        WriteSamples(out, outFrames * ch, m_To.wBitsPerSample == 8, dst);
    return static_cast<uint32_t>(outFrames) * outFrameBytes;
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
