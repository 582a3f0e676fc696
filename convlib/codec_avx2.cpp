// The AVX2 path: base64 24 bytes to 32 characters a step through nibble
// lookups and multiplies; quoted-printable encodes 64 bytes a step, each 8
// widened by one shuffle from a table row their escape mask picks, and
// decodes 64 a step, escapes squeezed in by table shuffles, 16 bytes a
// store. Whatever the
// wide blocks do not take goes to the scalar building blocks, so the
// answers stay theirs.

#include "codec_paths.h"
#include "simd_drivers.h"

#include <immintrin.h>

#include <array>
#include <cstring>

namespace dravolin {
namespace {

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
    v = _mm256_shuffle_epi8(v,
                            _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, //
                                             5, 4, 6, 5, 8, 7, 9, 8, 11, 10, 12, 11, 14, 13, 15, 14));
    // Fields 1 and 3 shifted down into bytes 0 and 2, fields 2 and 4 up
    // into bytes 1 and 3.
    const __m256i fields13
        = _mm256_mulhi_epu16(_mm256_and_si256(v, _mm256_set1_epi32(0x0fc0fc00)), _mm256_set1_epi32(0x04000040));
    const __m256i fields24
        = _mm256_mullo_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x003f03f0)), _mm256_set1_epi32(0x01000010));
    const __m256i values = _mm256_or_si256(fields13, fields24);
    // Value -> character as value plus an offset chosen by its range: 0..25
    // take slot 13, 26..51 slot 0, 52..63 slots 1..12.
    __m256i slot = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
    slot = _mm256_or_si256(slot,
                           _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_set1_epi8(26), values), _mm256_set1_epi8(13)));
    const __m256i offsets = _mm256_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0, //
                                             71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
    return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, slot));
}

struct Mime64Encoder {
    static constexpr std::size_t kBlockBytes = 24;
    static constexpr std::size_t kReadAhead = 0;

    static void encodeBlock(const std::uint8_t *in, char *out) { storeBytes(out, mime64Encode24(in)); }

    // A line is 57 bytes: bytes 0, 24 and 33 start the characters 0, 32 and
    // 44; the last two overlap on equal values.
    static void encodeLine(const std::uint8_t *in, char *out)
    {
        storeBytes(out, mime64Encode24(in));
        storeBytes(out + 32, mime64Encode24(in + 24));
        storeBytes(out + 44, mime64Encode24(in + 33));
    }
};

struct Mime64Decoder {
    // A character is bad when the bit sets of its low and high nibble meet.
    // Bit 0: high nibbles 0, 1, 8..15; bit 1: '+' '/' row; bit 2: digits
    // row; bit 3: rows 4 and 6 (lower bound); bit 4: rows 5 and 7.
    __m256i badLow = _mm256_setr_epi8(
        0x0B, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x07, 0x15, 0x17, 0x17, 0x17, 0x15, //
        0x0B, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x07, 0x15, 0x17, 0x17, 0x17, 0x15);
    __m256i badHigh = _mm256_setr_epi8(
        0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x08, 0x10, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, //
        0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x08, 0x10, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01);
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
        bad = _mm256_or_si256(bad,
                              _mm256_and_si256(_mm256_shuffle_epi8(badLow, low), _mm256_shuffle_epi8(badHigh, high)));
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

    // Every store stays inside the bytes the step owns: the scratch of a
    // wide store is overwritten by the next, the last store is exact.
    bool decodeLine(const char *in, std::uint8_t *out) const
    {
        __m256i bad = _mm256_setzero_si256();
        const __m256i first = values(in, bad);
        const __m256i second = values(in + 32, bad);
        const __m256i third = values(in + 44, bad);
        if (!_mm256_testz_si256(bad, bad))
            return false;
        storeWide(out, first);
        storeWide(out + 24, second);
        storeExact(out + 33, third);
        return true;
    }

    bool decodeBlock(const char *in, std::uint8_t *out) const
    {
        __m256i bad = _mm256_setzero_si256();
        const __m256i first = values(in, bad);
        const __m256i second = values(in + 32, bad);
        if (!_mm256_testz_si256(bad, bad))
            return false;
        storeWide(out, first);
        storeExact(out + 24, second);
        return true;
    }
};

inline std::uint64_t byteMask(__m256i v)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

inline std::uint64_t byteMaskOf(__m256i v, char c)
{
    return byteMask(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(c)));
}

