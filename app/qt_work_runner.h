#pragma once
// Runs a job's work steps on a worker thread while the window stays live: the busy cursor shows,
// and a work run still going after a second shows its step and percentage in a progress dialog
// that can stop it.

#include "user_interaction.h"

#include <atomic>
#include <chrono>

class QProgressDialog;
class QWidget;

class QtWorkRunner : public WorkRunner {
public:
    // window: the one the progress dialog is modal to.
    explicit QtWorkRunner(QWidget *window)
        : m_window(window)
    {
    }

    // Returns when the work has ended; the window's events are handled meanwhile.
    void run(const QString &title, const std::function<void(WorkProgress &)> &work) override;
    // Asks the running work, if any, to stop at its next chance.
    void cancel() { m_cancelled = true; }

private:
    class Progress;
    void showProgress(QProgressDialog &dialog, const Progress &progress, bool &shown) const;

    QWidget *m_window;
    std::atomic<bool> m_cancelled = false;
};
