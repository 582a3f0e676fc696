// Jobs at work off the window's thread: the window stays live, a long step shows its progress and
// can be stopped, a stopped job leaves the folder as it was, and nothing else starts meanwhile.

#include "file_jobs.h"
#include "frm_main.h"
#include "os_files.h"
#include "support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <thread>

using ::testing::ElementsAre;
using ::testing::SizeIs;

namespace {

// The progress dialog on screen, if any.
QProgressDialog *progressShown()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<QProgressDialog *>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

// Work that waits, up to 10 s, for the window's thread to say so through a timer of its own.
void waitForWindow(WorkProgress &progress, std::atomic<bool> &said)
{
    progress.begin(WorkStep::Reading);
    for (int i = 0; i < 1000 && !said; ++i) {
        progress.advance(static_cast<std::uint64_t>(i), 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST(WorkOffTheWindow, RunsOnAWorkerWhileTheWindowHandlesEvents)
{
    QWidget window;
    QtWorkRunner runner(&window);
    std::atomic<bool> said = false;
    std::thread::id worker;
    QTimer::singleShot(100, [&] { said = true; });
    runner.run("Lavoro", [&](WorkProgress &progress) {
        worker = std::this_thread::get_id();
        waitForWindow(progress, said);
    });
    EXPECT_TRUE(said);
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_EQ(progressShown(), nullptr);
    // A failure comes back to the window's thread as the job's error.
    EXPECT_THROW(runner.run("Lavoro", [](WorkProgress &) { throw JobError(28, "spazio"); }), JobError);
}

TEST(WorkOffTheWindow, AStepLongerThanASecondShowsItsProgressAndAnnullaStopsIt)
{
    QWidget window;
    QtWorkRunner runner(&window);
    std::atomic<bool> never = false;
    QStringList shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QProgressDialog *dialog = progressShown(); dialog && shown.isEmpty()) {
            shown << dialog->windowTitle() << dialog->labelText();
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                shown << button->text(), button->click();
        }
    });
    watch.start(20);
    const auto started = std::chrono::steady_clock::now();
    try {
        runner.run("Conversione Mime64", [&](WorkProgress &progress) { waitForWindow(progress, never); });
        ADD_FAILURE() << "not stopped";
    } catch (const JobError &error) {
        EXPECT_EQ(error.number(), 32755);
    }
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_THAT(shown, ElementsAre("Conversione Mime64", "Lettura…", "Annulla"));
}

// A work runner on the calling thread that stops the job as it reaches a step, as a person
// pressing "Annulla" then would; with `late`, only once the content is in place.
class StopAt : public WorkRunner, public WorkProgress {
public:
    StopAt(WorkStep step, bool late = false)
        : m_step(step)
        , m_late(late)
    {
    }
    void run(const QString &, const std::function<void(WorkProgress &)> &work) override { work(*this); }
    void begin(WorkStep step) override
    {
        stopIfCancelled();
        m_stopping = m_stopping || (step == m_step && !m_late);
        m_current = step;
    }
    void advance(std::uint64_t done, std::uint64_t total) override
    {
        stopIfCancelled();
        m_stopping = m_stopping || (m_late && m_current == m_step && done == total);
    }
    void stopIfCancelled() override
    {
        if (m_stopping)
            throw cancelledByPerson();
    }

private:
    WorkStep m_step, m_current = WorkStep::Reading;
    bool m_late, m_stopping = false;
};

TEST(WorkOffTheWindow, StoppingAtAnyStepLeavesTheFolderAsItWasAndSaysNothing)
{
    QTemporaryDir dir;
    Seen seen;
    ScriptedDialog dialog(seen);
    ScriptedMessages messages(seen);
    ConversionLibrary library;
    writeFile(dir.filePath("a.txt"), italianProse(20000, 1));
    writeFile(dir.filePath("a.txt.m64"), "vecchio");
    writeFile(dir.filePath("b.m64"), "Zm9vYmFy");
    writeFile(dir.filePath("b.out"), "vecchio");
    const QStringList before = listing(dir.path());
    for (const WorkStep step : { WorkStep::Reading, WorkStep::Converting, WorkStep::Writing }) {
        StopAt stopEncoding(step), stopDecoding(step);
        seen.clear();
        dialog.answers = { dir.filePath("a.txt") };
        JobRunner(dialog, messages, stopEncoding, library).run(ConvertiFileMime64);
        dialog.answers = { dir.filePath("b.m64"), dir.filePath("b.out") };
        JobRunner(dialog, messages, stopDecoding, library).run(DecifraFileMime64);
        EXPECT_THAT(seen, SizeIs(step == WorkStep::Writing ? 3 : 2)) << static_cast<int>(step);
        EXPECT_EQ(listing(dir.path()), before);
        EXPECT_EQ(readFile(dir.filePath("b.out")), "vecchio");
    }
    // Once the new content is in place it is too late: the job ends as usual.
    StopAt late(WorkStep::Writing, true);
    dialog.answers = { dir.filePath("b.m64"), dir.filePath("b.out") };
    JobRunner(dialog, messages, late, library).run(DecifraFileMime64);
    EXPECT_EQ(readFile(dir.filePath("b.out")), "foobar");
}

// While a job works, clicks, drops and closing start nothing; closing ends the program after it.
TEST(WorkOffTheWindow, NothingElseStartsWhileAJobWorksAndClosingStopsIt)
{
    QTemporaryDir dir;
    Seen seen;
    ScriptedDialog dialog(seen);
    ScriptedMessages messages(seen);
    FrmMain window;
    window.setInteraction(dialog, messages);
    window.show();
    writeFile(dir.filePath("a.txt"), "x");
    messages.answers = { MessageAnswer::Yes, MessageAnswer::Yes };
    dialog.answers = { dir.filePath("a.txt") };
    setReplaceHooksForTesting({ [&](std::size_t) {
                                   std::this_thread::sleep_for(std::chrono::milliseconds(300));
                                   return 0;
                               },
                                0, false });
    QTimer::singleShot(100, [&] {
        EXPECT_TRUE(window.jobRunning());
        for (QPushButton *button : window.findChildren<QPushButton *>())
            button->click();
        window.close();
    });
    window.cmdConverti->click();
    setReplaceHooksForTesting({});
    EXPECT_THAT(seen,
                SizeIs(2)); // the first job's question and request: no second job, and no word from the stopped one
    EXPECT_FALSE(QFile::exists(dir.filePath("a.txt.m64")));
    EXPECT_FALSE(window.isVisible());
}

} // namespace
