// Chooses the kernels once: a path forced by the environment, or each
// operation's fastest path for this CPU. Allocates nothing, so it cannot
// throw through the C ABI.

#include "codec.h"
#include "codec_paths.h"

#include <cpuid.h>

#include <cstdlib>
#include <cstring>

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

// Preferred paths of one operation, best first; scalar always runs.
struct Preference {
    const char *mime64[3];
    const char *printable[3];
};

// AMD family 19h (Zen 3 and Zen 4) is where we measured: Zen 4 runs the
// AVX-512 base64 kernels at half the AVX2 speed, while its AVX-512
// quoted-printable kernels are level or ahead; Zen 3 has AVX2 only.
constexpr Preference kAmdFamily19 = { { "avx2", "avx512", "scalar" }, { "avx512", "avx2", "scalar" } };
// A CPU nobody measured takes the same, the choice that loses least when
// wrong: the one AVX-512 base64 measurement lost half against AVX2, while
// no measurement showed AVX-512 quoted-printable behind.
constexpr Preference kUnmeasured = kAmdFamily19;

bool isAmdFamily19()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool amd = ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163; // "AuthenticAMD"
    if (!amd || !__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned baseFamily = (eax >> 8) & 0xF;
    const unsigned family = baseFamily == 0xF ? baseFamily + ((eax >> 20) & 0xFF) : baseFamily;
    return family == 0x19;
}

const Codec &firstSupported(const char *const (&names)[3])
{
    for (const char *name : names)
        if (const Codec *codec = supportedPath(name))
            return *codec;
    return scalarCodec();
}

Codec chooseKernels()
{
    if (const char *forced = std::getenv("DRAVOLIN_CODEC"))
        if (const Codec *codec = supportedPath(forced))
            return *codec;
    const Preference &preference = isAmdFamily19() ? kAmdFamily19 : kUnmeasured;
    const Codec &mime64 = firstSupported(preference.mime64);
    const Codec &printable = firstSupported(preference.printable);
    const char *name = &mime64 == &printable ? mime64.name : "mixed";
    return { name, mime64.mime64Encode, mime64.mime64Decode, printable.printableEncode, printable.printableDecode };
}

} // namespace

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
    static const Codec chosen = chooseKernels();
    return chosen;
}

} // namespace dravolin
