#include "sim/SkypeSimAudio.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "app/Logger.h"
#include "audio/WaveSinkToFileWAV.h"
#include "audio/WaveSourceFromFile.h"
#include "platform/MsgLoop.h"
#include "platform/StrUtil.h"

namespace {
constexpr UINT WM_SIMAUDIO_START = WM_USER + 1100;  // owns a CStartArgs
constexpr UINT WM_SIMAUDIO_STOP = WM_USER + 1101;   // wParam: the call id
constexpr UINT WM_SIMAUDIO_SHUTDOWN = WM_USER + 1102;

// A real client keeps a few short buffers in flight: enough to ride out a late wake-up, few
// enough that a stop or a device change is heard at once.
constexpr size_t kPlayBuffers = 4;
constexpr size_t kRecordBuffers = 8;
constexpr uint32_t kBufferMs = 100;
// How long the destructor lets the devices hand their buffers back.
constexpr uint32_t kShutdownWaitMs = 10000;

struct CStartArgs {
    int m_nCallId = 0;
    std::string m_strIn;
    std::string m_strOut;
};

// Keeps every block a source delivers.
class CCollectSink : public CWaveSinkBase {
public:
    std::vector<uint8_t> m_vData;
    void WriteBuffer(const void* data, uint32_t len) override {
        const auto* p = static_cast<const uint8_t*>(data);
        m_vData.insert(m_vData.end(), p, p + len);
    }
    void Terminate() override { WaveSourceRemove(); }
    bool Start() override { return true; }
    bool Stop(CWaveNotify*) override { return true; }
};

// Hands the blocks a recording device fills to the WAV writer, which takes them from a source.
class CDeviceSource : public CWaveSourceBase {
public:
    explicit CDeviceSource(const CPcmSpec& spec) {
        auto format = std::make_unique<CWaveFormat>();
        InitPcmFormat(*format, spec.nChannels, spec.wBitsPerSample, spec.nSamplesPerSec);
        SetFormat(std::move(format));
        SetBufferPeriod(kBufferMs);
        SetReady();
    }
    bool Start(CWaveNotify*) override { return true; }
    bool Stop() override { return true; }
};

uint32_t BufferBytes(const CPcmSpec& spec) {
    const uint32_t block = spec.nChannels * (spec.wBitsPerSample / 8u);
    const uint32_t frames = std::max<uint32_t>(1, spec.nSamplesPerSec * kBufferMs / 1000);
    return frames * block;
}

const char* KindName(EWaveKind kind) {
    return kind == EWaveKind::In ? "recording" : "playback";
}

// The device of that name; the default one for "" or a name no device has.
UINT FindDevice(EWaveKind kind, const std::string& strName) {
    if (strName.empty())
        return WAVE_MAPPER;
    IWaveBackend& devices = WaveDevices();
    const UINT n = devices.GetNumDevs(kind);
    for (UINT i = 0; i < n; ++i) {
        std::string name;
        if (devices.GetDevName(kind, i, name) == MMSYSERR_NOERROR && name == strName)
            return i;
    }
    VLOG(INFO, "CSimCallAudio no %s device \"%s\", the default one is used", KindName(kind),
         strName.c_str());
    return WAVE_MAPPER;
}
}  // namespace

