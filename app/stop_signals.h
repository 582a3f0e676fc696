#pragma once
// SIGINT, SIGTERM and SIGHUP heard on the window's thread: the handler only writes the signal's
// number to a socket pair whose other end a QSocketNotifier reads (Qt's way for Unix signals), so
// the program stops its work and closes as a person would, then ends with the signal's own status.

#include <functional>
#include <memory>

#include <signal.h>

class QSocketNotifier;

class StopSignals {
public:
    // From now on the first of the three signals calls onSignal from this thread's event loop;
    // later ones are already in hand. A signal ignored from the start (nohup) stays ignored.
    explicit StopSignals(std::function<void()> onSignal);
    // The three signals take the actions they had before again.
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Once everything is clean: ends the process as the signal caught would have ended it, by its
    // default action. Returns when none was caught.
    void endAsCaught() const;

private:
    void readCaught();

    std::function<void()> m_onSignal;
    int m_ends[2] = { -1, -1 };
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_caught = 0;
    struct sigaction m_previous[3] = {};
};
