// The AVX-512 path (F, BW, VL, VBMI, VBMI2): base64 through byte permutes and
// multishifts, 48 bytes to 64 characters a step; quoted-printable 64 bytes a
// step, widened 16 bytes at a time by one vpcompressb over three slots a byte
// when encoding, escapes squeezed in with vpcompressb when decoding. Whatever
// the wide blocks do not take goes to the scalar building blocks, so the
// answers stay theirs.

#include "bit_deposit.h"
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

struct Mime64Encoder {
    static constexpr std::size_t kBlockBytes = 48;
    // A plain 64-byte load: a masked one costs more on some cores, and the
    // driver keeps 16 bytes of input beyond each block.
    static constexpr std::size_t kReadAhead = 16;

    __m512i spread = _mm512_load_si512(kSpreadIndex.data());
    __m512i shifts = _mm512_load_si512(kFieldShifts.data());
    __m512i alphabet = _mm512_loadu_si512(tables::kBase64Alphabet.data());

    // 48 bytes -> 64 characters; reads in[0..64).
    __m512i encode(const std::uint8_t *in) const
    {
        const __m512i bytes = _mm512_loadu_si512(in);
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

    // 64 values -> exactly 48 bytes, as a 32-byte and a 16-byte store:
    // masked stores are slow on some cores (Zen 4).
    void store(__m512i v, std::uint8_t *out) const
    {
        const __m512i pairs = _mm512_maddubs_epi16(v, _mm512_set1_epi32(0x01400140));
        const __m512i groups = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
        const __m512i bytes = permuteBytes(pack, groups);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm512_maskz_extracti64x4_epi64(0xF, bytes, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 32), _mm512_maskz_extracti32x4_epi32(0xF, bytes, 2));
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

// Widening spreads 16 bytes over 48 slots, three a byte: its first
// character, then its high and its low hex digit. Slot 3b + k holds byte b.
constexpr Bytes64 slotBytes()
{
    Bytes64 index {};
    for (std::size_t slot = 0; slot < 48; ++slot)
        index[slot] = static_cast<std::uint8_t>(slot / 3);
    return index;
}

// Multishift offsets that bring each slot's own nibble to its low bits: the
// high one in a high digit's slot, the low one elsewhere.
constexpr Bytes64 slotNibbleShifts()
{
    Bytes64 shifts {};
    for (std::size_t i = 0; i < 64; ++i)
        shifts[i] = static_cast<std::uint8_t>(8 * (i % 8) + (i % 3 == 1 ? 4 : 0));
    return shifts;
}

constexpr Bytes64 hexDigitsRepeated()
{
    Bytes64 digits {};
    for (std::size_t i = 0; i < 64; ++i)
        digits[i] = static_cast<std::uint8_t>("0123456789ABCDEF"[i % 16]);
    return digits;
}

alignas(64) constexpr std::array<std::uint8_t, 128> kHexValues = hexValues();
alignas(64) constexpr Bytes64 kSlotBytes = slotBytes();
alignas(64) constexpr Bytes64 kSlotNibbleShifts = slotNibbleShifts();
alignas(64) constexpr Bytes64 kHexDigitsRepeated = hexDigitsRepeated();
constexpr std::uint64_t kFirstSlots = 0x249249249249; // slot 3 * byte for bytes 0..15

inline __m512i hexDigits(__m512i v)
{
    return _mm512_permutex2var_epi8(_mm512_load_si512(kHexValues.data()), v, _mm512_load_si512(kHexValues.data() + 64));
}

inline __mmask64 bytesEqual(__m512i v, char c)
{
    return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(c));
}

inline __mmask64 blanks(__m512i v)
{
    return bytesEqual(v, ' ') | bytesEqual(v, '\t');
}

// Only plain loads and stores: masked stores and vpcompressb to memory are
// slow on Zen 4; the compress runs in a register and the store is whole.
struct PrintableBlock {
    // Each byte copied into its three slots, each slot's nibble made a hex
    // digit, the first slots put back (as '=' for an escape), then the
    // slots a literal does not use squeezed out: no table, one compress.
    static void widen16(const char *in, std::uint64_t escaped, char *out)
    {
        const __m512i spread = permuteBytes(_mm512_load_si512(kSlotBytes.data()), _mm512_loadu_si512(in));
        // vpermb reads the low 6 bits: the digit table repeats every 16.
        const __m512i digits = permuteBytes(multishift(_mm512_load_si512(kSlotNibbleShifts.data()), spread),
                                            _mm512_load_si512(kHexDigitsRepeated.data()));
        const std::uint64_t escapes = depositBits(escaped, kFirstSlots);
        const __m512i slots
            = _mm512_mask_mov_epi8(_mm512_mask_mov_epi8(digits, kFirstSlots, spread), escapes, _mm512_set1_epi8('='));
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(kFirstSlots | escapes << 1 | escapes << 2, slots));
    }

    static PrintableEncodeMasks encodeMasks(const char *in)
    {
        const __m512i v = _mm512_loadu_si512(in);
        return { bytesEqual(v, '\r'), bytesEqual(v, '\n'), printablePlain(v), blanks(v) };
    }

    static PrintableDecodeMasks decodeMasks(const char *in)
    {
        const __m512i v = _mm512_loadu_si512(in);
        // Non-digits map to 0x80; so do bytes from 128 up, through their sign.
        const __mmask64 hex = ~_mm512_movepi8_mask(_mm512_or_si512(hexDigits(v), v));
        return { bytesEqual(v, '='), blanks(v), bytesEqual(v, '\r'), bytesEqual(v, '\n'), hex };
    }

    static void copy64(char *out, const char *in) { _mm512_storeu_si512(out, _mm512_loadu_si512(in)); }

    static std::size_t squeeze(const char *in, std::uint64_t escapes, std::uint64_t kept, char *out)
    {
        const __m512i v = _mm512_loadu_si512(in);
        const __m512i high = _mm512_and_si512(hexDigits(_mm512_loadu_si512(in + 1)), _mm512_set1_epi8(15));
        const __m512i low = _mm512_and_si512(hexDigits(_mm512_loadu_si512(in + 2)), _mm512_set1_epi8(15));
        const __m512i value = _mm512_or_si512(_mm512_slli_epi16(high, 4), low);
        const __m512i bytes = _mm512_mask_mov_epi8(v, escapes, value);
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(kept, bytes));
        return setBits(kept);
    }
};

} // namespace

constinit const Codec avx512Path { DRAVOLIN_PATH_NAME, mime64EncodeWide<Mime64Encoder>, mime64DecodeWide<Mime64Decoder>,
                                   printableEncodeWide<PrintableBlock>, printableDecodeWide<PrintableBlock> };

} // namespace dravolin
