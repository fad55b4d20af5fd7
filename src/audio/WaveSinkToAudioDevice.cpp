#include "audio/WaveSinkToAudioDevice.h"

#include <algorithm>
#include <utility>

#include "app/Logger.h"
#include "platform/Clock.h"

CWaveSinkToAudioDevice::CWaveSinkToAudioDevice() = default;

CWaveSinkToAudioDevice::~CWaveSinkToAudioDevice() {
    VLOG(FINE, "CWaveSinkToAudioDevice[%8.8x]::~CWaveSinkToAudioDevice", LogAddr(this));
    // Leave the source before this part of the object goes: its thread may be delivering.
    WaveSourceRemove();
    // A device that failed to close still holds our buffers: take them back before they go.
    if (const HWAVE h = m_hWaveOut.exchange(0); h != 0) {
        WaveDevices().Reset(h);
        WaveDevices().Close(h);
    }
}

bool CWaveSinkToAudioDevice::InitInstance() {
    VLOG(FINE, "CWaveSinkToAudioDevice[%8.8x]::InitInstance", LogAddr(this));
    return true;
}

int CWaveSinkToAudioDevice::ExitInstance() {
    VLOG(FINE, "CWaveSinkToAudioDevice[%8.8x]::ExitInstance", LogAddr(this));
    return 0;
}

void CWaveSinkToAudioDevice::LogWaveOutError(MMRESULT code, HWAVE hDevice, int line) const {
    VLOG(WARNING, "%s",
         (StrFormat("line:%d - WAVEOUT[%d]: %x - ", line, static_cast<int>(hDevice), code) +
          WaveErrorText(code).substr(0, 260))
             .c_str());
}

bool CWaveSinkToAudioDevice::Init(uint32_t devId, const CWaveFormat* devFormat) {
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::Init [WaveOutDevId: %d]", LogAddr(this),
         static_cast<int>(devId));
    if (m_nState == ST_RUNNING)
        return false;
    if (!m_bThreadCreated) {
        m_pStopDoneEvent = std::make_unique<CEvent>(false, false);
        m_bThreadCreated = CreateThread();
        if (!m_bThreadCreated)
            return false;
        VLOG(INFO, "CWaveSinkToAudioDevice::Init [Thread ID: %#x, Hndl: %#x]", ThreadId(),
             LogAddr(&Loop()));
    }
    // The runtime has no thread priorities: the worker runs at the normal one.
    m_uDevId = devId;
    m_pDevFormat.reset();
    if (devFormat != nullptr)
        m_pDevFormat = *devFormat;
    m_hWaveOut = 0;
    m_uRefCntInWaveOut = 0;
    m_bChannelChange = 0;
    m_bRateConvert = 0;
    m_bStopPending = false;
    m_nState = ST_READY;
    return true;
}

