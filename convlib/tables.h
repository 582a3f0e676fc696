#pragma once
// The lookup tables every codec path shares.

#include <array>
#include <cstdint>

namespace dravolin::tables {

// RFC 4648 alphabet.
extern const std::array<char, 64> kBase64Alphabet;

// Base64 character -> its 6-bit value, pre-shifted to its place in a 24-bit
// group (first character << 18 ... fourth << 0). Any other byte maps to
// kBase64Invalid, so OR-ing four lookups flags a bad group with one test.
inline constexpr std::uint32_t kBase64Invalid = 0x01000000;
extern const std::array<std::uint32_t, 256> kBase64Decode0;
extern const std::array<std::uint32_t, 256> kBase64Decode1;
extern const std::array<std::uint32_t, 256> kBase64Decode2;
extern const std::array<std::uint32_t, 256> kBase64Decode3;

// Upper-case hex digits, and hex digit (either case) -> value or kNotHex.
extern const std::array<char, 16> kHexDigits;
inline constexpr std::uint8_t kNotHex = 0xFF;
extern const std::array<std::uint8_t, 256> kHexValue;

// Quoted-printable: a byte that always stands as itself (33..126 but '=').
extern const std::array<bool, 256> kPrintableLiteral;

// Quoted-printable widening of 8 bytes, one row for each 8-bit mask of the
// bytes to escape. source[k] names what output character k is: byte b of
// the 8 (b), the escape's '=' (8), or hex digit d of the bytes' 16 digits,
// high digit first (0x80 | d); past the row's width, 0x80. ends[b] counts
// the characters of bytes 0..b.
struct alignas(32) PrintableWidening {
    std::array<std::uint8_t, 24> source;
    std::array<std::uint8_t, 8> ends;
};
extern const std::array<PrintableWidening, 256> kPrintableWidening;

} // namespace dravolin::tables
