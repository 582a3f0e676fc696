#pragma once
// The scalar building blocks: the whole reference path is made of them, and
// the fast paths call them wherever their wide blocks stop. They have
// internal linkage so a file compiled with wider instruction sets never
// lends its copy to the scalar path.

#include "codec.h"
#include "tables.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dravolin {
namespace {

using tables::kBase64Invalid;

// ---- Mime64 -------------------------------------------------------------

// Encodes whole 3-byte groups: n must be a multiple of 3.
inline void mime64EncodeGroups(const std::uint8_t *in, std::size_t n, char *out)
{
    const auto &alphabet = tables::kBase64Alphabet;
    for (std::size_t i = 0; i < n; i += 3, out += 4) {
        const std::uint32_t group = (std::uint32_t { in[i] } << 16) | (std::uint32_t { in[i + 1] } << 8) | in[i + 2];
        out[0] = alphabet[(group >> 18) & 63];
        out[1] = alphabet[(group >> 12) & 63];
        out[2] = alphabet[(group >> 6) & 63];
        out[3] = alphabet[group & 63];
    }
}

// Encodes the last 1 or 2 bytes with padding; 0 bytes write nothing.
inline void mime64EncodeTail(const std::uint8_t *in, std::size_t n, char *out)
{
    if (n == 0)
        return;
    const auto &alphabet = tables::kBase64Alphabet;
    const std::uint32_t group = (std::uint32_t { in[0] } << 16) | (n > 1 ? std::uint32_t { in[1] } << 8 : 0);
    out[0] = alphabet[(group >> 18) & 63];
    out[1] = alphabet[(group >> 12) & 63];
    out[2] = n > 1 ? alphabet[(group >> 6) & 63] : '=';
    out[3] = '=';
}

// Input bytes per full 76-character line.
inline constexpr std::size_t kMime64BytesPerLine = kMime64LineLength / 4 * 3;

// Encodes the bytes from the start of a line to the end: in[0..n) becomes
// whole lines (and a last partial one), each followed by CR LF when wrapped.
inline void mime64EncodeLines(const std::uint8_t *in, std::size_t n, char *out, Mime64Layout layout)
{
    if (layout == Mime64Layout::SingleLine) {
        const std::size_t whole = n / 3 * 3;
        mime64EncodeGroups(in, whole, out);
        mime64EncodeTail(in + whole, n - whole, out + whole / 3 * 4);
        return;
    }
    while (n > 0) {
        const std::size_t lineBytes = n < kMime64BytesPerLine ? n : kMime64BytesPerLine;
        const std::size_t whole = lineBytes / 3 * 3;
        mime64EncodeGroups(in, whole, out);
        out += whole / 3 * 4;
        if (whole != lineBytes) {
            mime64EncodeTail(in + whole, lineBytes - whole, out);
            out += 4;
        }
        *out++ = '\r';
        *out++ = '\n';
        in += lineBytes;
        n -= lineBytes;
    }
}

inline bool isMime64Blank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where the data starts: past a leading UTF-8 byte-order mark, if any.
inline std::size_t mime64DataStart(const char *in, std::size_t n)
{
    return n >= 3 && static_cast<unsigned char>(in[0]) == 0xEF && static_cast<unsigned char>(in[1]) == 0xBB
            && static_cast<unsigned char>(in[2]) == 0xBF
        ? 3
        : 0;
}

// Decodes in[pos..n), starting at a group boundary with `written` bytes
// already in out. Runs of whole groups go through the table fast loop; the
// careful loop takes blanks, padding, errors and the last bytes before
// capacity. Every byte past capacity is counted but never written.
inline std::int64_t mime64DecodeFrom(const char *in, std::size_t n, std::size_t pos, std::uint8_t *out,
                                     std::size_t capacity, std::size_t written)
{
    const auto *text = reinterpret_cast<const unsigned char *>(in);
    std::uint32_t group = 0; // values gathered so far, each at its 6-bit place
    int inGroup = 0; // characters gathered in the current group
    int padding = 0;
    while (pos < n) {
        if (inGroup == 0 && padding == 0) {
            while (pos + 4 <= n && written + 3 <= capacity) {
                const std::uint32_t quad = tables::kBase64Decode0[text[pos]] | tables::kBase64Decode1[text[pos + 1]]
                    | tables::kBase64Decode2[text[pos + 2]] | tables::kBase64Decode3[text[pos + 3]];
                if (quad & kBase64Invalid)
                    break;
                out[written] = static_cast<std::uint8_t>(quad >> 16);
                out[written + 1] = static_cast<std::uint8_t>(quad >> 8);
                out[written + 2] = static_cast<std::uint8_t>(quad);
                written += 3;
                pos += 4;
            }
            if (pos >= n)
                break;
        }
        const unsigned char c = text[pos++];
        const std::uint32_t value = tables::kBase64Decode3[c];
        if (value != kBase64Invalid) {
            if (padding > 0)
                return kMalformed; // data after the padding
            group |= value << (18 - 6 * inGroup);
            if (++inGroup == 4) {
                for (int shift = 16; shift >= 0; shift -= 8, ++written)
                    if (written < capacity)
                        out[written] = static_cast<std::uint8_t>(group >> shift);
                group = 0;
                inGroup = 0;
            }
        } else if (c == '=') {
            if (inGroup < 2 || inGroup + ++padding > 4)
                return kMalformed;
        } else if (!isMime64Blank(c)) {
            return kMalformed;
        }
    }
    if (inGroup == 1)
        return kMalformed;
    for (int i = 1, shift = 16; i < inGroup; ++i, shift -= 8, ++written)
        if (written < capacity)
            out[written] = static_cast<std::uint8_t>(group >> shift);
    return written > capacity ? kTooSmall : static_cast<std::int64_t>(written);
}

// ---- Printable ----------------------------------------------------------

struct PrintableEncodeState {
    std::size_t column = 0; // characters on the current output line
    bool lfSoftBreaks = false; // soft breaks end in LF rather than CR LF
};

// Soft breaks follow the text's own line ending: LF when its first line
// break is a lone LF, CR LF otherwise.
inline bool printableUsesLf(const char *in, std::size_t n)
{
    const auto *lf = n > 0 ? static_cast<const char *>(std::memchr(in, '\n', n)) : nullptr;
    return lf && (lf == in || lf[-1] != '\r');
}

inline void writeEscape(char *&out, unsigned char c)
{
    out[0] = '=';
    out[1] = tables::kHexDigits[c >> 4];
    out[2] = tables::kHexDigits[c & 15];
    out += 3;
}

inline void writeSoftBreak(char *&out, PrintableEncodeState &state)
{
    *out++ = '=';
    if (!state.lfSoftBreaks)
        *out++ = '\r';
    *out++ = '\n';
    state.column = 0;
}

// A hard line break at in[pos]: its length (2 for CR LF, 1 for LF) or 0.
inline std::size_t printableLineBreakAt(const char *in, std::size_t n, std::size_t pos)
{
    if (pos >= n)
        return 0;
    if (in[pos] == '\n')
        return 1;
    return in[pos] == '\r' && pos + 1 < n && in[pos + 1] == '\n' ? 2 : 0;
}

// Encodes the token at in[pos] (one byte, or one hard line break), with the
// soft break it may need before it; returns the position after it.
inline std::size_t printableEncodeStep(const char *in, std::size_t n, std::size_t pos, char *&out,
                                       PrintableEncodeState &state)
{
    if (const std::size_t hardBreak = printableLineBreakAt(in, n, pos)) {
        for (std::size_t i = 0; i < hardBreak; ++i)
            *out++ = in[pos + i];
        state.column = 0;
        return pos + hardBreak;
    }
    const auto c = static_cast<unsigned char>(in[pos]);
    const bool lineEndsAfter = pos + 1 == n || printableLineBreakAt(in, n, pos + 1) != 0;
    const bool literal = tables::kPrintableLiteral[c] || ((c == ' ' || c == '\t') && !lineEndsAfter);
    const std::size_t width = literal ? 1 : 3;
    // A line that goes on needs room for its soft break's '='.
    const std::size_t room = lineEndsAfter ? kPrintableLineLength : kPrintableLineLength - 1;
    if (state.column + width > room)
        writeSoftBreak(out, state);
    if (literal)
        *out++ = static_cast<char>(c);
    else
        writeEscape(out, c);
    state.column += width;
    return pos + 1;
}

inline bool isPrintableBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Decodes the construct at in[pos]: an '=' sequence, a run of blanks, or one
// other byte; returns the position after it.
inline std::size_t printableDecodeStep(const char *in, std::size_t n, std::size_t pos, char *&out)
{
    const char c = in[pos];
    if (c == '=') {
        if (pos + 2 < n) {
            const std::uint8_t high = tables::kHexValue[static_cast<unsigned char>(in[pos + 1])];
            const std::uint8_t low = tables::kHexValue[static_cast<unsigned char>(in[pos + 2])];
            if ((high | low) < 16) {
                *out++ = static_cast<char>((high << 4) | low);
                return pos + 3;
            }
        }
        std::size_t next = pos + 1;
        while (next < n && isPrintableBlank(in[next]))
            ++next;
        if (next == n)
            return n; // a soft break at the very end
        if (const std::size_t hardBreak = printableLineBreakAt(in, n, next))
            return next + hardBreak;
        *out++ = '='; // not ours to read: it stands as itself
        return pos + 1;
    }
    if (isPrintableBlank(c)) {
        std::size_t next = pos + 1;
        while (next < n && isPrintableBlank(in[next]))
            ++next;
        if (next != n && printableLineBreakAt(in, n, next) == 0)
            for (std::size_t i = pos; i < next; ++i)
                *out++ = in[i];
        return next;
    }
    *out++ = c;
    return pos + 1;
}

} // namespace
} // namespace dravolin
