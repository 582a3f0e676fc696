// One exported function, named on the command line, called first thing in a
// fresh process (the path is chosen on the first call) while operator new
// throws: an exception let out would end in std::terminate. The answer must
// be the usual one or that for a failed allocation. No new returns memory,
// so the usual operator delete never frees any.

#include "dravolin.h"

#include <new>
#include <string_view>

void *operator new(std::size_t)
{
    throw std::bad_alloc();
}

static bool emptyOrNull(Testo text)
{
    const bool fine = !text || LunghezzaTesto(text) == 0;
    return LiberaTesto(text), fine;
}

int main(int argc, char **argv)
{
    const std::string_view function = argc == 2 ? argv[1] : "";
    uint8_t buffer[4] = {};
    const int32_t decoded = function == "DecifraMime64" ? DecifraMime64(nullptr, buffer, 4) : 0;
    return (function == "AllocaTesto" && emptyOrNull(AllocaTesto("", 0)))
            || (function == "LunghezzaTesto" && LunghezzaTesto(nullptr) == 0)
            || (function == "LiberaTesto" && (LiberaTesto(nullptr), true))
            || (function == "ConvertiMime64" && emptyOrNull(ConvertiMime64(buffer, 0, 1)))
            || (function == "DecifraMime64" && (decoded == 0 || decoded == -2))
            || (function == "ConvertiPrintable" && emptyOrNull(ConvertiPrintable(nullptr)))
            || (function == "DecifraPrintable" && emptyOrNull(DecifraPrintable(nullptr)))
        ? 0
        : 1;
}
