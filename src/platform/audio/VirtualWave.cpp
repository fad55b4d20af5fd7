#include "platform/audio/VirtualWave.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "platform/Clock.h"
#include "platform/MsgLoop.h"
#include "platform/audio/VirtualWaveConvert.h"

namespace {
constexpr size_t kChannels = 2;  // the cable's float stereo
// A test's manual clock may leap: a pass makes up for at most this much, in steps of kStepMs so
// that no pass needs more memory than one second of sound. Longer gaps mean the clock itself
// changed (a test swapped clocks): the paces start afresh instead.
constexpr uint64_t kMaxCatchUpMs = 120000;
constexpr uint64_t kStepMs = 1000;
// A player's share of a cable is mixed once this much of it is waiting (100 ms): the resampler
// gives its output in bursts of up to 80 ms, and the two paces round differently, so a pass may
// bring less than the cable takes.
constexpr size_t kPrimeFrames = CVirtualWaveBackend::kCableRate / 10;
// Beyond this a player's share is dropped from the front (it cannot happen while the paces agree).
constexpr size_t kMaxFifoFrames = CVirtualWaveBackend::kCableRate;

// Frames due at a rate on the process clock, without drift: counted from a base time.
struct CPace {
    uint64_t uBaseMs = 0;
    uint64_t uFrames = 0;
    uint64_t uLastMs = 0;

    void Begin(uint64_t nowMs) {
        uBaseMs = uLastMs = nowMs;
        uFrames = 0;
    }
    uint64_t Due(uint64_t nowMs, DWORD rate) {
        if (nowMs < uLastMs || nowMs - uLastMs > kMaxCatchUpMs)
            Begin(nowMs);
        uLastMs = nowMs;
        const uint64_t target = (nowMs - uBaseMs) * rate / 1000;
        const uint64_t n = target - uFrames;
        uFrames = target;
        return n;
    }
};

CVirtualDeviceDesc Builtin(const char* name, EWaveKind kind, int cable, bool bDefault) {
    CVirtualDeviceDesc d;
    d.strName = name;
    d.kind = kind;
    d.nCable = cable;
    d.bDefault = bDefault;
    return d;
}

bool FormatInRange(const CPcmSpec& pcm) {
    return pcm.nSamplesPerSec >= CVirtualWaveBackend::kMinRate &&
           pcm.nSamplesPerSec <= CVirtualWaveBackend::kMaxRate &&
           (pcm.nChannels == 1 || pcm.nChannels == 2) &&
           (pcm.wBitsPerSample == 8 || pcm.wBitsPerSample == 16);
}
}  // namespace

struct CVirtualWaveBackend::CDevice {
    CVirtualDeviceDesc desc;
};

struct CVirtualWaveBackend::CStream {
    HWAVE h = 0;
    EWaveKind kind = EWaveKind::Out;
    std::shared_ptr<CDevice> pDev;
    CPcmSpec pcm;
    CMsgLoop* pCallback = nullptr;
    std::deque<WAVEHDR*> queue;
    bool bDead = false;       // its device was removed
    bool bRecording = false;  // recording: started
    CPace pace;               // playback, and recording of a silent device
    uint32_t uPos = 0;        // playback: bytes of the head buffer already played
    // Playback: when a buffer came to an empty queue; it starts playing then, not at the pass
    // before. UINT64_MAX while playing on.
    uint64_t uFreshSinceMs = UINT64_MAX;
    CCableResampler resampler;
    std::vector<float> vFifo;  // playback into a cable: cable frames not yet mixed
    bool bPrimed = false;
    std::vector<float> vFloat;
    std::vector<uint8_t> vPcm;

    int Cable() const { return pDev->desc.nCable; }
};

struct CVirtualWaveBackend::CCable {
    CPace pace;
    int nEnds = 0;
    std::vector<float> vMix;
};

std::unique_ptr<IWaveBackend> CreateVirtualWaveBackend() {
    return std::make_unique<CVirtualWaveBackend>();
}

CVirtualWaveBackend::CVirtualWaveBackend() {
    AddDevice(Builtin("Speakers", EWaveKind::Out, 0, true));
    AddDevice(Builtin("Vokra Virtual Cable 1", EWaveKind::Out, 1, false));
    AddDevice(Builtin("Vokra Virtual Cable 2", EWaveKind::Out, 2, false));
    AddDevice(Builtin("Microphone", EWaveKind::In, 0, true));
    AddDevice(Builtin("Vokra Virtual Cable 1", EWaveKind::In, 1, false));
    AddDevice(Builtin("Vokra Virtual Cable 2", EWaveKind::In, 2, false));
}

