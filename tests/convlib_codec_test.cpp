// Every codec path against the rules: known answers (RFC 4648, RFC 2045,
// python3, hand reasoning), round trips and format checks on generated data,
// malformed input, buffer bounds. Every call on a wide path is also run on
// the scalar reference and must leave the same result and output, so the
// inputs built to land on the edges of the wide blocks check both at once.

#include "codec.h"
#include "codec_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using dravolin::Codec;
using dravolin::kMalformed;
using dravolin::kTooSmall;
using dravolin::Mime64Layout;
using namespace dravolin::cases;
using namespace std::string_literals;
using namespace std::string_view_literals;

constexpr std::size_t kGuard = 64;
constexpr Mime64Layout kLayouts[] = { Mime64Layout::Wrapped, Mime64Layout::SingleLine };

std::string shown(std::string_view text)
{
    return ::testing::PrintToString(std::string(text.substr(0, 100))) + (text.size() > 100 ? "..." : "");
}

// What one kernel call left: its result and its output. The quoted-printable
// kernels may use their room past the count as scratch, so only the counted
// bytes are kept for them; the Mime64 ones keep the whole room.
struct Outcome {
    std::int64_t result;
    std::string out;
    bool operator==(const Outcome &) const = default;
    friend void PrintTo(const Outcome &outcome, std::ostream *os)
    {
        *os << "{" << outcome.result << ", " << shown(outcome.out) << "}";
    }
};
Outcome ok(std::string_view bytes)
{
    return { static_cast<std::int64_t>(bytes.size()), std::string(bytes) };
}
Outcome fault(std::int64_t result)
{
    return { result, "" };
}

class CodecPath : public ::testing::TestWithParam<const Codec *> {
protected:
    // One kernel call with its input in a block of exactly its size (an ASan
    // build catches reads past it) and `room` output bytes followed by guard
    // bytes. On a wide path the scalar one must leave the same.
    template <typename Kernel> Outcome call(std::string_view input, std::size_t room, bool counted, Kernel kernel) const
    {
        std::unique_ptr<char[]> in(new char[input.size() + 1]);
        std::memcpy(in.get(), input.data(), input.size());
        auto once = [&](const Codec &codec) {
            std::string block(room + kGuard, '\xA5');
            const std::int64_t result = kernel(codec, in.get(), block.data());
            EXPECT_TRUE(HasFailure() || block.substr(room) == std::string(kGuard, '\xA5'))
                << codec.name << " wrote past the room";
            EXPECT_TRUE(HasFailure() || result <= std::int64_t(room)) << codec.name << " counted past the room";
            block.resize(counted ? std::size_t(std::clamp(result, std::int64_t { 0 }, std::int64_t(room))) : room);
            return Outcome { result, block };
        };
        const Outcome outcome = once(*GetParam());
        EXPECT_TRUE(GetParam() == &dravolin::scalarCodec() || HasFailure() || outcome == once(dravolin::scalarCodec()))
            << "the scalar path differs on input " << shown(input);
        return outcome;
    }
    std::string mime64(std::string_view bytes, Mime64Layout layout) const
    {
        const std::size_t size = dravolin::mime64EncodedSize(bytes.size(), layout);
        return call(bytes, size, false,
                    [&](const Codec &codec, const char *in, char *out) {
                        return codec.mime64Encode(reinterpret_cast<const std::uint8_t *>(in), bytes.size(), out,
                                                  layout),
                               std::int64_t(size);
                    })
            .out;
    }
    // The bytes decoded, or none beside an error.
    Outcome unmime64(std::string_view text, std::size_t capacity) const
    {
        Outcome outcome = call(text, capacity, false, [&](const Codec &codec, const char *in, char *out) {
            return codec.mime64Decode(in, text.size(), reinterpret_cast<std::uint8_t *>(out), capacity);
        });
        outcome.out.resize(std::size_t(std::clamp(outcome.result, std::int64_t { 0 }, std::int64_t(capacity))));
        return outcome;
    }
    std::string printable(std::string_view plain) const
    {
        return call(plain, dravolin::printableEncodedBound(plain.size()), true,
                    [&](const Codec &codec, const char *in, char *out) {
                        return std::int64_t(codec.printableEncode(in, plain.size(), out));
                    })
            .out;
    }
    std::string unprintable(std::string_view text) const
    {
        return call(text, text.size(), true,
                    [&](const Codec &codec, const char *in, char *out) {
                        return std::int64_t(codec.printableDecode(in, text.size(), out));
                    })
            .out;
    }
    void expectPrintableRoundTrip(std::string_view plain) const
    {
        const std::string encoded = printable(plain);
        ASSERT_EQ(printableFault(plain, encoded), "") << "input " << shown(plain) << "\nencoded " << shown(encoded);
        ASSERT_TRUE(unprintable(encoded) == plain) << "input " << shown(plain);
        unprintable(plain); // any text: the decoder stays within its length
    }
};
std::string nameOf(const ::testing::TestParamInfo<const Codec *> &info)
{
    return info.param->name;
}

