#include <gtest/gtest.h>

#include <cstdio>
#include <latch>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "LogFiles.h"
#include "app/Logger.h"

namespace {

TEST(LoggerThreadsTest, ConcurrentRecordsStayWholeAndNumberedInOrder) {
    CTempLogDir dir;
    CLogFileHandler handler(INFO, dir.Base(), 0x800000);
    CScopedHandler reg(handler);
    constexpr int kThreads = 2;
    constexpr int kRecords = 300;
    // A long message makes a torn write visible.
    const std::string payload(300, 'p');

    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kRecords; ++i)
                VLOG(INFO, "T%d R%d %s", t, i, payload.c_str());
        });
    }
    for (std::thread& th : threads)
        th.join();

    const std::string text = ReadFileBytes(handler.FileName(0));
    std::vector<std::string> records = SplitRecords(text);
    ASSERT_EQ(static_cast<size_t>(kThreads * kRecords), records.size());
    std::map<int, int> nextOfThread;
    std::map<std::string, int> threadIds;
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string& rec = records[i];
        EXPECT_EQ(static_cast<int>(i), SequenceOf(rec));
        // Rebuilt from its own fields, a whole record gives back exactly its text.
        const std::string message = FieldOf(rec, "Message");
        EXPECT_EQ(
            "\r\nLogger name: Vokra\tLevel: INFO\tTime: " + FieldOf(rec, "Time") +
                "\tSequence: " + std::to_string(i) +
                "\tSource file: logger_itest.cpp\tSource line: " + FieldOf(rec, "Source line") +
                "\tThread ID: " + FieldOf(rec, "Thread ID") +
                "\tProcess ID: " + FieldOf(rec, "Process ID") + "\r\nMessage: " + message + "\r\n",
            rec);
        EXPECT_EQ(23u, FieldOf(rec, "Time").size());
        int t = -1, n = -1;
        ASSERT_EQ(2, std::sscanf(message.c_str(), "T%d R%d ", &t, &n));
        EXPECT_EQ(StrFormat("T%d R%d %s", t, n, payload.c_str()), message);
        EXPECT_EQ(nextOfThread[t]++, n) << "thread " << t;
        threadIds[FieldOf(rec, "Thread ID")] = t;
    }
    EXPECT_EQ(static_cast<size_t>(kThreads), threadIds.size());
}

}  // namespace
