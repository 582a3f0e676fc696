// Runs pieces of the jobs for tests that watch from outside:
//   job_helper replace TARGET SIZE [pause|named]
//     replaces TARGET with SIZE bytes as the jobs do; pause stops halfway through the write, says
//     "paused" and waits to be killed; named goes through a named temporary, as where a file system
//     refuses unnamed ones;
//   job_helper encode FILE
//     the Mime64 encoding job on FILE, with the library found as the program finds it.

#include "file_jobs.h"
#include "job_errors.h"
#include "os_files.h"
#include "user_interaction.h"

#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

int replace(const QString &target, std::size_t size, const std::string &mode)
{
    const std::string content(size, 'x');
    ReplaceHooksForTesting hooks;
    hooks.namedTemporaryOnly = mode == "named";
    if (mode == "pause") {
        hooks.chunkBytes = content.size() / 2 + 1;
        hooks.beforeWrite = [](std::size_t written) {
            if (written > 0 && std::puts("paused") >= 0 && std::fflush(stdout) == 0)
                for (;;)
                    ::pause();
            return 0;
        };
    }
    setReplaceHooksForTesting(hooks);
    try {
        replaceFile(target, content.data(), content.size());
    } catch (const JobError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

// The person who picks FILE and reads every box on standard output.
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
    const std::string verb = argc > 2 ? argv[1] : "";
    if (verb == "replace" && argc > 3)
        return replace(QString::fromLocal8Bit(argv[2]), std::stoul(argv[3]), argc > 4 ? argv[4] : "");
    if (verb != "encode")
        return 2;
    Console console;
    console.file = QString::fromLocal8Bit(argv[2]);
    DirectWorkRunner work;
    ConversionLibrary library;
    JobRunner(console, console, work, library).run(ConvertiFileMime64);
    return 0;
}
