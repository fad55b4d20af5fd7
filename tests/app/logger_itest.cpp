#include <gtest/gtest.h>

#include <latch>
#include <map>
#include <regex>
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

    const std::string text = ReadAll(handler.FileName(0));
    std::vector<std::string> records = SplitRecords(text);
    ASSERT_EQ(static_cast<size_t>(kThreads * kRecords), records.size());
    const std::regex whole(
        "\r\nLogger name: Vokra\tLevel: INFO\tTime: \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\\."
        "\\d{3}\tSequence: \\d+\tSource file: logger_itest\\.cpp\tSource line: \\d+\t"
        "Thread ID: \\d+\tProcess ID: \\d+\r\nMessage: T(\\d) R(\\d+) p{300}\r\n");
    std::map<int, int> nextOfThread;
    std::map<std::string, int> threadIds;
    for (size_t i = 0; i < records.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(records[i], m, whole)) << "record " << i;
        EXPECT_EQ(static_cast<int>(i), SequenceOf(records[i]));
        const int t = std::stoi(m[1]);
        EXPECT_EQ(nextOfThread[t]++, std::stoi(m[2])) << "thread " << t;
        threadIds[FieldOf(records[i], "Thread ID")] = t;
    }
    EXPECT_EQ(static_cast<size_t>(kThreads), threadIds.size());
}

}  // namespace
