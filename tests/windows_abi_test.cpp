// Dravolin.dll bound as its Windows callers bind it, by file name and each function by its exported name: the known
// answers, NULL and empty texts, strings made the OLE way going in, every result grown and freed the OLE way, 100 MB
// round trips, 8 threads at once and the failures. With --paths it lists the codec paths this CPU runs instead, for
// the runner that forces each in turn and reads in the debugger's output which one ran.

#include "dravolin.h"
#include "known_answers.h"

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

int g_failures = 0;

void check(bool ok, const std::string &what)
{
    if (!ok && ++g_failures <= 20)
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
}

struct Dravolin {
    HMODULE dll = LoadLibraryA("Dravolin.dll");
    template <class Function> Function bound(const char *name) const
    {
        const FARPROC function = dll ? GetProcAddress(dll, name) : nullptr;
        if (!function) {
            std::fprintf(stderr, "FAILED: no export %s in Dravolin.dll\n", name);
            std::exit(1);
        }
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(function));
    }
    decltype(&AllocaTesto) allocate = bound<decltype(&AllocaTesto)>("AllocaTesto");
    decltype(&LunghezzaTesto) length = bound<decltype(&LunghezzaTesto)>("LunghezzaTesto");
    decltype(&LiberaTesto) release = bound<decltype(&LiberaTesto)>("LiberaTesto");
    decltype(&ConvertiMime64) mime64 = bound<decltype(&ConvertiMime64)>("ConvertiMime64");
    decltype(&DecifraMime64) unmime64 = bound<decltype(&DecifraMime64)>("DecifraMime64");
    decltype(&ConvertiPrintable) printable = bound<decltype(&ConvertiPrintable)>("ConvertiPrintable");
    decltype(&DecifraPrintable) unprintable = bound<decltype(&DecifraPrintable)>("DecifraPrintable");
};
const Dravolin *g_lib;

std::string known(const KnownBytes &bytes)
{
    return { bytes.bytes, bytes.size };
}

// A result's bytes, once it has shown itself a BSTR that its caller may grow and free the OLE way.
std::string taken(Testo text, const std::string &what)
{
    if (!text)
        return check(false, what + ": NULL"), "";
    auto string = reinterpret_cast<BSTR>(text);
    const UINT length = SysStringByteLen(string);
    const std::string bytes(text, length);
    check(g_lib->length(text) == int32_t(length) && text[length] == '\0', what + ": length or NUL");
    check(SysReAllocStringLen(&string, nullptr, length / 2 + 9) && std::memcmp(string, bytes.data(), length) == 0,
          what + ": not grown by SysReAllocStringLen");
    SysFreeString(string);
    return bytes;
}

// A string made the OLE way, handed to one export and freed.
template <class Call> auto made(const std::string &bytes, Call call)
{
    const BSTR string = SysAllocStringByteLen(bytes.data(), UINT(bytes.size()));
    const auto result = call(reinterpret_cast<Testo>(string));
    SysFreeString(string);
    return result;
}

std::string mime64(const std::string &bytes, int32_t option)
{
    return taken(g_lib->mime64(reinterpret_cast<const uint8_t *>(bytes.data()), int32_t(bytes.size()), option),
                 "ConvertiMime64 of " + bytes.substr(0, 20));
}

// The count, and the bytes counted.
std::pair<int32_t, std::string> unmime64(const std::string &text, int32_t capacity)
{
    std::string buffer(size_t(capacity > 0 ? capacity : 0), '\0');
    const int32_t count = made(
        text, [&](Testo in) { return g_lib->unmime64(in, reinterpret_cast<uint8_t *>(buffer.data()), capacity); });
    return { count, buffer.substr(0, size_t(count > 0 ? count : 0)) };
}

std::string through(Testo(DRAVOLIN_CALL *function)(const Testo), const std::string &input)
{
    return made(input, [&](Testo in) { return taken(function(in), "a Printable result of " + input.substr(0, 20)); });
}

std::string wrapped(const std::string &single)
{
    std::string out;
    for (size_t pos = 0; pos < single.size(); pos += 76)
        out += single.substr(pos, 76) + "\r\n";
    return out;
}

std::string randomBytes(size_t n, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; i += 8) {
        const uint64_t word = random();
        std::memcpy(bytes.data() + i, &word, n - i < 8 ? n - i : 8);
    }
    return bytes;
}

