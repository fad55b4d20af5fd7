#include "audio/WaveSourceFromAudioDevice.h"

#include "app/Logger.h"

CWaveSourceFromAudioDevice::CWaveSourceFromAudioDevice() = default;

CWaveSourceFromAudioDevice::~CWaveSourceFromAudioDevice() {
    VLOG(FINE, "CWaveSourceFromAudioDevice[%8.8x]::~CWaveSourceFromAudioDevice", LogAddr(this));
    SinkTerminateAll();
    WaitForAllSinksToRemoveThemselves();
    // Released objects have closed their device; one that was not must get its buffers back
    // before they are freed.
    if (const HWAVE h = m_hWaveIn.exchange(0); h != 0) {
        WaveDevices().Reset(h);
        WaveDevices().Close(h);
    }
    std::lock_guard g(m_csBuffers);
    m_BufferList.clear();
}

bool CWaveSourceFromAudioDevice::InitInstance() {
    VLOG(FINE, "CWaveSourceFromAudioDevice[%8.8x]::InitInstance", LogAddr(this));
    return true;
}

int CWaveSourceFromAudioDevice::ExitInstance() {
    VLOG(FINE, "CWaveSourceFromAudioDevice[%8.8x]::ExitInstance", LogAddr(this));
    return 0;
}

void CWaveSourceFromAudioDevice::LogWaveInError(MMRESULT code, HWAVE hDevice, int line) const {
    VLOG(WARNING, "%s",
         (StrFormat("line:%d - WAVEIN[%d]: %x - ", line, static_cast<int>(hDevice), code) +
          WaveErrorText(code).substr(0, 260))
             .c_str());
}

bool CWaveSourceFromAudioDevice::Init(uint32_t devId, const CWaveFormat* format) {
    VLOG(INFO, "CWaveSourceFromAudioDevice[%8.8x]::Init [WaveInDevId: %d]", LogAddr(this),
         static_cast<int>(devId));
    if (!m_bThreadCreated) {
        m_bThreadCreated = CreateThread();
        if (!m_bThreadCreated)
            return false;
        VLOG(INFO, "CWaveSourceFromAudioDevice::Init [Thread ID: %#x, Hndl: %#x]", ThreadId(),
             LogAddr(&Loop()));
    }
    // The runtime has no thread priorities: the worker runs at the normal one.
    if (format == nullptr || m_hWaveIn.load() != 0)
        return false;  // a second open would orphan the first device and its buffers
    m_uDevId = devId;
    SetFormat(std::make_unique<CWaveFormat>(*format));

    HWAVE h = 0;
    const CPcmSpec pcm{format->nChannels, format->nSamplesPerSec, format->wBitsPerSample};
    const MMRESULT rc = WaveDevices().Open(EWaveKind::In, &h, m_uDevId, pcm, &Loop());
    if (rc != MMSYSERR_NOERROR) {
        LogWaveInError(rc, h, __LINE__);
        return false;
    }
    m_hWaveIn = h;
    SetBufferPeriod(100);
    const uint32_t size = WaveBufferSize(*GetFormat(), GetBufferPeriod());
    {
        std::lock_guard g(m_csBuffers);
        m_BufferList.clear();
        for (int i = 0; i < kBufferCount; ++i) {
            auto b = std::make_unique<CBuffer>();
            b->vData.assign(size, 0);
            b->hdr.lpData = b->vData.data();
            b->hdr.dwBufferLength = size;
            m_BufferList.push_back(std::move(b));
        }
    }
    m_nState = ST_READY;
    SetReady();
    return true;
}