bool ReadSimSound(const std::string& strPath, CSimSound& sound) {
    CWaveSourceFromFile file;
    if (!file.Init(strPath))
        return false;  // logged by the reader
    const CWaveFormat* f = file.GetFormat();
    sound.m_spec = CPcmSpec{f->nChannels, f->nSamplesPerSec, f->wBitsPerSample};
    CCollectSink sink;
    sink.WaveSourceAttach(&file);
    const bool bRead = file.Start(nullptr);  // streams on this thread, to the end
    sink.WaveSourceRemove();
    file.Release();
    sound.m_vData = std::move(sink.m_vData);
    sound.m_vData.resize(sound.m_vData.size() - sound.m_vData.size() % sound.BlockAlign());
    if (!bRead || sound.m_vData.empty()) {
        VLOG(WARNING, "ReadSimSound \"%s\" holds no sound", strPath.c_str());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Streams: one open device with its buffers

struct CSimCallAudio::CStream {
    int m_nCallId = 0;
    EWaveKind m_kind = EWaveKind::Out;
    HWAVE m_hDevice = 0;
    std::vector<std::vector<uint8_t>> m_vBuffers;
    std::vector<WAVEHDR> m_vHdrs;  // sized once: the device holds their addresses
    size_t m_nQueued = 0;
    bool m_bStopping = false;  // no buffer is queued again; closes when the last is back
    bool m_bReset = false;
    // Playback: the sound it plays from (the call's position says where).
    std::shared_ptr<const CSimSound> m_pVoice;
    // Recording: the file, fed through its source (the writer goes first).
    std::string m_strPath;
    std::unique_ptr<CDeviceSource> m_pSource;
    std::unique_ptr<CWaveSinkToFileWAV> m_pFile;

    bool Owns(const WAVEHDR* p) const {
        return !m_vHdrs.empty() && p >= m_vHdrs.data() && p < m_vHdrs.data() + m_vHdrs.size();
    }
};

struct CSimCallAudio::CCallSound {
    bool m_bVoiceRead = false;
    std::shared_ptr<const CSimSound> m_pVoice;
    uint64_t m_uVoicePos = 0;  // the next byte of the voice to queue
    CStream* m_pPlay = nullptr;
    CStream* m_pRecord = nullptr;
    int m_nStretch = 0;
    // A start that waits for the devices of the stretch before it to close: a device may take
    // one user at a time, and the new stretch often wants the same one.
    std::optional<std::pair<std::string, std::string>> m_pendingStart;
};

class CSimCallAudio::CThread : public CMsgThread {
public:
    explicit CThread(CSimCallAudio& owner) : m_owner(owner) {}
    ~CThread() override { StopThread(); }

protected:
    void OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        m_owner.OnMessage(message, wParam, lParam);
    }

private:
    CSimCallAudio& m_owner;
};

CSimCallAudio::CSimCallAudio(const std::string& strFolder) : m_strFolder(strFolder) {
    if (!m_strFolder.empty() && m_strFolder.back() != '/')
        m_strFolder += '/';
    m_pThread = std::make_unique<CThread>(*this);
    if (!m_pThread->CreateThread()) {
        VLOG(WARNING, "CSimCallAudio thread did not start: calls carry no sound");
        m_pThread.reset();
    }
}

CSimCallAudio::~CSimCallAudio() {
    if (!m_pThread)
        return;
    if (m_pThread->PostThreadMessage(WM_SIMAUDIO_SHUTDOWN) &&
        !m_pThread->WaitForExit(kShutdownWaitMs)) {
        VLOG(WARNING, "CSimCallAudio devices did not give their buffers back; left to them");
        m_pThread.reset();
        // The devices may still write into the buffers: better kept than freed under them.
        for (auto& [key, s] : m_mapStreams)
            (void)s.release();
        return;
    }
    m_pThread.reset();
}

void CSimCallAudio::SetCallerVoice(int nCallId, const std::string& strPath) {
    std::lock_guard g(m_mState);
    m_mapVoices[nCallId] = strPath;
}

void CSimCallAudio::SetDefaultVoice(const std::string& strPath) {
    std::lock_guard g(m_mState);
    m_strDefaultVoice = strPath;
}

CSimCallAudioState CSimCallAudio::State(int nCallId) const {
    std::lock_guard g(m_mState);
    auto it = m_mapState.find(nCallId);
    return it == m_mapState.end() ? CSimCallAudioState{} : it->second;
}

bool CSimCallAudio::WaitFor(int nCallId, const std::function<bool(const CSimCallAudioState&)>& pred,
                            uint32_t nTimeoutMs) const {
    std::unique_lock lk(m_mState);
    return m_cvState.wait_for(lk, std::chrono::milliseconds(nTimeoutMs), [&] {
        auto it = m_mapState.find(nCallId);
        return pred(it == m_mapState.end() ? CSimCallAudioState{} : it->second);
    });
}

bool CSimCallAudio::WaitUntilQuiet(int nCallId, uint32_t nTimeoutMs) const {
    return WaitFor(
        nCallId,
        [](const CSimCallAudioState& s) {
            return s.m_nPendingCommands == 0 && !s.m_bCarrying &&
                   s.m_nFinishedFiles == static_cast<int>(s.m_vecHeardFiles.size());
        },
        nTimeoutMs);
}

template <class F>
void CSimCallAudio::Change(int nCallId, F&& fn) {
    std::lock_guard g(m_mState);
    fn(m_mapState[nCallId]);
    m_cvState.notify_all();
}

void CSimCallAudio::OnCallAudioStart(int nCallId, const std::string& strAudioIn,
                                     const std::string& strAudioOut) {
    if (!m_pThread)
        return;
    Change(nCallId, [](CSimCallAudioState& s) { ++s.m_nPendingCommands; });
    auto args = std::make_unique<CStartArgs>(CStartArgs{nCallId, strAudioIn, strAudioOut});
    if (!m_pThread->PostThreadMessage(WM_SIMAUDIO_START, std::move(args)))
        Change(nCallId, [](CSimCallAudioState& s) { --s.m_nPendingCommands; });
}

void CSimCallAudio::OnCallAudioStop(int nCallId) {
    if (!m_pThread)
        return;
    Change(nCallId, [](CSimCallAudioState& s) { ++s.m_nPendingCommands; });
    if (!m_pThread->PostThreadMessage(WM_SIMAUDIO_STOP, static_cast<WPARAM>(nCallId)))
        Change(nCallId, [](CSimCallAudioState& s) { --s.m_nPendingCommands; });
}

// ---------------------------------------------------------------------------------------------
// On the thread

void CSimCallAudio::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIMAUDIO_START:
            if (auto pArgs = TakePayload<CStartArgs>(wParam)) {
                StartCall(pArgs->m_nCallId, pArgs->m_strIn, pArgs->m_strOut);
                Change(pArgs->m_nCallId, [](CSimCallAudioState& s) { --s.m_nPendingCommands; });
            }
            break;
        case WM_SIMAUDIO_STOP: {
            const int nCallId = static_cast<int>(wParam);
            StopCall(nCallId);
            Change(nCallId, [](CSimCallAudioState& s) { --s.m_nPendingCommands; });
            break;
        }
        case WM_SIMAUDIO_SHUTDOWN:
            Shutdown();
            break;
        case MM_WIM_DATA:
            OnBufferBack(EWaveKind::In, static_cast<HWAVE>(wParam),
                         reinterpret_cast<WAVEHDR*>(lParam));
            break;
        case MM_WOM_DONE:
            OnBufferBack(EWaveKind::Out, static_cast<HWAVE>(wParam),
                         reinterpret_cast<WAVEHDR*>(lParam));
            break;
        default:
            break;  // the devices' open and close notices
    }
}

