// Replaces a file as the jobs do, for tests that watch from outside:
//   replace_helper TARGET SIZE [pause|named]
// pause: stops halfway through the write, says "paused" and waits to be killed;
// named: goes through a named temporary, as where a file system refuses unnamed ones.

#include "job_errors.h"
#include "os_files.h"

#include <cstdio>
#include <string>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const std::string content(std::stoul(argv[2]), 'x');
    const std::string mode = argc > 3 ? argv[3] : "";
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
        replaceFile(QString::fromLocal8Bit(argv[1]), content.data(), content.size());
    } catch (const JobError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
