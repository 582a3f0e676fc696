// Every codec path this CPU runs against the rules: known answers (RFC 4648,
// RFC 2045, hand reasoning), round trips and format checks on generated
// data built to land on the edges of the wide blocks. Each call also runs
// on the scalar path, which must leave the same result and bytes.

#include "codec.h"
#include "codec_cases.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using namespace dravolin;
using namespace dravolin::cases;
using namespace std::string_literals;
using ::testing::_;
using ::testing::Each;
using ::testing::Eq;
using ::testing::Matcher;

struct Outcome {
    std::int64_t count;
    std::string bytes;
    bool operator==(const Outcome &) const = default;
};

Outcome ok(const std::string &bytes)
{
    return { static_cast<std::int64_t>(bytes.size()), bytes };
}

enum class Op { Encode64, Wrap64, Decode64, EncodeQp, DecodeQp };

// One kernel on one path: the input in a heap block of its exact size, the
// room followed by guard bytes. Mime64 keeps its whole room (a decoder's
// room is the caller's); quoted-printable the counted bytes.
Outcome once(const Codec &codec, Op op, const std::string &input, std::size_t room)
{
    const std::unique_ptr<char[]> in(new char[input.size()]);
    std::memcpy(in.get(), input.data(), input.size());
    std::string out(room + 64, '\xA5');
    const auto layout = op == Op::Wrap64 ? Mime64Layout::Wrapped : Mime64Layout::SingleLine;
    std::int64_t count = static_cast<std::int64_t>(room);
    if (op == Op::Encode64 || op == Op::Wrap64)
        codec.mime64Encode(reinterpret_cast<const std::uint8_t *>(in.get()), input.size(), out.data(), layout);
    else if (op == Op::Decode64)
        count = codec.mime64Decode(in.get(), input.size(), reinterpret_cast<std::uint8_t *>(out.data()), room);
    else
        count
            = static_cast<std::int64_t>(op == Op::EncodeQp ? codec.printableEncode(in.get(), input.size(), out.data())
                                                           : codec.printableDecode(in.get(), input.size(), out.data()));
    EXPECT_THAT(out.substr(room), Each(Eq('\xA5'))) << codec.name << " wrote past its room";
    out.resize(op < Op::EncodeQp ? room : static_cast<std::size_t>(count));
    return { count, out };
}

class Paths : public ::testing::TestWithParam<const Codec *> {
protected:
    // On a wide path the scalar one must leave the same; a decoder's
    // answer is then the bytes it counts.
    Outcome call(Op op, const std::string &input, std::size_t room) const
    {
        Outcome got = once(*GetParam(), op, input, room);
        EXPECT_EQ(got, GetParam() == &scalarCodec() ? got : once(scalarCodec(), op, input, room))
            << "scalar differs on " << ::testing::PrintToString(input);
        got.bytes.resize(op == Op::Decode64 ? static_cast<std::size_t>(std::max<std::int64_t>(got.count, 0))
                                            : got.bytes.size());
        return got;
    }
    std::string mime64(const std::string &bytes, Op op = Op::Encode64) const
    {
        const auto layout = op == Op::Wrap64 ? Mime64Layout::Wrapped : Mime64Layout::SingleLine;
        return call(op, bytes, mime64EncodedSize(bytes.size(), layout)).bytes;
    }
    Outcome unmime64(const std::string &text, std::size_t capacity) const { return call(Op::Decode64, text, capacity); }
    std::string printable(const std::string &plain) const
    {
        return call(Op::EncodeQp, plain, printableEncodedBound(plain.size())).bytes;
    }
    std::string unprintable(const std::string &text) const { return call(Op::DecodeQp, text, text.size()).bytes; }
    void expectPrintableRoundTrip(const std::string &plain) const
    {
        const std::string text = printable(plain);
        ASSERT_EQ(printableFault(plain, text), "") << ::testing::PrintToString(plain);
        ASSERT_EQ(unprintable(text), plain);
        unprintable(plain); // any text decodes alike on every path
    }
};

// The wrapped layout from the rules: lines of 76, each ending CR LF.
std::string wrapped(const std::string &single)
{
    std::string out;
    for (std::size_t pos = 0; pos < single.size(); pos += 76)
        out += single.substr(pos, 76) + "\r\n";
    return out;
}