void CSimCallAudio::StartCall(int nCallId, const std::string& strIn, const std::string& strOut) {
    if (m_bShuttingDown)
        return;
    std::unique_ptr<CCallSound>& pCall = m_mapCalls[nCallId];
    if (!pCall)
        pCall = std::make_unique<CCallSound>();
    StopCall(nCallId);  // a start without a stop: the old stretch ends here
    if (HasStreams(nCallId)) {
        pCall->m_pendingStart.emplace(strIn, strOut);
        return;
    }
    BeginStretch(nCallId, *pCall, strIn, strOut);
}

void CSimCallAudio::BeginStretch(int nCallId, CCallSound& call, const std::string& strIn,
                                 const std::string& strOut) {
    ++call.m_nStretch;
    VLOG(INFO, "CSimCallAudio call %d sound starts: in \"%s\", out \"%s\"", nCallId, strIn.c_str(),
         strOut.c_str());
    StartRecording(nCallId, call, strIn);
    StartPlaying(nCallId, call, strOut);
    UpdateCarrying(nCallId);
}

bool CSimCallAudio::HasStreams(int nCallId) const {
    return std::any_of(m_mapStreams.begin(), m_mapStreams.end(),
                       [&](const auto& entry) { return entry.second->m_nCallId == nCallId; });
}

