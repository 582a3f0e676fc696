// Throughput of the four conversions on 64 MiB, per codec path, beside
// memcpy of the same bytes; a summary after the run gives each as a ratio.
// Each also runs on the first 256 KiB of its input ("...InCache"), which
// stays in L2, counting time-stamp-counter ticks per 64 input bytes: the
// work apart from waiting for memory. The TSC ticks at the CPU's nominal
// rate, which need not be the core clock under boost.
//
//   codec_bench [--benchmark_filter=...]

#include "codec.h"
#include "codec_cases.h"
#include "ratio_reporter.h"

#include <benchmark/benchmark.h>
#include <x86intrin.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kInputBytes = 64u << 20;
constexpr std::size_t kInCacheBytes = 256u << 10;

// Prose with every accented character's bytes turned into plain letters.
std::string asciiOnly(std::string text)
{
    for (char &c : text)
        c = static_cast<unsigned char>(c) >= 0x80 ? 'e' : c;
    return text;
}

std::string printableOf(const std::string &plain)
{
    std::string text(dravolin::printableEncodedBound(plain.size()), '\0');
    text.resize(dravolin::scalarCodec().printableEncode(plain.data(), plain.size(), text.data()));
    return text;
}

// The inputs, made once: random bytes and their base64 text; Italian prose,
// the same in pure ASCII, random bytes, each with its quoted-printable text.
// What Python's binascii.b2a_qp(plain) writes (text mode, no header, tabs
// kept): lines broken before they reach 76 characters, the line break of
// the first line for soft breaks, a blank before a line break escaped after
// it was written, a lone '.' on a line escaped.
std::string b2aQpOf(const std::string &plain)
{
    const std::size_t lf = plain.find('\n');
    const std::string lineBreak = lf != plain.npos && lf > 0 && plain[lf - 1] == '\r' ? "\r\n" : "\n";
    const std::size_t n = plain.size();
    std::string out;
    const auto escape = [&](unsigned char c) {
        out += '=';
        out += "0123456789ABCDEF"[c >> 4];
        out += "0123456789ABCDEF"[c & 15];
    };
    for (std::size_t i = 0, column = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(plain[i]);
        const bool lineEndNext = i + 1 == n || plain[i + 1] == '\n' || plain[i + 1] == '\r' || plain[i + 1] == 0;
        const bool blank = c == ' ' || c == '\t';
        if (c > 126 || c == '=' || (c == '.' && column == 0 && lineEndNext) || (blank && i + 1 == n)
            || (c < 33 && c != '\r' && c != '\n' && !blank)) {
            if (column + 3 >= dravolin::kPrintableLineLength)
                out += "=" + lineBreak, column = 0;
            escape(c);
            column += 3;
        } else if (c == '\n' || (c == '\r' && i + 1 < n && plain[i + 1] == '\n')) {
            if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
                const auto last = static_cast<unsigned char>(out.back());
                out.pop_back();
                escape(last);
            }
            out += lineBreak;
            i += c == '\r';
            column = 0;
        } else {
            if (i + 1 != n && plain[i + 1] != '\n' && column + 1 >= dravolin::kPrintableLineLength)
                out += "=" + lineBreak, column = 0;
            out += static_cast<char>(c);
            ++column;
        }
    }
    return out;
}

struct Inputs {
    std::string random = dravolin::cases::randomBytes(kInputBytes, 1);
    std::string mime64Text;
    std::string prose = dravolin::cases::italianProse(kInputBytes, 2);
    std::string printableText = printableOf(prose);
    std::string ascii = asciiOnly(prose);
    std::string asciiText = printableOf(ascii);
    std::string randomText = printableOf(random);
    std::string b2aQpText = b2aQpOf(prose);

    Inputs()
    {
        mime64Text.resize(dravolin::mime64EncodedSize(random.size(), dravolin::Mime64Layout::Wrapped));
        dravolin::scalarCodec().mime64Encode(reinterpret_cast<const std::uint8_t *>(random.data()), random.size(),
                                             mime64Text.data(), dravolin::Mime64Layout::Wrapped);
    }
};

const Inputs &inputs()
{
    static const Inputs made;
    return made;
}

enum class Operation { Mime64Encode, Mime64Decode, PrintableEncode, PrintableDecode };

// One operation on one input; its throughput counts the bytes it reads.
struct Workload {
    const char *name;
    Operation op;
    const std::string Inputs::*input;
};

constexpr Workload kWorkloads[] = {
    { "Mime64Encode", Operation::Mime64Encode, &Inputs::random },
    { "Mime64Decode", Operation::Mime64Decode, &Inputs::mime64Text },
    { "PrintableEncode", Operation::PrintableEncode, &Inputs::prose },
    { "PrintableDecode", Operation::PrintableDecode, &Inputs::printableText },
    { "PrintableEncodeAscii", Operation::PrintableEncode, &Inputs::ascii },
    { "PrintableDecodeAscii", Operation::PrintableDecode, &Inputs::asciiText },
    { "PrintableEncodeRandom", Operation::PrintableEncode, &Inputs::random },
    { "PrintableDecodeRandom", Operation::PrintableDecode, &Inputs::randomText },
    { "PrintableDecodeB2aQp", Operation::PrintableDecode, &Inputs::b2aQpText },
};