void knownAnswers()
{
    for (size_t i = 0; i < std::size(kMime64Answers); i += 2) {
        const std::string bytes = known(kMime64Answers[i]), text = known(kMime64Answers[i + 1]);
        check(mime64(bytes, 0) == text && mime64(bytes, 1) == wrapped(text), "ConvertiMime64 to " + text);
        check(unmime64(wrapped(text), int32_t(bytes.size())) == std::pair(int32_t(bytes.size()), bytes), text);
    }
    for (size_t i = 0; i < std::size(kMime64Readings); i += 2) {
        const std::string bytes = known(kMime64Readings[i + 1]);
        check(unmime64(known(kMime64Readings[i]), 8) == std::pair(int32_t(bytes.size()), bytes), "reading " + bytes);
    }
    for (const KnownBytes &text : kMime64Malformed)
        check(unmime64(known(text), 0).first == -1, "malformed " + known(text));
    for (size_t i = 0; i < std::size(kPrintableAnswers); i += 2)
        check(through(g_lib->printable, known(kPrintableAnswers[i])) == known(kPrintableAnswers[i + 1]),
              "ConvertiPrintable to " + known(kPrintableAnswers[i + 1]));
    for (size_t i = 0; i < std::size(kPrintableReadings); i += 2)
        check(through(g_lib->unprintable, known(kPrintableReadings[i])) == known(kPrintableReadings[i + 1]),
              "DecifraPrintable of " + known(kPrintableReadings[i]));
}

// Callers pass NULL for an empty string; what is not ours to answer fails as the header says.
void emptyTextsAndFailures()
{
    uint8_t buffer[4] = {};
    check(taken(g_lib->printable(nullptr), "ConvertiPrintable(NULL)").empty()
              && taken(g_lib->unprintable(nullptr), "DecifraPrintable(NULL)").empty()
              && g_lib->unmime64(nullptr, buffer, 4) == 0 && g_lib->length(nullptr) == 0
              && through(g_lib->printable, "").empty() && through(g_lib->unprintable, "").empty()
              && taken(g_lib->mime64(nullptr, 0, 1), "ConvertiMime64(NULL)").empty(),
          "NULL or empty texts");
    g_lib->release(nullptr);
    check(taken(g_lib->allocate("a\0b", 3), "AllocaTesto") == std::string("a\0b", 3)
              && taken(g_lib->allocate(nullptr, 2), "AllocaTesto") == "  " && !g_lib->allocate("a", -1),
          "AllocaTesto");
    g_lib->release(g_lib->allocate("freed by LiberaTesto", 20));
    check(unmime64("Zm9vYmFy!", 9).first == -1 && unmime64("Zm9vYmFy", 5).first == -2, "-1 malformed, -2 too small");
    for (const int32_t option : { -1, 2, 1 << 30 })
        check(!g_lib->mime64(reinterpret_cast<const uint8_t *>("foo"), 3, option), "option " + std::to_string(option));
}

void largeRoundTrips()
{
    const std::string bytes = randomBytes(100'000'000, 1);
    check(unmime64(mime64(bytes, 1), int32_t(bytes.size())).second == bytes, "100 MB through Mime64");
    check(through(g_lib->unprintable, through(g_lib->printable, bytes)) == bytes, "100 MB through Printable");
}

// Each thread converts its own input again and again; every answer must be the one a lone call gave.
struct Work {
    std::string bytes, mime64, printable;
    bool same = true;
};

DWORD WINAPI convertAgain(void *argument)
{
    auto &work = *static_cast<Work *>(argument);
    for (int round = 0; round < 20; ++round)
        work.same = work.same && mime64(work.bytes, 1) == work.mime64
            && unmime64(work.mime64, int32_t(work.bytes.size())).second == work.bytes
            && through(g_lib->printable, work.bytes) == work.printable
            && through(g_lib->unprintable, work.printable) == work.bytes;
    return 0;
}

void threadsAtOnce()
{
    Work works[8];
    HANDLE threads[8];
    for (unsigned i = 0; i < 8; ++i) {
        works[i].bytes = randomBytes(300'000 + 4099 * i, 100 + i);
        works[i].mime64 = mime64(works[i].bytes, 1);
        works[i].printable = through(g_lib->printable, works[i].bytes);
        threads[i] = CreateThread(nullptr, 0, convertAgain, &works[i], 0, nullptr);
    }
    WaitForMultipleObjects(8, threads, TRUE, INFINITE);
    for (unsigned i = 0; i < 8; ++i)
        check(works[i].same && CloseHandle(threads[i]), "thread " + std::to_string(i));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--paths") == 0) {
        __builtin_cpu_init();
        const bool bmi = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
        std::printf("scalar\n%s%s", bmi && __builtin_cpu_supports("avx2") ? "avx2\n" : "",
                    bmi && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
                            && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")
                            && __builtin_cpu_supports("avx512vbmi2")
                        ? "avx512\n"
                        : "");
        return 0;
    }
    const Dravolin lib;
    g_lib = &lib;
    knownAnswers();
    emptyTextsAndFailures();
    largeRoundTrips();
    threadsAtOnce();
    std::printf("windows_abi_test: %d failed\n", g_failures);
    return g_failures != 0;
}
