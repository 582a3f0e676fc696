// The four exported functions called as a caller calls them, the result's
// allocation and freeing included, on 64 MiB, beside two baselines in the
// same run: memcpy of the input into a warm buffer, and writing the
// function's output bytes into freshly mapped memory, the limit for any
// function that returns a new text. Ratios are to the warm memcpy; each call's
// minor page faults are counted too, the fresh pages a result costs.
//
//   abi_bench [--benchmark_filter=...]   (DRAVOLIN_CODEC forces a path)
//   DRAVOLIN_BENCH_MIB=2 abi_bench       (inputs of 2 MiB, as the jobs' pieces, instead of 64)

#include "codec_cases.h"
#include "dravolin.h"
#include "program_shared.h"
#include "ratio_reporter.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

namespace {

const std::size_t kInputBytes
    = std::size_t(std::getenv("DRAVOLIN_BENCH_MIB") ? std::atoi(std::getenv("DRAVOLIN_BENCH_MIB")) : 64) << 20;

long minorFaults()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

struct Case {
    const char *name;
    std::string input; // what the function reads
    std::size_t outputBytes; // what it writes
    // One call as a caller makes it; false if the function refused.
    bool (*call)(const std::string &input, Testo inputText, std::vector<uint8_t> &buffer);
};

bool freed(Testo text)
{
    benchmark::DoNotOptimize(text);
    LiberaTesto(text);
    return text != nullptr;
}

bool convertMime64(const std::string &input, Testo, std::vector<uint8_t> &)
{
    return freed(
        ConvertiMime64(reinterpret_cast<const uint8_t *>(input.data()), static_cast<int32_t>(input.size()), 1));
}

bool decodeMime64(const std::string &, Testo text, std::vector<uint8_t> &buffer)
{
    return DecifraMime64(text, buffer.data(), static_cast<int32_t>(buffer.size())) >= 0;
}

bool convertPrintable(const std::string &, Testo text, std::vector<uint8_t> &)
{
    return freed(ConvertiPrintable(text));
}

bool decodePrintable(const std::string &, Testo text, std::vector<uint8_t> &)
{
    return freed(DecifraPrintable(text));
}

Testo copyOf(const std::string &bytes)
{
    return AllocaTesto(bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::string bytesOf(Testo text)
{
    std::string bytes(text, static_cast<std::size_t>(LunghezzaTesto(text)));
    LiberaTesto(text);
    return bytes;
}

const std::vector<Case> &cases()
{
    static const std::vector<Case> made = [] {
        const std::string random = dravolin::cases::randomBytes(kInputBytes, 1);
        const std::string prose = dravolin::cases::italianProse(kInputBytes, 2);
        const std::string mime64 = bytesOf(
            ConvertiMime64(reinterpret_cast<const uint8_t *>(random.data()), static_cast<int32_t>(random.size()), 1));
        Testo proseText = copyOf(prose);
        const std::string printable = bytesOf(ConvertiPrintable(proseText));
        LiberaTesto(proseText);
        return std::vector<Case> { { "ConvertiMime64", random, mime64.size(), convertMime64 },
                                   { "DecifraMime64", mime64, random.size(), decodeMime64 },
                                   { "ConvertiPrintable", prose, printable.size(), convertPrintable },
                                   { "DecifraPrintable", printable, prose.size(), decodePrintable } };
    }();
    return made;
}

void setBytes(benchmark::State &state, const Case &c)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.input.size()));
}

void BM_WarmMemcpy(benchmark::State &state, const Case *c)
{
    std::vector<char> out(c->input.size(), 1);
    for (auto _ : state) {
        std::memcpy(out.data(), c->input.data(), c->input.size());
        benchmark::ClobberMemory();
    }
    setBytes(state, *c);
}

// As the library maps a large result: huge-page aligned, never touched before.
void BM_FreshPages(benchmark::State &state, const Case *c)
{
    const std::size_t mapped = (c->outputBytes + dravolin::kHugePage) / dravolin::kHugePage * dravolin::kHugePage;
    for (auto _ : state) {
        void *memory = dravolin::mapHugePages(mapped);
        std::memset(memory, 'x', c->outputBytes);
        benchmark::ClobberMemory();
        dravolin::unmapHugePages(memory, mapped);
    }
    setBytes(state, *c);
}

// DecifraMime64 writes into the caller's buffer, warm as a caller's would be.
void BM_Abi(benchmark::State &state, const Case *c)
{
    Testo input = copyOf(c->input);
    std::vector<uint8_t> buffer(c->outputBytes, 1);
    const long faults = minorFaults();
    for (auto _ : state)
        if (!c->call(c->input, input, buffer))
            state.SkipWithError("the function refused its input");
    state.counters["faults_per_call"] = double(minorFaults() - faults) / double(state.iterations());
    LiberaTesto(input);
    setBytes(state, *c);
}

} // namespace

int main(int argc, char **argv)
{
    using Function = void (*)(benchmark::State &, const Case *);
    const std::pair<const char *, Function> kinds[]
        = { { "BM_WarmMemcpy/", BM_WarmMemcpy }, { "BM_FreshPages/", BM_FreshPages }, { "BM_Abi/", BM_Abi } };
    for (const Case &c : cases())
        for (const auto &[prefix, function] : kinds)
            benchmark::RegisterBenchmark((prefix + std::string(c.name)).c_str(), function, &c)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true);
    return runWithRatios(argc, argv, "BM_WarmMemcpy");
}
