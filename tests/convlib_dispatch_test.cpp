// Which codec paths exist and which one runs. The paths this CPU offers come
// from the build's own reading of the kernel's CPU flags (DRAVOLIN_CPU_PATHS);
// ctest runs this under DRAVOLIN_CODEC unset, unknown, and each of them.

#include "codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace {

TEST(CodecPaths, ScalarFirstThenEachPathTheCpuRuns)
{
    std::string names;
    for (const dravolin::Codec *codec : dravolin::supportedCodecs())
        names.append(names.empty() ? "" : " ").append(codec->name);
    EXPECT_EQ(names, DRAVOLIN_CPU_PATHS);
    EXPECT_EQ(dravolin::supportedCodecs().front(), &dravolin::scalarCodec());
}

TEST(CodecPaths, ActivePathIsTheForcedOneOrTheWidest)
{
    const char *forced = std::getenv("DRAVOLIN_CODEC");
    std::istringstream paths(DRAVOLIN_CPU_PATHS);
    std::string widest;
    bool known = false;
    for (std::string path; paths >> path; widest = path)
        known = known || (forced && path == forced);
    EXPECT_EQ(dravolin::activeCodec().name, known ? std::string(forced) : widest)
        << "DRAVOLIN_CODEC=" << (forced ? forced : "(unset)");
    // Chosen once: a later change of the environment does not move it.
    const dravolin::Codec *chosen = &dravolin::activeCodec();
    ::setenv("DRAVOLIN_CODEC", chosen == &dravolin::scalarCodec() ? "avx2" : "scalar", 1);
    EXPECT_EQ(&dravolin::activeCodec(), chosen);
}

} // namespace
