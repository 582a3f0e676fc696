// One exported function, named on the command line, called first thing in
// a fresh process (the path is chosen once, on the first call) while every
// allocation with operator new throws. An exception let out would end the
// process in std::terminate; the answer must be the usual one or the one
// for a failed allocation.

#include "dravolin.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

void *operator new(std::size_t)
{
    throw std::bad_alloc();
}

void operator delete(void *) noexcept
{
}
void operator delete(void *, std::size_t) noexcept
{
}

namespace {

bool emptyOrNull(Testo text)
{
    const bool fine = !text || LunghezzaTesto(text) == 0;
    LiberaTesto(text);
    return fine;
}

bool answers(std::string_view function)
{
    uint8_t buffer[4] = {};
    if (function == "AllocaTesto")
        return emptyOrNull(AllocaTesto("", 0));
    if (function == "LunghezzaTesto")
        return LunghezzaTesto(nullptr) == 0;
    if (function == "LiberaTesto")
        return LiberaTesto(nullptr), true;
    if (function == "ConvertiMime64")
        return emptyOrNull(ConvertiMime64(buffer, 0, 1));
    if (function == "DecifraMime64") {
        const int32_t count = DecifraMime64(nullptr, buffer, 4);
        return count == 0 || count == -2;
    }
    if (function == "ConvertiPrintable")
        return emptyOrNull(ConvertiPrintable(nullptr));
    return function == "DecifraPrintable" && emptyOrNull(DecifraPrintable(nullptr));
}

} // namespace

int main(int argc, char **argv)
{
    const bool fine = argc == 2 && answers(argv[1]);
    std::printf("%s: %s\n", argc == 2 ? argv[1] : "(no function named)", fine ? "answered" : "wrong answer");
    return fine ? 0 : 1;
}