void CSimCallAudio::StopCall(int nCallId) {
    auto it = m_mapCalls.find(nCallId);
    if (it == m_mapCalls.end())
        return;
    CCallSound& call = *it->second;
    call.m_pendingStart.reset();
    // Let go first: a stream with nothing queued closes (and is gone) inside StopStream.
    CStream* pPlay = std::exchange(call.m_pPlay, nullptr);
    CStream* pRecord = std::exchange(call.m_pRecord, nullptr);
    if (pPlay)
        StopStream(*pPlay);
    if (pRecord)
        StopStream(*pRecord);
    UpdateCarrying(nCallId);
}

void CSimCallAudio::StartRecording(int nCallId, CCallSound& call, const std::string& strDevice) {
    auto s = std::make_unique<CStream>();
    s->m_nCallId = nCallId;
    s->m_kind = EWaveKind::In;
    s->m_strPath = m_strFolder + StrFormat("call%d-heard-%d.wav", nCallId, call.m_nStretch);
    s->m_pSource = std::make_unique<CDeviceSource>(kHeardSpec);
    s->m_pFile = std::make_unique<CWaveSinkToFileWAV>();
    s->m_pFile->WaveSourceAttach(s->m_pSource.get());
    if (!s->m_pFile->Init(s->m_strPath, nullptr) || !s->m_pFile->Start()) {
        VLOG(WARNING, "CSimCallAudio call %d cannot write \"%s\"", nCallId, s->m_strPath.c_str());
        return;
    }
    IWaveBackend& devices = WaveDevices();
    const MMRESULT r =
        devices.Open(EWaveKind::In, &s->m_hDevice, FindDevice(EWaveKind::In, strDevice), kHeardSpec,
                     &m_pThread->Loop());
    if (r != MMSYSERR_NOERROR) {
        VLOG(WARNING, "CSimCallAudio call %d cannot open recording device \"%s\": %s", nCallId,
             strDevice.c_str(), WaveErrorText(r).c_str());
        s->m_pFile->Stop(nullptr);
        s->m_pFile->Release();
        Change(nCallId, [&](CSimCallAudioState& st) {
            st.m_vecHeardFiles.push_back(s->m_strPath);  // an empty recording, but a true one
            ++st.m_nFinishedFiles;
        });
        return;
    }
    Change(nCallId, [&](CSimCallAudioState& st) { st.m_vecHeardFiles.push_back(s->m_strPath); });
    const uint32_t uBytes = BufferBytes(kHeardSpec);
    s->m_vBuffers.assign(kRecordBuffers, std::vector<uint8_t>(uBytes));
    s->m_vHdrs.resize(kRecordBuffers);
    CStream& stream = *s;
    m_mapStreams[{EWaveKind::In, s->m_hDevice}] = std::move(s);
    call.m_pRecord = &stream;
    for (size_t i = 0; i < kRecordBuffers; ++i) {
        WAVEHDR& hdr = stream.m_vHdrs[i];
        hdr.lpData = stream.m_vBuffers[i].data();
        hdr.dwBufferLength = uBytes;
        if (devices.Prepare(stream.m_hDevice, &hdr) != MMSYSERR_NOERROR ||
            !FillAndQueue(stream, hdr))
            break;
    }
    const MMRESULT rStart = stream.m_nQueued ? devices.Start(stream.m_hDevice) : MMSYSERR_ERROR;
    if (rStart != MMSYSERR_NOERROR) {
        VLOG(WARNING, "CSimCallAudio call %d recording does not start: %s", nCallId,
             WaveErrorText(rStart).c_str());
        call.m_pRecord = nullptr;
        StopStream(stream);
    }
}