// Bytes a quoted-printable text may hold as themselves when a byte that
// also may follows: 33..126 but '=', and the blanks.
inline std::uint64_t printablePlain(__m256i v)
{
    // 32..126 is where v - 32 (as signed) lies in 0..94.
    const __m256i shifted = _mm256_sub_epi8(v, _mm256_set1_epi8(32));
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi8(_mm256_setzero_si256(), shifted),
                                            _mm256_cmpgt_epi8(shifted, _mm256_set1_epi8(126 - 32)));
    const __m256i careful = _mm256_or_si256(outside, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('=')));
    return (~byteMask(careful) & 0xFFFFFFFFu) | byteMaskOf(v, '\t');
}

// What decoding asks of each of 32 characters, one bit each, from two
// nibble lookups whose rows meet only in the character's own bits:
// 0x80 '=', 0x40 CR, 0x20 LF, 0x10 space, 0x08 tab, 0x04 digit, 0x02 hex
// letter, either case.
inline __m256i decodeClasses(__m256i v)
{
    const __m256i byLow = _mm256_setr_epi8(0x14, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x04, 0x04, 0x0C, 0x20, 0, 0,
                                           static_cast<char>(0xC0), 0, 0, 0x14, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
                                           0x04, 0x04, 0x0C, 0x20, 0, 0, static_cast<char>(0xC0), 0, 0);
    const __m256i byHigh
        = _mm256_setr_epi8(0x68, 0, 0x10, static_cast<char>(0x84), 0x02, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x68, 0,
                           0x10, static_cast<char>(0x84), 0x02, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    return _mm256_and_si256(_mm256_shuffle_epi8(byLow, _mm256_and_si256(v, nibble)), _mm256_shuffle_epi8(byHigh, high));
}

// The characters with class bit 7 - shift or 6 - shift set: shifted to
// bits 7 and 6, with the lower bits below 0x40, so a saturating 0x40 more
// sets bit 7 where either is. Bits shifted in from the byte below land
// under 0x40 too.
template <int shift> std::uint64_t eitherBit(__m256i classes)
{
    return byteMask(_mm256_adds_epu8(_mm256_slli_epi16(classes, shift), _mm256_set1_epi8(0x40)));
}

// Packing the kept bytes of 16 to their front takes one shuffle, whose
// order joins two rows picked by the two halves' masks: the low half's
// indices then zeros, and, loaded from c bytes before its indices, where c
// is how many the low half keeps, the high half's after c zeros. The
// greater byte of the two is the order's. Tables rather than pext, which is
// microcoded on older AMD cores.
struct PackRows {
    alignas(64) std::uint64_t low[256];
    std::uint8_t high[257][16]; // row 256 only zeros, read past row 255
};

constexpr PackRows packRows()
{
    PackRows rows {};
    for (std::size_t mask = 0; mask < 256; ++mask)
        for (std::size_t bit = 0, k = 0; bit < 8; ++bit)
            if (mask >> bit & 1) {
                rows.low[mask] |= std::uint64_t { bit } << (8 * k);
                rows.high[mask][8 + k++] = static_cast<std::uint8_t>(8 + bit);
            }
    return rows;
}

constexpr PackRows kPackRows = packRows();

// The shuffle order that packs the kept bytes of 16 to their front.
inline __m128i packOrder(std::uint64_t kept16, std::size_t &count)
{
    const std::uint64_t low = kept16 & 0xFF, high = kept16 >> 8 & 0xFF;
    const std::size_t lowCount = setBits(low);
    count = lowCount + setBits(high);
    return _mm_max_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(&kPackRows.low[low])),
                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(&kPackRows.high[high][8 - lowCount])));
}

// Two rows of 16 bytes, the first in the low lane.
inline __m256i rowPair(const std::uint8_t *low, const std::uint8_t *high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i *>(high)), 1);
}

inline void storeLane(char *out, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v);
}