// ---- Mime64 -------------------------------------------------------------------

constexpr std::pair<std::string_view, std::string_view> kRfc4648[] = {
    { "", "" },
    { "f", "Zg==" },
    { "fo", "Zm8=" },
    { "foo", "Zm9v" },
    { "foob", "Zm9vYg==" },
    { "fooba", "Zm9vYmE=" },
    { "foobar", "Zm9vYmFy" }, // RFC 4648, 10
    { "\0"sv, "AA==" },
    { "\xff", "/w==" },
    { "\xff\xff\xff", "////" },
    { "\xfb\xff\xbf", "+/+/" },
};
// Bytes 0..255 as python3's base64.b64encode writes them, in 76-character lines.
constexpr std::string_view kAllBytesLines[] = {
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4"sv,
    "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx"sv,
    "cnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmq"sv,
    "q6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj"sv,
    "5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w=="sv,
};
// Texts read leniently: blanks skipped anywhere, a leading byte-order mark, missing padding.
constexpr std::pair<std::string_view, std::string_view> kLenient[] = {
    { "", "" },
    { " \t\r\n", "" },
    { "\xEF\xBB\xBF", "" },
    { "Zg", "f" },
    { "Zg=", "f" },
    { "Zm8", "fo" },
    { "Zm9vYg", "foob" },
    { "Zm9vYg=", "foob" },
    { "Zm9vYmE", "fooba" },
    { "Zm9v\r\nYmFy\r\n", "foobar" },
    { "Zm9v\nYmFy", "foobar" },
    { " Z m\t9 v \r", "foo" },
    { "\xEF\xBB\xBFZm9v", "foo" },
    { "\xEF\xBB\xBF\r\nZm9vYmFy\r\n", "foobar" },
    { "Zg= =", "f" },
    { "Zg=\r\n=\r\n", "f" },
    { "Z g = =", "f" },
    { "Zm8 =", "fo" },
    { "A\nA\nA\nA\n", "\0\0\0"sv },
};
constexpr std::string_view kMalformed64[] = {
    "Zm9v!"sv,
    "!Zm9v"sv,
    "Zm-v"sv,
    "Zm_v"sv,
    "Zm9v\0"sv,
    "Zm9v\xc3\xa8"sv,
    "Zm9v\x0b"sv,
    "Zm9v\x0c"sv, // outside the alphabet, not blanks
    "Zm9v\xEF\xBB\xBF"sv,
    "\xEF\xBB\xBF\xEF\xBB\xBFZm9v"sv,
    " \xEF\xBB\xBFZm9v"sv,
    "\xEF\xBBZm9v"sv, // the mark only leads
    "Zg==Zg=="sv,
    "Zg==\r\nZg=="sv,
    "Zg==a"sv,
    "Zg=a"sv,
    "Zg=a="sv,
    "=Zg"sv,
    "Zm=9v"sv, // data after padding
    "QUJD="sv,
    "QUI=="sv,
    "Zm9v="sv,
    "Zm9v=="sv,
    "Zg==="sv,
    "Zm8=="sv,
    "="sv,
    "=="sv,
    "===="sv, // too much padding
    "Z"sv,
    "Z="sv,
    "Z=="sv,
    "Zm9vY"sv,
    "Zm9vY=="sv,
    "Zm9vY==="sv,
    "Zm9v\r\nY\r\n"sv, // a last group of one
};

