#include "app/Logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/Clock.h"
#include "platform/Sync.h"

constinit CLogger g_Logger("Vokra");

namespace {

// One lock for every file handler: records of all threads and all handlers are numbered,
// rotated and written one at a time. std::mutex is constant-initialised, so it is usable
// before any dynamic initialisation runs.
constinit std::mutex g_mLogFiles;

const char* const g_aszLevelNames[] = {
    "", "ALL", "FINEST", "FINER", "FINE", "CONFIG", "INFO", "WARNING", "SEVERE", "OFF",
};

}  // namespace

const char* LogLevelName(int level) {
    // A level outside the table must not read past it; such a record still gets written.
    if (level < ALL || level > OFF)
        return "UNKNOWN";
    return g_aszLevelNames[level];
}

CLogRecord::CLogRecord(int level, const std::string& loggerName, const std::string& message,
                       const char* sourceFile, int sourceLine)
    : m_nLevel(level),
      m_strLoggerName(loggerName),
      m_strMessage(message),
      m_strSourceFile(sourceFile ? sourceFile : ""),
      m_nSourceLine(sourceLine),
      m_uThreadId(GetCurrentThreadId()),
      m_uProcessId(GetCurrentProcessId()) {
    const CWallTime now = Clock().WallNow();
    m_nTimeSec = now.sec;
    m_uTimeMs = now.ms;
}

CLogFileHandler::CLogFileHandler(int level, const std::string& baseName, uint32_t sizeLimit)
    : m_nLevel(level), m_strBaseName(baseName), m_uSizeLimit(sizeLimit) {
    // Every start begins a fresh file 0; files 1..9 of earlier runs wait for rotation.
    std::lock_guard<std::mutex> lock(g_mLogFiles);
    ::unlink(FileName(0).c_str());
}

std::string CLogFileHandler::FileName(int index) const {
    return StrFormat("%s_%d.log", m_strBaseName.c_str(), index);
}

std::string CLogFileHandler::FormatRecord(const CLogRecord& record) {
    const std::tm tm = LocalTime(record.m_nTimeSec);
    char szTime[64];
    size_t n = std::strftime(szTime, sizeof szTime, "%d/%m/%Y %H:%M:%S.", &tm);
    szTime[n] = '\0';
    std::string strText = StrFormat(
        "\r\nLogger name: %s\tLevel: %s\tTime: %s%3.3d\tSequence: %d\tSource file: %s\t"
        "Source line: %d\tThread ID: %d\tProcess ID: %d\r\nMessage: ",
        record.m_strLoggerName.c_str(), LogLevelName(record.m_nLevel), szTime,
        static_cast<int>(record.m_uTimeMs), record.m_nSequence, record.m_strSourceFile.c_str(),
        record.m_nSourceLine, static_cast<int>(record.m_uThreadId),
        static_cast<int>(record.m_uProcessId));
    // Appended rather than formatted: the message is written whole, whatever bytes it holds.
    strText += record.m_strMessage;
    strText += "\r\n";
    return strText;
}

int CLogFileHandler::Publish(CLogRecord& record) {
    if (m_nLevel == OFF)
        return 1;
    if (record.m_nLevel < m_nLevel)
        return 1;

    std::lock_guard<std::mutex> lock(g_mLogFiles);
    // The number is consumed even when the write fails below.
    record.m_nSequence = m_nNextSequence++;

    const std::string strFile = FileName(m_nFileIndex);
    int fd;
    do {
        fd = ::open(strFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return 0;

    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return 0;
    }
    if (static_cast<uint64_t>(st.st_size) >= m_uSizeLimit) {
        // This record still goes to the full file; the next one starts the next file afresh.
        m_nFileIndex = (m_nFileIndex + 1) % 10;
        ::unlink(FileName(m_nFileIndex).c_str());
    }

    const std::string strText = FormatRecord(record);
    ssize_t nWritten;
    do {
        nWritten = ::write(fd, strText.data(), strText.size());
    } while (nWritten < 0 && errno == EINTR);
    ::close(fd);
    if (nWritten < 0 || static_cast<size_t>(nWritten) != strText.size())
        return 0;
    return 1;
}

int CLogger::Log(int level, const char* sourceFile, int sourceLine, const std::string& message) {
    CLogRecord record(level, m_pszName, message, sourceFile, sourceLine);
    std::lock_guard<std::mutex> lock(m_mSlots);
    for (CLogHandler* handler : m_handlers)
        if (handler)
            handler->Publish(record);
    return 1;
}

int CLogger::AddHandler(CLogHandler* handler) {
    if (!handler) {
        Log(WARNING, FileBaseName(__FILE__), __LINE__, "CLogger::AddHandler no handler");
        return kMaxHandlers;
    }
    std::lock_guard<std::mutex> lock(m_mSlots);
    for (int i = 0; i < kMaxHandlers; ++i)
        if (m_handlers[i] == handler)
            return i;
    for (int i = 0; i < kMaxHandlers; ++i) {
        if (!m_handlers[i]) {
            m_handlers[i] = handler;
            return i;
        }
    }
    return kMaxHandlers;
}

void CLogger::RemoveHandler(CLogHandler* handler) {
    std::lock_guard<std::mutex> lock(m_mSlots);
    for (CLogHandler*& slot : m_handlers)
        if (slot == handler)
            slot = nullptr;
}
