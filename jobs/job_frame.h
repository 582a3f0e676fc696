#pragma once
// The one place where a job's failure is caught and shown.

#include <functional>

class MessageBoxes;

// Runs job; a JobError ends it: 32755 (a cancelled file dialog) silently,
// anything else as "<number>: <description>" in a critical box titled "Errore".
void runJob(MessageBoxes &messages, const std::function<void()> &job);

// Shows the wait cursor while a job reads, converts and writes; does nothing
// when there is no QGuiApplication (command-line tools, some tests).
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

private:
    bool m_active = false;
};