TEST_P(CodecPath, Mime64KnownAnswers)
{
    for (const auto &[bytes, text] : kRfc4648) {
        const std::string wrapped = text.empty() ? ""s : std::string(text) + "\r\n";
        EXPECT_EQ(mime64(bytes, Mime64Layout::SingleLine), text);
        EXPECT_EQ(mime64(bytes, Mime64Layout::Wrapped), wrapped);
        EXPECT_EQ(unmime64(wrapped, bytes.size()), ok(bytes));
    }
    std::string all, single, wrapped, lfWrapped;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (std::string_view line : kAllBytesLines)
        single += line, wrapped += std::string(line) + "\r\n", lfWrapped += std::string(line) + "\n";
    EXPECT_EQ(mime64(all, Mime64Layout::SingleLine), single);
    EXPECT_EQ(mime64(all, Mime64Layout::Wrapped), wrapped);
    EXPECT_EQ(unmime64(lfWrapped, 256), ok(all));
    // 57 bytes fill a line exactly; one more starts a second.
    EXPECT_EQ(mime64(std::string(57, '\0'), Mime64Layout::Wrapped), std::string(76, 'A') + "\r\n");
    EXPECT_EQ(mime64(std::string(58, '\0'), Mime64Layout::Wrapped), std::string(76, 'A') + "\r\nAA==\r\n");
    EXPECT_EQ(mime64(std::string(60, '\xff'), Mime64Layout::SingleLine), std::string(80, '/'));
    for (const auto &[text, bytes] : kLenient)
        EXPECT_TRUE(unmime64(text, bytes.size()) == ok(bytes)
                    && (bytes.empty() || unmime64(text, bytes.size() - 1) == fault(kTooSmall)))
            << shown(text);
    for (std::string_view text : kMalformed64) // malformed beats too small
        EXPECT_TRUE(unmime64(text, 64) == fault(kMalformed) && unmime64(text, 0) == fault(kMalformed)) << shown(text);
}

TEST_P(CodecPath, Mime64RoundTripEveryLengthAndCapacityNearIt)
{
    for (std::size_t n = 0; n <= 1200; ++n) {
        const std::string bytes = randomBytes(n, 1000 + n);
        const std::string wrapped = mime64(bytes, Mime64Layout::Wrapped);
        std::string single = mime64(bytes, Mime64Layout::SingleLine), unwrapped = wrapped;
        ASSERT_EQ(mime64WrappedFault(n, wrapped), "") << n;
        std::erase(unwrapped, '\r'), std::erase(unwrapped, '\n');
        ASSERT_EQ(single, unwrapped) << "layouts differ beyond line breaks, length " << n;
        std::vector<std::size_t> capacities = { 0, n / 2 };
        for (std::size_t capacity = n > 60 ? n - 60 : 0; capacity <= n + 2; ++capacity)
            capacities.push_back(capacity);
        for (const std::string &text : { wrapped, single })
            for (const std::size_t capacity : capacities)
                ASSERT_EQ(unmime64(text, capacity), capacity < n ? fault(kTooSmall) : ok(bytes))
                    << n << " into " << capacity;
        // Padding dropped, blanks and CR LF or LF lines of any width, a byte-order mark.
        std::erase(single, '=');
        static constexpr std::string_view kBreaks[] = { "\r\n"sv, "\n"sv, "\r"sv, " \r\n"sv, "\n\r"sv, "\t "sv };
        std::string reflowed = "\xEF\xBB\xBF";
        for (std::size_t pos = 0; pos < single.size(); pos += 60 + n % 21)
            reflowed += single.substr(pos, 60 + n % 21) + std::string(kBreaks[n % 6]);
        ASSERT_EQ(unmime64(reflowed, n), ok(bytes)) << shown(reflowed);
        // Cut short: 4 characters are 3 bytes, 3 are 2, 2 are 1, 1 is malformed.
        for (std::size_t cut = 1; cut <= std::min<std::size_t>(6, single.size()); ++cut) {
            const std::size_t left = single.size() - cut;
            ASSERT_EQ(unmime64(single.substr(0, left), n),
                      left % 4 == 1 ? fault(kMalformed) : ok(bytes.substr(0, left * 3 / 4)));
        }
        if (n % 3 == 0) {
            ASSERT_EQ(unmime64(wrapped + single, 2 * n), ok(bytes + bytes)) << n;
        }
        for (const std::string &tail : { "A"s, "QQ"s, "QQ=="s, "\r\nQUJD\r\n"s, " A"s, "="s })
            ASSERT_TRUE(n % 3 == 0 || unmime64(wrapped + tail, 2 * n) == fault(kMalformed))
                << "data after padding, " << n;
    }
}

