// Pieces of the jobs for tests that watch from outside. "encode FILE [named]" runs the Mime64 encoding
// job on FILE, with the library found as the program finds it, through a named temporary if named.
// "window idle|ask|job|nohup|unnamed FILE TARGET" opens the window as the program does, hearing
// signals as it does; it says "ready" when idle or once its real box asks whether to decode FILE, and
// "paused" once the decoding into TARGET has written a piece (through a named temporary unless
// unnamed), waiting there for a signal; nohup is a job started with SIGHUP ignored.

#include "file_jobs.h"
#include "frm_main.h"
#include "os_files.h"
#include "stop_signals.h"
#include "streamed_conversion.h"
#include "user_interaction.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <semaphore>
#include <string>

namespace {

// The person who picks one file and reads every box on standard output.
struct Console : FileRequester, MessageBoxes {
    QString file;
    QString show(const FileRequest &, FileRequestKind) override { return file; }
    MessageAnswer show(const QString &prompt, MessageStyle, const QString &) override
    {
        std::puts(prompt.toLocal8Bit().constData());
        return MessageAnswer::Ok;
    }
};

int runWindow(int argc, char **argv, const std::string &mode)
{
    // As from a terminal: a shell that runs the tests in the background has them ignore SIGINT.
    // nohup has SIGHUP ignored.
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        ::signal(signal, signal == SIGHUP && mode == "nohup" ? SIG_IGN : SIG_DFL);
    std::setvbuf(stdout, nullptr, _IONBF, 0); // each word seen as it is said
    QApplication app(argc, argv);
    FrmMain window;
    Console console;
    console.file = QString::fromLocal8Bit(argv[4]);
    QtMessageBoxes boxes(&window);
    window.setInteraction(console, mode == "ask" ? static_cast<MessageBoxes &>(boxes) : console);
    std::binary_semaphore resume(0);
    setPieceHooksForTesting({ 4096 });
    setReplaceHooksForTesting({ [&, paused = false](std::size_t written) mutable {
                                   if (!paused && written > 0)
                                       paused = true, std::puts("paused"), resume.acquire();
                                   return 0;
                               },
                                4096, mode != "unnamed" });
    // Told after the window has heard it, so the job goes on only to find itself stopped.
    const StopSignals stop([&] { window.closeDialogsAndWindow(), resume.release(); });
    window.show();
    if (mode != "idle")
        window.openFiles({ QString::fromLocal8Bit(argv[3]) });
    // Queued after the job's start: it comes once the job waits on its first box, or runs.
    QTimer::singleShot(0, [] { std::puts("ready"); });
    const int status = app.exec();
    stop.endAsCaught();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string verb = argc > 2 ? argv[1] : "";
    if (verb == "window" && argc > 4)
        return runWindow(argc, argv, argv[2]);
    if (verb != "encode")
        return 2;
    setReplaceHooksForTesting({ {}, 0, argc > 3 && std::string(argv[3]) == "named" });
    Console console;
    console.file = QString::fromLocal8Bit(argv[2]);
    DirectWorkRunner work;
    ConversionLibrary library;
    JobRunner(console, console, work, library).run(ConvertiFileMime64);
    return 0;
}
