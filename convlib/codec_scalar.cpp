// The reference path: plain C++, table-driven, the answer every other path
// must give.

#include "codec_paths.h"
#include "scalar_kernels.h"

namespace dravolin {
namespace {

void encodeMime64(const std::uint8_t *in, std::size_t n, char *out, Mime64Layout layout)
{
    mime64EncodeLines(in, n, out, layout);
}

std::int64_t decodeMime64(const char *in, std::size_t n, std::uint8_t *out, std::size_t capacity)
{
    return mime64DecodeFrom(in, n, mime64DataStart(in, n), out, capacity, 0);
}

std::size_t encodePrintable(const char *in, std::size_t n, char *out)
{
    char *const start = out;
    PrintableEncodeState state;
    state.lfSoftBreaks = printableUsesLf(in, n);
    for (std::size_t pos = 0; pos < n;)
        pos = printableEncodeStep(in, n, pos, out, state);
    return static_cast<std::size_t>(out - start);
}

std::size_t decodePrintable(const char *in, std::size_t n, char *out)
{
    char *const start = out;
    for (std::size_t pos = 0; pos < n;)
        pos = printableDecodeStep(in, n, pos, out);
    return static_cast<std::size_t>(out - start);
}

} // namespace

constinit const Codec scalarPath { DRAVOLIN_PATH_NAME, encodeMime64, decodeMime64, encodePrintable, decodePrintable };

} // namespace dravolin