void CSimCallAudio::StartPlaying(int nCallId, CCallSound& call, const std::string& strDevice) {
    if (!call.m_bVoiceRead) {
        call.m_bVoiceRead = true;
        std::string strPath;
        {
            std::lock_guard g(m_mState);
            auto it = m_mapVoices.find(nCallId);
            strPath = it != m_mapVoices.end() ? it->second : m_strDefaultVoice;
        }
        auto pVoice = std::make_shared<CSimSound>();
        if (!strPath.empty() && ReadSimSound(strPath, *pVoice))
            call.m_pVoice = std::move(pVoice);
    }
    if (!call.m_pVoice || call.m_uVoicePos >= call.m_pVoice->m_vData.size())
        return;  // a silent caller, or one who has said everything
    auto s = std::make_unique<CStream>();
    s->m_nCallId = nCallId;
    s->m_kind = EWaveKind::Out;
    s->m_pVoice = call.m_pVoice;
    IWaveBackend& devices = WaveDevices();
    const MMRESULT r =
        devices.Open(EWaveKind::Out, &s->m_hDevice, FindDevice(EWaveKind::Out, strDevice),
                     s->m_pVoice->m_spec, &m_pThread->Loop());
    if (r != MMSYSERR_NOERROR) {
        VLOG(WARNING, "CSimCallAudio call %d cannot open playback device \"%s\": %s", nCallId,
             strDevice.c_str(), WaveErrorText(r).c_str());
        return;
    }
    s->m_vBuffers.assign(kPlayBuffers, std::vector<uint8_t>(BufferBytes(s->m_pVoice->m_spec)));
    s->m_vHdrs.resize(kPlayBuffers);
    CStream& stream = *s;
    m_mapStreams[{EWaveKind::Out, s->m_hDevice}] = std::move(s);
    call.m_pPlay = &stream;
    for (size_t i = 0; i < kPlayBuffers; ++i)
        if (!FillAndQueue(stream, stream.m_vHdrs[i]))
            break;
    if (stream.m_nQueued == 0) {
        call.m_pPlay = nullptr;
        StopStream(stream);
    }
}

// Playback: the next piece of the voice, prepared and queued; false at the end of the voice or
// when the device refuses it. Recording: the buffer queued again to be filled.
bool CSimCallAudio::FillAndQueue(CStream& s, WAVEHDR& hdr) {
    IWaveBackend& devices = WaveDevices();
    if (s.m_kind == EWaveKind::Out) {
        auto it = m_mapCalls.find(s.m_nCallId);
        if (it == m_mapCalls.end())
            return false;
        CCallSound& call = *it->second;
        const std::vector<uint8_t>& voice = s.m_pVoice->m_vData;
        std::vector<uint8_t>& buf = s.m_vBuffers[static_cast<size_t>(&hdr - s.m_vHdrs.data())];
        const uint64_t uLeft = voice.size() - std::min<uint64_t>(call.m_uVoicePos, voice.size());
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), uLeft));
        if (n == 0)
            return false;
        std::copy_n(voice.begin() + static_cast<std::ptrdiff_t>(call.m_uVoicePos), n, buf.begin());
        hdr = WAVEHDR{};
        hdr.lpData = buf.data();
        hdr.dwBufferLength = static_cast<DWORD>(n);
        MMRESULT r = devices.Prepare(s.m_hDevice, &hdr);
        if (r == MMSYSERR_NOERROR)
            r = devices.Queue(s.m_hDevice, &hdr);
        if (r != MMSYSERR_NOERROR) {
            VLOG(WARNING, "CSimCallAudio call %d playback stops: %s", s.m_nCallId,
                 WaveErrorText(r).c_str());
            devices.Unprepare(s.m_hDevice, &hdr);
            return false;
        }
        ++s.m_nQueued;
        call.m_uVoicePos += n;
        Change(s.m_nCallId, [&](CSimCallAudioState& st) { st.m_uVoiceBytesQueued += n; });
        return true;
    }
    hdr.dwBytesRecorded = 0;
    const MMRESULT r = devices.Queue(s.m_hDevice, &hdr);
    if (r != MMSYSERR_NOERROR) {
        VLOG(WARNING, "CSimCallAudio call %d recording stops: %s", s.m_nCallId,
             WaveErrorText(r).c_str());
        return false;
    }
    ++s.m_nQueued;
    return true;
}

