// Chooses the kernels once: a path forced by the environment, or each
// operation's fastest path for this CPU. Allocates nothing, so it cannot
// throw through the C ABI.

#include "codec.h"
#include "codec_paths.h"
#include "path_choice.h"

#include <cpuid.h>

#include <array>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace dravolin {
namespace {

constexpr std::size_t kPathCount = std::size(kCodecPathRows);

struct PathTable {
    const Codec *paths[kPathCount] = {};
    std::size_t count = 0;
};

const PathTable &pathTable()
{
    static const PathTable table = [] {
        PathTable made;
        __builtin_cpu_init();
        for (const CodecPathRow &row : kCodecPathRows)
            if (row.runsHere())
                made.paths[made.count++] = row.codec;
        return made;
    }();
    return table;
}

const Codec *supportedPath(const char *name)
{
    for (const Codec *codec : supportedCodecs())
        if (std::strcmp(codec->name, name) == 0)
            return codec;
    return nullptr;
}

const Codec &supportedOrScalar(const char *name)
{
    const Codec *codec = supportedPath(name);
    return codec ? *codec : scalarCodec();
}

// Preferred paths of one operation, best first; a path the CPU lacks is
// skipped, and scalar always runs.
using PathOrder = std::array<const char *, 3>;
constexpr PathOrder kAvx2First = { "avx2", "avx512", "scalar" };
constexpr PathOrder kAvx512First = { "avx512", "avx2", "scalar" };

// One order per Operation, in its order: Mime64 encode and decode, Printable
// encode and decode. Both AVX-512 Printable kernels widen or squeeze a whole
// block at once, as the AVX2 ones do, with one compress instead of table rows.
using Preference = std::array<PathOrder, 4>;
constexpr Preference kAvx2Mime64 = { kAvx2First, kAvx2First, kAvx512First, kAvx512First };

// The CPUs we measured, by vendor and family. AMD family 19h (Zen 3, Zen 4):
// Zen 4 runs the AVX-512 base64 kernels at half the AVX2 speed. AMD family 1Ah
// (Zen 5): AVX-512 base64 at memory speed, a sixth ahead of AVX2, and AVX-512
// quoted-printable ahead of AVX2. Intel family 6, measured on a Xeon whose
// AVX-512 path runs: AVX2 base64 encoding ahead, AVX-512 base64 decoding and
// quoted-printable ahead; without that path every order falls to AVX2.
struct MeasuredCpu {
    CpuVendor vendor;
    unsigned family;
    Preference preference;
};
constexpr MeasuredCpu kMeasured[] = {
    { CpuVendor::Amd, 0x19, kAvx2Mime64 },
    { CpuVendor::Amd, 0x1A, { kAvx512First, kAvx512First, kAvx512First, kAvx512First } },
    { CpuVendor::Intel, 6, { kAvx2First, kAvx512First, kAvx512First, kAvx512First } },
};
// A CPU nobody measured takes the choice that loses least when wrong: the one
// slow AVX-512 base64 measurement lost half against AVX2.
constexpr Preference kUnmeasured = kAvx2Mime64;

const Preference &preferenceFor(const CpuFacts &cpu)
{
    for (const MeasuredCpu &row : kMeasured)
        if (row.vendor == cpu.vendor && row.family == cpu.family)
            return row.preference;
    return kUnmeasured;
}

bool hasPath(const CpuFacts &cpu, const char *name)
{
    if (std::strcmp(name, "avx512") == 0)
        return cpu.avx512;
    if (std::strcmp(name, "avx2") == 0)
        return cpu.avx2;
    return std::strcmp(name, "scalar") == 0;
}

Codec chooseKernels()
{
    if (const char *forced = std::getenv("DRAVOLIN_CODEC"))
        if (const Codec *codec = supportedPath(forced))
            return *codec;
    const CpuFacts cpu = thisCpu();
    const Codec &mime64Encode = supportedOrScalar(preferredPath(Operation::Mime64Encode, cpu));
    const Codec &mime64Decode = supportedOrScalar(preferredPath(Operation::Mime64Decode, cpu));
    const Codec &printableEncode = supportedOrScalar(preferredPath(Operation::PrintableEncode, cpu));
    const Codec &printableDecode = supportedOrScalar(preferredPath(Operation::PrintableDecode, cpu));
    const bool one
        = &mime64Encode == &mime64Decode && &mime64Decode == &printableEncode && &printableEncode == &printableDecode;
    return { one ? mime64Encode.name : "mixed", mime64Encode.mime64Encode, mime64Decode.mime64Decode,
             printableEncode.printableEncode, printableDecode.printableDecode };
}

Codec chosenKernels()
{
    const Codec chosen = chooseKernels();
#if defined(_WIN32)
    // The tests under Wine see the DLL's exports only: they read the path in the debugger's output.
    char line[48] = "Dravolin: codec ";
    std::strncat(line, chosen.name, sizeof line - std::strlen(line) - 1);
    OutputDebugStringA(line);
#endif
    return chosen;
}

} // namespace

const char *preferredPath(Operation operation, const CpuFacts &cpu)
{
    for (const char *name : preferenceFor(cpu)[static_cast<std::size_t>(operation)])
        if (hasPath(cpu, name))
            return name;
    return "scalar";
}

CpuFacts thisCpu()
{
    CpuFacts cpu;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx))
        cpu.vendor = vendorOf(ebx, ecx, edx);
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        cpu.family = familyOf(eax);
    cpu.avx2 = supportedPath("avx2") != nullptr;
    cpu.avx512 = supportedPath("avx512") != nullptr;
    return cpu;
}

std::span<const Codec *const> supportedCodecs()
{
    const PathTable &table = pathTable();
    return { table.paths, table.count };
}

const Codec &scalarCodec()
{
    return scalarPath;
}

const Codec &activeCodec()
{
    static const Codec chosen = chosenKernels();
    return chosen;
}

} // namespace dravolin