// Every byte value replacing or inserted before every character: one outside
// the alphabet makes the text malformed whatever the room, an inserted blank
// changes nothing, and the rest must only agree with the scalar path. And
// every byte value at every offset of the input comes back.
TEST_P(CodecPath, Mime64EveryByteValueAtEveryPosition)
{
    for (const std::size_t n : { 1u, 2u, 3u, 120u, 401u }) {
        const std::string bytes = randomBytes(n, 77 + n);
        for (const Mime64Layout layout : kLayouts) {
            const std::string text = mime64(bytes, layout);
            for (std::size_t pos = 0; pos <= text.size(); ++pos) {
                for (int value = 0; value < 256; ++value) {
                    const char c = static_cast<char>(value);
                    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
                    const bool foreign = !isBase64Char(c) && c != '=' && !blank;
                    const std::string input = pos < n ? std::string(bytes).replace(pos, 1, 1, c) : bytes;
                    ASSERT_TRUE(pos >= n || unmime64(mime64(input, layout), n) == ok(input))
                        << "byte " << value << " at " << pos;
                    for (const bool insert : { true, false }) {
                        if (!insert && pos == text.size())
                            continue;
                        const std::string changed
                            = insert ? std::string(text).insert(pos, 1, c) : std::string(text).replace(pos, 1, 1, c);
                        for (const std::size_t capacity : { n, n - 1, std::size_t { 0 } }) {
                            const Outcome got = unmime64(changed, capacity);
                            ASSERT_TRUE(foreign
                                            ? got == fault(kMalformed)
                                            : !insert || !blank || got == (capacity < n ? fault(kTooSmall) : ok(bytes)))
                                << "byte " << value << (insert ? " inserted" : " put") << " at " << pos << ", room "
                                << capacity;
                        }
                    }
                }
            }
        }
    }
}

// ---- Printable ----------------------------------------------------------------

// Texts short enough to need no soft break, by the rules of RFC 2045, 6.7.
constexpr std::pair<std::string_view, std::string_view> kPrintableEncodings[] = {
    { ""sv, ""sv },
    { "Hello, world!"sv, "Hello, world!"sv },
    { "!~"sv, "!~"sv }, // 33..126 stand, '=' does not
    { "a=b"sv, "a=3Db"sv },
    { "=20"sv, "=3D20"sv },
    { "\x7f"sv, "=7F"sv },
    { "a\0b"sv, "a=00b"sv },
    { "\x1f\x0c\x08"sv, "=1F=0C=08"sv },
    { "\xff\x80\xaa"sv, "=FF=80=AA"sv },
    { "caff\xc3\xa8"sv, "caff=C3=A8"sv },
    { "a b\tc"sv, "a b\tc"sv },
    { " "sv, "=20"sv },
    { "\t"sv, "=09"sv },
    { "a  "sv, "a =20"sv }, // only a last blank is
    { "a \t"sv, "a =09"sv },
    { "a \r\nb"sv, "a=20\r\nb"sv },
    { "a\t\nb"sv, "a=09\nb"sv }, // encoded
    { " \n"sv, "=20\n"sv },
    { "x\r\n "sv, "x\r\n=20"sv },
    { "\t\r\n\t"sv, "=09\r\n=09"sv },
    { "a\r\nb\nc"sv, "a\r\nb\nc"sv },
    { "a\n\r\nb"sv, "a\n\r\nb"sv },
    { "\r\n\r\n"sv, "\r\n\r\n"sv }, // hard breaks kept
    { "a\rb"sv, "a=0Db"sv },
    { "\r"sv, "=0D"sv },
    { "\r\r\n"sv, "=0D\r\n"sv },
    { "\n\r"sv, "\n=0D"sv }, // a lone CR is data
    { "a \rb"sv, "a =0Db"sv },
    { "a\r \r\n"sv, "a=0D=20\r\n"sv },
    { "=\n="sv, "=3D\n=3D"sv },
    { "1+1=2 \xe8 vero."sv, "1+1=3D2 =E8 vero."sv },
};
constexpr std::pair<std::string_view, std::string_view> kPrintableReadings[] = {
    { "=4a=4A"sv, "JJ"sv },
    { "=3d=3D"sv, "=="sv },
    { "=00=FF"sv, "\0\xff"sv },
    { "=0D=0A"sv, "\r\n"sv }, // either case
    { "a=\r\nb"sv, "ab"sv },
    { "a=\nb"sv, "ab"sv },
    { "a= \t\r\nb"sv, "ab"sv },
    { "=\r\n"sv, ""sv }, // soft breaks vanish
    { "a =\r\nb"sv, "a b"sv },
    { "a =  \r\nb"sv, "a b"sv },
    { "=\n=\n=\n"sv, ""sv },
    { "x=\r\n=\r\ny"sv, "xy"sv },
    { "a="sv, "a"sv },
    { "a= \t"sv, "a"sv },
    { "="sv, ""sv }, // a soft break at the end
    { "a=G1"sv, "a=G1"sv },
    { "a=4"sv, "a=4"sv },
    { "=4G"sv, "=4G"sv },
    { "==41"sv, "=A"sv }, // a stray '=' stands
    { "a = b"sv, "a = b"sv },
    { "a= b\r\n"sv, "a= b\r\n"sv },
    { "a=\rb"sv, "a=\rb"sv },
    { "a \r\nb"sv, "a\r\nb"sv },
    { "a \t\nb"sv, "a\nb"sv },
    { "a  "sv, "a"sv },
    { " \t "sv, ""sv }, // trailing blanks go
    { "a \rb"sv, "a \rb"sv },
    { "a=09 "sv, "a\t"sv },
    { "\xc3\xa8\0"sv, "\xc3\xa8\0"sv },
    { "Now's the time =\r\nfor all folk to come=\r\n to the aid of their country."sv, // RFC 2045, 6.7, rule 5
      "Now's the time for all folk to come to the aid of their country."sv },
};