TEST_P(Paths, Mime64KnownAnswers)
{
    const std::string rfc4648[]
        = { "",     "",         "f",     "Zg==",     "fo",     "Zm8=",     "foo",          "Zm9v",
            "foob", "Zm9vYg==", "fooba", "Zm9vYmE=", "foobar", "Zm9vYmFy", "\xfb\xff\xbf", "+/+/" };
    for (std::size_t i = 0; i < std::size(rfc4648); i += 2) {
        const std::string &bytes = rfc4648[i], &text = rfc4648[i + 1];
        EXPECT_EQ(mime64(bytes), text);
        EXPECT_EQ(mime64(bytes, Op::Wrap64), wrapped(text));
        EXPECT_EQ(unmime64(wrapped(text), bytes.size()), ok(bytes));
    }
    // Read leniently: blanks anywhere, a leading byte-order mark, padding missing or apart.
    const std::string lenient[]
        = { " \t\r\n",      "",    "\xEF\xBB\xBF",       "",   "Zg", "f", "Zm8", "fo", "Zg= =", "f", "Zm8 =", "fo",
            " Z m\t9 v \r", "foo", "\xEF\xBB\xBFZm9v\n", "foo" };
    for (std::size_t i = 0; i < std::size(lenient); i += 2)
        EXPECT_EQ(unmime64(lenient[i], lenient[i + 1].size()), ok(lenient[i + 1])) << lenient[i];
    // Malformed beats too small.
    for (const std::string &text : { "Zm9v!"s, "Zm-v"s, "Zm9v\0"s, "Zm9v\xc3\xa8"s, " \xEF\xBB\xBFZm9v"s, "Zg==Zg=="s,
                                     "Zg=a"s, "=Zg"s, "QUJD="s, "Zm8=="s, "Z"s, "Zm9vY=="s, "Zm9v\r\nY\r\n"s }) {
        EXPECT_EQ(unmime64(text, 64).count, kMalformed) << text;
        EXPECT_EQ(unmime64(text, 0).count, kMalformed) << text;
    }
}

TEST_P(Paths, Mime64RoundTripEveryLength)
{
    for (std::size_t n = 0; n <= 700; n += n < 240 ? 1 : 19) {
        const std::string bytes = randomBytes(n, 1000 + n), single = mime64(bytes);
        ASSERT_EQ(mime64(bytes, Op::Wrap64), wrapped(single)) << n;
        for (const std::string &text : { single, wrapped(single) }) {
            ASSERT_EQ(unmime64(text, n + 1), ok(bytes)) << n;
            for (std::size_t less = 1; less <= std::min<std::size_t>(n, 60); less += 7)
                ASSERT_EQ(unmime64(text, n - less).count, kTooSmall) << n << " less " << less;
        }
        // Lines of other widths and breaks, padding dropped, the text cut
        // short: 4 characters are 3 bytes, 3 are 2, 2 are 1, 1 is malformed.
        std::string reflowed, unpadded = single.substr(0, single.find('='));
        for (std::size_t pos = 0; pos < unpadded.size(); pos += 60 + n % 23)
            reflowed += unpadded.substr(pos, 60 + n % 23) + (n % 3 ? "\n" : " \r\n\t");
        ASSERT_EQ(unmime64(reflowed, n), ok(bytes)) << reflowed;
        const std::size_t left = unpadded.size() - std::min<std::size_t>(unpadded.size(), n % 5);
        const Outcome expected = left % 4 == 1 ? Outcome { kMalformed, "" } : ok(bytes.substr(0, left * 3 / 4));
        ASSERT_EQ(unmime64(unpadded.substr(0, left), n), expected);
    }
}

// A character outside the alphabet at any place makes the text malformed;
// a blank inserted anywhere changes nothing.
TEST_P(Paths, Mime64EveryByteAtEveryPosition)
{
    for (const std::size_t n : { 1u, 120u, 200u }) {
        const std::string bytes = randomBytes(n, 77 + n);
        for (const std::string &text : { mime64(bytes), mime64(bytes, Op::Wrap64) }) {
            for (std::size_t pos = 0; pos < text.size(); ++pos) {
                for (int value = 0; value < 256; ++value) {
                    const char c = static_cast<char>(value);
                    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
                    const bool alphabet = std::isalnum(value) || c == '+' || c == '/' || c == '=';
                    const Outcome put = unmime64(std::string(text).replace(pos, 1, 1, c), n);
                    ASSERT_THAT(put.count, blank || alphabet ? Matcher<std::int64_t>(_) : Eq(kMalformed))
                        << value << " at " << pos;
                    const Outcome inserted = unmime64(std::string(text).insert(pos, 1, c), n);
                    ASSERT_THAT(inserted, blank ? Matcher<Outcome>(ok(bytes)) : _) << value << " at " << pos;
                }
            }
        }
    }
}

