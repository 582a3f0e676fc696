// The AVX2 path: base64 24 bytes to 32 characters a step through nibble
// lookups and multiplies; quoted-printable copies the bytes that stand as
// themselves 32 at a time. Whatever the wide blocks do not take goes to the
// scalar building blocks, so the answers stay theirs.

#include "scalar_kernels.h"

#include <immintrin.h>

#include <cstring>

namespace dravolin {
namespace {

// Bit counts through builtins: the std:: ones would be emitted out of line
// in unoptimised builds, compiled with this file's instruction set, where
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

inline __m256i loadBytes(const void *in)
{
    return _mm256_loadu_si256(static_cast<const __m256i *>(in));
}

inline void storeBytes(void *out, __m256i v)
{
    _mm256_storeu_si256(static_cast<__m256i *>(out), v);
}

// 24 bytes -> 32 characters, reading in[0..24) only: the high lane loads
// from in + 8, so its groups start 4 bytes in.
inline __m256i mime64Encode24(const std::uint8_t *in)
{
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 8));
    __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    // Each group b0 b1 b2 becomes b1 b0 b2 b1: two 16-bit words holding the
    // four 6-bit fields at bits 10, 4 (first) and 6, 0 (second).
    v = _mm256_shuffle_epi8(v, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, //
                                                5, 4, 6, 5, 8, 7, 9, 8, 11, 10, 12, 11, 14, 13, 15, 14));
    // Fields 1 and 3 shifted down into bytes 0 and 2, fields 2 and 4 up
    // into bytes 1 and 3.
    const __m256i fields13 = _mm256_mulhi_epu16(_mm256_and_si256(v, _mm256_set1_epi32(0x0fc0fc00)),
                                                _mm256_set1_epi32(0x04000040));
    const __m256i fields24 = _mm256_mullo_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x003f03f0)),
                                                _mm256_set1_epi32(0x01000010));
    const __m256i values = _mm256_or_si256(fields13, fields24);
    // Value -> character as value plus an offset chosen by its range: 0..25
    // take slot 13, 26..51 slot 0, 52..63 slots 1..12.
    __m256i slot = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
    slot = _mm256_or_si256(slot, _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_set1_epi8(26), values),
                                                  _mm256_set1_epi8(13)));
    const __m256i offsets = _mm256_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0, //
                                             71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
    return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, slot));
}

void encodeMime64(const std::uint8_t *in, std::size_t n, char *out, Mime64Layout layout)
{
    if (layout == Mime64Layout::SingleLine) {
        for (; n >= 24; n -= 24, in += 24, out += 32)
            storeBytes(out, mime64Encode24(in));
    } else {
        // A line is 57 bytes: bytes 0, 24 and 33 start the characters 0, 32
        // and 44; the last two overlap on equal values.
        for (; n >= kMime64BytesPerLine; n -= kMime64BytesPerLine, in += kMime64BytesPerLine) {
            storeBytes(out, mime64Encode24(in));
            storeBytes(out + 32, mime64Encode24(in + 24));
            storeBytes(out + 44, mime64Encode24(in + 33));
            out[76] = '\r';
            out[77] = '\n';
            out += kMime64LineLength + 2;
        }
    }
    // What is left starts a line and a group.
    mime64EncodeLines(in, n, out, layout);
}

