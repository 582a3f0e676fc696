// One exported function, named on the command line, called first thing in a
// fresh process (the path is chosen on the first call) while operator new
// throws: an exception let out would end in std::terminate. The answer must
// be the usual one or that for a failed allocation. No new returns memory,
// so the usual operator delete never frees any. Then memory runs out: what
// cannot be allocated is refused, and the process goes on.

#include "dravolin.h"

#include <cstdio>
#include <new>
#include <string_view>

#include <sys/resource.h>

void *operator new(std::size_t)
{
    throw std::bad_alloc();
}

static bool emptyOrNull(Testo text)
{
    const bool fine = !text || LunghezzaTesto(text) == 0;
    return LiberaTesto(text), fine;
}

// Then 64 MiB of blanks, the address space held 16 MiB above the process's use: DecifraMime64 reads
// them into 0 bytes without memory of its own; the other results cannot be allocated.
static bool outOfMemory()
{
#ifdef __SANITIZE_ADDRESS__
    return true; // its shadow memory needs address space of its own
#endif
    constexpr int32_t kLarge = 64 << 20;
    const Testo large = AllocaTesto(nullptr, kLarge);
    unsigned long pages = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!large || !statm || std::fscanf(statm, "%lu", &pages) != 1 || std::fclose(statm) != 0)
        return false;
    const rlimit limit { pages * 4096 + (16 << 20), pages * 4096 + (16 << 20) };
    uint8_t buffer[4];
    return setrlimit(RLIMIT_AS, &limit) == 0 && !AllocaTesto(large, kLarge)
        && !ConvertiMime64(reinterpret_cast<uint8_t *>(large), kLarge, 1) && DecifraMime64(large, buffer, 4) == 0
        && !ConvertiPrintable(large) && !DecifraPrintable(large);
}

int main(int argc, char **argv)
{
    const std::string_view function = argc == 2 ? argv[1] : "";
    uint8_t buffer[4] = {};
    const int32_t decoded = function == "DecifraMime64" ? DecifraMime64(nullptr, buffer, 4) : 0;
    return ((function == "AllocaTesto" && emptyOrNull(AllocaTesto("", 0)))
            || (function == "LunghezzaTesto" && LunghezzaTesto(nullptr) == 0)
            || (function == "LiberaTesto" && (LiberaTesto(nullptr), true))
            || (function == "ConvertiMime64" && emptyOrNull(ConvertiMime64(buffer, 0, 1)))
            || (function == "DecifraMime64" && (decoded == 0 || decoded == -2))
            || (function == "ConvertiPrintable" && emptyOrNull(ConvertiPrintable(nullptr)))
            || (function == "DecifraPrintable" && emptyOrNull(DecifraPrintable(nullptr))))
            && outOfMemory()
        ? 0
        : 1;
}