TEST_P(CodecPath, PrintableKnownAnswers)
{
    for (const auto &[plain, encoded] : kPrintableEncodings) {
        EXPECT_EQ(printable(plain), encoded) << shown(plain);
        EXPECT_EQ(unprintable(encoded), plain) << shown(encoded);
    }
    for (const auto &[encoded, plain] : kPrintableReadings)
        EXPECT_EQ(unprintable(encoded), plain) << shown(encoded);
    // A line that goes on holds 75 characters and the soft break's '='; one
    // that ends may hold 76. Soft breaks end like the text's first line break.
    const std::string z25(25, 'z'), z75(75, 'z'), z100(100, 'z'),
        d76 = std::string(76, 'd') + "\r\n" + std::string(76, 'e');
    std::string equals(100, '='), escaped;
    for (int i = 1; i <= 100; ++i)
        escaped += i % 25 == 0 && i < 100 ? "=3D=\r\n" : "=3D"; // no escape split
    const std::pair<std::string, std::string> wrapping[] = {
        { z100 + z100, z75 + "=\r\n" + z75 + "=\r\n" + std::string(50, 'z') },
        { d76, d76 },
        { equals, escaped },
        { z75 + "=", z75 + "=\r\n=3D" },
        { z75 + " \r\nx", z75 + "=\r\n=20\r\nx" },
        { "x\n" + z100, "x\n" + z75 + "=\n" + z25 },
        { z100 + "\n", z75 + "=\n" + z25 + "\n" },
        { "x\ry\n" + z100, "x=0Dy\n" + z75 + "=\n" + z25 },
        { "x\r\n" + z100 + "\n" + z100, "x\r\n" + z75 + "=\r\n" + z25 + "\n" + z75 + "=\r\n" + z25 },
        { "x\r" + z100, "x=0D" + std::string(71, 'z') + "=\r\n" + std::string(29, 'z') },
    };
    for (const auto &[plain, encoded] : wrapping) {
        EXPECT_EQ(printable(plain), encoded) << shown(plain);
        EXPECT_EQ(unprintable(encoded), plain) << shown(encoded);
    }
}

TEST_P(CodecPath, PrintableRoundTripEveryLength)
{
    // Alphabets that crowd the rules together: blanks beside breaks, lone
    // CRs, escapes at line ends, half escapes for the decoder; single bytes
    // that cost the most room.
    static constexpr std::string_view kAlphabets[] = {
        "aaaaaaaaaaaa =\t\r\n"sv,
        "ab =\t\r\n\0\xc3\xa8\xff"sv,
        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxx  \r\n"sv,
        "= \t\r\nA0fg"sv,
        "=\r\n"sv,
        " \t\n"sv,
        "=4a \n"sv,
        "\xff\n"sv,
        "\xff"sv,
        "="sv,
        "\r"sv,
        " "sv,
        "\0"sv,
    };
    for (std::size_t n = 0; n <= 1000; ++n) {
        ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(randomBytes(n, n + 1)));
        ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(italianProse(n, n + 2)));
        for (std::size_t k = 0; k < std::size(kAlphabets); ++k)
            ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(randomFrom(kAlphabets[k], n, 31 * n + k)));
    }
}