bool CWaveSourceFromAudioDevice::Start(CWaveNotify*) {
    VLOG(INFO, "CWaveSourceFromAudioDevice[%8.8x]::Start", LogAddr(this));
    if (m_nState == ST_RUNNING)
        return false;
    const HWAVE h = m_hWaveIn.load();
    std::unique_lock lk(m_mQueue);
    if (m_nState == ST_READY) {
        // After a Stop the buffers may still be on their way back to the worker.
        m_cvQueue.wait(lk, [this] { return m_nOut == 0; });
        std::lock_guard g(m_csBuffers);
        for (auto& b : m_BufferList) {
            MMRESULT rc = WaveDevices().Prepare(h, &b->hdr);
            if (rc == MMSYSERR_NOERROR)
                rc = WaveDevices().Queue(h, &b->hdr);
            if (rc != MMSYSERR_NOERROR) {
                LogWaveInError(rc, h, __LINE__);
                return false;
            }
            ++m_nOut;
        }
    }
    const MMRESULT rc = WaveDevices().Start(h);
    if (rc != MMSYSERR_NOERROR) {
        LogWaveInError(rc, h, __LINE__);
        return false;
    }
    m_nState = ST_RUNNING;
    return true;
}

bool CWaveSourceFromAudioDevice::Stop() {
    std::lock_guard lk(m_mQueue);
    if (m_nState != ST_RUNNING)
        return false;
    m_nState = ST_READY;
    VLOG(INFO, "CWaveSourceFromAudioDevice[%8.8x]::Stop", LogAddr(this));
    const HWAVE h = m_hWaveIn.load();
    MMRESULT rc = WaveDevices().Stop(h);
    if (rc != MMSYSERR_NOERROR) {
        LogWaveInError(rc, h, __LINE__);
        return false;
    }
    rc = WaveDevices().Reset(h);
    if (rc != MMSYSERR_NOERROR) {
        LogWaveInError(rc, h, __LINE__);
        return false;
    }
    return true;
}

bool CWaveSourceFromAudioDevice::Release() {
    // An object whose Init failed may go too: it would otherwise keep its thread for ever.
    if (m_nState == ST_RUNNING || !m_bThreadCreated)
        return false;
    m_nState = ST_IDLE;
    VLOG(INFO, "CWaveSourceFromAudioDevice[%8.8x]::Release", LogAddr(this));
    if (const HWAVE h = m_hWaveIn.load(); h != 0) {
        const MMRESULT rc = WaveDevices().Close(h);
        if (rc != MMSYSERR_NOERROR) {
            LogWaveInError(rc, h, __LINE__);
            return false;
        }
        m_hWaveIn = 0;
    }
    // From here on the object belongs to its thread.
    return PostThreadMessage(WM_WAVESOURCE_RELEASE);
}

void CWaveSourceFromAudioDevice::OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == MM_WIM_DATA)
        OnWaveSourceDataNew(static_cast<HWAVE>(wParam), reinterpret_cast<WAVEHDR*>(lParam));
    else if (message == WM_WAVESOURCE_RELEASE)
        OnReleaseEndThread();
    // MM_WIM_OPEN and MM_WIM_CLOSE need nothing.
}

void CWaveSourceFromAudioDevice::OnWaveSourceDataNew(HWAVE hDevice, WAVEHDR* pHdr) {
    if (m_bEnding)
        return;  // the device is closed; what is left in the queue is dropped
    VLOG(FINER, "CWaveSourceFromAudioDevice[%8.8x]::OnWaveSourceDataNew", LogAddr(this));
    if (pHdr->dwBytesRecorded != 0)
        SinkWriteAll(pHdr->lpData, pHdr->dwBytesRecorded);
    std::lock_guard lk(m_mQueue);
    if (m_nState == ST_RUNNING) {
        pHdr->dwFlags &= ~WHDR_DONE;
        const MMRESULT rc = WaveDevices().Queue(hDevice, pHdr);
        if (rc == MMSYSERR_NOERROR)
            return;
        LogWaveInError(rc, hDevice, __LINE__);
    }
    --m_nOut;
    m_cvQueue.notify_all();
}

void CWaveSourceFromAudioDevice::OnReleaseEndThread() {
    VLOG(INFO, "CWaveSourceFromAudioDevice[%8.8x]::OnReleaseEndThread", LogAddr(this));
    m_bEnding = true;
    EndThreadAndDispose();
}

std::vector<uint32_t> CWaveSourceFromAudioDevice::GetBufferSizes() const {
    std::lock_guard g(m_csBuffers);
    std::vector<uint32_t> v;
    for (const auto& b : m_BufferList)
        v.push_back(b->hdr.dwBufferLength);
    return v;
}
