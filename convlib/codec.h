#pragma once
// The kernels one instruction-set path provides. Every path must give the
// scalar path's answer for every input; the scalar path is the reference.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dravolin {

inline constexpr std::size_t kMime64LineLength = 76;
inline constexpr std::size_t kPrintableLineLength = 76;

enum class Mime64Layout { Wrapped, SingleLine };

// Decoder results beside a byte count.
inline constexpr std::int64_t kMalformed = -1;
inline constexpr std::int64_t kTooSmall = -2;

// Exact size of the base64 text of n bytes.
std::size_t mime64EncodedSize(std::size_t n, Mime64Layout layout);
// Room enough for the quoted-printable text of any n bytes.
std::size_t printableEncodedBound(std::size_t n);

struct Codec {
    const char *name;
    // Writes exactly mime64EncodedSize(n, layout) characters.
    void (*mime64Encode)(const std::uint8_t *in, std::size_t n, char *out, Mime64Layout layout);
    // Bytes written, kMalformed or kTooSmall; never writes at out[capacity] or beyond.
    std::int64_t (*mime64Decode)(const char *in, std::size_t n, std::uint8_t *out, std::size_t capacity);
    // out has room for printableEncodedBound(n); returns the characters written.
    std::size_t (*printableEncode)(const char *in, std::size_t n, char *out);
    // out has room for n; returns the bytes written.
    std::size_t (*printableDecode)(const char *in, std::size_t n, char *out);
};

const Codec &scalarCodec();
// nullptr where the build or the CPU lacks the instruction set.
const Codec *avx2Codec();
const Codec *avx512Codec();

// Every path this machine can run, the scalar one first.
std::vector<const Codec *> supportedCodecs();
// Chosen once on first use: DRAVOLIN_CODEC (scalar, avx2, avx512) if set and
// supported, otherwise the fastest the CPU offers.
const Codec &activeCodec();

} // namespace dravolin
