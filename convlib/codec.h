#pragma once
// The kernels one instruction-set path provides, and the choice among the
// paths. Every path must give the scalar path's answer for every input; the
// scalar path is the reference.

#include "program_shared.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace dravolin {

inline constexpr std::size_t kPrintableLineLength = 76;

// Decoder results beside a byte count.
inline constexpr std::int64_t kMalformed = -1;
inline constexpr std::int64_t kTooSmall = -2;

// Room enough for the quoted-printable text of any n bytes: at most 3
// characters a byte, and a soft break (at most 3 characters) only once a line
// holds 73 or more. Where Size cannot count it, its largest value, which no
// allocation gives: with a 32-bit size_t the room of 1.4 GB would wrap.
template <class Size> constexpr Size printableBoundIn(Size n)
{
    constexpr Size kMax = std::numeric_limits<Size>::max();
    if (n > kMax / 3)
        return kMax;
    const Size characters = 3 * n;
    constexpr Size kFullLine = kPrintableLineLength - 3;
    const Size softBreaks = 3 * (characters / kFullLine + 1);
    return characters > kMax - softBreaks ? kMax : characters + softBreaks;
}

inline std::size_t printableEncodedBound(std::size_t n)
{
    return printableBoundIn(n);
}

struct Codec {
    const char *name;
    // Writes exactly mime64EncodedSize(n, layout) characters.
    void (*mime64Encode)(const std::uint8_t *in, std::size_t n, char *out, Mime64Layout layout);
    // Bytes written, kMalformed or kTooSmall; writes nothing at out[capacity]
    // or beyond, nor past the bytes it counts.
    std::int64_t (*mime64Decode)(const char *in, std::size_t n, std::uint8_t *out, std::size_t capacity);
    // out has room for printableEncodedBound(n), past the count scratch;
    // returns the characters written.
    std::size_t (*printableEncode)(const char *in, std::size_t n, char *out);
    // out has room for n, past the count scratch; returns the bytes written.
    std::size_t (*printableDecode)(const char *in, std::size_t n, char *out);
};

const Codec &scalarCodec();

// Every path this machine can run, the scalar one first; a fixed table,
// made once without allocating.
std::span<const Codec *const> supportedCodecs();

// The kernels the library calls, chosen once on first use: all four of the
// path DRAVOLIN_CODEC names (scalar, avx2, avx512) if this machine runs it,
// otherwise each operation's fastest path for this CPU. Its name is the
// path's, or "mixed" when the operations run on different paths.
const Codec &activeCodec();

} // namespace dravolin
