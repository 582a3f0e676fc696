// The shared library as a file: exactly the C ABI exported, and a SONAME so
// programs bind to the major version.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

// The output of a command, which must succeed.
std::string run(const std::string &command)
{
    std::string output;
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    char chunk[4096];
    for (std::size_t got; pipe && (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, got);
    EXPECT_TRUE(pipe && ::pclose(pipe) == 0) << command << " failed (binutils missing?):\n" << output;
    return output;
}

TEST(SharedLibrary, ExportsExactlyTheCAbiUnderItsSoname)
{
    std::istringstream lines(run("nm -D --defined-only '" DRAVOLIN_LIBRARY_FILE "'"));
    std::set<std::string> exported;
    for (std::string address, type, name; lines >> address >> type >> name;)
        exported.insert(name.substr(0, name.find('@'))); // drop any version tag
    EXPECT_EQ(exported, (std::set<std::string>{"AllocaTesto", "LunghezzaTesto", "LiberaTesto", "ConvertiMime64",
                                               "DecifraMime64", "ConvertiPrintable", "DecifraPrintable"}));
    const std::string dynamic = run("readelf -d '" DRAVOLIN_LIBRARY_FILE "'");
    EXPECT_NE(dynamic.find("Library soname: [libdravolin.so.1]"), std::string::npos) << dynamic;
}

} // namespace
