// Each wide path against the scalar reference, byte for byte, on inputs built
// to land on the edges of the wide blocks: every length, a bad byte at every
// position, blanks and padding anywhere, every capacity near the exact size,
// quoted-printable lines of every length around the limit.

#include "codec.h"
#include "codec_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using dravolin::Codec;
using dravolin::Mime64Layout;
namespace cases = dravolin::cases;
using namespace std::string_view_literals;

constexpr std::size_t kGuard = 64;
constexpr char kGuardByte = '\xA5';
constexpr Mime64Layout kLayouts[] = {Mime64Layout::Wrapped, Mime64Layout::SingleLine};

// What one call left: its result and the whole output block, guard included,
// so stray writes anywhere show as a difference.
struct Outcome {
    std::int64_t result;
    std::string block;

    bool operator==(const Outcome &) const = default;
};

// Runs one kernel on an input held in a block of its exact size (an ASan
// build then catches reads past it), writing into `room` bytes followed by
// guard bytes.
template <typename Call>
Outcome run(std::string_view input, std::size_t room, Call call)
{
    std::unique_ptr<char[]> in(new char[input.size() + 1]);
    std::memcpy(in.get(), input.data(), input.size());
    std::string block(room + kGuard, kGuardByte);
    const std::int64_t result = call(in.get(), block.data());
    return {result, block};
}

Outcome mime64Encode(const Codec &codec, std::string_view bytes, Mime64Layout layout)
{
    return run(bytes, dravolin::mime64EncodedSize(bytes.size(), layout), [&](const char *in, char *out) {
        codec.mime64Encode(reinterpret_cast<const std::uint8_t *>(in), bytes.size(), out, layout);
        return std::int64_t{0};
    });
}

Outcome mime64Decode(const Codec &codec, std::string_view text, std::size_t capacity)
{
    return run(text, capacity, [&](const char *in, char *out) {
        return codec.mime64Decode(in, text.size(), reinterpret_cast<std::uint8_t *>(out), capacity);
    });
}

// The quoted-printable kernels may use their room past the count as
// scratch, so only the counted bytes and the guard past the room compare.
using PrintableKernel = std::size_t (*)(const char *, std::size_t, char *);

Outcome printableCall(std::string_view input, std::size_t room, PrintableKernel kernel)
{
    Outcome outcome = run(input, room, [&](const char *in, char *out) {
        return static_cast<std::int64_t>(kernel(in, input.size(), out));
    });
    const auto count = std::min(static_cast<std::size_t>(outcome.result), room);
    outcome.block = outcome.block.substr(0, count) + "|" + outcome.block.substr(room);
    return outcome;
}

Outcome printableEncode(const Codec &codec, std::string_view plain)
{
    return printableCall(plain, dravolin::printableEncodedBound(plain.size()), codec.printableEncode);
}

Outcome printableDecode(const Codec &codec, std::string_view text)
{
    return printableCall(text, text.size(), codec.printableDecode);
}

std::string scalarMime64(std::string_view bytes, Mime64Layout layout)
{
    const Outcome encoded = mime64Encode(dravolin::scalarCodec(), bytes, layout);
    return encoded.block.substr(0, encoded.block.size() - kGuard);
}

