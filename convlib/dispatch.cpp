// Chooses the codec path once, from the environment or the CPU's features.

#include "codec.h"

#include <cstdlib>
#include <cstring>

namespace dravolin {

const Codec *avx2Codec()
{
    return nullptr;
}

const Codec *avx512Codec()
{
    return nullptr;
}

std::vector<const Codec *> supportedCodecs()
{
    std::vector<const Codec *> codecs{&scalarCodec()};
    for (const Codec *fast : {avx2Codec(), avx512Codec()})
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
