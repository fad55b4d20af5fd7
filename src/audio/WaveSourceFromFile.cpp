#include "audio/WaveSourceFromFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "app/Logger.h"
#include "platform/StrUtil.h"
#include "platform/Sync.h"

bool HasExtension(const std::string& path, const std::string& ext) {
    if (path.empty() || ext.empty() || path.size() <= ext.size())
        return false;
    return EqualNoCase(std::string_view(path).substr(path.size() - ext.size()), ext);
}

namespace {
// Opens a regular file for reading; anything else (a folder, a pipe that would block until
// someone writes to it, a device) is as good as missing.
FILE* OpenRegularFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* f = fdopen(fd, "rb");
    if (f == nullptr)
        close(fd);
    return f;
}
}  // namespace

struct CWaveSourceFromFile::CThreadControl {
    CEvent evKnown{true, false};  // the thread has published its id
    CEvent evGo{true, false};     // the thread may start streaming
    CEvent evEnded{true, false};  // the streaming loop has returned
    uint32_t uThreadId = 0;
};

CWaveSourceFromFile::CWaveSourceFromFile() = default;

CWaveSourceFromFile::~CWaveSourceFromFile() {
    int running = ST_RUNNING;
    if (m_nState.compare_exchange_strong(running, ST_READY))
        m_pNotify.store(nullptr);
    JoinStreamingThread();
    std::lock_guard loop(m_mLoop);
    m_pFileFormat.reset();
    CloseFile();
}

void CWaveSourceFromFile::CloseFile() {
    m_pFile.reset();
}

void CWaveSourceFromFile::JoinStreamingThread() {
    if (!m_hThread.joinable())
        return;
    if (m_hThread.get_id() == std::this_thread::get_id())
        m_hThread.detach();
    else
        m_hThread.join();
    m_pThreadControl.reset();
}

bool CWaveSourceFromFile::Init(const std::string& path) {
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::Init [File Path: %s]", LogAddr(this), path.c_str());
    if (m_nState.load() == ST_RUNNING) {
        // The streaming loop is using the reader and the file.
        VLOG(WARNING, "CWaveSourceFromFile::Init [ERROR: still streaming]");
        return false;
    }
    JoinStreamingThread();
    std::lock_guard loop(m_mLoop);
    m_pFileFormat.reset();
    SetFormat(nullptr);
    if (HasExtension(path, ".WAV")) {
        m_pFileFormat = std::make_unique<CWaveSourceFromFileFormatWAV>(this);
    } else if (HasExtension(path, ".MP3")) {
        m_pFileFormat = std::make_unique<CWaveSourceFromFileFormatMP3>(this);
    } else {
        VLOG(WARNING, "CWaveSourceFromFile::Init [Audio file extention not handled]");
        return false;
    }
    m_strFilePath = path;
    CloseFile();
    m_pFile.reset(OpenRegularFile(path));
    if (m_pFile == nullptr) {
        VLOG(WARNING, "CWaveSourceFromFile::Init [Could not find \"%s\"]", path.c_str());
        m_pFileFormat.reset();
        return false;
    }
    if (!m_pFileFormat->ReadAudioFileHeaderAndSaveFormat()) {
        VLOG(WARNING, "CWaveSourceFromFile::Init [ERROR with File Header]");
        m_pFileFormat.reset();
        SetFormat(nullptr);
        CloseFile();
        return false;
    }
    SetReady();
    return true;
}

