// Chooses the codec path once, from the environment or the CPU's features.

#include "codec.h"

#include <cstdlib>
#include <cstring>

namespace dravolin {

const Codec *avx2Codec()
{
    // Defined in codec_avx2.cpp, the one file built for AVX2.
    const Codec &avx2PathCodec();
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    }();
    return supported ? &avx2PathCodec() : nullptr;
}

const Codec *avx512Codec()
{
    // Defined in codec_avx512.cpp, the one file built for AVX-512.
    const Codec &avx512PathCodec();
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
            && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")
            && __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    }();
    return supported ? &avx512PathCodec() : nullptr;
}

std::vector<const Codec *> supportedCodecs()
{
    std::vector<const Codec *> codecs { &scalarCodec() };
    for (const Codec *fast : { avx2Codec(), avx512Codec() })
        if (fast)
            codecs.push_back(fast);
    return codecs;
}

namespace {

const Codec &chooseCodec()
{
    const std::vector<const Codec *> codecs = supportedCodecs();
    if (const char *forced = std::getenv("DRAVOLIN_CODEC")) {
        for (const Codec *codec : codecs)
            if (std::strcmp(codec->name, forced) == 0)
                return *codec;
    }
    return *codecs.back(); // the widest the CPU offers
}

} // namespace

const Codec &activeCodec()
{
    static const Codec &chosen = chooseCodec();
    return chosen;
}

} // namespace dravolin
