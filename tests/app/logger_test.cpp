#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "LogFiles.h"
#include "app/Logger.h"
#include "platform/Clock.h"
#include "platform/Sync.h"

namespace {

// Sets the local time zone for one scope and puts the previous one back.
class CScopedTimeZone {
public:
    explicit CScopedTimeZone(const char* tz) {
        if (const char* old = ::getenv("TZ"))
            m_strOld = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~CScopedTimeZone() {
        if (m_strOld)
            ::setenv("TZ", m_strOld->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> m_strOld;
};

TEST(LoggerTest, RecordBytesAreExact) {
    CScopedTimeZone tz("CET-1");
    // 09/12/2005 13:03:07.045 UTC, 14:03:07.045 in CET.
    CManualClock clock(CWallTime{1134133387, 45});
    CScopedClock scoped(clock);
    CTempLogDir dir;
    CLogFileHandler handler(INFO, dir.Base(), 0x80000);
    CScopedHandler reg(handler);

    EXPECT_EQ(1, g_Logger.Log(INFO, "Call.cpp", 321, "CCall::OnTimer callId: 12, p=0x1"));
    clock.Advance(960);  // milliseconds carry into the next second and keep three digits
    EXPECT_EQ(1, g_Logger.Log(WARNING, "STL.cpp", 7, "jürgen\tsaid 100%"));

    const std::string ids =
        StrFormat("\tThread ID: %d\tProcess ID: %d\r\n", static_cast<int>(GetCurrentThreadId()),
                  static_cast<int>(::getpid()));
    const std::string expected =
        "\r\nLogger name: Vokra\tLevel: INFO\tTime: 09/12/2005 14:03:07.045\tSequence: 0\t"
        "Source file: Call.cpp\tSource line: 321" +
        ids + "Message: CCall::OnTimer callId: 12, p=0x1\r\n" +
        "\r\nLogger name: Vokra\tLevel: WARNING\tTime: 09/12/2005 14:03:08.005\tSequence: 1\t"
        "Source file: STL.cpp\tSource line: 7" +
        ids + "Message: jürgen\tsaid 100%\r\n";
    EXPECT_EQ(expected, ReadFileBytes(handler.FileName(0)));
}

TEST(LoggerTest, VlogPassesTheCallersFileAndLine) {
    CTempLogDir dir;
    CLogFileHandler handler(INFO, dir.Base(), 0x80000);
    CScopedHandler reg(handler);
    const int line = __LINE__ + 1;
    VLOG(INFO, "CSomething::Method %d %s", 42, "x");
    std::vector<std::string> records = SplitRecords(ReadFileBytes(handler.FileName(0)));
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("logger_test.cpp", FieldOf(records[0], "Source file"));
    EXPECT_EQ(std::to_string(line), FieldOf(records[0], "Source line"));
    EXPECT_EQ("CSomething::Method 42 x", FieldOf(records[0], "Message"));
}

TEST(LoggerTest, FileNamesAreBasePlusIndex) {
    CLogFileHandler handler(INFO, "/nonexistent-dir/Vokra debug log", 0x80000);
    EXPECT_EQ("/nonexistent-dir/Vokra debug log_0.log", handler.FileName(0));
    EXPECT_EQ("/nonexistent-dir/Vokra debug log_9.log", handler.FileName(9));
}

TEST(LoggerTest, LevelFilterSkipsRecordsWithoutNumberingThem) {
    CTempLogDir dir;
    CLogFileHandler handler(WARNING, dir.Base(), 0x80000);
    CScopedHandler reg(handler);
    for (int level : {INFO, WARNING, FINE, INFO, SEVERE, ALL, WARNING, OFF})
        g_Logger.Log(level, "x.cpp", 1, "m");

    std::vector<std::string> records = SplitRecords(ReadFileBytes(handler.FileName(0)));
    const std::vector<std::pair<std::string, int>> expected = {
        {"WARNING", 0}, {"SEVERE", 1}, {"WARNING", 2}, {"OFF", 3}};
    ASSERT_EQ(expected.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(expected[i].first, FieldOf(records[i], "Level"));
        EXPECT_EQ(expected[i].second, SequenceOf(records[i]));
    }

    // A filtered record counts as handled and keeps its sequence untouched.
    CLogRecord record(INFO, "Vokra", "m", "x.cpp", 1);
    EXPECT_EQ(1, handler.Publish(record));
    EXPECT_EQ(0, record.m_nSequence);
}

TEST(LoggerTest, LevelOffWritesNothing) {
    CTempLogDir dir;
    CLogFileHandler handler(OFF, dir.Base(), 0x80000);
    CScopedHandler reg(handler);
    for (int level = ALL; level <= OFF; ++level)
        g_Logger.Log(level, "x.cpp", 1, "m");
    EXPECT_FALSE(FileExists(handler.FileName(0)));
}

TEST(LoggerTest, ConstructionDeletesOnlyFileZero) {
    CTempLogDir dir;
    WriteFileBytes(dir.Base() + "_0.log", "old");
    WriteFileBytes(dir.Base() + "_3.log", "old");
    CLogFileHandler handler(INFO, dir.Base(), 0x80000);
    EXPECT_FALSE(FileExists(dir.Base() + "_0.log"));
    EXPECT_EQ("old", ReadFileBytes(dir.Base() + "_3.log"));
}

TEST(LoggerTest, FullFileTakesOneMoreRecordThenNextIndexStartsAfresh) {
    CTempLogDir dir;
    CLogFileHandler handler(INFO, dir.Base(), 0x80000);
    CScopedHandler reg(handler);
    const std::string filler(600000, 'x');
    WriteFileBytes(handler.FileName(0), filler);
    WriteFileBytes(handler.FileName(1), "left from an earlier run");

    g_Logger.Log(INFO, "x.cpp", 1, "A");
    const std::string file0 = ReadFileBytes(handler.FileName(0));
    ASSERT_GT(file0.size(), filler.size());
    EXPECT_EQ(filler, file0.substr(0, filler.size()));
    std::vector<std::string> tail = SplitRecords(file0.substr(filler.size()));
    ASSERT_EQ(1u, tail.size());
    EXPECT_EQ("A", FieldOf(tail[0], "Message"));
    EXPECT_FALSE(FileExists(handler.FileName(1)));

    g_Logger.Log(INFO, "x.cpp", 1, "B");
    g_Logger.Log(INFO, "x.cpp", 1, "C");
    EXPECT_EQ(file0, ReadFileBytes(handler.FileName(0)));
    std::vector<std::string> records = SplitRecords(ReadFileBytes(handler.FileName(1)));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("B", FieldOf(records[0], "Message"));
    EXPECT_EQ(1, SequenceOf(records[0]));
    EXPECT_EQ("C", FieldOf(records[1], "Message"));
    EXPECT_FALSE(FileExists(handler.FileName(2)));
}

TEST(LoggerTest, RotationWrapsFromNineToZero) {
    CTempLogDir dir;
    for (int i = 0; i < 10; ++i)
        WriteFileBytes(StrFormat("%s_%d.log", dir.Base().c_str(), i), "old");
    // A limit of 0 makes every file full at once: each record moves the index on and deletes
    // the file of the new index.
    CLogFileHandler handler(INFO, dir.Base(), 0);
    CScopedHandler reg(handler);
    auto onlyRecord = [&](int index) {
        const std::string text = ReadFileBytes(handler.FileName(index));
        std::vector<std::string> records = SplitRecords(text);
        EXPECT_EQ(1u, records.size());
        EXPECT_EQ(text, records.empty() ? std::string() : records[0]);  // nothing old is left
        return records.empty() ? -1 : SequenceOf(records[0]);
    };

    for (int i = 0; i < 10; ++i)
        g_Logger.Log(INFO, "x.cpp", 1, std::to_string(i));
    // The record in file 9 moved the index round to 0 and deleted file 0.
    EXPECT_FALSE(FileExists(handler.FileName(0)));
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(i, onlyRecord(i)) << i;

    g_Logger.Log(INFO, "x.cpp", 1, "10");
    EXPECT_EQ(10, onlyRecord(0));
    EXPECT_FALSE(FileExists(handler.FileName(1)));
    EXPECT_FALSE(FileExists(handler.FileName(10)));
}

TEST(LoggerTest, FailuresDropTheRecordButConsumeItsNumber) {
    CTempLogDir dir;
    // A file that cannot be opened.
    CLogFileHandler missing(INFO, dir.Path("no such folder/log"), 0x80000);
    CLogRecord r1(INFO, "Vokra", "m", "x.cpp", 1);
    CLogRecord r2(INFO, "Vokra", "m", "x.cpp", 1);
    EXPECT_EQ(0, missing.Publish(r1));
    EXPECT_EQ(0, missing.Publish(r2));
    EXPECT_EQ(0, r1.m_nSequence);
    EXPECT_EQ(1, r2.m_nSequence);

    // A file that takes none of the bytes: file 0 is a link to a full device.
    CLogFileHandler full(INFO, dir.Base(), 0x80000);
    ASSERT_EQ(0, ::symlink("/dev/full", full.FileName(0).c_str()));
    CLogRecord r3(INFO, "Vokra", "m", "x.cpp", 1);
    EXPECT_EQ(0, full.Publish(r3));

    // Log itself never reports a failure.
    CScopedHandler reg(missing);
    EXPECT_EQ(1, g_Logger.Log(WARNING, "x.cpp", 1, "m"));
}

class CRecordingHandler : public CLogHandler {
public:
    CRecordingHandler(std::vector<int>* calls, int id) : m_pCalls(calls), m_nId(id) {}
    int Publish(CLogRecord&) override {
        m_pCalls->push_back(m_nId);
        return 1;
    }

private:
    std::vector<int>* m_pCalls;
    int m_nId;
};

TEST(LoggerTest, HandlerSlots) {
    CLogger logger("Test");
    std::vector<int> calls;
    std::vector<CRecordingHandler> handlers;
    handlers.reserve(CLogger::kMaxHandlers + 1);
    for (int i = 0; i <= CLogger::kMaxHandlers; ++i)
        handlers.emplace_back(&calls, i);

    EXPECT_EQ(1, logger.Log(INFO, "x.cpp", 1, "before any handler"));
    EXPECT_EQ(0, logger.AddHandler(&handlers[0]));
    EXPECT_EQ(0, logger.AddHandler(&handlers[0]));  // same handler, same slot
    EXPECT_EQ(CLogger::kMaxHandlers, logger.AddHandler(nullptr));
    for (int i = 1; i < CLogger::kMaxHandlers; ++i)
        EXPECT_EQ(i, logger.AddHandler(&handlers[i]));
    // All 128 slots taken: the next one is refused and never called.
    EXPECT_EQ(CLogger::kMaxHandlers, logger.AddHandler(&handlers[CLogger::kMaxHandlers]));
    EXPECT_EQ(5, logger.AddHandler(&handlers[5]));

    calls.clear();  // the refusal of nullptr was itself logged
    logger.Log(INFO, "x.cpp", 1, "m");
    ASSERT_EQ(static_cast<size_t>(CLogger::kMaxHandlers), calls.size());
    for (int i = 0; i < CLogger::kMaxHandlers; ++i)
        EXPECT_EQ(i, calls[i]);  // slot order

    // A freed slot is the first empty one and is reused.
    logger.RemoveHandler(&handlers[7]);
    EXPECT_EQ(7, logger.AddHandler(&handlers[CLogger::kMaxHandlers]));
}

TEST(LoggerTest, LevelNames) {
    const std::vector<std::pair<int, const char*>> cases = {
        {ALL, "ALL"},       {FINEST, "FINEST"}, {FINER, "FINER"},     {FINE, "FINE"},
        {CONFIG, "CONFIG"}, {INFO, "INFO"},     {WARNING, "WARNING"}, {SEVERE, "SEVERE"},
        {OFF, "OFF"},       {0, "UNKNOWN"},     {10, "UNKNOWN"},      {-3, "UNKNOWN"}};
    for (const auto& [level, name] : cases)
        EXPECT_STREQ(name, LogLevelName(level)) << level;
}

}  // namespace
