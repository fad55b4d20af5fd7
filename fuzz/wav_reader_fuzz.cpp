// libFuzzer target for the WAV reader: any bytes given as a ".wav" file must be refused with a
// log line or stream what they hold, never crash, hang or read out of bounds. What streams is
// also run through the conversion a recording or playback sink would apply.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/PCMRateConvert.h"
#include "audio/WaveSink.h"
#include "audio/WaveSourceFromFile.h"

namespace {
class CConvertSink : public CWaveSinkBase {
public:
    void WriteBuffer(const void* data, uint32_t len) override {
        if (!m_bOpen)
            return;
        const void* block = data;
        if (m_bMono) {
            m_vMono.resize(len / 2 + 1);
            len = m_nWidth == 2
                      ? CPCMRateConvert::StereoToMono16(static_cast<const int16_t*>(data), len,
                                                        reinterpret_cast<int16_t*>(m_vMono.data()))
                      : CPCMRateConvert::StereoToMono8(static_cast<const uint8_t*>(data), len,
                                                       m_vMono.data());
            block = m_vMono.data();
        }
        m_vOut.resize(m_uOutLen);
        m_Convert.Convert(block, len, m_vOut.data(), m_uOutLen);
    }
    void Terminate() override { WaveSourceRemove(); }
    bool Start() override {
        CWaveSourceBase* src = GetWaveSource();
        if (src == nullptr || src->GetFormat() == nullptr)
            return false;
        CWaveFormat s = *src->GetFormat();
        m_bMono = s.nChannels == 2;
        m_nWidth = s.wBitsPerSample / 8;
        if (m_bMono) {
            s.nChannels = 1;
            s.nBlockAlign = static_cast<WORD>(m_nWidth);
        }
        CWaveFormat out;
        InitPcmFormat(out, 1, 16, 16000);
        m_uOutLen = WaveBufferSize(out, src->GetBufferPeriod()) + 4096;
        m_bOpen = m_Convert.Init(s, out);
        return m_bOpen;
    }
    bool Stop(CWaveNotify*) override { return true; }

private:
    CPCMRateConvert m_Convert;
    bool m_bOpen = false, m_bMono = false;
    int m_nWidth = 2;
    uint32_t m_uOutLen = 0;
    std::vector<uint8_t> m_vMono, m_vOut;
};

const std::string& InputPath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp && *tmp ? tmp : "/tmp") + "/vokra-wav-fuzz-" +
               std::to_string(getpid()) + ".wav";
    }();
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = InputPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    CWaveSourceFromFile src;
    if (src.Init(path)) {
        CConvertSink sink;
        sink.WaveSourceAttach(&src);
        sink.Start();
        src.Start(nullptr);
        sink.WaveSourceRemove();
        src.Release();
    }
    unlink(path.c_str());  // libFuzzer ends with _Exit: nothing would clean up after it
    return 0;
}
