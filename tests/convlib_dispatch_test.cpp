// Which codec paths exist and which one runs: registered under several
// values of DRAVOLIN_CODEC, and once without it.

#include "codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

bool cpuHas(const std::string &path)
{
    __builtin_cpu_init();
    if (path == "avx2")
        return __builtin_cpu_supports("avx2");
    if (path == "avx512")
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return path == "scalar";
}

TEST(CodecPaths, ScalarFirstAndEachPathOnce)
{
    const auto codecs = dravolin::supportedCodecs();
    ASSERT_FALSE(codecs.empty());
    EXPECT_EQ(codecs.front(), &dravolin::scalarCodec());
    EXPECT_STREQ(dravolin::scalarCodec().name, "scalar");
    std::set<std::string> names;
    for (const dravolin::Codec *codec : codecs) {
        ASSERT_NE(codec, nullptr);
        EXPECT_TRUE(names.insert(codec->name).second) << codec->name << " listed twice";
        EXPECT_NE(codec->mime64Encode, nullptr);
        EXPECT_NE(codec->mime64Decode, nullptr);
        EXPECT_NE(codec->printableEncode, nullptr);
        EXPECT_NE(codec->printableDecode, nullptr);
    }
    EXPECT_EQ(names.count("avx2") == 1, dravolin::avx2Codec() != nullptr);
    EXPECT_EQ(names.count("avx512") == 1, dravolin::avx512Codec() != nullptr);
}

TEST(CodecPaths, OfferedOnlyWhereTheCpuRunsThem)
{
    if (const dravolin::Codec *codec = dravolin::avx2Codec()) {
        EXPECT_STREQ(codec->name, "avx2");
        EXPECT_TRUE(cpuHas("avx2"));
    }
    if (const dravolin::Codec *codec = dravolin::avx512Codec()) {
        EXPECT_STREQ(codec->name, "avx512");
        EXPECT_TRUE(cpuHas("avx512"));
    }
}

TEST(CodecPaths, ActivePathHonoursTheEnvironment)
{
    const char *forced = std::getenv("DRAVOLIN_CODEC");
    const dravolin::Codec *expected = nullptr;
    for (const dravolin::Codec *codec : dravolin::supportedCodecs())
        if (forced && std::string(forced) == codec->name)
            expected = codec;
    if (!expected) {
        // Unset, unknown or unsupported here: the fastest path offered.
        expected = dravolin::avx512Codec() ? dravolin::avx512Codec()
                   : dravolin::avx2Codec() ? dravolin::avx2Codec()
                                           : &dravolin::scalarCodec();
    }
    EXPECT_STREQ(dravolin::activeCodec().name, expected->name)
        << "DRAVOLIN_CODEC=" << (forced ? forced : "(unset)");
    // Chosen once: a later change of the environment does not move it.
    ::setenv("DRAVOLIN_CODEC", "scalar", 1);
    EXPECT_EQ(&dravolin::activeCodec(), expected);
}

} // namespace
