// The shared library as a file: exactly the C ABI exported, and a SONAME
// so programs bind to the major version.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

// Output of a shell command; fails the test if it cannot run.
std::string run(const std::string &command)
{
    std::string output;
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run: " << command;
        return output;
    }
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, got);
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << command << " failed (binutils missing?):\n" << output;
    return output;
}

TEST(SharedLibrary, ExportsExactlyTheCAbi)
{
    const std::string listing = run("nm -D --defined-only '" DRAVOLIN_LIBRARY_FILE "'");
    std::set<std::string> exported;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name)
            exported.insert(name.substr(0, name.find('@'))); // drop any version tag
    }
    const std::set<std::string> expected = {
        "AllocaTesto",       "LunghezzaTesto",  "LiberaTesto",      "ConvertiMime64",
        "DecifraMime64",     "ConvertiPrintable", "DecifraPrintable",
    };
    EXPECT_EQ(exported, expected) << listing;
}

TEST(SharedLibrary, HasAnSoname)
{
    const std::string dynamic = run("readelf -d '" DRAVOLIN_LIBRARY_FILE "'");
    EXPECT_NE(dynamic.find("(SONAME)"), std::string::npos) << dynamic;
    EXPECT_NE(dynamic.find("Library soname: [libdravolin.so.1]"), std::string::npos) << dynamic;
}

} // namespace