CVirtualWaveBackend::~CVirtualWaveBackend() {
    {
        std::lock_guard g(m_m);
        m_bQuit = true;
        m_cv.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::shared_ptr<CVirtualWaveBackend::CDevice>>& CVirtualWaveBackend::ListOf(
    EWaveKind kind) {
    return kind == EWaveKind::Out ? m_vOut : m_vIn;
}

UINT CVirtualWaveBackend::GetNumDevs(EWaveKind kind) {
    std::lock_guard g(m_m);
    return static_cast<UINT>(ListOf(kind).size());
}

MMRESULT CVirtualWaveBackend::GetDevName(EWaveKind kind, UINT devId, std::string& name) {
    std::lock_guard g(m_m);
    const auto& list = ListOf(kind);
    if (devId >= list.size())
        return MMSYSERR_BADDEVICEID;
    name = list[devId]->desc.strName;
    return MMSYSERR_NOERROR;
}

MMRESULT CVirtualWaveBackend::Open(EWaveKind kind, HWAVE* phDevice, UINT devId, const CPcmSpec& pcm,
                                   CMsgLoop* pCallback) {
    if (phDevice == nullptr || pCallback == nullptr)
        return MMSYSERR_INVALPARAM;
    std::lock_guard g(m_m);
    const auto& list = ListOf(kind);
    std::shared_ptr<CDevice> pDev;
    if (devId == WAVE_MAPPER) {
        const auto it =
            std::find_if(list.begin(), list.end(), [](const auto& d) { return d->desc.bDefault; });
        pDev = it != list.end() ? *it : list.empty() ? nullptr : list.front();
    } else if (devId < list.size()) {
        pDev = list[devId];
    }
    if (!pDev)
        return MMSYSERR_BADDEVICEID;
    const auto& rates = pDev->desc.vRates;
    if (!FormatInRange(pcm) || (!rates.empty() && std::find(rates.begin(), rates.end(),
                                                            pcm.nSamplesPerSec) == rates.end()))
        return WAVERR_BADFORMAT;
    if (kind == EWaveKind::In)
        for (const auto& [h, s] : m_streams)
            if (s->pDev == pDev && !s->bDead)
                return MMSYSERR_ALLOCATED;

    auto s = std::make_unique<CStream>();
    s->h = m_hNext++;
    s->kind = kind;
    s->pDev = pDev;
    s->pcm = pcm;
    s->pCallback = pCallback;
    const uint64_t now = Clock().NowMs();
    s->pace.Begin(now);
    if (s->Cable() != 0) {
        const bool ok = kind == EWaveKind::Out ? s->resampler.Init(pcm.nSamplesPerSec, kCableRate)
                                               : s->resampler.Init(kCableRate, pcm.nSamplesPerSec);
        if (!ok)
            return MMSYSERR_ERROR;
        auto& pCable = m_cables[s->Cable()];
        if (!pCable) {
            pCable = std::make_unique<CCable>();
            pCable->pace.Begin(now);
        }
        ++pCable->nEnds;
    }
    *phDevice = s->h;
    pCallback->PostThreadMessage(kind == EWaveKind::Out ? MM_WOM_OPEN : MM_WIM_OPEN, s->h, 0);
    m_streams.emplace(s->h, std::move(s));
    if (!m_thread.joinable())
        m_thread = std::thread([this] { ThreadMain(); });
    m_cv.notify_all();
    return MMSYSERR_NOERROR;
}

CVirtualWaveBackend::CStream* CVirtualWaveBackend::FindLocked(HWAVE hDevice) const {
    const auto it = m_streams.find(hDevice);
    return it == m_streams.end() ? nullptr : it->second.get();
}

MMRESULT CVirtualWaveBackend::Prepare(HWAVE hDevice, WAVEHDR* pHdr) {
    std::lock_guard g(m_m);
    CStream* s = FindLocked(hDevice);
    if (s == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (s->bDead)
        return MMSYSERR_NODRIVER;
    if (pHdr == nullptr || pHdr->lpData == nullptr)
        return MMSYSERR_INVALPARAM;
    if (pHdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pHdr->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CVirtualWaveBackend::Unprepare(HWAVE hDevice, WAVEHDR* pHdr) {
    std::lock_guard g(m_m);
    if (FindLocked(hDevice) == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (pHdr == nullptr)
        return MMSYSERR_INVALPARAM;
    if (pHdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pHdr->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT CVirtualWaveBackend::Queue(HWAVE hDevice, WAVEHDR* pHdr) {
    std::lock_guard g(m_m);
    CStream* s = FindLocked(hDevice);
    if (s == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (s->bDead)
        return MMSYSERR_NODRIVER;
    if (pHdr == nullptr)
        return MMSYSERR_INVALPARAM;
    if (!(pHdr->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (pHdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    if (s->kind == EWaveKind::In)
        pHdr->dwBytesRecorded = 0;
    else if (s->queue.empty())
        s->uFreshSinceMs = Clock().NowMs();
    s->queue.push_back(pHdr);
    return MMSYSERR_NOERROR;
}

MMRESULT CVirtualWaveBackend::Start(HWAVE hDevice) {
    std::lock_guard g(m_m);
    CStream* s = FindLocked(hDevice);
    if (s == nullptr || s->kind != EWaveKind::In)
        return MMSYSERR_INVALHANDLE;
    if (s->bDead)
        return MMSYSERR_NODRIVER;
    if (!s->bRecording)
        s->pace.Begin(Clock().NowMs());
    s->bRecording = true;
    return MMSYSERR_NOERROR;
}

MMRESULT CVirtualWaveBackend::Stop(HWAVE hDevice) {
    std::lock_guard g(m_m);
    CStream* s = FindLocked(hDevice);
    if (s == nullptr || s->kind != EWaveKind::In)
        return MMSYSERR_INVALHANDLE;
    if (s->bDead)
        return MMSYSERR_NODRIVER;
    // What was recorded up to this moment comes back, not only up to the last pass.
    ProcessLocked(Clock().NowMs());
    s->bRecording = false;
    if (!s->queue.empty() && s->queue.front()->dwBytesRecorded > 0) {
        WAVEHDR* pHdr = s->queue.front();
        s->queue.pop_front();
        CompleteLocked(*s, pHdr);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CVirtualWaveBackend::Reset(HWAVE hDevice) {
    std::lock_guard g(m_m);
    CStream* s = FindLocked(hDevice);
    if (s == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (s->bDead)
        return MMSYSERR_NODRIVER;
    if (s->kind == EWaveKind::In && s->bRecording)
        ProcessLocked(Clock().NowMs());
    s->bRecording = false;
    ReturnAllLocked(*s);
    return MMSYSERR_NOERROR;
}

MMRESULT CVirtualWaveBackend::Close(HWAVE hDevice) {
    std::unique_lock lk(m_m);
    const auto it = m_streams.find(hDevice);
    if (it == m_streams.end())
        return MMSYSERR_INVALHANDLE;
    CStream& s = *it->second;
    if (!s.queue.empty())
        return WAVERR_STILLPLAYING;
    s.pCallback->PostThreadMessage(s.kind == EWaveKind::Out ? MM_WOM_CLOSE : MM_WIM_CLOSE, s.h, 0);
    if (s.Cable() != 0) {
        const auto c = m_cables.find(s.Cable());
        if (c != m_cables.end() && --c->second->nEnds == 0)
            m_cables.erase(c);
    }
    m_streams.erase(it);
    if (m_streams.empty()) {
        // The device thread leaves the process clock before the last close returns: a test may
        // put its manual clock away right after.
        m_cv.notify_all();
        m_cvDone.wait(lk, [this] { return m_bThreadIdle; });
    }
    return MMSYSERR_NOERROR;
}

void CVirtualWaveBackend::CompleteLocked(CStream& s, WAVEHDR* pHdr) {
    pHdr->dwFlags = (pHdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    pHdr->lpNext = nullptr;
    // The header is the caller's again from here on: nothing touches it after the post.
    s.pCallback->PostThreadMessage(s.kind == EWaveKind::Out ? MM_WOM_DONE : MM_WIM_DATA, s.h,
                                   reinterpret_cast<LPARAM>(pHdr));
}

void CVirtualWaveBackend::ReturnAllLocked(CStream& s) {
    s.uPos = 0;
    s.uFreshSinceMs = UINT64_MAX;
    s.vFifo.clear();
    s.bPrimed = false;
    while (!s.queue.empty()) {
        WAVEHDR* pHdr = s.queue.front();
        s.queue.pop_front();
        CompleteLocked(s, pHdr);
    }
}

// --- Test hooks ------------------------------------------------------------------------------

UINT CVirtualWaveBackend::AddDevice(const CVirtualDeviceDesc& desc) {
    std::lock_guard g(m_m);
    auto& list = ListOf(desc.kind);
    auto pDev = std::make_shared<CDevice>();
    pDev->desc = desc;
    list.push_back(std::move(pDev));
    return static_cast<UINT>(list.size() - 1);
}

bool CVirtualWaveBackend::RemoveDevice(EWaveKind kind, const std::string& name) {
    std::lock_guard g(m_m);
    auto& list = ListOf(kind);
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](const auto& d) { return d->desc.strName == name; });
    if (it == list.end())
        return false;
    for (auto& [h, s] : m_streams) {
        if (s->pDev != *it || s->bDead)
            continue;
        s->bRecording = false;
        ReturnAllLocked(*s);
        s->bDead = true;
    }
    list.erase(it);
    return true;
}

bool CVirtualWaveBackend::SetDeviceRates(EWaveKind kind, const std::string& name,
                                         std::vector<DWORD> rates) {
    std::lock_guard g(m_m);
    for (auto& pDev : ListOf(kind)) {
        if (pDev->desc.strName == name) {
            pDev->desc.vRates = std::move(rates);
            return true;
        }
    }
    return false;
}

void CVirtualWaveBackend::WaitProcessed() {
    std::unique_lock lk(m_m);
    if (m_streams.empty())
        return;
    // A pass that begins after this point reads the clock at or after our present.
    const uint64_t target = m_uPasses + 1;
    m_bKick = true;
    m_cv.notify_all();
    m_cvDone.wait(lk, [&] { return m_uPasses >= target || m_streams.empty() || m_bQuit; });
}

size_t CVirtualWaveBackend::OpenHandles() const {
    std::lock_guard g(m_m);
    return m_streams.size();
}

std::string CVirtualWaveBackend::HandleDeviceName(HWAVE hDevice) const {
    std::lock_guard g(m_m);
    const CStream* s = FindLocked(hDevice);
    return s != nullptr ? s->pDev->desc.strName : std::string();
}

// --- The device thread -----------------------------------------------------------------------

void CVirtualWaveBackend::ThreadMain() {
    std::unique_lock lk(m_m);
    while (!m_bQuit) {
        if (m_streams.empty()) {
            // Nothing to pace: wait without the process clock, which a test may replace now.
            m_bThreadIdle = true;
            m_bPassed = false;
            m_cvDone.notify_all();
            m_cv.wait(lk, [this] { return m_bQuit || !m_streams.empty(); });
            continue;
        }
        m_bThreadIdle = false;
        m_bKick = false;
        ProcessLocked(Clock().NowMs());
        ++m_uPasses;
        m_cvDone.notify_all();
        const uint64_t deadline = Clock().NowMs() + kTickMs;
        Clock().WaitUntil(lk, m_cv, deadline,
                          [this] { return m_bQuit || m_bKick || m_streams.empty(); });
    }
    m_bThreadIdle = true;
    m_cvDone.notify_all();
}

void CVirtualWaveBackend::ProcessLocked(uint64_t nowMs) {
    if (m_bPassed && nowMs > m_uLastPassMs && nowMs - m_uLastPassMs <= kMaxCatchUpMs)
        for (uint64_t t = m_uLastPassMs + kStepMs; t < nowMs; t += kStepMs)
            ProcessStepLocked(t);
    ProcessStepLocked(nowMs);
    m_bPassed = true;
    m_uLastPassMs = nowMs;
}

void CVirtualWaveBackend::ProcessStepLocked(uint64_t nowMs) {
    for (auto& [h, s] : m_streams)
        if (s->kind == EWaveKind::Out && !s->bDead)
            PlayLocked(*s, s->pace.Due(nowMs, s->pcm.nSamplesPerSec), nowMs);

    for (auto& [nCable, pCable] : m_cables) {
        const size_t n = pCable->pace.Due(nowMs, kCableRate);
        std::vector<float>& mix = pCable->vMix;
        mix.assign(n * kChannels, 0.0f);
        for (auto& [h, s] : m_streams) {
            if (s->kind != EWaveKind::Out || s->bDead || s->Cable() != nCable)
                continue;
            const size_t have = s->vFifo.size() / kChannels;
            s->bPrimed = s->bPrimed || have >= kPrimeFrames;
            if (!s->bPrimed)
                continue;
            const size_t take = std::min(n, have);
            for (size_t i = 0; i < take * kChannels; ++i)
                mix[i] += s->vFifo[i];
            s->vFifo.erase(s->vFifo.begin(), s->vFifo.begin() + take * kChannels);
            s->bPrimed = take == n;  // ran dry: wait for a margin again
        }
        for (auto& [h, s] : m_streams)
            if (s->kind == EWaveKind::In && !s->bDead && s->Cable() == nCable)
                RecordLocked(*s, mix, 0);
    }

    for (auto& [h, s] : m_streams)
        if (s->kind == EWaveKind::In && !s->bDead && s->Cable() == 0)
            RecordLocked(*s, {}, s->pace.Due(nowMs, s->pcm.nSamplesPerSec));
}

void CVirtualWaveBackend::PlayLocked(CStream& s, uint64_t frames, uint64_t nowMs) {
    const uint32_t align = PcmBlockAlign(s.pcm);
    const bool bToCable = s.Cable() != 0;
    // Silence until the moment the first buffer came.
    uint64_t lead = 0;
    if (s.uFreshSinceMs != UINT64_MAX) {
        const uint64_t since = nowMs > s.uFreshSinceMs ? nowMs - s.uFreshSinceMs : 0;
        lead = frames - std::min<uint64_t>(frames, since * s.pcm.nSamplesPerSec / 1000);
        frames -= lead;
        s.uFreshSinceMs = UINT64_MAX;
    }
    s.vPcm.clear();
    while (!s.queue.empty()) {
        WAVEHDR* pHdr = s.queue.front();
        const uint32_t usable = pHdr->dwBufferLength / align * align;  // whole frames only
        const uint64_t take = std::min<uint64_t>((usable - s.uPos) / align, frames);
        if (bToCable)
            s.vPcm.insert(s.vPcm.end(), pHdr->lpData + s.uPos,
                          pHdr->lpData + s.uPos + take * align);
        s.uPos += static_cast<uint32_t>(take * align);
        frames -= take;
        if (s.uPos < usable)
            break;
        s.queue.pop_front();
        s.uPos = 0;
        CompleteLocked(s, pHdr);
    }
    if (!bToCable)
        return;
    // A player is continuous: what its queue lacks it plays as silence.
    s.vFloat.assign(lead * kChannels, 0.0f);
    PcmToCable(s.vPcm.data(), s.vPcm.size() / align, s.pcm, s.vFloat);
    s.vFloat.resize(s.vFloat.size() + frames * kChannels, 0.0f);
    s.resampler.Process(s.vFloat.data(), s.vFloat.size() / kChannels, s.vFifo);
    if (s.vFifo.size() > kMaxFifoFrames * kChannels)
        s.vFifo.erase(s.vFifo.begin(), s.vFifo.end() - kMaxFifoFrames * kChannels);
}

void CVirtualWaveBackend::RecordLocked(CStream& s, const std::vector<float>& cableFrames,
                                       uint64_t silentFrames) {
    if (!s.bRecording)
        return;
    s.vPcm.clear();
    if (s.Cable() != 0) {
        s.vFloat.clear();
        s.resampler.Process(cableFrames.data(), cableFrames.size() / kChannels, s.vFloat);
        CableToPcm(s.vFloat.data(), s.vFloat.size() / kChannels, s.pcm, s.vPcm);
    } else {
        s.vPcm.assign(silentFrames * PcmBlockAlign(s.pcm), s.pcm.wBitsPerSample == 8 ? 128 : 0);
    }
    FillLocked(s, s.vPcm.data(), s.vPcm.size());
}

void CVirtualWaveBackend::FillLocked(CStream& s, const uint8_t* data, size_t len) {
    const uint32_t align = PcmBlockAlign(s.pcm);
    // What finds no buffer is lost, as with any device that overruns.
    while (!s.queue.empty()) {
        WAVEHDR* pHdr = s.queue.front();
        const uint32_t usable = pHdr->dwBufferLength / align * align;
        const size_t take = std::min<size_t>(usable - pHdr->dwBytesRecorded, len);
        if (take > 0)
            std::memcpy(pHdr->lpData + pHdr->dwBytesRecorded, data, take);
        pHdr->dwBytesRecorded += static_cast<DWORD>(take);
        data += take;
        len -= take;
        if (pHdr->dwBytesRecorded < usable)
            break;
        s.queue.pop_front();
        CompleteLocked(s, pHdr);
    }
}
