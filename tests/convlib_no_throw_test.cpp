// One exported function, named on the command line, called first thing in a
// fresh process (the path is chosen on the first call) while operator new
// throws: an exception let out would end in std::terminate. The answer must
// be the usual one or that for a failed allocation. No new returns memory,
// so the usual operator delete never frees any. Then once more on a large
// text with the address space held a little above what the process uses:
// what cannot be allocated is refused, and the process goes on.

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

// 64 MiB of blanks, which DecifraMime64 reads into 0 bytes without memory of
// its own; every result of the others would need more than is left.
static bool outOfMemory(std::string_view function)
{
#ifdef __SANITIZE_ADDRESS__
    return true; // its shadow memory takes address space of its own
#else
    constexpr int32_t kLarge = 64 << 20;
    const Testo large = AllocaTesto(nullptr, kLarge);
    unsigned long pages = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    const bool measured = statm && std::fscanf(statm, "%lu", &pages) == 1;
    const rlim_t held = pages * 4096 + (16 << 20);
    const rlimit limit { held, held };
    if (!large || !measured || std::fclose(statm) != 0 || setrlimit(RLIMIT_AS, &limit) != 0)
        return false;
    uint8_t buffer[4];
    const auto *bytes = reinterpret_cast<const uint8_t *>(large);
    return (function == "AllocaTesto" && !AllocaTesto(large, kLarge))
        || (function == "LunghezzaTesto" && LunghezzaTesto(large) == kLarge)
        || (function == "LiberaTesto" && (LiberaTesto(large), true))
        || (function == "ConvertiMime64" && !ConvertiMime64(bytes, kLarge, 1))
        || (function == "DecifraMime64" && DecifraMime64(large, buffer, 4) == 0)
        || (function == "ConvertiPrintable" && !ConvertiPrintable(large))
        || (function == "DecifraPrintable" && !DecifraPrintable(large));
#endif
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
            && outOfMemory(function)
        ? 0
        : 1;
}
