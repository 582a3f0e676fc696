#pragma once
// What the fuzz targets share: a check that stops the run with its reason,
// library texts, and each kernel run on every codec path this CPU runs, on
// exact heap copies so the sanitizer catches a byte read or written past.

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

using Text = std::unique_ptr<char, decltype([](char *text) { LiberaTesto(text); })>;

inline Text makeText(const std::string &bytes)
{
    return Text(AllocaTesto(bytes.data(), static_cast<int32_t>(bytes.size())));
}

inline std::string bytesOf(const Text &text)
{
    FUZZ_CHECK(text != nullptr);
    return std::string(text.get(), static_cast<std::size_t>(LunghezzaTesto(text.get())));
}

// kernel(codec, in, out) -> count, on the scalar path and then every other,
// each into exactly `room` bytes; they must agree on the count and on the
// bytes (the whole room when `whole`, else the counted ones). Returns the
// count, and the bytes in *out.
template <class Kernel>
std::int64_t onEveryPath(const std::string &input, std::size_t room, bool whole, Kernel kernel, std::string *out)
{
    std::int64_t first = 0;
    for (const dravolin::Codec *codec : dravolin::supportedCodecs()) {
        const std::unique_ptr<char[]> in(new char[input.size()]), room_(new char[room]);
        std::memcpy(in.get(), input.data(), input.size());
        std::memset(room_.get(), 0xA5, room);
        const std::int64_t count = kernel(*codec, in.get(), room_.get());
        FUZZ_CHECK(count <= static_cast<std::int64_t>(room));
        std::string bytes(room_.get(), whole ? room : static_cast<std::size_t>(count < 0 ? 0 : count));
        if (codec == &dravolin::scalarCodec())
            first = count, *out = bytes;
        FUZZ_CHECK(count == first && bytes == *out);
    }
    return first;
}
