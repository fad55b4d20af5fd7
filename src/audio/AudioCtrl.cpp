#include "audio/AudioCtrl.h"

#include <condition_variable>
#include <utility>

#include "app/CableNames.h"
#include "app/Logger.h"
#include "app/Settings.h"
#include "audio/WaveSinkToAudioDevice.h"
#include "audio/WaveSourceFromAudioDevice.h"
#include "platform/MsgLoop.h"

CPlayFile* g_pPlayFile = nullptr;

namespace {
// The cable is asked for 16-bit mono at the first rate it accepts.
constexpr DWORD kCableRates[] = {48000, 44100};
constexpr DWORD kRecordingFileRate = 16000;

const char* YesNo(bool b) {
    return b ? "YES" : "NO";
}

// At most n bytes of a UTF-8 name, never cutting a character in two.
std::string CutName(const std::string& name, size_t n) {
    if (name.size() <= n)
        return name;
    size_t end = n;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

// Waits for the notices a player is handling; the player may go once they are done.
std::mutex g_mNotices;
std::condition_variable g_cvNotices;
}  // namespace

// ---------------------------------------------------------------------------------------------
// Device lists

CWaveDeviceList::CWaveDeviceList(EWaveKind kind, const char* logName, const char* capsCall)
    : m_eKind(kind) {
    IWaveBackend& devices = WaveDevices();
    uint32_t count = devices.GetNumDevs(kind);
    if (count > kMaxEntries - 1)
        count = kMaxEntries - 1;
    m_Entries.push_back({0, WAVE_MAPPER, g_szDefaultDeviceName});
    m_nCount = count + 1;
    for (uint32_t i = 1; i < m_nCount; ++i) {
        std::string name;
        if (devices.GetDevName(kind, i - 1, name) != MMSYSERR_NOERROR) {
            m_nCount = 1;
            m_Entries.resize(1);
            VLOG(WARNING, "%s[ ERROR in %s( devId: %d) ]", logName, capsCall,
                 static_cast<int>(i - 1));
            break;
        }
        m_Entries.push_back({i, i - 1, CutName(name, kMaxNameLen)});
    }
}

uint32_t CWaveDeviceList::GetDevId(uint32_t index) const {
    return m_Entries[index < m_nCount ? index : 0].m_uDevId;
}

std::string CWaveDeviceList::GetName(uint32_t index) const {
    return m_Entries[index < m_nCount ? index : 0].m_strName;
}

uint32_t CWaveDeviceList::GetDevIdByName(const std::string& name) const {
    for (uint32_t i = 0; i < m_nCount; ++i)
        if (m_Entries[i].m_strName == name)
            return m_Entries[i].m_uDevId;
    return m_Entries[0].m_uDevId;
}

std::string CWaveDeviceList::GetNameByDevId(uint32_t devId) const {
    for (uint32_t i = 0; i < m_nCount; ++i)
        if (m_Entries[i].m_uDevId == devId)
            return m_Entries[i].m_strName;
    return m_Entries[0].m_strName;
}

CPlaybackDeviceList::CPlaybackDeviceList()
    : CWaveDeviceList(EWaveKind::Out, "CPlaybackDeviceList::CPlaybackDeviceList",
                      "waveOutGetDevCaps") {}

CRecordingDeviceList::CRecordingDeviceList()
    : CWaveDeviceList(EWaveKind::In, "CRecordingDeviceList::CRecordingDeviceList",
                      "waveInGetDevCaps") {}

// ---------------------------------------------------------------------------------------------
// CPlayFile

CPlayFile::CPlayFile() = default;

CPlayFile::~CPlayFile() {
    Stop();
    DisposeSink(m_pSinkVAC, m_bSinkVACThread);
    DisposeSink(m_pSinkSpkr, m_bSinkSpkrThread);
    // A sink's last notice may still be running on its thread.
    std::unique_lock lk(g_mNotices);
    g_cvNotices.wait(lk, [this] { return m_nNoticesInFlight.load() == 0; });
}

void CPlayFile::DisposeSink(CWaveSinkToAudioDevice*& sink, bool& bHasThread) {
    if (sink == nullptr)
        return;
    if (bHasThread) {
        if (!sink->Release())
            VLOG(WARNING, "CPlayFile::Stop [got FALSE]");
    } else {
        delete sink;
    }
    sink = nullptr;
    bHasThread = false;
}

bool CPlayFile::Start(const std::string& path, bool toCable, bool toSpeaker, uint32_t threadId,
                      UINT msg) {
    if (m_nState.load() != PF_IDLE)
        return false;
    VLOG(INFO, "CPlayFile::Start[ ThreadCBInfo ]");
    {
        // Only this play's target is told: one left from a stopped play of the other kind
        // would hear of an end that is not its own.
        std::lock_guard g(m_Lock);
        m_hNotifyWnd = 0;
        m_nNotifyThreadId = threadId;
        m_uNotifyMsg = msg;
    }
    return CommonStart(path, toCable, toSpeaker);
}

bool CPlayFile::Start(const std::string& path, bool toCable, bool toSpeaker, HWND wnd, UINT msg) {
    if (m_nState.load() != PF_IDLE)
        return false;
    VLOG(INFO, "CPlayFile::Start[ HWndCBInfo ]");
    {
        std::lock_guard g(m_Lock);
        m_nNotifyThreadId = 0;
        m_hNotifyWnd = wnd;
        m_uNotifyMsg = msg;
    }
    return CommonStart(path, toCable, toSpeaker);
}

bool CPlayFile::CommonStart(const std::string& path, bool toCable, bool toSpeaker) {
    VLOG(INFO, "CPlayFile::Start [File Path: %s, VAC: %s, Spkr:%s]", path.c_str(), YesNo(toCable),
         YesNo(toSpeaker));
    int idle = PF_IDLE;
    if (!m_nState.compare_exchange_strong(idle, PF_STARTING))
        return false;

    if (toCable && m_pSinkVAC == nullptr)
        m_pSinkVAC = new CWaveSinkToAudioDevice();
    if (toSpeaker && m_pSinkSpkr == nullptr)
        m_pSinkSpkr = new CWaveSinkToAudioDevice();

    bool ok = m_WaveSource.Init(path);
    // Only the devices asked for play: a speaker sink kept from an earlier play stays silent
    // when the user has since muted the answering sound.
    if (ok && toCable)
        ok = StartCableSink();
    if (ok && toSpeaker && !StartSpeakerSink()) {
        // Listening in is a courtesy: the caller still hears the sound in the cable.
        if (toCable)
            VLOG(WARNING, "CPlayFile::Start [speaker refused, playing to the cable only]");
        else
            ok = false;
    }
    if (ok) {
        m_nState.store(PF_PLAYING);
        ok = m_WaveSource.Start(this);
    }
    if (ok)
        return true;
    VLOG(WARNING, "CPlayFile::Start [got FALSE]");
    UndoStart();
    return false;
}

bool CPlayFile::StartCableSink() {
    const CPlaybackDeviceList devices;
    const uint32_t devId = devices.GetDevIdByName(g_strVac1PlaybackDevice);
    m_pSinkVAC->WaveSourceAttach(&m_WaveSource);
    for (DWORD rate : kCableRates) {
        CWaveFormat format;
        InitPcmFormat(format, 1, 16, rate);
        if (!m_pSinkVAC->Init(devId, &format))
            return false;
        m_bSinkVACThread = true;
        if (m_pSinkVAC->Start()) {
            std::lock_guard g(m_Lock);
            m_bSinkVACActive = 1;
            return true;
        }
        VLOG(WARNING, "CPlayFile::Start [got FALSE, smplrate: %d]", static_cast<int>(rate));
    }
    return false;
}

bool CPlayFile::StartSpeakerSink() {
    const CPlaybackDeviceList devices;
    uint32_t devId = devices.GetDevIdByName(AudioPlaybackDeviceName.Get());
    if (AudioPlaybackDeviceName.Get() == g_szLegacyDefaultDeviceName)
        devId = WAVE_MAPPER;
    if (!m_pSinkSpkr->Init(devId, nullptr))
        return false;
    m_bSinkSpkrThread = true;
    m_pSinkSpkr->WaveSourceAttach(&m_WaveSource);
    if (!m_pSinkSpkr->Start()) {
        m_pSinkSpkr->WaveSourceRemove();
        return false;
    }
    std::lock_guard g(m_Lock);
    m_bSinkSpkrActive = 1;
    return true;
}

void CPlayFile::UndoStart() {
    m_WaveSource.Stop();
    m_WaveSource.Release();
    for (auto [sink, thread] :
         {std::pair{&m_pSinkVAC, &m_bSinkVACThread}, std::pair{&m_pSinkSpkr, &m_bSinkSpkrThread}}) {
        if (*sink == nullptr)
            continue;
        (*sink)->WaveSourceRemove();
        if (*thread)
            (*sink)->Stop(nullptr);
        DisposeSink(*sink, *thread);
    }
    {
        std::lock_guard g(m_Lock);
        m_bSinkVACActive = 0;
        m_bSinkSpkrActive = 0;
    }
    m_nState.store(PF_IDLE);
}

bool CPlayFile::Stop() {
    VLOG(INFO, "CPlayFile::Stop");
    CWaveSinkToAudioDevice* sinks[2] = {};
    bool threads[2] = {};
    {
        // Taken only to switch the state and take the sinks: a notice that got the lock first
        // has finished with them, one that comes later finds the play idle.
        std::lock_guard g(m_Lock);
        const int state = m_nState.load();
        if (state != PF_PLAYING && state != PF_DRAINING)
            return false;
        m_nState.store(PF_IDLE);
        sinks[0] = std::exchange(m_pSinkVAC, nullptr);
        threads[0] = std::exchange(m_bSinkVACThread, false);
        sinks[1] = std::exchange(m_pSinkSpkr, nullptr);
        threads[1] = std::exchange(m_bSinkSpkrThread, false);
        m_bSinkVACActive = 0;
        m_bSinkSpkrActive = 0;
    }
    bool result = true;
    m_WaveSource.Stop();
    m_WaveSource.Release();
    for (int i = 0; i < 2; ++i) {
        if (sinks[i] == nullptr)
            continue;
        sinks[i]->WaveSourceRemove();
        if (!sinks[i]->Stop(nullptr)) {
            VLOG(WARNING, "CPlayFile::Stop [got FALSE]");
            result = false;
        }
        CWaveSinkToAudioDevice* sink = sinks[i];
        DisposeSink(sink, threads[i]);
    }
    return result;
}

void CPlayFile::NotifyStopped(void* who) {
    {
        std::lock_guard g(g_mNotices);
        ++m_nNoticesInFlight;
    }
    VLOG(INFO, "CPlayFile::NotifyStopped [State: %d]", m_nState.load());
    {
        std::lock_guard g(m_Lock);
        const int state = m_nState.load();
        if (state == PF_PLAYING)
            DoneSrcFile(who);
        else if (state == PF_DRAINING)
            DoneSinkPlay(who);
    }
    std::lock_guard g(g_mNotices);
    --m_nNoticesInFlight;
    g_cvNotices.notify_all();
}

void CPlayFile::DoneSrcFile(void* who) {
    VLOG(INFO, "CPlayFile::DoneSrcFile [param = %x]", LogAddr(who));
    m_WaveSource.Release();
    if (m_bSinkVACActive)
        m_pSinkVAC->WaveSourceRemove();
    if (m_bSinkSpkrActive)
        m_pSinkSpkr->WaveSourceRemove();
    m_nState.store(PF_DRAINING);
    // A sink that refuses to drain (its device has gone) will never tell of its end: it has
    // finished now, or the player would wait for it for ever.
    for (CWaveSinkToAudioDevice* sink : {m_pSinkVAC, m_pSinkSpkr}) {
        const bool active =
            sink != nullptr && (sink == m_pSinkVAC ? m_bSinkVACActive : m_bSinkSpkrActive);
        if (active && !sink->Stop(this)) {
            VLOG(WARNING, "CPlayFile::DoneSrcFile [got FALSE]");
            SinkFinishedLocked(sink);
        }
    }
    if (!m_bSinkVACActive && !m_bSinkSpkrActive && m_nState.load() == PF_DRAINING)
        SinkFinishedLocked(nullptr);
}

void CPlayFile::DoneSinkPlay(void* who) {
    VLOG(INFO, "CPlayFile::DoneSinkPlay [param = %x]", LogAddr(who));
    auto is = [who](CWaveSinkToAudioDevice* sink) {
        return sink != nullptr && (who == static_cast<void*>(sink) ||
                                   who == static_cast<void*>(static_cast<CWaveSinkBase*>(sink)));
    };
    if (is(m_pSinkVAC))
        SinkFinishedLocked(m_pSinkVAC);
    else if (is(m_pSinkSpkr))
        SinkFinishedLocked(m_pSinkSpkr);
}

void CPlayFile::SinkFinishedLocked(CWaveSinkToAudioDevice* sink) {
    if (sink != nullptr && sink == m_pSinkVAC)
        m_bSinkVACActive = 0;
    if (sink != nullptr && sink == m_pSinkSpkr)
        m_bSinkSpkrActive = 0;
    if (m_bSinkVACActive || m_bSinkSpkrActive || m_nState.load() != PF_DRAINING)
        return;
    m_nState.store(PF_IDLE);
    if (m_nNotifyThreadId != 0) {
        if (!PostThreadMessage(m_nNotifyThreadId, m_uNotifyMsg, 0, 0))
            VLOG(WARNING, "CPlayFile::DoneSinkPlay [the thread to tell has ended]");
        m_nNotifyThreadId = 0;
    }
    if (m_hNotifyWnd != 0) {
        if (!PostMessage(m_hNotifyWnd, m_uNotifyMsg, 0, 0))
            VLOG(WARNING, "CPlayFile::DoneSinkPlay [the window to tell is gone]");
        m_hNotifyWnd = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// CRecordFileFromVAC

namespace {
// How long a stop waits for the recording source's thread to hand over the last sound.
constexpr uint32_t kTailWaitMs = 10000;
}  // namespace

class CRecordFileFromVAC::CFileSink : public CWaveSinkToFileWAV {
public:
    void Terminate() override {
        CWaveSinkToFileWAV::Terminate();
        m_evTerminated.Set();
    }
    CEvent m_evTerminated{true, false};
};

CRecordFileFromVAC::CRecordFileFromVAC() = default;

CRecordFileFromVAC::~CRecordFileFromVAC() {
    if (m_nState == RF_RECORDING)
        Stop();
}

bool CRecordFileFromVAC::Start(const std::string& path, bool toSpeaker) {
    VLOG(INFO, "CRecordFileFromVAC::Start [File Path: %s, Spkr:%s]", path.c_str(),
         YesNo(toSpeaker));
    if (m_nState != RF_IDLE)
        return false;
    m_nState = RF_STARTING;

    // Refused before anything is opened: the recording is always a WAV file.
    if (!m_pFileSink) {
        if (!HasExtension(path, ".WAV")) {
            VLOG(WARNING, "CRecordFileFromVAC::Start [Audio file extention not handled]");
            m_nState = RF_IDLE;
            return false;
        }
        m_pFileSink = std::make_unique<CFileSink>();
    }

    m_pSource = new CWaveSourceFromAudioDevice();
    const uint32_t devId = CRecordingDeviceList().GetDevIdByName(g_strVac2RecordingDevice);
    for (DWORD rate : kCableRates) {
        CWaveFormat format;
        InitPcmFormat(format, 1, 16, rate);
        if (m_pSource->Init(devId, &format)) {
            m_bSourceReady = true;
            break;
        }
        VLOG(WARNING, "CRecordFileFromVAC::Start [got FALSE, smplrate: %d]",
             static_cast<int>(rate));
    }

    bool ok = m_bSourceReady;
    if (ok) {
        CWaveFormat fileFormat;
        InitPcmFormat(fileFormat, 1, 16, kRecordingFileRate);
        ok = m_pFileSink->Init(path, &fileFormat) && m_pFileSink->WaveSourceAttach(m_pSource) &&
             m_pFileSink->Start();
    }
    if (ok && toSpeaker) {
        // Listening in is optional: a speaker that cannot play must not cost the message.
        m_pSpkrSink = new CWaveSinkToAudioDevice();
        const std::string name = AudioPlaybackDeviceName.Get();
        const uint32_t spkrId = name == g_szLegacyDefaultDeviceName
                                    ? WAVE_MAPPER
                                    : CPlaybackDeviceList().GetDevIdByName(name);
        m_bSpkrSinkThread = m_pSpkrSink->Init(spkrId, nullptr);
        if (!m_bSpkrSinkThread || !m_pSpkrSink->WaveSourceAttach(m_pSource) ||
            !m_pSpkrSink->Start()) {
            VLOG(WARNING, "CRecordFileFromVAC::Start [speaker refused, recording only]");
            m_pSpkrSink->WaveSourceRemove();
            if (m_bSpkrSinkThread)
                m_pSpkrSink->Release();
            else
                delete m_pSpkrSink;
            m_pSpkrSink = nullptr;
            m_bSpkrSinkThread = false;
        }
    }
    if (ok) {
        m_nState = RF_RECORDING;
        ok = m_pSource->Start(nullptr);
    }
    if (ok)
        return true;
    VLOG(WARNING, "CRecordFileFromVAC::Start [got FALSE]");
    UndoStart();
    return false;
}

bool CRecordFileFromVAC::DisposeSource() {
    if (m_pSource == nullptr)
        return false;
    const bool ok = m_pSource->Release();
    if (!ok)
        VLOG(WARNING, "CRecordFileFromVAC::Stop [got FALSE]");
    m_pSource = nullptr;
    m_bSourceReady = false;
    return ok;
}

void CRecordFileFromVAC::UndoStart() {
    if (m_pFileSink)
        m_pFileSink->WaveSourceRemove();
    if (m_pSpkrSink != nullptr)
        m_pSpkrSink->WaveSourceRemove();
    if (m_pSource != nullptr) {
        m_pSource->Stop();
        DisposeSource();
    }
    if (m_pFileSink) {
        m_pFileSink->Stop(nullptr);
        m_pFileSink->Release();
        m_pFileSink.reset();
    }
    if (m_pSpkrSink != nullptr) {
        m_pSpkrSink->Stop(nullptr);
        m_pSpkrSink->Release();
        m_pSpkrSink = nullptr;
        m_bSpkrSinkThread = false;
    }
    m_nState = RF_IDLE;
}

bool CRecordFileFromVAC::Stop() {
    VLOG(INFO, "CRecordFileFromVAC::Stop");
    if (m_nState != RF_RECORDING)
        return false;
    auto check = [](bool ok) {
        if (!ok)
            VLOG(WARNING, "CRecordFileFromVAC::Stop [got FALSE]");
    };
    if (m_pSpkrSink != nullptr)
        m_pSpkrSink->WaveSourceRemove();
    // The file keeps its source until the source has handed over the last, partly filled
    // buffer: up to 800 ms of the caller's last words would be lost otherwise. The ending
    // source lets its sinks go from its destructor, after its last block.
    bool bHandedOver = false;
    if (m_pSource != nullptr) {
        check(m_pSource->Stop());
        if (DisposeSource() && m_pFileSink) {
            bHandedOver = m_pFileSink->m_evTerminated.Wait(kTailWaitMs);
            if (!bHandedOver)
                VLOG(WARNING, "CRecordFileFromVAC::Stop [the recording source did not end]");
        }
    }
    if (m_pFileSink) {
        m_pFileSink->WaveSourceRemove();
        if (!bHandedOver)
            check(m_pFileSink->Stop(nullptr));
        check(m_pFileSink->Release());
        VLOG(INFO, "CRecordFileFromVAC::Stop [recorded %d bytes]",
             static_cast<int>(m_pFileSink->GetDataCount()));
        m_pFileSink.reset();
    }
    if (m_pSpkrSink != nullptr) {
        check(m_pSpkrSink->Stop(nullptr));
        check(m_pSpkrSink->Release());
        m_pSpkrSink = nullptr;
        m_bSpkrSinkThread = false;
    }
    m_nState = RF_IDLE;
    return true;
}
