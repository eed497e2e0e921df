// The rotating log under eight writing threads: every line must arrive whole, once, in
// one file, across several rotations, while another thread changes the levels and names
// the process again.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ddm_log.h"
#include "ddm_log_inner.h"
#include "ddm_log_test_util.h"

namespace {

constexpr uint32_t kThreads = 8;
constexpr uint32_t kLinesPerThread = 10000;
// About 130 bytes a line: the 80,000 lines fill about ten files, within the twenty kept.
const std::string kPadding(60, 'p');

class DdmLogStress : public ddm_test::LogTest {};

TEST_F(DdmLogStress, EveryLineArrivesWholeAndOnce) {
    ASSERT_EQ(DDM_LogInit("stress"), 0u);
    std::atomic<uint32_t> failures{0};
    std::atomic<bool> writing{true};
    std::atomic<uint32_t> written{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures, &written] {
            for (uint32_t n = 0; n < kLinesPerThread; ++n) {
                if (DDM_LogWrite(0, 1, "t=%u n=%u %s", t, n, kPadding.c_str()) != 0) ++failures;
                ++written;
            }
        });
    }
    // Meanwhile, every thousand lines, the levels are set again and the process is named
    // again under its own name: both touch what the writers read.
    std::thread changer([&] {
        uint32_t next = 1000;
        while (writing.load()) {
            if (written.load() < next) {
                std::this_thread::yield();
                continue;
            }
            next += 1000;
            if (DDM_LogLevelSet(1) != 0) ++failures;
            if (DDM_LogInit("stress") != 0) ++failures;
        }
    });
    for (std::thread& th : threads) th.join();
    writing.store(false);
    changer.join();
    ASSERT_EQ(failures.load(), 0u);

    std::vector<std::vector<uint8_t>> seen(kThreads, std::vector<uint8_t>(kLinesPerThread, 0));
    std::vector<std::string> files = ddm_test::Entries(dir_);
    std::sort(files.begin(), files.end());
    uint32_t lastNumber = 0;
    uint32_t fileCount = 0;
    for (const std::string& name : files) {
        ASSERT_EQ(name.rfind("VanTrelo_stress_", 0), 0u) << name;
        const uint32_t number = static_cast<uint32_t>(std::stoul(name.substr(16)));
        lastNumber = std::max(lastNumber, number);
        ++fileCount;
        for (const std::string& line : ddm_test::ReadLines(dir_ + "/" + name)) {
            ddm_test::LineParts parts;
            ASSERT_TRUE(ddm_test::ParseLine(line, &parts)) << name << ": " << line;
            if (parts.module == "ZIRPA") {
                continue;  // the naming lines of the changer
            }
            unsigned t = 0, n = 0;
            ASSERT_EQ(sscanf(parts.message.c_str(), "t=%u n=%u", &t, &n), 2) << line;
            ASSERT_LT(t, kThreads) << line;
            ASSERT_LT(n, kLinesPerThread) << line;
            ASSERT_EQ(parts.message, "t=" + std::to_string(t) + " n=" + std::to_string(n) + " " + kPadding)
                << line;
            ++seen[t][n];
        }
    }
    for (uint32_t t = 0; t < kThreads; ++t) {
        for (uint32_t n = 0; n < kLinesPerThread; ++n) {
            ASSERT_EQ(seen[t][n], 1) << "thread " << t << " line " << n;
        }
    }
    // Several rotations, and no file but the last grew far beyond the full mark: a line
    // starts a new file once the file has reached it.
    EXPECT_GE(fileCount, 5u);
    EXPECT_EQ(lastNumber + 1, fileCount) << "numbers from 0 without a gap";
    for (uint32_t n = 0; n < lastNumber; ++n) {
        const int64_t size = ddm_test::SizeOf(Path("stress", n));
        EXPECT_GE(size, static_cast<int64_t>(DDM_LOG_FILE_FULL)) << n;
        EXPECT_LT(size, static_cast<int64_t>(DDM_LOG_FILE_FULL + DDM_LINE_SIZE)) << n;
    }
}

}  // namespace
