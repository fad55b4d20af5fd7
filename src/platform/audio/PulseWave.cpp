#include "platform/audio/PulseWave.h"

#include <map>

#include "platform/audio/PulseContext.h"
#include "platform/audio/PulseDevices.h"
#include "platform/audio/PulsePlayback.h"
#include "platform/audio/PulseRecord.h"

namespace {

class CPulseWaveBackend final : public IWaveBackend {
public:
    bool Connect(std::string* pError);
    ~CPulseWaveBackend() override;

    const char* Name() const override { return "pulse"; }
    UINT GetNumDevs(EWaveKind kind) override;
    MMRESULT GetDevName(EWaveKind kind, UINT devId, std::string& name) override;
    MMRESULT Open(EWaveKind kind, HWAVE* phDevice, UINT devId, const CPcmSpec& pcm,
                  CMsgLoop* pCallback) override;
    MMRESULT Prepare(HWAVE hDevice, WAVEHDR* pHdr) override;
    MMRESULT Unprepare(HWAVE hDevice, WAVEHDR* pHdr) override;
    MMRESULT Queue(HWAVE hDevice, WAVEHDR* pHdr) override;
    MMRESULT Start(HWAVE hDevice) override;
    MMRESULT Stop(HWAVE hDevice) override;
    MMRESULT Reset(HWAVE hDevice) override;
    MMRESULT Close(HWAVE hDevice) override;

private:
    // Lock held.
    CPulseStream* Find(HWAVE hDevice);
    // Lock held. The server name of device devId, or null for the default device.
    MMRESULT DeviceName(EWaveKind kind, UINT devId, const char** pName);

    CPulseContext m_ctx;
    CPulseDeviceList m_devices;
    std::map<HWAVE, std::unique_ptr<CPulseStream>> m_streams;
    HWAVE m_hNext = 1;
};

bool CPulseWaveBackend::Connect(std::string* pError) {
    if (!m_ctx.Connect("Vokra", pError))
        return false;
    CPulseLock lock(m_ctx);
    // A lost server gives every queued buffer back at once; later calls fail.
    m_ctx.SetLostHandler([this] {
        for (auto& [h, pStream] : m_streams)
            pStream->Lose();
    });
    return true;
}

CPulseWaveBackend::~CPulseWaveBackend() {
    if (!m_ctx.Get())
        return;  // never connected
    CPulseLock lock(m_ctx);
    m_ctx.SetLostHandler(nullptr);
    m_streams.clear();
}

CPulseStream* CPulseWaveBackend::Find(HWAVE hDevice) {
    auto it = m_streams.find(hDevice);
    return it == m_streams.end() ? nullptr : it->second.get();
}

UINT CPulseWaveBackend::GetNumDevs(EWaveKind kind) {
    CPulseLock lock(m_ctx);
    m_devices.Refresh(m_ctx, kind);  // a server that went away leaves the known ids
    return static_cast<UINT>(m_devices.Devices(kind).size());
}

MMRESULT CPulseWaveBackend::GetDevName(EWaveKind kind, UINT devId, std::string& name) {
    CPulseLock lock(m_ctx);
    if (devId >= m_devices.Devices(kind).size())
        m_devices.Refresh(m_ctx, kind);
    const auto& devices = m_devices.Devices(kind);
    if (devId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    name = devices[devId].strDescription;
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveBackend::DeviceName(EWaveKind kind, UINT devId, const char** pName) {
    *pName = nullptr;
    if (devId == WAVE_MAPPER)
        return MMSYSERR_NOERROR;
    if (!m_devices.Refresh(m_ctx, kind))
        return MMSYSERR_NODRIVER;
    const auto& devices = m_devices.Devices(kind);
    if (devId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    if (!devices[devId].bPresent)
        return MMSYSERR_NODRIVER;
    *pName = devices[devId].strName.c_str();
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveBackend::Open(EWaveKind kind, HWAVE* phDevice, UINT devId, const CPcmSpec& pcm,
                                 CMsgLoop* pCallback) {
    if (!phDevice || !pCallback)
        return MMSYSERR_INVALPARAM;
    pa_sample_spec ss;
    if (!CPulseStream::ToSampleSpec(pcm, &ss))
        return WAVERR_BADFORMAT;
    CPulseLock lock(m_ctx);
    if (!m_ctx.IsAlive())
        return MMSYSERR_NODRIVER;
    const char* devName = nullptr;
    if (MMRESULT r = DeviceName(kind, devId, &devName); r != MMSYSERR_NOERROR)
        return r;
    const HWAVE h = m_hNext++;
    std::unique_ptr<CPulseStream> pStream;
    if (kind == EWaveKind::Out)
        pStream = std::make_unique<CPulsePlayback>(m_ctx, kind, h, pcm, pCallback);
    else
        pStream = std::make_unique<CPulseRecord>(m_ctx, kind, h, pcm, pCallback);
    if (MMRESULT r = pStream->Open(devName); r != MMSYSERR_NOERROR)
        return r;
    m_streams.emplace(h, std::move(pStream));
    *phDevice = h;
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveBackend::Prepare(HWAVE hDevice, WAVEHDR* pHdr) {
    CPulseLock lock(m_ctx);
    CPulseStream* pStream = Find(hDevice);
    if (!pStream)
        return MMSYSERR_INVALHANDLE;
    if (!pHdr || !pHdr->lpData)
        return MMSYSERR_INVALPARAM;
    if (pStream->IsLost())
        return MMSYSERR_NODRIVER;
    if (pHdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pHdr->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveBackend::Unprepare(HWAVE hDevice, WAVEHDR* pHdr) {
    CPulseLock lock(m_ctx);
    // Works on a lost device too, so the caller can free its buffers.
    if (!Find(hDevice))
        return MMSYSERR_INVALHANDLE;
    if (!pHdr)
        return MMSYSERR_INVALPARAM;
    if (pHdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pHdr->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CPulseWaveBackend::Queue(HWAVE hDevice, WAVEHDR* pHdr) {
    CPulseLock lock(m_ctx);
    CPulseStream* pStream = Find(hDevice);
    if (!pStream)
        return MMSYSERR_INVALHANDLE;
    if (!pHdr)
        return MMSYSERR_INVALPARAM;
    if (!(pHdr->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (pHdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    return pStream->Queue(pHdr);
}

MMRESULT CPulseWaveBackend::Start(HWAVE hDevice) {
    CPulseLock lock(m_ctx);
    CPulseStream* pStream = Find(hDevice);
    return pStream ? pStream->Start() : MMSYSERR_INVALHANDLE;
}

MMRESULT CPulseWaveBackend::Stop(HWAVE hDevice) {
    CPulseLock lock(m_ctx);
    CPulseStream* pStream = Find(hDevice);
    return pStream ? pStream->Stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT CPulseWaveBackend::Reset(HWAVE hDevice) {
    CPulseLock lock(m_ctx);
    CPulseStream* pStream = Find(hDevice);
    return pStream ? pStream->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT CPulseWaveBackend::Close(HWAVE hDevice) {
    CPulseLock lock(m_ctx);
    CPulseStream* pStream = Find(hDevice);
    if (!pStream)
        return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = pStream->Close(); r != MMSYSERR_NOERROR)
        return r;
    m_streams.erase(hDevice);
    return MMSYSERR_NOERROR;
}

}  // namespace

std::unique_ptr<IWaveBackend> CreatePulseWaveBackend(std::string* pError) {
    auto pBackend = std::make_unique<CPulseWaveBackend>();
    if (!pBackend->Connect(pError))
        return nullptr;
    return pBackend;
}