bool CWaveSourceFromFile::Start(CWaveNotify* notify) {
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::Start [ Notify: %#x ]", LogAddr(this), LogAddr(notify));
    if (m_nState.load() == ST_RUNNING || !m_pFileFormat)
        return false;
    // A thread from an earlier run must be gone before a new loop uses the reader.
    JoinStreamingThread();
    m_nState.store(ST_RUNNING);
    m_pNotify.store(notify);
    if (notify != nullptr) {
        VLOG(INFO, "CWaveSourceFromFile::Start [spawn dedicated thread]");
        auto control = std::make_shared<CThreadControl>();
        m_pThreadControl = control;
        // The thread waits for the go signal, as a thread created suspended would, so that its
        // id is logged before it streams.
        m_hThread = std::thread([this, control] {
            control->uThreadId = GetCurrentThreadId();
            control->evKnown.Set();
            control->evGo.Wait();
            StreamFileNotifyOnDoneOrStopOnFlagThread(this);
            control->evEnded.Set();
        });
        control->evKnown.Wait();
        VLOG(INFO, "CWaveSourceFromFile::Start [Thread ID: %#x, Hndl: %#x]", control->uThreadId,
             static_cast<unsigned>(m_hThread.native_handle()));
        control->evGo.Set();
    } else {
        VLOG(INFO, "CWaveSourceFromFile::Start [block caller thread]");
        StreamFileNotifyOnDoneOrStopOnFlag();
    }
    return true;
}

uint32_t CWaveSourceFromFile::StreamFileNotifyOnDoneOrStopOnFlagThread(
    CWaveSourceFromFile* source) {
    source->StreamFileNotifyOnDoneOrStopOnFlag();
    // The source may be released by now: only its address is used.
    VLOG(INFO, "StreamFileNotifyOnDoneOrStopOnFlagThread [Thread End [%8.8x]]", LogAddr(source));
    return 0;
}

void CWaveSourceFromFile::StreamFileNotifyOnDoneOrStopOnFlag() {
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::StreamFileNotifyOnDoneOrStopOnFlag", LogAddr(this));
    std::lock_guard loop(m_mLoop);
    CWaveSourceFromFileFormat* reader = m_pFileFormat.get();
    std::vector<uint8_t> block(reader->GetBytesToRead(), 0);
    while (m_nState.load() == ST_RUNNING) {
        uint32_t length = 0;
        if (!reader->DecodeFileLoop(block.data(), &length)) {
            VLOG(WARNING, "CWaveSourceFromFile::ERROR from DecodeFileLoop");
            length = 0;
        }
        if (length == 0) {
            // Only one of the end of the data and Stop moves the state on; the notice belongs to
            // the end of the data. After it nothing of the source is touched.
            int running = ST_RUNNING;
            if (m_nState.compare_exchange_strong(running, ST_READY)) {
                CWaveNotify* notify = m_pNotify.exchange(nullptr);
                if (notify != nullptr)
                    notify->NotifyStopped(this);
            }
            break;
        }
        SinkWriteAll(block.data(), length);
    }
}

bool CWaveSourceFromFile::Stop() {
    int running = ST_RUNNING;
    if (!m_nState.compare_exchange_strong(running, ST_READY))
        return false;
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::Stop", LogAddr(this));
    m_pNotify.store(nullptr);
    if (m_hThread.joinable() && m_hThread.get_id() != std::this_thread::get_id()) {
        if (m_pThreadControl->evEnded.Wait(1000)) {
            VLOG(INFO, "CWaveSourceFromFile::Stop [ Thread Ended successfully ]");
            JoinStreamingThread();
        } else {
            // Still delivering a block (a sink may be pacing); it ends at the top of its loop
            // and is joined before the reader or the file is touched again.
            VLOG(WARNING, "CWaveSourceFromFile::Stop [ Timeout before Thread Ends ]");
        }
    }
    return true;
}

bool CWaveSourceFromFile::Release() {
    int ready = ST_READY;
    if (!m_nState.compare_exchange_strong(ready, ST_IDLE))
        return false;
    VLOG(INFO, "CWaveSourceFromFile[%8.8x]::Release", LogAddr(this));
    JoinStreamingThread();
    std::lock_guard loop(m_mLoop);
    SetFormat(nullptr);
    m_pFileFormat.reset();
    m_strFilePath.clear();
    CloseFile();
    return true;
}
