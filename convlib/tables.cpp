#include "tables.h"

#include <cstddef>

namespace dravolin::tables {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::uint32_t, 256> decodeTable(int shift)
{
    std::array<std::uint32_t, 256> table {};
    table.fill(kBase64Invalid);
    for (std::uint32_t value = 0; value < 64; ++value)
        table[static_cast<unsigned char>(kAlphabet[value])] = value << shift;
    return table;
}

constexpr std::array<std::uint8_t, 256> hexValueTable()
{
    std::array<std::uint8_t, 256> table {};
    table.fill(kNotHex);
    for (int digit = 0; digit < 10; ++digit)
        table['0' + digit] = static_cast<std::uint8_t>(digit);
    for (int digit = 0; digit < 6; ++digit) {
        table['A' + digit] = static_cast<std::uint8_t>(10 + digit);
        table['a' + digit] = static_cast<std::uint8_t>(10 + digit);
    }
    return table;
}

constexpr std::array<bool, 256> printableLiteralTable()
{
    std::array<bool, 256> table {};
    for (int byte = 33; byte <= 126; ++byte)
        table[byte] = byte != '=';
    return table;
}

constexpr std::array<PrintableWidening, 256> printableWideningTable()
{
    std::array<PrintableWidening, 256> table {};
    for (std::size_t mask = 0; mask < 256; ++mask) {
        PrintableWidening &row = table[mask];
        row.source.fill(0x80);
        std::size_t k = 0;
        for (std::uint8_t byte = 0; byte < 8; ++byte) {
            if (mask >> byte & 1) {
                row.source[k++] = 8;
                row.source[k++] = static_cast<std::uint8_t>(0x80 | 2 * byte);
                row.source[k++] = static_cast<std::uint8_t>(0x80 | (2 * byte + 1));
            } else {
                row.source[k++] = byte;
            }
            row.ends[byte] = static_cast<std::uint8_t>(k);
        }
    }
    return table;
}

constexpr std::array<char, 64> alphabetTable()
{
    std::array<char, 64> table {};
    for (int i = 0; i < 64; ++i)
        table[i] = kAlphabet[i];
    return table;
}

} // namespace

const std::array<char, 64> kBase64Alphabet = alphabetTable();
const std::array<std::uint32_t, 256> kBase64Decode0 = decodeTable(18);
const std::array<std::uint32_t, 256> kBase64Decode1 = decodeTable(12);
const std::array<std::uint32_t, 256> kBase64Decode2 = decodeTable(6);
const std::array<std::uint32_t, 256> kBase64Decode3 = decodeTable(0);
const std::array<char, 16> kHexDigits
    = { '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F' };
const std::array<std::uint8_t, 256> kHexValue = hexValueTable();
const std::array<bool, 256> kPrintableLiteral = printableLiteralTable();
const std::array<PrintableWidening, 256> kPrintableWidening = printableWideningTable();

} // namespace dravolin::tables
