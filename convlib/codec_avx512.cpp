// The AVX-512 path (F, BW, VL, VBMI, VBMI2): base64 through byte permutes and
// multishifts, 48 bytes to 64 characters a step; quoted-printable 64 bytes a
// step, escapes written between 64-byte copies when encoding and squeezed in
// with vpcompressb when decoding. Whatever the wide blocks do not take goes to the
// scalar building blocks, so the answers stay theirs.

#include "codec_paths.h"
#include "simd_drivers.h"

#include <immintrin.h>

#include <array>

namespace dravolin {
namespace {

using Bytes64 = std::array<std::uint8_t, 64>;

// Byte b of each 3-byte group lands where its 6-bit fields can be picked by
// bit offset: every group becomes the 4 bytes b1 b0 b2 b1.
constexpr Bytes64 spreadIndex()
{
    Bytes64 index {};
    for (std::size_t group = 0; group < 16; ++group) {
        index[4 * group + 0] = static_cast<std::uint8_t>(3 * group + 1);
        index[4 * group + 1] = static_cast<std::uint8_t>(3 * group + 0);
        index[4 * group + 2] = static_cast<std::uint8_t>(3 * group + 2);
        index[4 * group + 3] = static_cast<std::uint8_t>(3 * group + 1);
    }
    return index;
}

// Bit offsets of the four fields inside b1 b0 b2 b1, two groups a quadword.
constexpr Bytes64 fieldShifts()
{
    constexpr std::uint8_t kShifts[8] = { 10, 4, 22, 16, 42, 36, 54, 48 };
    Bytes64 shifts {};
    for (std::size_t i = 0; i < 64; ++i)
        shifts[i] = kShifts[i % 8];
    return shifts;
}

// The low 128 character codes -> 6-bit value, 0x80 for anything else.
constexpr std::array<std::uint8_t, 128> decodeValues()
{
    constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<std::uint8_t, 128> values {};
    values.fill(0x80);
    for (std::uint8_t value = 0; value < 64; ++value)
        values[static_cast<unsigned char>(kAlphabet[value])] = value;
    return values;
}

// A decoded group sits in its 32-bit lane as third, second, first byte.
constexpr Bytes64 packIndex()
{
    Bytes64 index {};
    for (std::size_t group = 0; group < 16; ++group)
        for (std::size_t k = 0; k < 3; ++k)
            index[3 * group + k] = static_cast<std::uint8_t>(4 * group + 2 - k);
    return index;
}

alignas(64) constexpr Bytes64 kSpreadIndex = spreadIndex();
alignas(64) constexpr Bytes64 kFieldShifts = fieldShifts();
alignas(64) constexpr std::array<std::uint8_t, 128> kDecodeValues = decodeValues();
alignas(64) constexpr Bytes64 kPackIndex = packIndex();

constexpr __mmask64 k48Bytes = (__mmask64 { 1 } << 48) - 1;

constexpr __mmask64 kAllBytes = ~__mmask64 { 0 };

// GCC 12's unmasked VBMI intrinsics start from an "undefined" register that
// -Wmaybe-uninitialized flags; the all-ones zero-masking forms are the same
// instructions.
inline __m512i permuteBytes(__m512i index, __m512i table)
{
    return _mm512_maskz_permutexvar_epi8(kAllBytes, index, table);
}

inline __m512i multishift(__m512i shifts, __m512i v)
{
    return _mm512_maskz_multishift_epi64_epi8(kAllBytes, shifts, v);
}

inline __mmask64 firstBytes(std::size_t count)
{
    return count >= 64 ? kAllBytes : (__mmask64 { 1 } << count) - 1;
}

struct Mime64Encoder {
    static constexpr std::size_t kBlockBytes = 48;

    __m512i spread = _mm512_load_si512(kSpreadIndex.data());
    __m512i shifts = _mm512_load_si512(kFieldShifts.data());
    __m512i alphabet = _mm512_loadu_si512(tables::kBase64Alphabet.data());

