#pragma once
// The loops the wide paths share: each path hands in its own primitives
// (loads, masks, stores) and these drivers decide what goes through the wide
// blocks and what goes to the scalar building blocks. Internal linkage, as
// for those: every including file gets its own copy, compiled with its own
// instruction set, that the linker never lends to another path.

#include "scalar_kernels.h"

#include <algorithm>
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
//   kReadAhead           bytes past a block or line its loads may read;
//   encodeBlock(in, out) kBlockBytes bytes -> out[0..kBlockBytes / 3 * 4);
//   encodeLine(in, out)  57 bytes -> out[0..76), nothing stored beyond.
template <class Encoder> void mime64EncodeWide(const std::uint8_t *in, std::size_t n, char *out, Mime64Layout layout)
{
    constexpr std::size_t kBlockBytes = Encoder::kBlockBytes;
    const Encoder encoder {};
    if (layout == Mime64Layout::SingleLine) {
        for (; n >= kBlockBytes + Encoder::kReadAhead; n -= kBlockBytes, in += kBlockBytes, out += kBlockBytes / 3 * 4)
            encoder.encodeBlock(in, out);
    } else {
        for (; n >= kMime64BytesPerLine + Encoder::kReadAhead; n -= kMime64BytesPerLine, in += kMime64BytesPerLine) {
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
struct PrintableEncodeMasks {
    std::uint64_t cr;
    std::uint64_t lf;
    std::uint64_t plain; // may stand as itself when a byte that also may follows
    std::uint64_t blank; // space or tab
};

struct PrintableDecodeMasks {
    std::uint64_t equals;
    std::uint64_t blank; // space or tab
    std::uint64_t cr;
    std::uint64_t lf;
    std::uint64_t hex; // hex digit, either case
};

inline std::uint64_t firstBits(std::size_t count)
{
    return count >= 64 ? ~std::uint64_t { 0 } : (std::uint64_t { 1 } << count) - 1;
}

// Where hard line breaks start: an LF, or a CR before one. A CR in the last
// byte cannot tell and counts as none.
inline std::uint64_t lineBreakStarts(std::uint64_t cr, std::uint64_t lf)
{
    return lf | (cr & (lf >> 1));
}

// A line that goes on holds this many characters, then its soft break's '='.
inline constexpr std::size_t kOpenLine = kPrintableLineLength - 1;

// How many leading bytes, escaped where `escaped` says, fit in `room`
// columns, room < 128, when not all 64 do: the characters through each
// group of 8 summed in the bytes of one word, then the widening table's
// prefix ends inside the group the line's end falls in.
inline std::size_t bytesFitting(std::uint64_t escaped, std::size_t room)
{
    constexpr std::uint64_t kBytes = 0x0101010101010101ull;
    std::uint64_t count = escaped - (escaped >> 1 & 0x5555555555555555ull);
    count = (count & 0x3333333333333333ull) + (count >> 2 & 0x3333333333333333ull);
    count = (count + (count >> 4)) & 0x0F0F0F0F0F0F0F0Full; // escapes in each group
    const std::uint64_t through = (8 * kBytes + 2 * count) * kBytes; // at most 192 a byte: no carries
    // In 16-bit lanes, 256 + room - through keeps bit 8 where through <= room.
    constexpr std::uint64_t kLanes = 0x00FF00FF00FF00FFull, kBit8 = 0x0100010001000100ull;
    const std::uint64_t limit = room * 0x0001000100010001ull | kBit8;
    const std::size_t groups = smaller(
        7, setBits((limit - (through & kLanes)) & kBit8) + setBits((limit - (through >> 8 & kLanes)) & kBit8));
    const std::size_t left = room - ((through << 8) >> (8 * groups) & 0xFF);
    std::uint64_t ends = 0;
    std::memcpy(&ends, tables::kPrintableWidening[escaped >> (8 * groups) & 0xFF].ends.data(), sizeof ends);
    // Each byte of 0x80 + left - end keeps its top bit where end <= left
    // (left < 128 and end <= 24, so no byte borrows from the next).
    const std::uint64_t fits = ((0x80 + left) * kBytes - ends) & 0x8080808080808080ull;
    return 8 * groups + setBits(fits);
}

// What a block's bytes are to the encoder; bit i speaks of byte i.
struct PrintableBlockPlan {
    std::uint64_t escaped; // written as "=XY"
    std::uint64_t breaks; // the bytes of hard line breaks, copied
    std::uint64_t lineEnds; // the byte before a hard break: its line may reach the 76th column
};

// Reads in[0..66): the two bytes past the block tell whether byte 63 ends a
// line or starts a CR LF.
inline PrintableBlockPlan planPrintableEncode(const char *in, const PrintableEncodeMasks &m)
{
    const bool lfNext = in[64] == '\n';
    const bool breakNext = (lfNext && in[63] != '\r') || (in[64] == '\r' && in[65] == '\n');
    const std::uint64_t crLf = m.cr & (m.lf >> 1 | std::uint64_t { lfNext } << 63);
    const std::uint64_t breaks = m.lf | crLf;
    // A break starts at a CR before an LF or at an LF after no CR; an LF at
    // byte 0 after a CR counts as one, but only its byte -1 would end a line.
    const std::uint64_t starts = crLf | (m.lf & ~(m.cr << 1));
    const std::uint64_t lineEnds = starts >> 1 | std::uint64_t { breakNext } << 63;
    return { (~m.plain & ~breaks) | (m.blank & lineEnds), breaks, lineEnds };
}

// The characters of the first `count` bytes of a chunk, count < 64.
inline std::size_t chunkWidth(std::uint64_t escaped, std::size_t count)
{
    return count + 2 * setBits(escaped & ((std::uint64_t { 1 } << count) - 1));
}

template <class Block>
void printableEncodeChunk(const Block &block, const char *in, const PrintableBlockPlan &plan, std::size_t i,
                          std::size_t count, char *&out, PrintableEncodeState &state);

// The chunk's first line would pass its room: as many bytes as fit, then a
// soft break, then the rest, which fits a fresh line (16 bytes are at most
// 48 characters). The byte before a hard break may take the 76th column.
template <class Block>
void printableEncodeSplit(const Block &block, const char *in, const PrintableBlockPlan &plan, std::size_t i,
                          std::size_t count, char *&out, PrintableEncodeState &state)
{
    const std::uint64_t escaped = plan.escaped >> i & firstBits(count);
    const std::size_t take = bytesFitting(escaped, kOpenLine - state.column);
    const std::size_t lineEnd = i + take;
    block.widen16(in + i, escaped, out);
    if ((plan.lineEnds >> lineEnd & 1) != 0 && (plan.breaks >> i & firstBits(take + 1)) == 0
        && state.column + chunkWidth(escaped, take + 1) <= kPrintableLineLength) {
        // Only the byte before the break passed 75: the line ends at 76.
        out += chunkWidth(escaped, take + 1);
        state.column += chunkWidth(escaped, take + 1);
        if (take + 1 < count)
            printableEncodeChunk(block, in, plan, lineEnd + 1, count - take - 1, out, state);
        return;
    }
    out += chunkWidth(escaped, take);
    writeSoftBreak(out, state);
    if (take < count)
        printableEncodeChunk(block, in, plan, lineEnd, count - take, out, state);
}

// Bytes [i, i + count) of a block, count <= 16: widened whole; the column
// goes on from the last hard break, if any, and a line that would pass its
// room goes to the split.
template <class Block>
void printableEncodeChunk(const Block &block, const char *in, const PrintableBlockPlan &plan, std::size_t i,
                          std::size_t count, char *&out, PrintableEncodeState &state)
{
    const std::uint64_t chunk = (std::uint64_t { 1 } << count) - 1;
    const std::uint64_t escaped = plan.escaped >> i & chunk;
    const std::uint64_t breaks = plan.breaks >> i & chunk;
    const std::size_t head = chunkWidth(escaped, static_cast<std::size_t>(__builtin_ctzll(breaks | (chunk + 1))));
    if (head != 0 && state.column + head > kOpenLine) {
        printableEncodeSplit(block, in, plan, i, count, out, state);
        return;
    }
    block.widen16(in + i, escaped, out);
    const std::size_t width = chunkWidth(escaped, count);
    out += width;
    state.column = breaks == 0 ? state.column + width
                               : width - chunkWidth(escaped, 64 - static_cast<std::size_t>(__builtin_clzll(breaks)));
}

// Where the encoder stands between blocks: the next character's place and
// its column. Passed by value, so that stores through char * never make
// the compiler reload it.
struct PrintableCursor {
    char *out;
    std::size_t column;
};

// A block that takes several soft breaks (dense escapes, long lines): 16
// bytes at a time, splitting at each.
template <class Block>
[[gnu::noinline]] PrintableCursor printableEncodeDense(const Block &block, const char *in,
                                                       const PrintableBlockPlan &plan, PrintableCursor at,
                                                       bool lfSoftBreaks)
{
    PrintableEncodeState state { at.column, lfSoftBreaks };
    char *out = at.out;
    for (std::size_t i = 0; i < 64; i += 16)
        printableEncodeChunk(block, in, plan, i, 16, out, state);
    return { out, state.column };
}

// The bits from bit `from` on; none when from is 64.
inline std::uint64_t bitsFrom(std::uint64_t bits, std::size_t from)
{
    return from < 64 ? bits >> from : 0;
}

// The characters of bytes [from, to) of a block.
inline std::size_t spanWidth(std::uint64_t escaped, std::size_t from, std::size_t to)
{
    return to - from + 2 * setBits(bitsFrom(escaped, from) & firstBits(to - from));
}

inline constexpr std::size_t kNoSoftBreak = 64;
inline constexpr std::size_t kSoftBreaks = 65; // more than one

// Where the line held by bytes [from, to) of a block, begun at `column`,
// takes a soft break: kNoSoftBreak when it fits, kSoftBreaks when what
// follows the break does not fit one line either.
inline std::size_t softBreakIn(const PrintableBlockPlan &plan, std::size_t from, std::size_t to, std::size_t column)
{
    const std::size_t width = spanWidth(plan.escaped, from, to);
    if (width == 0 || column + width <= kOpenLine)
        return kNoSoftBreak;
    const std::size_t at = from + bytesFitting(bitsFrom(plan.escaped, from), kOpenLine - column);
    // The byte before a hard break may take the 76th column.
    if (at + 1 == to && (plan.lineEnds >> at & 1) != 0 && column + width <= kPrintableLineLength)
        return kNoSoftBreak;
    return spanWidth(plan.escaped, at, to) <= kOpenLine ? at : kSoftBreaks;
}

// Where a block, begun at `column`, takes its one soft break, if any; or
// kSoftBreaks. The lines between its first and last hard break are
// shorter than 76 characters together, or counted as needing breaks.
inline std::size_t printableSoftBreak(const PrintableBlockPlan &plan, std::size_t column)
{
    if (plan.escaped == 0) {
        // Plain text, a column a byte: only the first line may pass 75, the
        // others being shorter than the block. A block that opens with a
        // break may follow a line at 76.
        const std::size_t first = lowZeros(plan.breaks);
        if (first == 0 || column + first <= kOpenLine)
            return kNoSoftBreak;
        const std::size_t at = kOpenLine - column;
        return at + 1 == first && (plan.lineEnds >> at & 1) != 0 ? kNoSoftBreak : at;
    }
    if (plan.breaks == 0)
        return softBreakIn(plan, 0, 64, column);
    const std::size_t first = lowZeros(plan.breaks);
    const std::size_t afterLast = 64 - static_cast<std::size_t>(__builtin_clzll(plan.breaks));
    const std::size_t head = softBreakIn(plan, 0, first, column);
    const std::size_t tail = softBreakIn(plan, afterLast, 64, 0);
    if (spanWidth(plan.escaped, first, afterLast) > kOpenLine || (head != kNoSoftBreak && tail != kNoSoftBreak))
        return kSoftBreaks;
    return head != kNoSoftBreak ? head : tail;
}

// A block with at most one soft break, at `soft`: four chunks of 16, the
// one holding the soft break widened again from there, after the break.
template <class Block>
PrintableCursor printableEncodeFitted(const Block &block, const char *in, const PrintableBlockPlan &plan,
                                      std::size_t soft, PrintableCursor at, bool lfSoftBreaks)
{
    const std::size_t cut = soft >> 4; // the chunk holding the soft break; 4 when there is none
    char *out = at.out;
    if (plan.escaped == 0) {
        // Plain text: copied whole, then again from the soft break on, after
        // it (from the next block, as scratch, when there is none).
        PrintableEncodeState state { 0, lfSoftBreaks };
        std::memcpy(out, in, 64);
        char *rest = out + soft;
        writeSoftBreak(rest, state);
        rest = soft < 64 ? rest : out + 64;
        std::memcpy(rest, in + soft, 64);
        out = rest + 64 - soft;
    }
    for (std::size_t i = 0; i < 64 && plan.escaped != 0; i += 16) {
        const std::uint64_t escaped = plan.escaped >> i & 0xFFFF;
        block.widen16(in + i, escaped, out);
        if (i >> 4 != cut) {
            out += 16 + 2 * setBits(escaped);
            continue;
        }
        out += chunkWidth(escaped, soft - i);
        PrintableEncodeState state { 0, lfSoftBreaks };
        writeSoftBreak(out, state);
        const std::uint64_t rest = plan.escaped >> soft & firstBits(i + 16 - soft);
        block.widen16(in + soft, rest, out);
        out += i + 16 - soft + 2 * setBits(rest);
    }
    const std::size_t afterBreak = plan.breaks != 0 ? 64 - static_cast<std::size_t>(__builtin_clzll(plan.breaks)) : 0;
    const std::size_t lineStart = std::max(soft < 64 ? soft : 0, afterBreak);
    const bool goesOn = plan.breaks == 0 && soft == kNoSoftBreak;
    return { out, (goesOn ? at.column : 0) + spanWidth(plan.escaped, lineStart, 64) };
}

// How far ahead of its block the encoder asks for input: the hardware
// prefetcher alone leaves the loop waiting on memory.
inline constexpr std::size_t kEncodePrefetch = 2048;

// 64 bytes a block through the path's Block:
//   encodeMasks(in)           PrintableEncodeMasks of in[0..64);
//   widen16(in, escaped, out) in[0..16) -> out, each byte whose bit is set
//                             in `escaped` as "=XY", the others as
//                             themselves; writes out[0..64).
// The last 127 bytes go to the scalar step, so a block may read ahead.
template <class Block> std::size_t printableEncodeWide(const char *in, std::size_t n, char *out)
{
    const Block block {};
    char *const start = out;
    const char *const limit = out + printableEncodedBound(n);
    const bool lfSoftBreaks = printableUsesLf(in, n);
    PrintableCursor at { out, 0 };
    std::size_t pos = 0;
    for (; n - pos >= 128 && limit - at.out >= 320; pos += 64) {
        __builtin_prefetch(in + pos + kEncodePrefetch);
        const PrintableBlockPlan plan = planPrintableEncode(in + pos, block.encodeMasks(in + pos));
        const std::size_t soft = printableSoftBreak(plan, at.column);
        at = soft != kSoftBreaks ? printableEncodeFitted(block, in + pos, plan, soft, at, lfSoftBreaks)
                                 : printableEncodeDense(block, in + pos, plan, at, lfSoftBreaks);
    }
    PrintableEncodeState state { at.column, lfSoftBreaks };
    out = at.out;
    while (pos < n)
        pos = printableEncodeStep(in, n, pos, out, state);
    return static_cast<std::size_t>(out - start);
}

// The bytes of the blank run that ends just below bit `after`.
inline std::uint64_t blankRunBelow(std::uint64_t after, std::uint64_t blank)
{
    const std::uint64_t other = ~blank & (after - 1);
    const std::uint64_t first = other ? std::uint64_t { 1 } << (64 - __builtin_clzll(other)) : 1;
    return after - first;
}

struct PrintableDecodePlan {
    std::size_t run; // bytes decoded here; 0 hands the first to the scalar step
    std::uint64_t escapes; // '=' of "=XY": its value replaces the '='
    std::uint64_t kept; // bytes written, in order
};

// What the careful loop decodes of a block. "=XY", soft breaks, and blank
// runs before a hard break are whole in it; an '=' otherwise, and a blank
// run whose end the block cannot see, stop the run.
inline PrintableDecodePlan planPrintableDecode(const PrintableDecodeMasks &m)
{
    const std::uint64_t escapes = m.equals & (m.hex >> 1) & (m.hex >> 2) & firstBits(62);
    const std::uint64_t softCrLf = m.equals & (m.cr >> 1) & (m.lf >> 2) & firstBits(62);
    const std::uint64_t softLf = m.equals & (m.lf >> 1) & firstBits(63);
    std::uint64_t careful = m.equals & ~(escapes | softCrLf | softLf);
    std::uint64_t dropped
        = escapes << 1 | escapes << 2 | softCrLf | softCrLf << 1 | softCrLf << 2 | softLf | softLf << 1;
    if (m.blank != 0) {
        const std::uint64_t starts = m.blank & ~(m.blank << 1);
        // The byte after each run; a run reaching the last byte carries out.
        const std::uint64_t after = (m.blank + starts) & ~m.blank;
        for (std::uint64_t x = after & lineBreakStarts(m.cr, m.lf); x != 0; x &= x - 1)
            dropped |= blankRunBelow(x & (0 - x), m.blank);
        if (m.blank >> 63)
            careful |= std::uint64_t { 1 } << (63 - __builtin_clzll(starts));
        if ((after & m.cr) >> 63) {
            const std::uint64_t run = blankRunBelow(std::uint64_t { 1 } << 63, m.blank);
            careful |= run & (0 - run);
        }
    }
    const std::size_t run = lowZeros(careful);
    return { run, escapes, firstBits(run) & ~dropped };
}

// A block as the usual decoding sees it, from in[0..66); bit i speaks of
// in[i].
struct PrintableDecodeShape {
    std::uint64_t escapes; // "=XY"
    std::uint64_t softCrLf; // "=\r\n"
    std::uint64_t softLf; // "=\n"
    // An '=' none of these, a blank before CR or LF, a blank run going on
    // past the block: what the careful loop must see.
    std::uint64_t unusual;
};

// The shape from the block's masks and those of the bytes after it (only
// their two lowest bits count).
inline PrintableDecodeShape printableShapeBetween(const PrintableDecodeMasks &m, const PrintableDecodeMasks &next)
{
    const auto ahead
        = [](std::uint64_t bits, std::uint64_t nextBits, unsigned by) { return bits >> by | nextBits << (64 - by); };
    const std::uint64_t hexNext = ahead(m.hex, next.hex, 1), hexAfter = ahead(m.hex, next.hex, 2);
    const std::uint64_t crNext = ahead(m.cr, next.cr, 1), lfNext = ahead(m.lf, next.lf, 1);
    const std::uint64_t lfAfter = ahead(m.lf, next.lf, 2);
    const std::uint64_t escapes = m.equals & hexNext & hexAfter;
    const std::uint64_t softCrLf = m.equals & crNext & lfAfter;
    const std::uint64_t softLf = m.equals & lfNext;
    const std::uint64_t blankNext = ahead(m.blank, next.blank, 1);
    const std::uint64_t unusual
        = (m.equals & ~(escapes | softCrLf | softLf)) | (m.blank & (crNext | lfNext)) | (m.blank & blankNext) >> 63;
    return { escapes, softCrLf, softLf, unusual };
}

struct PrintableUsualPlan {
    std::uint64_t kept;
    std::uint64_t carry; // the next block's bytes taken by constructs here
};

// `carry` holds this block's bytes the one before took.
inline PrintableUsualPlan planPrintableUsual(const PrintableDecodeShape &shape, std::uint64_t carry)
{
    const std::uint64_t whole = shape.escapes | shape.softCrLf;
    const std::uint64_t soft = shape.softCrLf | shape.softLf;
    const std::uint64_t dropped = carry | shape.escapes << 1 | whole << 2 | soft | soft << 1;
    return { ~dropped, whole >> 62 | (whole | shape.softLf) >> 63 };
}

// 64 bytes a block through the path's Block:
//   decodeMasks(in)                  PrintableDecodeMasks of in[0..64);
//   copy64(out, in)                  in[0..64) -> out[0..64);
//   squeeze(in, escapes, kept, out)  the kept bytes of in[0..64) to out, in
//                                    order, each escape's value (from
//                                    in[i + 1], in[i + 2], which may be
//                                    in[64], in[65]) in place of its '=';
//                                    writes out[0..64). Every kept '=' is
//                                    one of `escapes`.

// How far ahead of the block in hand the decoding loops ask for input: at
// 64 MiB they otherwise wait for memory, which the hardware prefetcher
// alone does not hide. A prefetch past the input's end faults nowhere.
inline constexpr std::size_t kDecodePrefetch = 2048;

inline void prefetchInput(const char *at)
{
    __builtin_prefetch(at + kDecodePrefetch);
}

struct PrintableDecodeCursor {
    std::size_t pos;
    char *out;
};

// Decodes from `at` until it reaches `stop`: wide runs up to what a block
// cannot take, the scalar step for that.
template <class Block>
PrintableDecodeCursor printableDecodeCareful(const char *in, std::size_t stop, std::size_t n, PrintableDecodeCursor at)
{
    while (at.pos < stop) {
        prefetchInput(in + at.pos);
        const PrintableDecodePlan plan
            = n - at.pos >= 66 ? planPrintableDecode(Block::decodeMasks(in + at.pos)) : PrintableDecodePlan {};
        if (plan.run == 0) {
            at.pos = printableDecodeStep(in, n, at.pos, at.out);
            continue;
        }
        if (plan.kept == firstBits(plan.run)) {
            Block::copy64(at.out, in + at.pos);
            at.out += plan.run;
        } else {
            at.out += Block::squeeze(in + at.pos, plan.escapes, plan.kept, at.out);
        }
        at.pos += plan.run;
    }
    return at;
}

// Usual blocks whole, constructs running over their ends, up to an unusual
// one; the careful loop through that. A block's shape needs the masks of
// the block after it, which then serve that block in turn. The output stays
// behind the input, so a block's room is there.
template <class Block> std::size_t printableDecodeWide(const char *in, std::size_t n, char *out)
{
    char *const start = out;
    PrintableDecodeCursor at { 0, out };
    while (n - at.pos >= 66) {
        std::size_t pos = at.pos;
        char *to = at.out;
        std::uint64_t carry = 0;
        PrintableDecodeMasks masks = n - pos >= 128 ? Block::decodeMasks(in + pos) : PrintableDecodeMasks {};
        for (; n - pos >= 128; pos += 64) {
            prefetchInput(in + pos);
            const PrintableDecodeMasks next = Block::decodeMasks(in + pos + 64);
            const PrintableDecodeShape shape = printableShapeBetween(masks, next);
            if (shape.unusual != 0)
                break;
            const PrintableUsualPlan plan = planPrintableUsual(shape, carry);
            to += Block::squeeze(in + pos, shape.escapes, plan.kept, to);
            carry = plan.carry;
            masks = next;
        }
        at = printableDecodeCareful<Block>(in, smaller(n, pos + 64), n, { pos + setBits(carry), to });
    }
    return static_cast<std::size_t>(printableDecodeCareful<Block>(in, n, n, at).out - start);
}

} // namespace
} // namespace dravolin
