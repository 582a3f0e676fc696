#include "qt_work_runner.h"

#include "job_errors.h"
#include "texts.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kQuietTime = std::chrono::seconds(1);
constexpr int kPollMilliseconds = 50;

} // namespace

// Written by the worker, read by the window's thread.
class QtWorkRunner::Progress : public WorkProgress {
public:
    explicit Progress(const std::atomic<bool> &cancelled)
        : m_cancelled(cancelled)
    {
    }

    void begin(WorkStep step) override
    {
        stopIfCancelled();
        m_done = 0;
        m_total = 0;
        m_step = step;
    }
    void advance(std::uint64_t done, std::uint64_t total) override
    {
        stopIfCancelled();
        m_total = total;
        m_done = done;
    }
    void stopIfCancelled() override
    {
        if (m_cancelled)
            throw cancelledByPerson();
    }

    WorkStep step() const { return m_step; }
    Clock::time_point started() const { return m_started; }
    int percent() const
    {
        const std::uint64_t total = m_total;
        return total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(m_done * 100 / total, 100));
    }

private:
    const std::atomic<bool> &m_cancelled;
    std::atomic<WorkStep> m_step = WorkStep::Reading;
    const Clock::time_point m_started = Clock::now(); // one clock per work run
    std::atomic<std::uint64_t> m_done = 0;
    std::atomic<std::uint64_t> m_total = 0;
};

void QtWorkRunner::showProgress(QProgressDialog &dialog, const Progress &progress, bool &shown) const
{
    if (!shown && Clock::now() - progress.started() < kQuietTime)
        return;
    dialog.setLabelText(text(progress.step() == WorkStep::Reading ? Text::ReadingStep : Text::ConvertingStep));
    dialog.setMaximum(100);
    dialog.setValue(progress.percent());
    if (!shown) {
        shown = true;
        dialog.show();
    }
}

void QtWorkRunner::run(const QString &title, const std::function<void(WorkProgress &)> &work)
{
    m_cancelled = false;
    Progress progress(m_cancelled);
    std::exception_ptr failure;
    const std::unique_ptr<QThread> worker(QThread::create([&] {
        try {
            work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
    }));

    // Made now but shown only by our own clock: its own timing and its resets would make it
    // appear early or late, or flash between steps.
    QProgressDialog dialog(m_window);
    dialog.setWindowTitle(title);
    // Wide enough for the title in full: the step's name alone would make it a sliver.
    dialog.setMinimumWidth(dialog.fontMetrics().horizontalAdvance(title) * 2 + 120);
    dialog.setCancelButtonText(text(Text::CancelButton));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setMinimumDuration(std::numeric_limits<int>::max());
    QObject::connect(&dialog, &QProgressDialog::canceled, [this] { cancel(); });

    bool shown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { showProgress(dialog, progress, shown); });
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);

    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    poll.start(kPollMilliseconds);
    worker->start();
    loop.exec();
    worker->wait();
    QGuiApplication::restoreOverrideCursor();
    if (failure)
        std::rethrow_exception(failure);
}