    // 48 bytes (read under a mask, never past them) -> 64 characters.
    __m512i encode(const std::uint8_t *in) const
    {
        const __m512i bytes = _mm512_maskz_loadu_epi8(k48Bytes, in);
        const __m512i spreadOut = permuteBytes(spread, bytes);
        // vpermb reads only the low 6 bits of each index: no masking needed.
        const __m512i fields = multishift(shifts, spreadOut);
        return permuteBytes(fields, alphabet);
    }

    void encodeBlock(const std::uint8_t *in, char *out) const { _mm512_storeu_si512(out, encode(in)); }

    // A line is 57 bytes: bytes 0..47 give characters 0..63 and bytes 9..56
    // characters 12..75, overlapping on equal values.
    void encodeLine(const std::uint8_t *in, char *out) const
    {
        _mm512_storeu_si512(out, encode(in));
        _mm512_storeu_si512(out + 12, encode(in + 9));
    }
};

struct Mime64Decoder {
    __m512i valuesLow = _mm512_load_si512(kDecodeValues.data());
    __m512i valuesHigh = _mm512_load_si512(kDecodeValues.data() + 64);
    __m512i pack = _mm512_load_si512(kPackIndex.data());

    // 64 characters -> their 6-bit values; *bad gets a set sign bit in
    // every lane whose character is not in the alphabet.
    __m512i values(const char *in, __m512i &bad) const
    {
        const __m512i chars = _mm512_loadu_si512(in);
        const __m512i v = _mm512_permutex2var_epi8(valuesLow, chars, valuesHigh);
        bad = _mm512_or_si512(bad, _mm512_or_si512(v, chars));
        return v;
    }

    // 64 values -> 48 bytes, stored under a mask.
    void store(__m512i v, std::uint8_t *out) const
    {
        const __m512i pairs = _mm512_maddubs_epi16(v, _mm512_set1_epi32(0x01400140));
        const __m512i groups = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
        _mm512_mask_storeu_epi8(out, k48Bytes, permuteBytes(pack, groups));
    }

    // Characters 0..63 give bytes 0..47 and characters 12..75 bytes 9..56,
    // overlapping on equal values.
    bool decodeLine(const char *in, std::uint8_t *out) const
    {
        __m512i bad = _mm512_setzero_si512();
        const __m512i head = values(in, bad);
        const __m512i tail = values(in + 12, bad);
        if (_mm512_movepi8_mask(bad) != 0)
            return false;
        store(head, out);
        store(tail, out + 9);
        return true;
    }

    bool decodeBlock(const char *in, std::uint8_t *out) const
    {
        __m512i bad = _mm512_setzero_si512();
        const __m512i block = values(in, bad);
        if (_mm512_movepi8_mask(bad) != 0)
            return false;
        store(block, out);
        return true;
    }
};

// Bytes a quoted-printable text may hold as themselves when a byte that
// also may follows: 33..126 but '=', and the blanks.
inline __mmask64 printablePlain(__m512i v)
{
    const __mmask64 printable
        = _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8(32)), _mm512_set1_epi8(126 - 32));
    const __mmask64 equals = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('='));
    const __mmask64 tab = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\t'));
    return (printable & ~equals) | tab;
}

inline __mmask64 lineEnds(__m512i v)
{
    return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\r')) | _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\n'));
}

struct PrintableBlock {
    static PrintableMasks masks(const char *in)
    {
        const __m512i v = _mm512_loadu_si512(in);
        return { lineEnds(v), printablePlain(v) };
    }

    static void copy64(char *out, const char *in) { _mm512_storeu_si512(out, _mm512_loadu_si512(in)); }
};