struct Mime64Decoder {
    // A character is bad when the bit sets of its low and high nibble meet.
    // Bit 0: high nibbles 0, 1, 8..15; bit 1: '+' '/' row; bit 2: digits
    // row; bit 3: rows 4 and 6 (lower bound); bit 4: rows 5 and 7.
    __m256i badLow = _mm256_setr_epi8(0x0B, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x07, 0x15, 0x17,
                                      0x17, 0x17, 0x15, //
                                      0x0B, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x07, 0x15, 0x17,
                                      0x17, 0x17, 0x15);
    __m256i badHigh = _mm256_setr_epi8(0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x08, 0x10, 0x01, 0x01, 0x01, 0x01, 0x01,
                                       0x01, 0x01, 0x01, //
                                       0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x08, 0x10, 0x01, 0x01, 0x01, 0x01, 0x01,
                                       0x01, 0x01, 0x01);
    // Character -> value as character plus an offset chosen by the high
    // nibble; '/' borrows slot 1.
    __m256i offsets = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, //
                                       0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);

    // 32 characters -> their 6-bit values; bad gains a non-zero byte for
    // every character outside the alphabet.
    __m256i values(const char *in, __m256i &bad) const
    {
        const __m256i chars = loadBytes(in);
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), nibble);
        const __m256i low = _mm256_and_si256(chars, nibble);
        bad = _mm256_or_si256(bad, _mm256_and_si256(_mm256_shuffle_epi8(badLow, low),
                                                    _mm256_shuffle_epi8(badHigh, high)));
        const __m256i slash = _mm256_cmpeq_epi8(chars, _mm256_set1_epi8('/'));
        return _mm256_add_epi8(chars, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(high, slash)));
    }

    // 32 values -> 24 bytes in the low 24 bytes.
    static __m256i pack(__m256i v)
    {
        const __m256i pairs = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x01400140));
        const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        // Each group's three bytes, first byte first, packed in its lane.
        const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, //
                                               2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
        const __m256i lanes = _mm256_shuffle_epi8(groups, order);
        return _mm256_permutevar8x32_epi32(lanes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
    }

    // Stores 32 bytes of which the last 8 are scratch for the next store.
    static void storeWide(std::uint8_t *out, __m256i v) { storeBytes(out, pack(v)); }

    // Stores exactly 24 bytes.
    static void storeExact(std::uint8_t *out, __m256i v)
    {
        const __m256i bytes = pack(v);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(bytes));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16), _mm256_extracti128_si256(bytes, 1));
    }
};

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

std::int64_t decodeMime64(const char *in, std::size_t n, std::uint8_t *out, std::size_t capacity)
{
    const Mime64Decoder decoder;
    std::size_t pos = mime64DataStart(in, n);
    std::size_t written = 0;
    // Whole lines of 76 characters and their break, or 64 characters with no
    // blank among them; anything else (padding, other blanks, a bad
    // character, the last bytes before capacity) from a group boundary on is
    // the scalar decoder's, which then also decides malformed or too small.
    // Every store stays inside the bytes the step owns.
    for (;;) {
        const std::size_t remaining = n - pos;
        const std::size_t room = capacity - written;
        if (room >= kMime64BytesPerLine) {
            if (const std::size_t lineBreak = canonicalLineBreak(in + pos, remaining)) {
                __m256i bad = _mm256_setzero_si256();
                const __m256i first = decoder.values(in + pos, bad);
                const __m256i second = decoder.values(in + pos + 32, bad);
                const __m256i third = decoder.values(in + pos + 44, bad);
                if (!_mm256_testz_si256(bad, bad))
                    break;
                decoder.storeWide(out + written, first);
                decoder.storeWide(out + written + 24, second);
                decoder.storeExact(out + written + 33, third);
                pos += kMime64LineLength + lineBreak;
                written += kMime64BytesPerLine;
                continue;
            }
        }
        if (room >= 48 && remaining >= 64) {
            __m256i bad = _mm256_setzero_si256();
            const __m256i first = decoder.values(in + pos, bad);
            const __m256i second = decoder.values(in + pos + 32, bad);
            if (!_mm256_testz_si256(bad, bad))
                break;
            decoder.storeWide(out + written, first);
            decoder.storeExact(out + written + 24, second);
            pos += 64;
            written += 48;
            continue;
        }
        break;
    }
    return mime64DecodeFrom(in, n, pos, out, capacity, written);
}

inline std::uint32_t byteMask(__m256i v)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

