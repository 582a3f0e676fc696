#pragma once
// What the fuzz targets share: a check that stops the run with its reason,
// and a kernel run on every codec path this CPU runs on exact heap blocks,
// so the sanitizer catches a byte read or written past them.

#include "codec.h"
#include "codec_cases.h"
#include "dravolin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#define FUZZ_CHECK(condition)                                                                                          \
    ((condition) ? void(0)                                                                                             \
                 : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))

// The bytes of a library text, which is then freed.
inline std::string taken(Testo text)
{
    FUZZ_CHECK(text != nullptr);
    const std::string bytes(text, static_cast<std::size_t>(LunghezzaTesto(text)));
    return LiberaTesto(text), bytes;
}

// kernel(codec, in, out) -> count on every path into exactly `room` bytes:
// each gives the scalar count and bytes (the whole room when `whole`, else
// the counted ones), returned with the bytes in *out.
template <class Kernel>
std::int64_t onEveryPath(const std::string &input, std::size_t room, bool whole, Kernel kernel, std::string *out)
{
    std::int64_t first = 0;
    for (const dravolin::Codec *codec : dravolin::supportedCodecs()) {
        const std::unique_ptr<char[]> in(new char[input.size()]), buffer(new char[room]);
        std::memcpy(in.get(), input.data(), input.size());
        std::memset(buffer.get(), 0xA5, room);
        const std::int64_t count = kernel(*codec, in.get(), buffer.get());
        const std::string bytes(buffer.get(), whole ? room : static_cast<std::size_t>(count < 0 ? 0 : count));
        if (codec == &dravolin::scalarCodec())
            first = count, *out = bytes;
        FUZZ_CHECK(count == first && bytes == *out && count <= static_cast<std::int64_t>(room));
    }
    return first;
}
