#pragma once
// The loops the wide paths share: each path hands in its own primitives
// (loads, masks, stores) and these drivers decide what goes through the wide
// blocks and what goes to the scalar building blocks. Internal linkage, as
// for those: every including file gets its own copy, compiled with its own
// instruction set, that the linker never lends to another path.

#include "scalar_kernels.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dravolin {
namespace {

// Bit counts through builtins: the std:: ones would be emitted out of line
// in unoptimised builds, compiled with a wide path's instruction set, where
// the linker may hand them to code that runs on any CPU.
inline std::size_t lowZeros(std::uint64_t bits)
{
    return bits ? static_cast<std::size_t>(__builtin_ctzll(bits)) : 64;
}

inline std::size_t lowOnes(std::uint64_t bits)
{
    return lowZeros(~bits);
}

inline std::size_t setBits(std::uint64_t bits)
{
    return static_cast<std::size_t>(__builtin_popcountll(bits));
}

inline std::size_t smaller(std::size_t a, std::size_t b)
{
    return a < b ? a : b;
}

// ---- Mime64 -------------------------------------------------------------

// Whole blocks and lines go through the path's Encoder:
//   kBlockBytes          input bytes of one single-line block;
//   encodeBlock(in, out) kBlockBytes bytes -> out[0..kBlockBytes / 3 * 4);
//   encodeLine(in, out)  57 bytes -> out[0..76), nothing stored beyond.
template <class Encoder> void mime64EncodeWide(const std::uint8_t *in, std::size_t n, char *out, Mime64Layout layout)
{
    constexpr std::size_t kBlockBytes = Encoder::kBlockBytes;
    const Encoder encoder {};
    if (layout == Mime64Layout::SingleLine) {
        for (; n >= kBlockBytes; n -= kBlockBytes, in += kBlockBytes, out += kBlockBytes / 3 * 4)
            encoder.encodeBlock(in, out);
    } else {
        for (; n >= kMime64BytesPerLine; n -= kMime64BytesPerLine, in += kMime64BytesPerLine) {
            encoder.encodeLine(in, out);
            out[76] = '\r';
            out[77] = '\n';
            out += kMime64LineLength + 2;
        }
    }
    // What is left starts a line and a group.
    mime64EncodeLines(in, n, out, layout);
}

// The length of the line break after 76 characters, if the canonical
// layout goes on here: 2 for CR LF, 1 for LF, 0 otherwise.
inline std::size_t canonicalLineBreak(const char *in, std::size_t remaining)
{
    if (remaining >= kMime64LineLength + 2 && in[kMime64LineLength] == '\r' && in[kMime64LineLength + 1] == '\n')
        return 2;
    if (remaining >= kMime64LineLength + 1 && in[kMime64LineLength] == '\n')
        return 1;
    return 0;
}

// Whole lines and blocks go through the path's Decoder, which stores
// nothing and answers false when a character is outside the alphabet:
//   decodeLine(in, out)  76 characters -> out[0..57), nothing stored beyond;
//   decodeBlock(in, out) 64 characters -> out[0..48), nothing stored beyond.
template <class Decoder>
std::int64_t mime64DecodeWide(const char *in, std::size_t n, std::uint8_t *out, std::size_t capacity)
{
    const Decoder decoder {};
    std::size_t pos = mime64DataStart(in, n);
    std::size_t written = 0;
    // Whole lines of 76 characters and their break, or 64 characters with no
    // blank among them; anything else (padding, other blanks, a bad
    // character, the last bytes before capacity) from a group boundary on is
    // the scalar decoder's, which then also decides malformed or too small.
    for (;;) {
        const std::size_t remaining = n - pos;
        const std::size_t room = capacity - written;
        if (room >= kMime64BytesPerLine) {
            if (const std::size_t lineBreak = canonicalLineBreak(in + pos, remaining)) {
                if (!decoder.decodeLine(in + pos, out + written))
                    break;
                pos += kMime64LineLength + lineBreak;
                written += kMime64BytesPerLine;
                continue;
            }
        }
        if (room >= 48 && remaining >= 64) {
            if (!decoder.decodeBlock(in + pos, out + written))
                break;
            pos += 64;
            written += 48;
            continue;
        }
        break;
    }
    return mime64DecodeFrom(in, n, pos, out, capacity, written);
}

// ---- Printable ----------------------------------------------------------

// Bit i speaks of byte i of a 64-byte block.
struct PrintableMasks {
    std::uint64_t lineEnd; // CR or LF
    std::uint64_t plain; // may stand as itself when a byte that also may follows
};

inline void emitSoftBreak(char *&out, PrintableEncodeState &state)
{
    *out++ = '=';
    if (!state.lfSoftBreaks)
        *out++ = '\r';
    *out++ = '\n';
    state.column = 0;
}

// 64 bytes a block through the path's Block:
//   masks(in)       PrintableMasks of in[0..64);
//   copy64(out, in) in[0..64) -> out[0..64).
template <class Block> std::size_t printableEncodeWide(const char *in, std::size_t n, char *out)
{
    char *const start = out;
    // Copies may store a whole block while the text's room allows.
    const char *const limit = out + printableEncodedBound(n);
    PrintableEncodeState state;
    const void *firstLf = n > 0 ? std::memchr(in, '\n', n) : nullptr;
    state.lfSoftBreaks = firstLf && printableUsesLf(in, static_cast<const char *>(firstLf) - in + 1);
    // Longest a line may grow while a byte follows on it.
    constexpr std::size_t kOpenLine = kPrintableLineLength - 1;
    std::size_t pos = 0;
    while (pos < n) {
        // A line's end and the byte before it are the scalar step's, as are
        // the last bytes: no block for them.
        if (n - pos < 64 || in[pos] == '\r' || in[pos] == '\n' || in[pos + 1] == '\r' || in[pos + 1] == '\n') {
            pos = printableEncodeStep(in, n, pos, out, state);
            continue;
        }
        const PrintableMasks masks = Block::masks(in + pos);
        // Bytes that neither end a line nor stand before a line end (the
        // last byte loaded cannot tell) take the plain rule: themselves or
        // "=XY", a soft break first once the line is full.
        const std::uint64_t open = ~masks.lineEnd & ~(masks.lineEnd >> 1) & 0x7FFFFFFFFFFFFFFFull;
        const std::size_t run = lowOnes(open);
        const std::uint64_t escaped = ~masks.plain & ((std::uint64_t { 1 } << run) - 1);
        const std::size_t width = run + 2 * setBits(escaped);
        if (state.column + width <= kOpenLine && out + width + 64 <= limit && pos + 128 <= n) {
            // The whole run fits on the line: copy the literals between the
            // escapes 64 bytes at a time (the excess is overwritten next),
            // with no soft break to watch for.
            std::size_t i = 0;
            for (std::uint64_t left = escaped; left != 0; left &= left - 1) {
                const std::size_t at = lowZeros(left);
                Block::copy64(out, in + pos + i);
                out += at - i;
                const auto c = static_cast<unsigned char>(in[pos + at]);
                out[0] = '=';
                out[1] = tables::kHexDigits[c >> 4];
                out[2] = tables::kHexDigits[c & 15];
                out += 3;
                i = at + 1;
            }
            Block::copy64(out, in + pos + i);
            out += run - i;
            state.column += width;
        } else {
            for (std::size_t i = 0; i < run;) {
                // Bytes standing as themselves up to the next escape.
                const std::size_t literalEnd = smaller(i + lowZeros(escaped >> i), run);
                while (i < literalEnd) {
                    if (state.column >= kOpenLine)
                        emitSoftBreak(out, state);
                    const std::size_t take = smaller(literalEnd - i, kOpenLine - state.column);
                    if (out + 64 <= limit && pos + i + 64 <= n) {
                        Block::copy64(out, in + pos + i);
                    } else {
                        std::memcpy(out, in + pos + i, take);
                    }
                    out += take;
                    i += take;
                    state.column += take;
                }
                if (i < run) {
                    if (state.column + 3 > kOpenLine)
                        emitSoftBreak(out, state);
                    const auto c = static_cast<unsigned char>(in[pos + i]);
                    out[0] = '=';
                    out[1] = tables::kHexDigits[c >> 4];
                    out[2] = tables::kHexDigits[c & 15];
                    out += 3;
                    state.column += 3;
                    ++i;
                }
            }
        }
        pos += run;
        // A run stops before the last byte loaded or before the byte ahead
        // of a line end; that byte and the line end (both loaded) are the
        // scalar step's, with no need to look at the next block first.
        if (run < 63) {
            pos = printableEncodeStep(in, n, pos, out, state);
            pos = printableEncodeStep(in, n, pos, out, state);
        }
    }
    return static_cast<std::size_t>(out - start);
}

} // namespace
} // namespace dravolin