void CSimCallAudio::OnBufferBack(EWaveKind kind, HWAVE hDevice, WAVEHDR* pHdr) {
    auto it = m_mapStreams.find({kind, hDevice});
    // A buffer of a device already closed, or of a handle that has been given out again.
    if (it == m_mapStreams.end() || !it->second->Owns(pHdr))
        return;
    CStream& s = *it->second;
    if (s.m_nQueued > 0)
        --s.m_nQueued;
    if (kind == EWaveKind::In) {
        const uint32_t uLen = std::min(pHdr->dwBytesRecorded, pHdr->dwBufferLength);
        if (uLen > 0) {
            s.m_pSource->SinkWriteAll(pHdr->lpData, uLen);
            Change(s.m_nCallId, [&](CSimCallAudioState& st) { st.m_uHeardBytes += uLen; });
        }
    } else {
        WaveDevices().Unprepare(s.m_hDevice, pHdr);
    }
    if (!s.m_bStopping && !FillAndQueue(s, *pHdr)) {
        // The end of the voice (what is queued plays out), or a device that went away (what it
        // holds comes back now).
        s.m_bStopping = true;
        if (kind == EWaveKind::In)
            ResetStream(s);
    }
    if (s.m_bStopping && s.m_nQueued == 0)
        CloseStream(s);
}

void CSimCallAudio::StopStream(CStream& s) {
    s.m_bStopping = true;
    if (s.m_nQueued == 0)
        CloseStream(s);  // s is gone from here on
    else
        ResetStream(s);
}

// Every queued buffer comes back (as a message to this thread) and the stream then closes.
void CSimCallAudio::ResetStream(CStream& s) {
    if (s.m_bReset || s.m_nQueued == 0)
        return;
    s.m_bReset = true;
    const MMRESULT r = WaveDevices().Reset(s.m_hDevice);
    if (r != MMSYSERR_NOERROR)
        VLOG(WARNING, "CSimCallAudio call %d %s device reset: %s", s.m_nCallId, KindName(s.m_kind),
             WaveErrorText(r).c_str());
}

void CSimCallAudio::CloseStream(CStream& s) {
    IWaveBackend& devices = WaveDevices();
    const int nCallId = s.m_nCallId;
    if (s.m_kind == EWaveKind::In)
        for (WAVEHDR& hdr : s.m_vHdrs)
            if (hdr.lpData)
                devices.Unprepare(s.m_hDevice, &hdr);
    const MMRESULT r = devices.Close(s.m_hDevice);
    if (r != MMSYSERR_NOERROR)
        VLOG(WARNING, "CSimCallAudio call %d %s device close: %s", nCallId, KindName(s.m_kind),
             WaveErrorText(r).c_str());
    auto itCall = m_mapCalls.find(nCallId);
    if (s.m_kind == EWaveKind::In) {
        s.m_pFile->Stop(nullptr);
        s.m_pFile->Release();
        VLOG(INFO, "CSimCallAudio call %d recording finished: %s", nCallId, s.m_strPath.c_str());
        Change(nCallId, [](CSimCallAudioState& st) { ++st.m_nFinishedFiles; });
    } else if (itCall != m_mapCalls.end()) {
        const CCallSound& call = *itCall->second;
        if (call.m_uVoicePos >= s.m_pVoice->m_vData.size())
            Change(nCallId, [](CSimCallAudioState& st) { st.m_bVoiceDone = true; });
    }
    if (itCall != m_mapCalls.end()) {
        if (itCall->second->m_pPlay == &s)
            itCall->second->m_pPlay = nullptr;
        if (itCall->second->m_pRecord == &s)
            itCall->second->m_pRecord = nullptr;
    }
    m_mapStreams.erase({s.m_kind, s.m_hDevice});  // s is gone from here on
    if (itCall != m_mapCalls.end() && itCall->second->m_pendingStart && !HasStreams(nCallId)) {
        const auto [strIn, strOut] = *std::exchange(itCall->second->m_pendingStart, std::nullopt);
        BeginStretch(nCallId, *itCall->second, strIn, strOut);
    } else {
        UpdateCarrying(nCallId);
    }
    if (m_bShuttingDown && m_mapStreams.empty())
        m_pThread->Quit();
}

void CSimCallAudio::UpdateCarrying(int nCallId) {
    const bool bCarrying = HasStreams(nCallId);
    Change(nCallId, [&](CSimCallAudioState& st) { st.m_bCarrying = bCarrying; });
}

void CSimCallAudio::Shutdown() {
    m_bShuttingDown = true;
    std::vector<int> ids;
    for (const auto& [id, call] : m_mapCalls)
        ids.push_back(id);
    for (int id : ids)
        StopCall(id);
    if (m_mapStreams.empty())
        m_pThread->Quit();
}