// The workload's input, whole or its first kInCacheBytes.
std::string_view inputOf(const Workload *work, bool inCache)
{
    const std::string &in = inputs().*(work->input);
    return std::string_view(in).substr(0, inCache ? kInCacheBytes : in.size());
}

// Bytes processed, and for runs in cache TSC ticks per 64 input bytes.
void count(benchmark::State &state, std::size_t bytes, std::uint64_t ticks, bool inCache)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    if (inCache && state.iterations() > 0)
        state.counters["cycles_per_64B"]
            = static_cast<double>(ticks) / (static_cast<double>(state.iterations()) * static_cast<double>(bytes) / 64);
}

void BM_Memcpy(benchmark::State &state, const Workload *work, bool inCache)
{
    const std::string_view in = inputOf(work, inCache);
    std::vector<char> out(in.size());
    const std::uint64_t start = __rdtsc();
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    count(state, in.size(), __rdtsc() - start, inCache);
}

void BM_Codec(benchmark::State &state, const dravolin::Codec *codec, const Workload *work, bool inCache)
{
    const Operation op = work->op;
    const std::string_view in = inputOf(work, inCache);
    std::vector<char> out;
    switch (op) {
    case Operation::Mime64Encode:
        out.resize(dravolin::mime64EncodedSize(in.size(), dravolin::Mime64Layout::Wrapped));
        break;
    case Operation::PrintableEncode:
        out.resize(dravolin::printableEncodedBound(in.size()));
        break;
    default:
        out.resize(in.size());
    }
    std::memset(out.data(), 0, out.size()); // fault the pages in before timing
    const std::uint64_t start = __rdtsc();
    for (auto _ : state) {
        std::int64_t produced = 0;
        switch (op) {
        case Operation::Mime64Encode:
            codec->mime64Encode(reinterpret_cast<const std::uint8_t *>(in.data()), in.size(), out.data(),
                                dravolin::Mime64Layout::Wrapped);
            break;
        case Operation::Mime64Decode:
            produced
                = codec->mime64Decode(in.data(), in.size(), reinterpret_cast<std::uint8_t *>(out.data()), out.size());
            break;
        case Operation::PrintableEncode:
            produced = static_cast<std::int64_t>(codec->printableEncode(in.data(), in.size(), out.data()));
            break;
        case Operation::PrintableDecode:
            produced = static_cast<std::int64_t>(codec->printableDecode(in.data(), in.size(), out.data()));
            break;
        }
        benchmark::DoNotOptimize(produced);
        benchmark::ClobberMemory();
        if (produced < 0) {
            state.SkipWithError("decoder refused its own input");
            break;
        }
    }
    count(state, in.size(), __rdtsc() - start, inCache);
}

void printInputs()
{
    const std::string &prose = inputs().prose;
    std::size_t accented = 0, characters = 0;
    for (unsigned char c : prose) {
        if ((c & 0xC0) != 0x80)
            ++characters;
        if (c >= 0xC0)
            ++accented;
    }
    std::printf("Inputs: random %zu B -> Mime64 %zu B, Printable %zu B; prose %zu B (%.1f%% accented characters) -> "
                "Printable %zu B (b2a_qp %zu B); its ASCII -> Printable %zu B\n",
                inputs().random.size(), inputs().mime64Text.size(), inputs().randomText.size(), prose.size(),
                100.0 * static_cast<double>(accented) / static_cast<double>(characters), inputs().printableText.size(),
                inputs().b2aQpText.size(), inputs().asciiText.size());
}

} // namespace

int main(int argc, char **argv)
{
    for (const Workload &work : kWorkloads)
        for (const bool inCache : { false, true }) {
            const std::string name = std::string(work.name) + (inCache ? "InCache" : "");
            const auto unit = inCache ? benchmark::kMicrosecond : benchmark::kMillisecond;
            benchmark::RegisterBenchmark(("BM_Memcpy/" + name).c_str(), BM_Memcpy, &work, inCache)
                ->Unit(unit)
                ->MinTime(0.5);
            for (const dravolin::Codec *codec : dravolin::supportedCodecs())
                benchmark::RegisterBenchmark(("BM_Codec/" + std::string(codec->name) + "/" + name).c_str(), BM_Codec,
                                             codec, &work, inCache)
                    ->Unit(unit)
                    ->MinTime(0.5);
        }
    printInputs();
    return runWithRatios(argc, argv, "BM_Memcpy");
}