// Every byte value, and runs of the bytes with rules of their own, at every
// offset: escapes, soft and hard breaks and blanks on every wide-block edge.
TEST_P(CodecPath, PrintableEveryByteAndRunAtEveryOffset)
{
    static constexpr std::string_view kRuns[] = { "="sv, "=="sv, "==="sv,   "=41"sv, "=4"sv, "= \r\n"sv,   "=\n"sv,
                                                  " "sv, "  "sv, "\t \t"sv, " \r"sv, "\0"sv, "\xc3\xa0"sv, "\x7f"sv };
    for (const std::string &background :
         { std::string(160, 'a'), std::string(160, ' '), randomFrom("ab\r\n", 160, 3) }) {
        for (std::size_t offset = 0; offset < background.size(); ++offset) {
            std::string plain = background;
            for (int value = 0; value < 256; ++value) {
                plain[offset] = static_cast<char>(value);
                ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(plain)) << offset << ", " << value;
            }
            for (const std::string_view run : kRuns) {
                for (std::string inserted(run); background[0] == 'a' && inserted.size() < 40;
                     inserted += std::string(run) + std::string(run)) {
                    const std::string text = std::string(background).insert(offset, inserted);
                    ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(text));
                    ASSERT_NO_FATAL_FAILURE(
                        expectPrintableRoundTrip(text.substr(0, offset + inserted.size()) + "\r\n" + text));
                }
            }
        }
    }
}

TEST_P(CodecPath, PrintableLinesAroundTheLimit)
{
    static constexpr std::string_view kEndings[]
        = { "\r\n"sv, "\n"sv, "\r"sv, ""sv, "=\r\n"sv, "\0"sv, "\xe8"sv, "\r\r\n"sv, "\n\r"sv };
    for (std::size_t offset = 0; offset <= 66; ++offset) {
        const std::string lead(offset, 'p');
        for (std::size_t width = 70; width <= 80; ++width) {
            for (std::size_t blanks = 0; blanks <= 3; ++blanks) {
                std::string line(width, 'w');
                line.replace(width - blanks, blanks, blanks, (width & 1) ? ' ' : '\t');
                for (const std::string_view ending : kEndings) {
                    const std::string text = lead + "\r\n" + line + std::string(ending);
                    ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(text));
                    ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(text + line + line + "\n" + line));
                    ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(lead + "\n" + line + std::string(ending) + line));
                }
                ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(line + line + line));
            }
        }
    }
}

TEST_P(CodecPath, LargeBuffers)
{
    for (const std::size_t n :
         { std::size_t { 1 } << 20, (std::size_t { 5 } << 20) + 1, (std::size_t { 3 } << 20) + 2 }) {
        const std::string bytes = randomBytes(n, n);
        for (const Mime64Layout layout : kLayouts) {
            const std::string text = mime64(bytes, layout);
            ASSERT_TRUE(layout != Mime64Layout::Wrapped || mime64WrappedFault(n, text).empty());
            ASSERT_TRUE(unmime64(text, n + 1) == ok(bytes) && unmime64(text, n - 1) == fault(kTooSmall)) << n;
            for (const std::size_t pos : { std::size_t { 0 }, text.size() / 3, text.size() - 5 }) {
                std::string damaged = text;
                damaged[pos] = '*';
                ASSERT_TRUE(unmime64(damaged, n) == fault(kMalformed) && unmime64(damaged, n / 2) == fault(kMalformed))
                    << pos;
            }
        }
    }
    std::string lfProse = italianProse(std::size_t { 1 } << 20, 9);
    std::erase(lfProse, '\r');
    for (const std::string &plain :
         { italianProse(std::size_t { 3 } << 20, 7), lfProse, randomBytes(std::size_t { 1 } << 20, 8),
           std::string(std::size_t { 1 } << 20, 'z'), std::string(100000, ' '), std::string(100000, '\0') })
        ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(plain)) << plain.size();
}

INSTANTIATE_TEST_SUITE_P(Paths, CodecPath, ::testing::ValuesIn(dravolin::supportedCodecs()), nameOf);

} // namespace
