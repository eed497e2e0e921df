// The progress thread.

#include "updatethread.h"

namespace {

constexpr unsigned kStepMs = 201;
constexpr int kTop = 99;
constexpr int kLeastBeforeEnd = 50;

std::atomic<unsigned> g_stepMs{kStepMs};

}  // namespace

void updateStepMsSet(unsigned uiStepMs) { g_stepMs.store(uiStepMs); }

updateThread::updateThread() : QThread(nullptr), stopped(false) {}

void updateThread::stop() { stopped.store(true); }

void updateThread::run() {
    int counter = 0;
    do {
        emit signal_updateProgress(counter);
        QThread::msleep(g_stepMs.load());
        if (counter < kTop) {
            ++counter;
        }
    } while (!stopped.load() || counter < kLeastBeforeEnd);
    emit signal_updateProgress(kTop);
}
