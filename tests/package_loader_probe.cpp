// Loads libdravolin the way the program does, from wherever this probe is
// copied, converts "foobar", and prints the file the dynamic loader mapped.
// The package test puts it beside the unpacked program to prove that the
// program's search finds the packaged library.

#include "conversion_library.h"
#include "job_errors.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

namespace {

// The first mapped file named libdravolin.so*, as the kernel resolved it.
std::string mappedLibrary()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const auto slash = line.find('/');
        if (slash == std::string::npos)
            continue;
        const std::string path = line.substr(slash);
        const auto name = path.substr(path.rfind('/') + 1);
        if (name.rfind("libdravolin.so", 0) == 0)
            return path;
    }
    return {};
}

} // namespace

int main()
{
    try {
        ConversionLibrary library;
        const std::string_view input = "foobar";
        const LibraryText text = library.ConvertiMime64(
            reinterpret_cast<const std::uint8_t *>(input.data()), input.size());
        // RFC 4648 section 10, in a line of its own ended by CR LF.
        if (std::string_view(text.data(), text.size()) != "Zm9vYmFy\r\n") {
            std::fprintf(stderr, "unexpected Mime64 text\n");
            return 1;
        }
        // While the library is still loaded.
        std::printf("%s\n", mappedLibrary().c_str());
    } catch (const JobError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
