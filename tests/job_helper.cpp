// Pieces of the jobs for tests that watch from outside. "replace TARGET SIZE [pause|named]" replaces
// TARGET with SIZE bytes as the jobs do: pause stops halfway, says "paused" and waits to be killed;
// named goes through a named temporary. "encode FILE" runs the Mime64 encoding job on FILE, with the
// library found as the program finds it.

#include "file_jobs.h"
#include "job_errors.h"
#include "os_files.h"
#include "user_interaction.h"

#include <cstdio>
#include <string>

#include <unistd.h>

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

} // namespace

int main(int argc, char **argv)
{
    const std::string verb = argc > 2 ? argv[1] : "", mode = argc > 4 ? argv[4] : "";
    if (verb == "encode") {
        Console console;
        console.file = QString::fromLocal8Bit(argv[2]);
        DirectWorkRunner work;
        ConversionLibrary library;
        JobRunner(console, console, work, library).run(ConvertiFileMime64);
        return 0;
    }
    if (verb != "replace" || argc < 4)
        return 2;
    const std::string content(std::stoul(argv[3]), 'x');
    setReplaceHooksForTesting({ [&](std::size_t written) {
                                   while (mode == "pause" && written > 0 && std::puts("paused") >= 0)
                                       std::fflush(stdout), ::pause();
                                   return 0;
                               },
                                mode == "pause" ? content.size() / 2 + 1 : 0, mode == "named" });
    try {
        replaceFile(QString::fromLocal8Bit(argv[2]), content.data(), content.size());
    } catch (const JobError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
