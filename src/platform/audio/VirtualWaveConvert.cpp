#include "platform/audio/VirtualWaveConvert.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace {
constexpr size_t kChannels = 2;

float SampleAt(const uint8_t* p, WORD bits) {
    if (bits == 8)
        return (static_cast<int>(p[0]) - 128) / 128.0f;
    return static_cast<int16_t>(p[0] | (p[1] << 8)) / 32768.0f;
}

void PutSample(float v, WORD bits, std::vector<uint8_t>& out) {
    if (bits == 8) {
        const long q = std::lrint(v * 128.0f) + 128;
        out.push_back(static_cast<uint8_t>(std::clamp(q, 0L, 255L)));
        return;
    }
    const long q = std::clamp(std::lrint(v * 32768.0f), -32768L, 32767L);
    const auto u = static_cast<uint16_t>(static_cast<int16_t>(q));
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
}
}  // namespace

void PcmToCable(const uint8_t* data, size_t frames, const CPcmSpec& pcm, std::vector<float>& out) {
    const size_t sampleBytes = pcm.wBitsPerSample / 8u;
    const size_t align = PcmBlockAlign(pcm);
    out.reserve(out.size() + frames * kChannels);
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* f = data + i * align;
        const float left = SampleAt(f, pcm.wBitsPerSample);
        const float right =
            pcm.nChannels > 1 ? SampleAt(f + sampleBytes, pcm.wBitsPerSample) : left;
        out.push_back(left);
        out.push_back(right);
    }
}

void CableToPcm(const float* in, size_t frames, const CPcmSpec& pcm, std::vector<uint8_t>& out) {
    out.reserve(out.size() + frames * PcmBlockAlign(pcm));
    for (size_t i = 0; i < frames; ++i) {
        const float left = in[kChannels * i];
        const float right = in[kChannels * i + 1];
        if (pcm.nChannels == 1) {
            PutSample((left + right) / 2.0f, pcm.wBitsPerSample, out);
        } else {
            PutSample(left, pcm.wBitsPerSample, out);
            PutSample(right, pcm.wBitsPerSample, out);
        }
    }
}

CCableResampler::~CCableResampler() {
    if (m_hSoxr != nullptr)
        soxr_delete(m_hSoxr);
}

bool CCableResampler::Init(double inRate, double outRate) {
    if (m_hSoxr != nullptr) {
        soxr_delete(m_hSoxr);
        m_hSoxr = nullptr;
    }
    m_dRatio = outRate / inRate;
    if (inRate == outRate)
        return true;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    soxr_error_t error = nullptr;
    m_hSoxr = soxr_create(inRate, outRate, kChannels, &error, &io, &quality, nullptr);
    if (error != nullptr && m_hSoxr != nullptr) {
        soxr_delete(m_hSoxr);
        m_hSoxr = nullptr;
    }
    return m_hSoxr != nullptr;
}

void CCableResampler::Process(const float* in, size_t frames, std::vector<float>& out) {
    if (m_hSoxr == nullptr) {
        out.insert(out.end(), in, in + frames * kChannels);
        return;
    }
    size_t used = 0;
    // Room for the output of all of the input plus what the filter may release from before.
    const size_t room = static_cast<size_t>(std::ceil(frames * m_dRatio)) + 256;
    while (used < frames) {
        const size_t base = out.size();
        out.resize(base + room * kChannels);
        size_t idone = 0;
        size_t odone = 0;
        const soxr_error_t error = soxr_process(m_hSoxr, in + used * kChannels, frames - used,
                                                &idone, out.data() + base, room, &odone);
        out.resize(base + odone * kChannels);
        used += idone;
        if (error != nullptr || (idone == 0 && odone == 0))
            break;  // nothing moves: drop the rest rather than spin
    }
}