// The low 128 character codes -> hex digit value, 0x80 for anything else.
constexpr std::array<std::uint8_t, 128> hexValues()
{
    std::array<std::uint8_t, 128> values {};
    values.fill(0x80);
    for (std::uint8_t digit = 0; digit < 10; ++digit)
        values['0' + digit] = digit;
    for (std::uint8_t digit = 0; digit < 6; ++digit) {
        values['A' + digit] = static_cast<std::uint8_t>(10 + digit);
        values['a' + digit] = static_cast<std::uint8_t>(10 + digit);
    }
    return values;
}

// Byte i of the result is byte i + distance of v (i + distance < 64).
constexpr Bytes64 shiftDownIndex(std::size_t distance)
{
    Bytes64 index {};
    for (std::size_t i = 0; i < 64; ++i)
        index[i] = static_cast<std::uint8_t>((i + distance) % 64);
    return index;
}

alignas(64) constexpr Bytes64 kShiftDown1 = shiftDownIndex(1);
alignas(64) constexpr Bytes64 kShiftDown2 = shiftDownIndex(2);
alignas(64) constexpr std::array<std::uint8_t, 128> kHexValues = hexValues();

std::size_t decodePrintable(const char *in, std::size_t n, char *out)
{
    char *const start = out;
    const __m512i hexLow = _mm512_load_si512(kHexValues.data());
    const __m512i hexHigh = _mm512_load_si512(kHexValues.data() + 64);
    const __m512i shiftDown1 = _mm512_load_si512(kShiftDown1.data());
    const __m512i shiftDown2 = _mm512_load_si512(kShiftDown2.data());
    std::size_t pos = 0;
    while (pos < n) {
        const __mmask64 loaded = firstBytes(n - pos);
        const __m512i v = _mm512_maskz_loadu_epi8(loaded, in + pos);
        const __mmask64 blank
            = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(' ')) | _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\t'));
        const __m512i digits = _mm512_permutex2var_epi8(hexLow, v, hexHigh);
        const __mmask64 hex = ~_mm512_movepi8_mask(_mm512_or_si512(digits, v)) & loaded;
        const __mmask64 equals = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('=')) & loaded;
        // "=XY" with both digits loaded decodes here; any other '=', and a
        // blank that a blank or line end may follow (or that is the last
        // loaded, which cannot tell), is the scalar step's.
        const __mmask64 escapes = equals & (hex >> 1) & (hex >> 2);
        const __mmask64 unknownNext = (blank | lineEnds(v) | ~loaded) >> 1 | (__mmask64 { 1 } << 63);
        const __mmask64 careful = (equals & ~escapes) | (blank & unknownNext) | ~loaded;
        const auto run = lowZeros(careful);
        if (run == 0) {
            pos = printableDecodeStep(in, n, pos, out);
            continue;
        }
        // An escape's digits never hold a careful byte, so the run ends
        // after whole escapes.
        if ((escapes & firstBytes(run)) == 0) {
            _mm512_mask_storeu_epi8(out, firstBytes(run), v);
            out += run;
            pos += run;
            continue;
        }
        const __m512i high = permuteBytes(shiftDown1, digits);
        const __m512i low = permuteBytes(shiftDown2, digits);
        const __m512i value = _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(high, _mm512_set1_epi8(15)), 4), low);
        const __m512i bytes = _mm512_mask_mov_epi8(v, escapes, value);
        const __mmask64 kept = firstBytes(run) & ~(escapes << 1) & ~(escapes << 2);
        const auto count = setBits(kept);
        _mm512_mask_storeu_epi8(out, firstBytes(count), _mm512_maskz_compress_epi8(kept, bytes));
        out += count;
        pos += run;
    }
    return static_cast<std::size_t>(out - start);
}

} // namespace

constinit const Codec avx512Path { DRAVOLIN_PATH_NAME, mime64EncodeWide<Mime64Encoder>, mime64DecodeWide<Mime64Decoder>,
                                   printableEncodeWide<PrintableBlock>, decodePrintable };

} // namespace dravolin
