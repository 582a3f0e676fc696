#pragma once
// Runs a fast path's quoted-printable encoding step over two halves of the
// text at once: the steps of one line wait on each other, those of two
// independent halves need not, so the CPU overlaps them.

#include "scalar_kernels.h"

#include <cstring>

namespace dravolin {
namespace {

// One half of the text being encoded: in[0..n) into out, which may hold
// characters up to limit (exclusive).
struct PrintableEncodeStream {
    const char *in;
    std::size_t n;
    std::size_t pos;
    char *out;
    const char *limit;
    PrintableEncodeState state;
};

// Texts shorter than this are encoded in one piece.
inline constexpr std::size_t kPrintableSplitMinimum = 1u << 16;

// Step(stream) takes at least one token of a stream with pos < n. The
// halves meet right after a hard break, where the line starts fresh, so
// each encodes as it would within the whole. The second is encoded at the
// end of the room, then moved down behind the first: the first can never
// reach it, since a text's characters stay 3 short of printableEncodedBound
// and bounds add up at least as fast as texts.
template <typename Step>
std::size_t encodePrintableInHalves(const char *in, std::size_t n, char *out, bool lfSoftBreaks, Step step)
{
    const char *const roomEnd = out + printableEncodedBound(n);
    std::size_t split = n;
    if (n >= kPrintableSplitMinimum) {
        if (const void *lf = std::memchr(in + n / 2, '\n', n - n / 2))
            split = static_cast<std::size_t>(static_cast<const char *>(lf) - in) + 1;
    }
    const std::size_t secondRoom = printableEncodedBound(n - split);
    char *const secondStart = out + (printableEncodedBound(n) - secondRoom);
    if (split == n || printableEncodedBound(split) - 3 > static_cast<std::size_t>(secondStart - out)) {
        PrintableEncodeStream whole{in, n, 0, out, roomEnd, {0, lfSoftBreaks}};
        while (whole.pos < whole.n)
            step(whole);
        return static_cast<std::size_t>(whole.out - out);
    }
    PrintableEncodeStream first{in, split, 0, out, secondStart, {0, lfSoftBreaks}};
    PrintableEncodeStream second{in + split, n - split, 0, secondStart, roomEnd, {0, lfSoftBreaks}};
    while (first.pos < first.n && second.pos < second.n) {
        step(first);
        step(second);
    }
    while (first.pos < first.n)
        step(first);
    while (second.pos < second.n)
        step(second);
    const auto firstLength = static_cast<std::size_t>(first.out - out);
    const auto secondLength = static_cast<std::size_t>(second.out - secondStart);
    std::memmove(out + firstLength, secondStart, secondLength);
    return firstLength + secondLength;
}

} // namespace
} // namespace dravolin