bool CWaveSinkToAudioDevice::Start() {
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::Start", LogAddr(this));
    CWaveSourceBase* pSource = GetWaveSource();
    if (m_nState != ST_READY || pSource == nullptr || pSource->GetFormat() == nullptr)
        return false;
    if (m_hWaveOut != 0) {
        m_nState = ST_RUNNING;
        return true;
    }
    CWaveFormat s = *pSource->GetFormat();
    if (s.wFormatTag != WAVE_FORMAT_PCM) {
        VLOG(WARNING, "CWaveSinkToAudioDevice::Start[ ERROR: NOT WAVE_FORMAT_PCM(%d) ]",
             s.wFormatTag);
        return false;
    }
    m_bChannelChange = 0;
    m_nChannelChangeByteWidth = -1;
    if (m_pDevFormat && m_pDevFormat->nChannels != s.nChannels) {
        if (m_pDevFormat->nChannels != 1) {
            VLOG(WARNING,
                 "CWaveSinkToAudioDevice::Start[ FAILED: Channel Convertion - convertion to "
                 "MONO only]");
            return false;
        }
        if (s.wBitsPerSample != 8 && s.wBitsPerSample != 16)
            return false;
        m_bChannelChange = 1;
        m_nChannelChangeByteWidth = s.wBitsPerSample / 8;
        s.nChannels = 1;
        s.nBlockAlign = static_cast<WORD>(s.wBitsPerSample / 8);
    }
    m_bRateConvert = 0;
    if (m_pDevFormat && (m_pDevFormat->nSamplesPerSec != s.nSamplesPerSec ||
                         m_pDevFormat->wBitsPerSample != s.wBitsPerSample)) {
        m_bRateConvert = 1;
        if (!m_RateConvert.Init(s, *m_pDevFormat)) {
            VLOG(WARNING, "CWaveSinkToAudioDevice::Start[ FAILED: Convertion Init ]");
            return false;
        }
        m_OutFormat = *m_pDevFormat;
    } else {
        m_OutFormat = s;
    }
    m_SrcFormat = s;
    m_uPeriod = pSource->GetBufferPeriod();
    m_uDstBufLen = WaveBufferSize(m_OutFormat, m_uPeriod);

    HWAVE h = 0;
    const CPcmSpec pcm{m_OutFormat.nChannels, m_OutFormat.nSamplesPerSec,
                       m_OutFormat.wBitsPerSample};
    const MMRESULT rc = WaveDevices().Open(EWaveKind::Out, &h, m_uDevId, pcm, &Loop());
    if (rc != MMSYSERR_NOERROR) {
        m_hWaveOut = 0;
        LogWaveOutError(rc, h, __LINE__);
        return false;
    }
    m_hWaveOut = h;
    m_nState = ST_RUNNING;
    return true;
}

void CWaveSinkToAudioDevice::WriteBuffer(const void* data, uint32_t len) {
    if (m_nState != ST_RUNNING)
        return;
    VLOG(FINER,
         "CWaveSinkToAudioDevice[%8.8x]::WriteBuffer [pSrcBuf: %#x, uSrcBufLen: %d, uDstBufLen: "
         "%d]",
         LogAddr(this), LogAddr(data), static_cast<int>(len), static_cast<int>(m_uDstBufLen));
    // Paces the source to the playing speed.
    while (m_uRefCntInWaveOut.load() > kMaxQueued)
        Sleep(3 * m_uPeriod);

    const auto* block = static_cast<const uint8_t*>(data);
    if (m_bChannelChange) {
        m_vScratch.resize(len / 2 + 2);
        if (m_nChannelChangeByteWidth == 1) {
            len = CPCMRateConvert::StereoToMono8(block, len, m_vScratch.data());
        } else if (m_nChannelChangeByteWidth == 2) {
            len = CPCMRateConvert::StereoToMono16(reinterpret_cast<const int16_t*>(block), len,
                                                  reinterpret_cast<int16_t*>(m_vScratch.data()));
        } else {
            VLOG(WARNING, "CWaveSinkToAudioDevice::WriteBuffer [ERROR! ChannelChangeByteWidth: %d]",
                 m_nChannelChangeByteWidth);
            return;
        }
        block = m_vScratch.data();
    }
    auto pBuf = std::make_unique<CBuffer>();
    if (m_bRateConvert) {
        // Room for a block of any length, not only one of the source's period.
        const uint64_t frames =
            static_cast<uint64_t>(len / std::max<WORD>(m_SrcFormat.nBlockAlign, 1)) *
                m_OutFormat.nSamplesPerSec / std::max<DWORD>(m_SrcFormat.nSamplesPerSec, 1) +
            m_OutFormat.nSamplesPerSec / 10;
        const uint32_t room = std::max<uint32_t>(
            m_uDstBufLen, static_cast<uint32_t>(frames * m_OutFormat.nBlockAlign));
        pBuf->vData.resize(room);
        len = m_RateConvert.Convert(block, len, pBuf->vData.data(), room);
    } else {
        pBuf->vData.assign(block, block + len);
    }
    if (len == 0)
        return;  // nothing to play (the converter may hold the start back)
    pBuf->hdr.lpData = pBuf->vData.data();
    pBuf->hdr.dwBufferLength = len;
    // If the worker has gone the message, and with it the block, is freed.
    PostThreadMessage(WM_WAVESINK_BUFFER_NEW, std::move(pBuf));
}