std::string shown(std::string_view text)
{
    std::string out;
    for (const char c : text.substr(0, 200)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 32 && byte < 127 && c != '\\') {
            out += c;
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return text.size() > 200 ? out + "..." : out;
}

class FastPath : public ::testing::TestWithParam<const Codec *> {
protected:
    const Codec &path() const { return *GetParam(); }
    static const Codec &reference() { return dravolin::scalarCodec(); }

    // Decoding with every capacity in the list gives the reference's result
    // and leaves the block as the reference leaves it.
    void expectDecodeAgrees(std::string_view text, std::initializer_list<std::size_t> capacities) const
    {
        for (const std::size_t capacity : capacities) {
            const Outcome expected = mime64Decode(reference(), text, capacity);
            const Outcome actual = mime64Decode(path(), text, capacity);
            ASSERT_EQ(expected.result, actual.result) << "capacity " << capacity << ", text " << shown(text);
            ASSERT_TRUE(expected.block == actual.block)
                << "output differs, capacity " << capacity << ", text " << shown(text);
        }
    }

    void expectDecodeAgrees(std::string_view text) const
    {
        const std::size_t exact = text.size() / 4 * 3 + 3;
        expectDecodeAgrees(text, {exact, exact / 2, 0});
    }

    void expectPrintableAgrees(std::string_view plain) const
    {
        const Outcome expected = printableEncode(reference(), plain);
        const Outcome actual = printableEncode(path(), plain);
        ASSERT_EQ(expected.result, actual.result) << "encode count, input " << shown(plain);
        ASSERT_TRUE(expected.block == actual.block)
            << "encode, input " << shown(plain) << "\nexpected " << shown(expected.block) << "\nactual   "
            << shown(actual.block);
        // The encoded text and the raw input both go through the decoders.
        for (const std::string_view text : {std::string_view(expected.block).substr(0, expected.result), plain}) {
            const Outcome decodedExpected = printableDecode(reference(), text);
            const Outcome decodedActual = printableDecode(path(), text);
            ASSERT_EQ(decodedExpected.result, decodedActual.result) << "decode count, input " << shown(text);
            ASSERT_TRUE(decodedExpected.block == decodedActual.block)
                << "decode, input " << shown(text) << "\nexpected " << shown(decodedExpected.block)
                << "\nactual   " << shown(decodedActual.block);
        }
    }
};

std::string nameOf(const ::testing::TestParamInfo<const Codec *> &info)
{
    return info.param->name;
}

std::vector<const Codec *> widePaths()
{
    std::vector<const Codec *> paths = dravolin::supportedCodecs();
    std::erase(paths, &dravolin::scalarCodec());
    return paths;
}

// ---- Both forms --------------------------------------------------------------

// The C ABI hands an empty text over as a null pointer.
TEST_P(FastPath, EmptyInputFromNullPointerWritesNothing)
{
    char out[8];
    std::memset(out, 'z', sizeof out);
    for (const Mime64Layout layout : kLayouts)
        path().mime64Encode(nullptr, 0, out, layout);
    EXPECT_EQ(path().mime64Decode(nullptr, 0, reinterpret_cast<std::uint8_t *>(out), sizeof out), 0);
    EXPECT_EQ(path().mime64Decode(nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(path().printableEncode(nullptr, 0, out), 0u);
    EXPECT_EQ(path().printableDecode(nullptr, 0, out), 0u);
    EXPECT_EQ(std::string_view(out, sizeof out), "zzzzzzzz");
}

// ---- Mime64 ----------------------------------------------------------------

TEST_P(FastPath, Mime64EncodeEveryLengthAndLarge)
{
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 1200; ++n)
        lengths.push_back(n);
    for (const std::size_t n : {(1u << 20) - 1, 1u << 20, (1u << 20) + 1, 3u << 19})
        lengths.push_back(n);
    for (const std::size_t n : lengths) {
        const std::string bytes = cases::randomBytes(n, n + 11);
        for (const Mime64Layout layout : kLayouts)
            ASSERT_TRUE(mime64Encode(reference(), bytes, layout) == mime64Encode(path(), bytes, layout))
                << "length " << n << (layout == Mime64Layout::Wrapped ? " wrapped" : " single line");
    }
}

TEST_P(FastPath, Mime64DecodeEveryLengthAndEveryCapacityNearTheSize)
{
    for (std::size_t n = 0; n <= 700; ++n) {
        const std::string bytes = cases::randomBytes(n, 5 * n + 2);
        for (const Mime64Layout layout : kLayouts) {
            const std::string text = scalarMime64(bytes, layout);
            for (std::size_t capacity = n > 60 ? n - 60 : 0; capacity <= n + 2; ++capacity)
                expectDecodeAgrees(text, {capacity});
            expectDecodeAgrees(text, {0, n / 2});
        }
    }
}

TEST_P(FastPath, Mime64DecodeEveryByteValueAtEveryPosition)
{
    // Two whole lines and a short one: both wide forms and the tail.
    const std::size_t n = 120;
    const std::string bytes = cases::randomBytes(n, 1234);
    for (const Mime64Layout layout : kLayouts) {
        const std::string text = scalarMime64(bytes, layout);
        for (std::size_t pos = 0; pos < text.size(); ++pos) {
            for (int value = 0; value < 256; ++value) {
                std::string changed = text;
                changed[pos] = static_cast<char>(value);
                expectDecodeAgrees(changed, {n, n - 1});
            }
        }
    }
}

TEST_P(FastPath, Mime64DecodeBadByteAtEveryPosition)
{
    static constexpr std::string_view kBad = "\0!-_.:@[]`{}\x7f\x80\xff\xef\x0b"sv;
    for (const std::size_t n : {250u, 401u}) {
        const std::string bytes = cases::randomBytes(n, n);
        for (const Mime64Layout layout : kLayouts) {
            const std::string text = scalarMime64(bytes, layout);
            for (std::size_t pos = 0; pos < text.size(); ++pos) {
                for (const char bad : kBad) {
                    std::string damaged = text;
                    damaged[pos] = bad;
                    expectDecodeAgrees(damaged, {n, n / 2, n - 1});
                }
            }
        }
    }
}

TEST_P(FastPath, Mime64DecodeBlanksAndPaddingInsertedEverywhere)
{
    static constexpr std::string_view kInserts[] = {" "sv,  "\t"sv, "\r"sv,  "\n"sv,          "\r\n"sv,
                                                    "="sv,  "=="sv, "= ="sv, "\xef\xbb\xbf"sv};
    const std::string bytes = cases::randomBytes(300, 17);
    for (const Mime64Layout layout : kLayouts) {
        const std::string text = scalarMime64(bytes, layout);
        for (std::size_t pos = 0; pos <= text.size(); ++pos) {
            for (const std::string_view insert : kInserts) {
                std::string changed = text;
                changed.insert(pos, insert);
                expectDecodeAgrees(changed, {300, 299, 150});
            }
        }
    }
}

TEST_P(FastPath, Mime64DecodeOtherLayoutsAndEndings)
{
    for (const std::size_t n : {0u, 1u, 2u, 3u, 47u, 48u, 56u, 57u, 58u, 113u, 114u, 115u, 171u, 1000u, 4097u}) {
        const std::string bytes = cases::randomBytes(n, 3 * n + 5);
        const std::string single = scalarMime64(bytes, Mime64Layout::SingleLine);
        // Lines of other lengths and other breaks.
        for (const std::size_t width : {60u, 64u, 72u, 75u, 76u, 77u, 80u}) {
            for (const std::string_view lineBreak : {"\r\n"sv, "\n"sv, "\r"sv, " \r\n"sv, "\n\r"sv, "\r\n\r\n"sv}) {
                std::string text;
                for (std::size_t pos = 0; pos < single.size(); pos += width)
                    text.append(single.substr(pos, width)).append(lineBreak);
                expectDecodeAgrees(text);
            }
        }
        const std::string wrapped = scalarMime64(bytes, Mime64Layout::Wrapped);
        for (const std::string &text : {wrapped, single}) {
            expectDecodeAgrees("\xef\xbb\xbf" + text);
            expectDecodeAgrees("\xef\xbb\xbf\xef\xbb\xbf" + text);
            expectDecodeAgrees(" \xef\xbb\xbf" + text);
            // Cut short, padding dropped, more padding, data after it.
            for (std::size_t cut = 1; cut <= std::min<std::size_t>(6, text.size()); ++cut)
                expectDecodeAgrees(text.substr(0, text.size() - cut));
            expectDecodeAgrees(text + "=");
            expectDecodeAgrees(text + "==");
            expectDecodeAgrees(text + "QQ==");
            expectDecodeAgrees(text + "QQ");
            expectDecodeAgrees(text + "Q");
            expectDecodeAgrees(text + text);
            std::string unpadded = text;
            std::erase(unpadded, '=');
            expectDecodeAgrees(unpadded);
        }
    }
}

TEST_P(FastPath, Mime64DecodeLargeTexts)
{
    const std::size_t n = (1u << 20) + 1;
    const std::string bytes = cases::randomBytes(n, 99);
    for (const Mime64Layout layout : kLayouts) {
        const std::string text = scalarMime64(bytes, layout);
        expectDecodeAgrees(text, {n, n - 1, n + 1, n / 2});
        for (const std::size_t pos : {std::size_t{0}, text.size() / 3, text.size() - 5}) {
            std::string damaged = text;
            damaged[pos] = '*';
            expectDecodeAgrees(damaged, {n, n / 2});
        }
    }
}

// ---- Printable ---------------------------------------------------------------

TEST_P(FastPath, PrintableEveryLengthOverStressingAlphabets)
{
    static constexpr std::string_view kAlphabets[] = {
        "aaaaaaaaaaaa =\t\r\n"sv,
        "ab =\t\r\n\0\xc3\xa8\xff"sv,
        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx  \r\n"sv,
        "= \t\r\nA0fg"sv,
        "=\r\n"sv,
        " \t\n"sv,
    };
    for (std::size_t n = 0; n <= 1000; ++n) {
        expectPrintableAgrees(cases::randomBytes(n, n + 1));
        expectPrintableAgrees(cases::italianProse(n, n + 2));
        for (std::size_t k = 0; k < std::size(kAlphabets); ++k)
            expectPrintableAgrees(cases::randomFrom(kAlphabets[k], n, 31 * n + k));
    }
}

TEST_P(FastPath, PrintableLinesAroundTheLimit)
{
    static constexpr std::string_view kEndings[] = {"\r\n"sv, "\n"sv, "\r"sv, ""sv, "=\r\n"sv, "\0"sv, "\xe8"sv};
    for (std::size_t offset = 0; offset <= 66; ++offset) {
        const std::string lead(offset, 'p');
        for (std::size_t width = 70; width <= 80; ++width) {
            for (std::size_t blanks = 0; blanks <= 3; ++blanks) {
                for (const std::string_view ending : kEndings) {
                    std::string line(width, 'w');
                    line.replace(width - blanks, blanks, blanks, (width & 1) ? ' ' : '\t');
                    std::string text = lead + "\r\n" + line;
                    text.append(ending);
                    expectPrintableAgrees(text);
                    expectPrintableAgrees(text + line + line + "\n" + line);
                    // The first line break (none, LF) picks the soft break.
                    expectPrintableAgrees(line + line + line);
                    expectPrintableAgrees(lead + "\n" + line + std::string(ending) + line);
                }
            }
        }
    }
}

TEST_P(FastPath, PrintableRunsOfSpecialBytesAtEveryAlignment)
{
    static constexpr std::string_view kRuns[] = {"="sv, "=="sv, "==="sv, "=41"sv, "=4"sv, "= \r\n"sv, "=\n"sv,
                                                 " "sv, "  "sv, "\t \t"sv, " \r"sv, "\0"sv, "\xc3\xa0"sv, "\x7f"sv};
    for (std::size_t pos = 0; pos <= 140; ++pos) {
        for (const std::string_view run : kRuns) {
            for (std::size_t repeat = 1; repeat <= 30; repeat += 9) {
                std::string text(200, 'k');
                std::string inserted;
                for (std::size_t i = 0; i < repeat; ++i)
                    inserted.append(run);
                text.insert(pos, inserted);
                expectPrintableAgrees(text);
                expectPrintableAgrees(text.substr(0, pos + inserted.size()));
                expectPrintableAgrees(text.substr(0, pos + inserted.size()) + "\r\n" + text);
            }
        }
    }
}

TEST_P(FastPath, PrintableLargeTexts)
{
    expectPrintableAgrees(cases::italianProse(3u << 20, 7));
    expectPrintableAgrees(cases::randomBytes(1u << 20, 8));
    expectPrintableAgrees(std::string(1u << 20, 'z')); // one line, soft breaks only
    std::string lfProse = cases::italianProse(1u << 20, 9);
    std::erase(lfProse, '\r');
    expectPrintableAgrees(lfProse);
}

// Independent of the reference: a path's own output decodes back.
TEST_P(FastPath, PrintableRoundTrip)
{
    for (const std::string &plain : {cases::italianProse(200000, 3), cases::randomBytes(200000, 4),
                                     cases::randomFrom("ab =\t\r\n"sv, 200000, 5)}) {
        std::string encoded(dravolin::printableEncodedBound(plain.size()), '\0');
        encoded.resize(path().printableEncode(plain.data(), plain.size(), encoded.data()));
        std::string decoded(encoded.size(), '\0');
        decoded.resize(path().printableDecode(encoded.data(), encoded.size(), decoded.data()));
        ASSERT_TRUE(decoded == plain);
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FastPath);
INSTANTIATE_TEST_SUITE_P(Paths, FastPath, ::testing::ValuesIn(widePaths()), nameOf);

} // namespace
