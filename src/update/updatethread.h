#pragma once
// The progress thread of an install run: it moves the window's bar on a fixed timetable
// (one step every 201 ms up to 99) while the install helper runs, since the helper tells
// nothing of its progress. Once stopped it still counts on to 50 before its last 99, so
// a short install still shows the bar moving.

#include <atomic>

#include <QThread>

class updateThread : public QThread {
    Q_OBJECT

public:
    updateThread();

    // Asks the loop to end (at 50 at the earliest). Any thread.
    void stop();

signals:
    void signal_updateProgress(int);

protected:
    void run() override;

private:
    // Written by the window's thread, read by the loop once a step.
    std::atomic<bool> stopped;
};

// Length of one progress step in milliseconds (201). Tests only.
void updateStepMsSet(unsigned uiStepMs);
