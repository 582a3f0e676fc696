// Throughput of the four conversions on 64 MiB, per codec path, beside
// memcpy of the same bytes; a summary after the run gives each as a ratio.
//
//   codec_bench [--benchmark_filter=...]

#include "codec.h"
#include "codec_cases.h"
#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kInputBytes = 64u << 20;

// The inputs, made once: random bytes and their base64 text; Italian prose
// and its quoted-printable text.
struct Inputs {
    std::string random = dravolin::cases::randomBytes(kInputBytes, 1);
    std::string mime64Text;
    std::string prose = dravolin::cases::italianProse(kInputBytes, 2);
    std::string printableText;

    Inputs()
    {
        const auto &scalar = dravolin::scalarCodec();
        mime64Text.resize(dravolin::mime64EncodedSize(random.size(), dravolin::Mime64Layout::Wrapped));
        scalar.mime64Encode(reinterpret_cast<const std::uint8_t *>(random.data()), random.size(), mime64Text.data(),
                            dravolin::Mime64Layout::Wrapped);
        printableText.resize(dravolin::printableEncodedBound(prose.size()));
        printableText.resize(scalar.printableEncode(prose.data(), prose.size(), printableText.data()));
    }
};

const Inputs &inputs()
{
    static const Inputs made;
    return made;
}

enum class Operation { Mime64Encode, Mime64Decode, PrintableEncode, PrintableDecode };

const char *operationName(Operation op)
{
    switch (op) {
    case Operation::Mime64Encode:
        return "Mime64Encode";
    case Operation::Mime64Decode:
        return "Mime64Decode";
    case Operation::PrintableEncode:
        return "PrintableEncode";
    case Operation::PrintableDecode:
        return "PrintableDecode";
    }
    return "?";
}

// The bytes each operation reads: its throughput counts these.
const std::string &inputOf(Operation op)
{
    switch (op) {
    case Operation::Mime64Encode:
        return inputs().random;
    case Operation::Mime64Decode:
        return inputs().mime64Text;
    case Operation::PrintableEncode:
        return inputs().prose;
    case Operation::PrintableDecode:
        return inputs().printableText;
    }
    return inputs().random;
}

void BM_Memcpy(benchmark::State &state, Operation op)
{
    const std::string &in = inputOf(op);
    std::vector<char> out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_Codec(benchmark::State &state, const dravolin::Codec *codec, Operation op)
{
    const std::string &in = inputOf(op);
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
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
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
    std::printf("Inputs: random %zu B -> Mime64 %zu B; prose %zu B (%.1f%% accented characters) -> Printable %zu B\n",
                inputs().random.size(), inputs().mime64Text.size(), prose.size(),
                100.0 * static_cast<double>(accented) / static_cast<double>(characters), inputs().printableText.size());
}

} // namespace

int main(int argc, char **argv)
{
    const Operation operations[]
        = { Operation::Mime64Encode, Operation::Mime64Decode, Operation::PrintableEncode, Operation::PrintableDecode };
    for (Operation op : operations) {
        benchmark::RegisterBenchmark((std::string("BM_Memcpy/") + operationName(op)).c_str(), BM_Memcpy, op)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
        for (const dravolin::Codec *codec : dravolin::supportedCodecs())
            benchmark::RegisterBenchmark((std::string("BM_Codec/") + codec->name + "/" + operationName(op)).c_str(),
                                         BM_Codec, codec, op)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
    }
    printInputs();
    return runWithRatios(argc, argv, "BM_Memcpy");
}