bool CWaveSinkToAudioDevice::Stop(CWaveNotify* notify) {
    if (m_nState != ST_RUNNING)
        return false;
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::Stop [ Notify: %#x ]", LogAddr(this),
         LogAddr(notify));
    int result = 0;
    if (Loop().IsOwnerThread()) {
        // Asked from a notice on our own thread: nobody else could serve the request.
        OnWaveSinkStop(notify, &result);
        return true;
    }
    m_pStopDoneEvent->Reset();
    if (!PostThreadMessage(WM_WAVESINK_STOP, reinterpret_cast<WPARAM>(notify),
                           reinterpret_cast<LPARAM>(&result)))
        return false;
    m_pStopDoneEvent->Wait(INFINITE);
    return true;
}

bool CWaveSinkToAudioDevice::Release() {
    if (m_nState != ST_READY || !m_bThreadCreated)
        return false;
    m_nState = ST_IDLE;
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::Release", LogAddr(this));
    // From here on the object belongs to its thread.
    return PostThreadMessage(WM_WAVESINK_RELEASE);
}

void CWaveSinkToAudioDevice::Terminate() {
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::Terminate", LogAddr(this));
    WaveSourceRemove();
}

void CWaveSinkToAudioDevice::OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_WAVESINK_BUFFER_NEW:
            OnWaveSinkBufferNew(wParam);
            break;
        case MM_WOM_DONE:
            OnWaveSinkBufferDone(reinterpret_cast<WAVEHDR*>(lParam));
            break;
        case WM_WAVESINK_STOP:
            OnWaveSinkStop(reinterpret_cast<CWaveNotify*>(wParam), reinterpret_cast<int*>(lParam));
            break;
        case WM_WAVESINK_RELEASE:
            OnReleaseEndThread();
            break;
        default:  // MM_WOM_OPEN, MM_WOM_CLOSE
            break;
    }
}

void CWaveSinkToAudioDevice::OnWaveSinkBufferNew(WPARAM wParam) {
    std::unique_ptr<CBuffer> pBuf = TakePayload<CBuffer>(wParam);
    VLOG(FINER, "CWaveSinkToAudioDevice[%8.8x]::OnWaveSinkBufferNew [ m_uRefCntInWaveOut: %d ]",
         LogAddr(this), static_cast<int>(m_uRefCntInWaveOut.load()));
    if (!pBuf || m_nState != ST_RUNNING)
        return;  // freed here
    QueueToDevice(std::move(pBuf));
}

void CWaveSinkToAudioDevice::QueueToDevice(std::unique_ptr<CBuffer> pBuf) {
    const HWAVE h = m_hWaveOut.load();
    MMRESULT rc = WaveDevices().Prepare(h, &pBuf->hdr);
    if (rc != MMSYSERR_NOERROR) {
        LogWaveOutError(rc, h, __LINE__);
        return;
    }
    rc = WaveDevices().Queue(h, &pBuf->hdr);
    if (rc != MMSYSERR_NOERROR) {
        WaveDevices().Unprepare(h, &pBuf->hdr);
        LogWaveOutError(rc, h, __LINE__);
        return;
    }
    WAVEHDR* pHdr = &pBuf->hdr;
    m_mapInWaveOut.emplace(pHdr, std::move(pBuf));
    ++m_uRefCntInWaveOut;
}

void CWaveSinkToAudioDevice::OnWaveSinkBufferDone(WAVEHDR* pHdr) {
    VLOG(FINER, "CWaveSinkToAudioDevice[%8.8x]::OnWaveSinkBufferDone [ m_uRefCntInWaveOut: %d ]",
         LogAddr(this), static_cast<int>(m_uRefCntInWaveOut.load()));
    const auto it = m_mapInWaveOut.find(pHdr);
    if (it == m_mapInWaveOut.end())
        return;
    WaveDevices().Unprepare(m_hWaveOut.load(), pHdr);
    m_mapInWaveOut.erase(it);
    if (m_uRefCntInWaveOut > 0)
        --m_uRefCntInWaveOut;
    if (m_uRefCntInWaveOut == 0 && m_bStopPending) {
        m_bStopPending = false;
        CloseWaveOut();
        m_pStopDoneEvent->Set();
        if (CWaveNotify* notify = std::exchange(m_pNotify, nullptr))
            notify->NotifyStopped(this);
    }
}

