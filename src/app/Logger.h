#pragma once
// The process-wide logger: records built on the caller's thread, published to the registered
// handlers; the file handler appends each record to a rotating set of ten files.
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/StrUtil.h"

enum LogLevel : int {
    ALL = 1,
    FINEST = 2,
    FINER = 3,
    FINE = 4,
    CONFIG = 5,
    INFO = 6,
    WARNING = 7,
    SEVERE = 8,
    OFF = 9,
};

const char* LogLevelName(int level);

class CLogRecord {
public:
    CLogRecord(int level, const std::string& loggerName, const std::string& message,
               const char* sourceFile, int sourceLine);
    int m_nLevel;
    std::string m_strLoggerName;
    std::string m_strMessage;
    int64_t m_nTimeSec;   // seconds since 1970
    uint16_t m_uTimeMs;   // 0..999
    int m_nSequence = 0;  // assigned by the handler that writes it
    std::string m_strSourceFile;
    int m_nSourceLine;
    uint32_t m_uThreadId;
    uint32_t m_uProcessId;
};

class CLogHandler {
public:
    virtual ~CLogHandler() = default;
    // 1 when the record was handled (written or filtered out), 0 on failure.
    virtual int Publish(CLogRecord& record) = 0;
};

class CLogFileHandler : public CLogHandler {
public:
    CLogFileHandler(int level, const std::string& baseName, uint32_t sizeLimit);
    int Publish(CLogRecord& record) override;
    // "%s_%d.log" of the base name.
    std::string FileName(int index) const;
    // The text of one record, exactly as written to the file.
    static std::string FormatRecord(const CLogRecord& record);

private:
    // Every field below except m_nLevel and m_strBaseName changes only under the process-wide
    // lock that all file handlers share.
    int m_nLevel;
    int m_nNextSequence = 0;
    std::string m_strBaseName;
    uint32_t m_uSizeLimit;
    int m_nFileIndex = 0;
};

class CLogger {
public:
    static constexpr int kMaxHandlers = 128;
    // constexpr so that g_Logger is ready before any other static object's constructor logs.
    constexpr explicit CLogger(const char* name) : m_pszName(name) {}
    // Builds a record and hands it to every handler. Any thread; always returns 1.
    int Log(int level, const char* sourceFile, int sourceLine, const std::string& message);
    // Slot index of the handler; kMaxHandlers when all slots are taken.
    int AddHandler(CLogHandler* handler);
    // Empties the slot that holds the handler (not deleted). For shutdown and tests. Returns
    // once no thread is publishing to it any more, so the handler may then be destroyed.
    void RemoveHandler(CLogHandler* handler);

private:
    const char* m_pszName;
    // Guards the slots; held while publishing, so a handler must not log from Publish.
    std::mutex m_mSlots;
    CLogHandler* m_handlers[kMaxHandlers] = {};
};

extern CLogger g_Logger;

// The call form every layer uses: passes the caller's file name and line.
//   VLOG(INFO, "CCall::OnTimer callId: %d, p=%p", id, this);
#define VLOG(level, ...) \
    g_Logger.Log((level), FileBaseName(__FILE__), __LINE__, StrFormat(__VA_ARGS__))