TEST_P(Paths, PrintableKnownAnswers)
{
    const std::string encodings[]
        = { "Hi, you!~",  "Hi, you!~", "a=b",        "a=3Db",        "a\0\x7f\xff"s, "a=00=7F=FF",  "caff\xc3\xa8",
            "caff=C3=A8", "a b\tc",    "a b\tc",     "a  ",          "a =20",        "a \r\nb\t\n", "a=20\r\nb=09\n",
            "a\rb\r",     "a=0Db=0D",  "\r\r\n\n\r", "=0D\r\n\n=0D", "a\r \r\n",     "a=0D=20\r\n" };
    for (std::size_t i = 0; i < std::size(encodings); i += 2) {
        EXPECT_EQ(printable(encodings[i]), encodings[i + 1]);
        EXPECT_EQ(unprintable(encodings[i + 1]), encodings[i]);
    }
    const std::string readings[] = {
        "=4a=3d", "J=",    "a=\r\nb=\nc", "abc",    "a= \t\r\nb", "ab",    "a =  \r\nb",      "a b",
        "a= \t",  "a",     "a=G1=4",      "a=G1=4", "==41",       "=A",    "a= b\r\n",        "a= b\r\n",
        "a=\rb",  "a=\rb", "a \t\r\nb  ", "a\r\nb", "a \rb",      "a \rb", "to come=\r\n to", "to come to"
    }; // the last from RFC 2045, 6.7
    for (std::size_t i = 0; i < std::size(readings); i += 2)
        EXPECT_EQ(unprintable(readings[i]), readings[i + 1]);
    // A line that goes on holds 75 characters and the soft break's '='; one
    // that ends may hold 76; an escape is never split. Soft breaks end like
    // the text's first line break.
    const std::string z75(75, 'z');
    EXPECT_EQ(printable(std::string(150, 'z')), z75 + "=\r\n" + z75);
    EXPECT_EQ(printable(std::string(76, 'd') + "\r\n"), std::string(76, 'd') + "\r\n");
    EXPECT_EQ(printable("x\n" + z75 + "\xff"), "x\n" + z75 + "=\n=FF");
    std::string escapes;
    while (escapes.size() < 75)
        escapes += "=3D";
    EXPECT_EQ(printable(std::string(26, '=')), escapes + "=\r\n=3D");
}

TEST_P(Paths, PrintableRoundTripEveryLength)
{
    // Alphabets that crowd the rules together: blanks beside breaks, lone
    // CRs, escapes at line ends, half escapes for the decoder.
    const std::string alphabets[] = { "",
                                      "aaaaaaaaaaaa =\t\r\n",
                                      "ab =\t\r\n\0\xc3\xff"s,
                                      "xxxxxxxxxxxxxxxxxxxxxx  \r\n",
                                      "= \t\r\nA0fg",
                                      " \t\n",
                                      "\xff\n" };
    for (std::size_t n = 0; n <= 600; ++n) {
        ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(italianProse(n, n + 2)));
        for (std::size_t k = 0; k < std::size(alphabets); ++k)
            ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(randomFrom(alphabets[k], n, 31 * n + k)));
    }
}

// Runs with rules of their own at every offset of the wide blocks, and lines
// of every length near the limit after every lead.
TEST_P(Paths, PrintableRunsAtEveryOffset)
{
    for (std::size_t offset = 0; offset < 140; ++offset) {
        for (const std::string run :
             { "=", "=41", "= \r\n", "=\n", "  ", "\t \t", " \r", "\r\n", "\xc3\xa0", "  \r\n" }) {
            ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(std::string(200, 'a').insert(offset, run + run + run)));
            ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(std::string(200, ' ').insert(offset, run)));
        }
        for (std::size_t width = 72; width <= 78; ++width)
            for (const std::string end : { "\r\n", "\n", " \r\n", "\t\n", "\xe8\r\n", "\r" })
                ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(
                    std::string(offset, 'p') + "\r\n" + std::string(width, 'w') + end + std::string(width, 'v')));
    }
}

TEST_P(Paths, LargeInputs)
{
    const std::string bytes = randomBytes((std::size_t { 3 } << 20) + 2, 5), text = mime64(bytes, Op::Wrap64);
    ASSERT_EQ(unmime64(text, bytes.size()), ok(bytes));
    for (const std::size_t pos : { std::size_t { 0 }, text.size() / 3, text.size() - 5 })
        ASSERT_EQ(unmime64(std::string(text).replace(pos, 1, 1, '*'), bytes.size()).count, kMalformed) << pos;
    ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(italianProse(std::size_t { 3 } << 20, 7)));
    ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(bytes.substr(0, 1 << 20)));
}

INSTANTIATE_TEST_SUITE_P(, Paths, ::testing::ValuesIn(supportedCodecs()),
                         [](const auto &path) { return std::string(path.param->name); });

// ctest runs this under DRAVOLIN_CODEC set to each path of the build and to
// none: a path this machine runs takes all four operations; otherwise each
// runs on a path the machine has, and never on scalar when a wide one exists.
TEST(Choice, ForcedPathOrTheCpusOwn)
{
    const Codec &active = activeCodec();
    const char *forced = std::getenv("DRAVOLIN_CODEC");
    const auto paths = supportedCodecs();
    const auto named = std::find_if(paths.begin(), paths.end(),
                                    [&](const Codec *c) { return forced && std::strcmp(c->name, forced) == 0; });
    const auto runs = [&](auto member) {
        return std::any_of(paths.begin(), paths.end(), [&](const Codec *c) {
            return c->*member == active.*member
                && (named != paths.end() ? c == *named : paths.size() == 1 || c != paths[0]);
        });
    };
    EXPECT_TRUE(runs(&Codec::mime64Encode));
    EXPECT_TRUE(runs(&Codec::mime64Decode));
    EXPECT_TRUE(runs(&Codec::printableEncode));
    EXPECT_TRUE(runs(&Codec::printableDecode));
    if (named == paths.end())
        return;
    EXPECT_STREQ(active.name, forced);
}

} // namespace