// Bytes a quoted-printable text may hold as themselves when a byte that
// also may follows: 33..126 but '=', and the blanks.
inline std::uint32_t printablePlain(__m256i v)
{
    // 32..126 is where v - 32 (as signed) lies in 0..94.
    const __m256i shifted = _mm256_sub_epi8(v, _mm256_set1_epi8(32));
    const __m256i outside =
        _mm256_or_si256(_mm256_cmpgt_epi8(_mm256_setzero_si256(), shifted),
                        _mm256_cmpgt_epi8(shifted, _mm256_set1_epi8(126 - 32)));
    const __m256i careful = _mm256_or_si256(outside, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('=')));
    return ~byteMask(careful) | byteMask(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\t')));
}

void emitSoftBreak(char *&out, PrintableEncodeState &state)
{
    *out++ = '=';
    if (!state.lfSoftBreaks)
        *out++ = '\r';
    *out++ = '\n';
    state.column = 0;
}

std::size_t encodePrintable(const char *in, std::size_t n, char *out)
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
        // A line's end, the byte before it and a byte to escape are the
        // scalar step's, as are the last bytes: no block for them.
        const auto c = static_cast<unsigned char>(in[pos]);
        if (n - pos < 32 || !(tables::kPrintableLiteral[c] || c == ' ' || c == '\t') || in[pos + 1] == '\r' ||
            in[pos + 1] == '\n') {
            pos = printableEncodeStep(in, n, pos, out, state);
            continue;
        }
        const __m256i v = loadBytes(in + pos);
        const std::uint32_t lineEnd = byteMask(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')),
                                                               _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'))));
        // A plain byte is itself when a byte that ends no line follows it
        // (the last byte loaded cannot tell); a soft break comes first once
        // the line is full.
        const std::uint32_t copyable = printablePlain(v) & ~(lineEnd >> 1) & 0x7FFFFFFFu;
        const auto run = lowOnes(copyable);
        if (run == 0) {
            pos = printableEncodeStep(in, n, pos, out, state);
            continue;
        }
        for (std::size_t left = run; left > 0;) {
            if (state.column >= kOpenLine)
                emitSoftBreak(out, state);
            const std::size_t take = smaller(left, kOpenLine - state.column);
            if (pos + 32 <= n && out + 32 <= limit)
                storeBytes(out, loadBytes(in + pos));
            else
                std::memcpy(out, in + pos, take);
            out += take;
            pos += take;
            state.column += take;
            left -= take;
        }
    }
    return static_cast<std::size_t>(out - start);
}

std::size_t decodePrintable(const char *in, std::size_t n, char *out)
{
    char *const start = out;
    std::size_t pos = 0;
    while (pos < n) {
        // An escape needs the step anyway: no block for it.
        if (n - pos < 32 || in[pos] == '=') {
            pos = printableDecodeStep(in, n, pos, out);
            continue;
        }
        const __m256i v = loadBytes(in + pos);
        const std::uint32_t blank = byteMask(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')),
                                                             _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\t'))));
        const std::uint32_t lineEnd = byteMask(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')),
                                                               _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'))));
        // A blank is itself when a byte that is neither blank nor line end
        // follows; the last byte loaded cannot tell, so it is asked.
        const std::uint32_t unknownNext = (blank | lineEnd) >> 1 | 0x80000000u;
        const std::uint32_t careful =
            byteMask(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('='))) | (blank & unknownNext);
        if (careful & 1) {
            pos = printableDecodeStep(in, n, pos, out);
            continue;
        }
        // Decoding never outgrows its input, so a whole block stored at out
        // stays inside the room of n bytes.
        const auto run = careful ? lowZeros(careful) : 32;
        storeBytes(out, v);
        out += run;
        pos += run;
    }
    return static_cast<std::size_t>(out - start);
}

} // namespace

const Codec &avx2PathCodec()
{
    static const Codec codec{"avx2", encodeMime64, decodeMime64, encodePrintable, decodePrintable};
    return codec;
}

} // namespace dravolin