void CWaveSinkToAudioDevice::OnWaveSinkStop(CWaveNotify* notify, int* pResult) {
    *pResult = 1;
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::OnWaveSinkStop [ m_uRefCntInWaveOut: %d ]",
         LogAddr(this), static_cast<int>(m_uRefCntInWaveOut.load()));
    m_pNotify = notify;
    if (m_nState != ST_RUNNING) {
        *pResult = 0;
        VLOG(FINER, "CWaveSinkToAudioDevice::OnWaveSinkStop [ NOT in ST_RUNNING ]");
        m_pStopDoneEvent->Set();
        return;
    }
    if (notify != nullptr) {
        // The converter still holds the last milliseconds of the sound (the end of a beep):
        // they play too. Only once the source has let go, so no block races the flush.
        if (m_bRateConvert && GetWaveSource() == nullptr)
            QueueConverterTail();
        // Drain: release the requester first, so it may hold a lock the notice needs.
        m_pStopDoneEvent->Set();
        if (m_uRefCntInWaveOut == 0) {
            CloseWaveOut();
            m_pNotify = nullptr;
            notify->NotifyStopped(this);
        } else {
            m_bStopPending = true;
        }
        return;
    }
    // Abort: the device returns every queued buffer; the requester waits for the close.
    StopWaveOut();
    if (m_uRefCntInWaveOut == 0) {
        CloseWaveOut();
        m_pStopDoneEvent->Set();
    } else {
        m_bStopPending = true;
    }
}

void CWaveSinkToAudioDevice::QueueConverterTail() {
    auto pBuf = std::make_unique<CBuffer>();
    pBuf->vData.resize(std::max<uint32_t>(m_uDstBufLen, m_OutFormat.nAvgBytesPerSec / 2));
    const uint32_t len =
        m_RateConvert.Flush(pBuf->vData.data(), static_cast<uint32_t>(pBuf->vData.size()));
    if (len == 0)
        return;
    pBuf->vData.resize(len);
    pBuf->hdr = WAVEHDR{};
    pBuf->hdr.lpData = pBuf->vData.data();
    pBuf->hdr.dwBufferLength = len;
    QueueToDevice(std::move(pBuf));
}

bool CWaveSinkToAudioDevice::StopWaveOut() {
    if (m_nState != ST_RUNNING)
        return false;
    m_nState = ST_READY;
    const HWAVE h = m_hWaveOut.load();
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::StopWaveOut [hWaveOut: %#x]", LogAddr(this),
         static_cast<unsigned>(h));
    const MMRESULT rc = WaveDevices().Reset(h);
    if (rc != MMSYSERR_NOERROR) {
        LogWaveOutError(rc, h, __LINE__);
        return false;
    }
    return true;
}

bool CWaveSinkToAudioDevice::CloseWaveOut() {
    const HWAVE h = m_hWaveOut.load();
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::CloseWaveOut [hWaveOut: %#x]", LogAddr(this),
         static_cast<unsigned>(h));
    const MMRESULT rc = WaveDevices().Close(h);
    if (rc != MMSYSERR_NOERROR) {
        LogWaveOutError(rc, h, __LINE__);
        return false;
    }
    m_nState = ST_READY;
    m_hWaveOut = 0;
    return true;
}

void CWaveSinkToAudioDevice::OnReleaseEndThread() {
    VLOG(INFO, "CWaveSinkToAudioDevice[%8.8x]::OnReleaseEndThread", LogAddr(this));
    // Messages still queued behind this one are handled as usual before the loop ends: blocks
    // are freed (the sink no longer runs) and returned buffers too.
    EndThreadAndDispose();
}
