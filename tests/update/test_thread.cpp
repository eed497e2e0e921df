// The progress thread's timetable, on a short step: 0 to 99 and then 99 until it is
// stopped; stopped early, it still counts on to 49 before its last 99.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "updatethread.h"

namespace {

class ProgressRecorder {
public:
    explicit ProgressRecorder(updateThread* thread, int stopAt = -1) {
        // Directly on the thread, as the values are emitted.
        QObject::connect(thread, &updateThread::signal_updateProgress, thread,
                         [this, thread, stopAt](int value) {
                             std::lock_guard<std::mutex> lock(mutex_);
                             values_.push_back(value);
                             if (value == stopAt) thread->stop();
                         },
                         Qt::DirectConnection);
    }
    std::vector<int> Values() {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_;
    }

private:
    std::mutex mutex_;
    std::vector<int> values_;
};

class UpdateThreadTest : public ::testing::Test {
protected:
    void SetUp() override { updateStepMsSet(1); }
    void TearDown() override { updateStepMsSet(201); }
};

TEST_F(UpdateThreadTest, CountsToNinetyNineAndHoldsThereUntilStopped) {
    updateThread thread;
    ProgressRecorder recorder(&thread);
    thread.start();
    // Well past the top: it holds there while not stopped.
    while (recorder.Values().size() < 150) QThread::msleep(5);
    EXPECT_TRUE(thread.isRunning());
    thread.stop();
    ASSERT_TRUE(thread.wait(5000));
    const std::vector<int> values = recorder.Values();
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i], std::min<int>(static_cast<int>(i), 99)) << i;
    }
}

TEST_F(UpdateThreadTest, StoppedEarlyCountsOnToFortyNineThenShowsNinetyNine) {
    updateThread thread;
    ProgressRecorder recorder(&thread, 10);
    thread.start();
    ASSERT_TRUE(thread.wait(10000));
    std::vector<int> expected;
    for (int i = 0; i <= 49; ++i) expected.push_back(i);
    expected.push_back(99);
    EXPECT_EQ(recorder.Values(), expected);
}

}  // namespace