struct PrintableBlock {
    // Each 8 bytes in a lane of their own, widened by their table row: the
    // row picks from the bytes (with '=' beside them) or, through bit 7,
    // from their hex digits.
    static void widen16(const char *in, std::uint64_t escaped, char *out)
    {
        const tables::PrintableWidening &low = tables::kPrintableWidening[escaped & 0xFF];
        const tables::PrintableWidening &high = tables::kPrintableWidening[escaped >> 8 & 0xFF];
        const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_zextsi128_si256(loaded), 0x50);
        const __m256i literals = _mm256_blend_epi32(bytes, _mm256_set1_epi8('='), 0xCC);
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        const __m256i nibbles = _mm256_unpacklo_epi8(_mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble),
                                                     _mm256_and_si256(bytes, nibble));
        const __m256i hex
            = _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F', '0', '1',
                               '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
        const __m256i digits = _mm256_shuffle_epi8(hex, nibbles);
        const auto pick = [&](__m256i source) {
            return _mm256_or_si256(_mm256_shuffle_epi8(literals, source),
                                   _mm256_shuffle_epi8(digits, _mm256_xor_si256(source, _mm256_set1_epi8(-128))));
        };
        const __m256i head = pick(rowPair(low.source.data(), high.source.data()));
        const __m256i tail = pick(rowPair(low.source.data() + 16, high.source.data() + 16));
        storeLane(out, _mm256_castsi256_si128(head));
        storeLane(out + 16, _mm256_castsi256_si128(tail));
        out += low.ends[7];
        storeLane(out, _mm256_extracti128_si256(head, 1));
        storeLane(out + 16, _mm256_extracti128_si256(tail, 1));
    }

    static PrintableEncodeMasks encodeMasks(const char *in)
    {
        const __m256i first = loadBytes(in), second = loadBytes(in + 32);
        return { byteMaskOf(first, '\r') | byteMaskOf(second, '\r') << 32,
                 byteMaskOf(first, '\n') | byteMaskOf(second, '\n') << 32,
                 printablePlain(first) | printablePlain(second) << 32,
                 byteMaskOf(first, ' ') | byteMaskOf(first, '\t')
                     | (byteMaskOf(second, ' ') | byteMaskOf(second, '\t')) << 32 };
    }

    static PrintableDecodeMasks decodeMasks(const char *in)
    {
        const __m256i first = decodeClasses(loadBytes(in)), second = decodeClasses(loadBytes(in + 32));
        const auto both = [&](auto mask) { return mask(first) | mask(second) << 32; };
        return { both([](__m256i c) { return byteMask(c); }), both(eitherBit<3>),
                 both([](__m256i c) { return byteMask(_mm256_slli_epi16(c, 1)); }),
                 both([](__m256i c) { return byteMask(_mm256_slli_epi16(c, 2)); }), both(eitherBit<5>) };
    }

    static void copy64(char *out, const char *in)
    {
        storeBytes(out, loadBytes(in));
        storeBytes(out + 32, loadBytes(in + 32));
    }

    // The value of a valid hex digit: with bits 4 and 5 cleared, '0'..'9'
    // are 0..9 and letters 65..70, which 55 less takes to 10..15.
    static __m256i digitValues(const char *in)
    {
        const __m256i v = _mm256_and_si256(loadBytes(in), _mm256_set1_epi8(0x4F));
        return _mm256_min_epu8(v, _mm256_sub_epi8(v, _mm256_set1_epi8(55)));
    }

    // 32 bytes with each escape's value on its '=', from the two bytes after.
    // Every '=' kept is an escape's, so the compare stands for the mask.
    static __m256i unescaped(const char *in)
    {
        // Other bytes' values reach 24: the shift must not carry their bit 4 over.
        const __m256i high = _mm256_and_si256(_mm256_slli_epi16(digitValues(in + 1), 4), _mm256_set1_epi8(-16));
        const __m256i values = _mm256_or_si256(high, digitValues(in + 2));
        const __m256i v = loadBytes(in);
        return _mm256_blendv_epi8(v, values, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('=')));
    }

    // The kept bytes of 32 to out, one 16-byte store per half; up to 16
    // bytes past the count are scratch.
    static char *squeeze32(__m256i bytes, std::uint64_t kept, char *out)
    {
        std::size_t lowCount = 0, highCount = 0;
        const __m128i lowOrder = packOrder(kept & 0xFFFF, lowCount);
        const __m128i highOrder = packOrder(kept >> 16 & 0xFFFF, highCount);
        const __m256i packed = _mm256_shuffle_epi8(bytes, _mm256_set_m128i(highOrder, lowOrder));
        storeLane(out, _mm256_castsi256_si128(packed));
        storeLane(out + lowCount, _mm256_extracti128_si256(packed, 1));
        return out + lowCount + highCount;
    }

    static std::size_t squeeze(const char *in, std::uint64_t, std::uint64_t kept, char *out)
    {
        char *const start = out;
        out = squeeze32(unescaped(in), kept, out);
        out = squeeze32(unescaped(in + 32), kept >> 32, out);
        return static_cast<std::size_t>(out - start);
    }
};

} // namespace

constinit const Codec avx2Path { DRAVOLIN_PATH_NAME, mime64EncodeWide<Mime64Encoder>, mime64DecodeWide<Mime64Decoder>,
                                 printableEncodeWide<PrintableBlock>, printableDecodeWide<PrintableBlock> };

} // namespace dravolin
