// Every codec path against the rules: known answers, round trips of generated
// data, malformed input, buffer bounds, and agreement with the scalar path.

#include "codec.h"
#include "codec_cases.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using dravolin::Codec;
using dravolin::Mime64Layout;
namespace cases = dravolin::cases;
using namespace std::string_literals;
using namespace std::string_view_literals;

constexpr std::size_t kGuard = 64;
constexpr unsigned char kGuardByte = 0xA5;

// A heap block of exactly n bytes followed by guard bytes, so a write past n
// shows (and an ASan build catches any read past the input).
class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t n) : m_size(n), m_data(new unsigned char[n + kGuard])
    {
        std::memset(m_data.get(), kGuardByte, n + kGuard);
    }
    unsigned char *bytes() { return m_data.get(); }
    char *chars() { return reinterpret_cast<char *>(m_data.get()); }
    bool guardIntact() const
    {
        for (std::size_t i = 0; i < kGuard; ++i)
            if (m_data[m_size + i] != kGuardByte)
                return false;
        return true;
    }

private:
    std::size_t m_size;
    std::unique_ptr<unsigned char[]> m_data;
};

// The input in a block of its exact size.
std::unique_ptr<char[]> exactCopy(std::string_view text)
{
    std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    return copy;
}

struct DecodeResult {
    std::int64_t status;
    std::string bytes;
};

class CodecPath : public ::testing::TestWithParam<const Codec *> {
protected:
    const Codec &codec() const { return *GetParam(); }

    std::string mime64(std::string_view bytes, Mime64Layout layout) const
    {
        const std::size_t size = dravolin::mime64EncodedSize(bytes.size(), layout);
        GuardedBuffer out(size);
        auto in = exactCopy(bytes);
        codec().mime64Encode(reinterpret_cast<const std::uint8_t *>(in.get()), bytes.size(), out.chars(),
                             layout);
        EXPECT_TRUE(out.guardIntact()) << "Mime64 encoder wrote past its size, input " << bytes.size();
        return std::string(out.chars(), size);
    }

    DecodeResult unmime64(std::string_view text, std::size_t capacity) const
    {
        GuardedBuffer out(capacity);
        auto in = exactCopy(text);
        const std::int64_t status = codec().mime64Decode(in.get(), text.size(), out.bytes(), capacity);
        EXPECT_TRUE(out.guardIntact()) << "Mime64 decoder wrote past capacity " << capacity;
        std::string bytes;
        if (status >= 0) {
            EXPECT_LE(static_cast<std::size_t>(status), capacity);
            bytes.assign(out.chars(), std::min<std::size_t>(static_cast<std::size_t>(status), capacity));
        }
        return {status, bytes};
    }

    std::string printable(std::string_view plain) const
    {
        const std::size_t bound = dravolin::printableEncodedBound(plain.size());
        GuardedBuffer out(bound);
        auto in = exactCopy(plain);
        const std::size_t written = codec().printableEncode(in.get(), plain.size(), out.chars());
        EXPECT_TRUE(out.guardIntact()) << "Printable encoder wrote past its bound";
        EXPECT_LE(written, bound);
        return std::string(out.chars(), std::min(written, bound));
    }

    std::string unprintable(std::string_view text) const
    {
        GuardedBuffer out(text.size());
        auto in = exactCopy(text);
        const std::size_t written = codec().printableDecode(in.get(), text.size(), out.chars());
        EXPECT_TRUE(out.guardIntact()) << "Printable decoder wrote past its input's length";
        EXPECT_LE(written, text.size());
        return std::string(out.chars(), std::min(written, text.size()));
    }

    // Both layouts, their format, and the way back.
    void expectMime64RoundTrip(std::string_view bytes) const
    {
        const std::string wrapped = mime64(bytes, Mime64Layout::Wrapped);
        const std::string single = mime64(bytes, Mime64Layout::SingleLine);
        ASSERT_EQ(cases::mime64WrappedFault(bytes.size(), wrapped), "") << "input length " << bytes.size();
        std::string unwrapped = wrapped;
        std::erase(unwrapped, '\r');
        std::erase(unwrapped, '\n');
        ASSERT_EQ(single, unwrapped) << "layouts differ beyond line breaks, input length " << bytes.size();
        for (const std::string &text : {wrapped, single}) {
            const DecodeResult back = unmime64(text, bytes.size());
            ASSERT_EQ(back.status, static_cast<std::int64_t>(bytes.size()));
            ASSERT_TRUE(back.bytes == bytes) << "input length " << bytes.size();
        }
    }

    void expectPrintableRoundTrip(std::string_view plain) const
    {
        const std::string encoded = printable(plain);
        ASSERT_EQ(cases::printableFault(plain, encoded), "")
            << "input length " << plain.size() << ", output starts " << encoded.substr(0, 160);
        ASSERT_TRUE(unprintable(encoded) == plain) << "input length " << plain.size();
    }
};

std::string nameOf(const ::testing::TestParamInfo<const Codec *> &info)
{
    return info.param->name;
}

// ---- Mime64: known answers -----------------------------------------------

TEST_P(CodecPath, Mime64Rfc4648VectorsBothLayouts)
{
    for (const auto &vector : cases::kRfc4648Vectors) {
        EXPECT_EQ(mime64(vector.bytes, Mime64Layout::SingleLine), vector.text);
        const std::string wrapped = vector.text.empty() ? ""s : std::string(vector.text) + "\r\n";
        EXPECT_EQ(mime64(vector.bytes, Mime64Layout::Wrapped), wrapped);
        for (const std::string &text : {std::string(vector.text), wrapped}) {
            const DecodeResult back = unmime64(text, vector.bytes.size());
            EXPECT_EQ(back.status, static_cast<std::int64_t>(vector.bytes.size())) << text;
            EXPECT_EQ(back.bytes, vector.bytes) << text;
        }
    }
}

TEST_P(CodecPath, Mime64EdgeOfAlphabet)
{
    for (const auto &vector : cases::kEdgeVectors) {
        EXPECT_EQ(mime64(vector.bytes, Mime64Layout::SingleLine), vector.text);
        EXPECT_EQ(unmime64(vector.text, 3).bytes, vector.bytes);
    }
}

TEST_P(CodecPath, Mime64AllByteValuesWrapAt76WithCrLf)
{
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    std::string single, wrapped;
    for (std::string_view line : cases::kAllBytesLines) {
        single += line;
        wrapped += std::string(line) + "\r\n";
    }
    EXPECT_EQ(mime64(bytes, Mime64Layout::SingleLine), single);
    EXPECT_EQ(mime64(bytes, Mime64Layout::Wrapped), wrapped);
    EXPECT_EQ(unmime64(wrapped, 256).bytes, bytes);
    // Python's own layout: LF every 76 and at the end.
    std::string lfWrapped;
    for (std::string_view line : cases::kAllBytesLines)
        lfWrapped += std::string(line) + "\n";
    EXPECT_EQ(unmime64(lfWrapped, 256).bytes, bytes);
}

TEST_P(CodecPath, Mime64LineBoundaries)
{
    // 57 bytes fill one line exactly; one more starts a second.
    EXPECT_EQ(mime64(std::string(57, '\0'), Mime64Layout::Wrapped), std::string(76, 'A') + "\r\n");
    EXPECT_EQ(mime64(std::string(58, '\0'), Mime64Layout::Wrapped),
              std::string(76, 'A') + "\r\n" + "AA==\r\n");
    EXPECT_EQ(mime64(std::string(60, '\xff'), Mime64Layout::Wrapped),
              std::string(76, '/') + "\r\n" + "////\r\n");
    EXPECT_EQ(mime64(std::string(114, '\0'), Mime64Layout::Wrapped),
              std::string(76, 'A') + "\r\n" + std::string(76, 'A') + "\r\n");
    EXPECT_EQ(mime64(std::string(114, '\0'), Mime64Layout::SingleLine), std::string(152, 'A'));
}

TEST(Mime64Size, ExactForBothLayouts)
{
    for (std::size_t n : {0ull, 1ull, 2ull, 3ull, 56ull, 57ull, 58ull, 114ull, 115ull, 1000ull, 1ull << 32}) {
        const std::size_t chars = (n + 2) / 3 * 4;
        EXPECT_EQ(dravolin::mime64EncodedSize(n, Mime64Layout::SingleLine), chars) << n;
        EXPECT_EQ(dravolin::mime64EncodedSize(n, Mime64Layout::Wrapped), chars + 2 * ((chars + 75) / 76))
            << n;
    }
}

// ---- Mime64: round trips -------------------------------------------------

TEST_P(CodecPath, Mime64RoundTripEveryLength)
{
    for (std::size_t n = 0; n <= 700; ++n)
        ASSERT_NO_FATAL_FAILURE(expectMime64RoundTrip(cases::randomBytes(n, 1000 + n)));
}

TEST_P(CodecPath, Mime64RoundTripEveryByteAtEveryOffset)
{
    for (std::size_t offset = 0; offset < 120; ++offset) {
        std::string bytes(120, '\0');
        for (int value = 0; value < 256; ++value) {
            bytes[offset] = static_cast<char>(value);
            const std::string single = mime64(bytes, Mime64Layout::SingleLine);
            ASSERT_EQ(unmime64(single, 120).bytes, bytes) << "offset " << offset << " value " << value;
            const std::string wrapped = mime64(bytes, Mime64Layout::Wrapped);
            ASSERT_EQ(unmime64(wrapped, 120).bytes, bytes) << "offset " << offset << " value " << value;
        }
    }
}

TEST_P(CodecPath, Mime64RoundTripLargeBuffers)
{
    for (std::size_t n : {1u << 20, (5u << 20) + 1, (3u << 20) + 2, 57u * 4096})
        ASSERT_NO_FATAL_FAILURE(expectMime64RoundTrip(cases::randomBytes(n, n)));
}

// ---- Mime64: decoding leniency and faults --------------------------------

TEST_P(CodecPath, Mime64DecodeAcceptsLenientTexts)
{
    for (const auto &vector : cases::kLenientMime64) {
        const DecodeResult back = unmime64(vector.text, 16);
        EXPECT_EQ(back.status, static_cast<std::int64_t>(vector.bytes.size()))
            << ::testing::PrintToString(std::string(vector.text));
        EXPECT_EQ(back.bytes, vector.bytes) << ::testing::PrintToString(std::string(vector.text));
    }
}

TEST_P(CodecPath, Mime64DecodeRejectsMalformedTexts)
{
    for (std::string_view text : cases::kMalformedMime64) {
        const auto shown = ::testing::PrintToString(std::string(text));
        EXPECT_EQ(unmime64(text, 64).status, dravolin::kMalformed) << shown;
        EXPECT_EQ(unmime64(text, 0).status, dravolin::kMalformed) << shown << " (malformed beats too small)";
    }
}

TEST_P(CodecPath, Mime64DecodeRejectsEveryForeignByte)
{
    for (int value = 0; value < 256; ++value) {
        const char c = static_cast<char>(value);
        if (cases::isBase64Char(c) || c == '=')
            continue;
        const std::string text = "Zm9v"s + c + "YmFy";
        const bool skipped = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        const DecodeResult back = unmime64(text, 6);
        if (skipped) {
            EXPECT_EQ(back.bytes, "foobar") << "byte " << value;
        } else {
            EXPECT_EQ(back.status, dravolin::kMalformed) << "byte " << value;
        }
    }
}

TEST_P(CodecPath, Mime64DecodeRejectsBadCharacterAtEveryPosition)
{
    for (std::size_t n : {1u, 2u, 3u, 100u, 200u}) {
        const std::string bytes = cases::randomBytes(n, 77 + n);
        for (const Mime64Layout layout : {Mime64Layout::Wrapped, Mime64Layout::SingleLine}) {
            const std::string text = mime64(bytes, layout);
            for (std::size_t pos = 0; pos <= text.size(); ++pos) {
                for (char bad : {'!', '-', '_', '\0', '\x80', '\xff', '\x0b', '.'}) {
                    if (pos < text.size()) {
                        std::string replaced = text;
                        replaced[pos] = bad;
                        ASSERT_EQ(unmime64(replaced, n).status, dravolin::kMalformed)
                            << "replaced at " << pos << " of " << text.size();
                    }
                    std::string inserted = text;
                    inserted.insert(pos, 1, bad);
                    ASSERT_EQ(unmime64(inserted, n).status, dravolin::kMalformed)
                        << "inserted at " << pos << " of " << text.size();
                    ASSERT_EQ(unmime64(inserted, 0).status, dravolin::kMalformed)
                        << "inserted at " << pos << ", capacity 0";
                }
            }
        }
    }
}

TEST_P(CodecPath, Mime64DecodeRejectsDataAfterPadding)
{
    for (std::size_t n = 1; n <= 200; ++n) {
        if (n % 3 == 0)
            continue;
        const std::string text = mime64(cases::randomBytes(n, n), Mime64Layout::Wrapped);
        for (const std::string &tail : {"A"s, "QQ"s, "QQ=="s, "\r\nQUJD\r\n"s, " A"s, "="s})
            ASSERT_EQ(unmime64(text + tail, 2 * n).status, dravolin::kMalformed) << n << " + " << tail;
    }
}

TEST_P(CodecPath, Mime64DecodeTakesMissingPaddingAndAnyWhitespace)
{
    cases::SplitMix64 rng(99);
    for (std::size_t n = 0; n <= 300; ++n) {
        const std::string bytes = cases::randomBytes(n, 5000 + n);
        std::string bare = mime64(bytes, Mime64Layout::SingleLine);
        std::erase(bare, '=');
        ASSERT_EQ(unmime64(bare, n).bytes, bytes) << "unpadded, length " << n;
        std::string sprinkled;
        for (char c : mime64(bytes, Mime64Layout::SingleLine)) {
            while (rng.below(4) == 0)
                sprinkled += " \t\r\n"[rng.below(4)];
            sprinkled += c;
        }
        sprinkled += "\r\n \t";
        const DecodeResult back = unmime64("\xEF\xBB\xBF"s + sprinkled, n);
        ASSERT_EQ(back.status, static_cast<std::int64_t>(n)) << "whitespace, length " << n;
        ASSERT_EQ(back.bytes, bytes) << "whitespace, length " << n;
    }
}

TEST_P(CodecPath, Mime64DecodeReportsTooSmallWithoutOverrun)
{
    for (std::size_t n : {1u, 2u, 3u, 4u, 57u, 58u, 200u, 1000u}) {
        const std::string bytes = cases::randomBytes(n, 31 * n);
        const std::string text = mime64(bytes, Mime64Layout::Wrapped);
        for (std::size_t capacity = 0; capacity < n; ++capacity)
            ASSERT_EQ(unmime64(text, capacity).status, dravolin::kTooSmall) << n << " into " << capacity;
        EXPECT_EQ(unmime64(text, n).bytes, bytes);
        EXPECT_EQ(unmime64(text, n + 5).bytes, bytes);
    }
}

TEST_P(CodecPath, Mime64MalformedBeatsTooSmallWhereverTheFaultIs)
{
    const std::string text = mime64(cases::randomBytes(3000, 8), Mime64Layout::Wrapped);
    for (std::size_t pos : {0ul, 1ul, 100ul, 2000ul, text.size() - 3, text.size()}) {
        std::string bad = text;
        bad.insert(pos, "*");
        EXPECT_EQ(unmime64(bad, 1).status, dravolin::kMalformed) << pos;
        EXPECT_EQ(unmime64(bad, 0).status, dravolin::kMalformed) << pos;
    }
    EXPECT_EQ(unmime64(text + "QQ==QQ==", 10).status, dravolin::kMalformed);
}

// ---- Printable: known answers --------------------------------------------

TEST_P(CodecPath, PrintableKnownEncodings)
{
    for (const auto &known : cases::kPrintableEncodings) {
        const auto shown = ::testing::PrintToString(std::string(known.plain));
        EXPECT_EQ(printable(known.plain), known.encoded) << shown;
        EXPECT_EQ(unprintable(known.encoded), known.plain) << shown;
    }
}

TEST_P(CodecPath, PrintableKnownDecodings)
{
    for (const auto &known : cases::kPrintableDecodings)
        EXPECT_EQ(unprintable(known.encoded), known.plain) << ::testing::PrintToString(std::string(known.encoded));
}

// Removes soft breaks of the given ending, so a wrapped text compares with
// the one-line text the rules give when no line is too long.
std::string withoutSoftBreaks(std::string text, std::string_view ending)
{
    const std::string soft = "=" + std::string(ending);
    for (std::size_t pos; (pos = text.find(soft)) != std::string::npos;)
        text.erase(pos, soft.size());
    return text;
}

TEST_P(CodecPath, PrintableLongLinesWrapWithinSeventySix)
{
    const std::string as(200, 'a');
    const std::string encoded = printable(as);
    EXPECT_EQ(cases::printableFault(as, encoded), "");
    EXPECT_EQ(withoutSoftBreaks(encoded, "\r\n"), as);
    EXPECT_NE(encoded.find("=\r\n"), std::string::npos);

    // An escape never straddles a soft break: every line holds whole =3D.
    const std::string equals(100, '=');
    const std::string escaped = printable(equals);
    EXPECT_EQ(cases::printableFault(equals, escaped), "");
    std::string expectedFlat;
    for (int i = 0; i < 100; ++i)
        expectedFlat += "=3D";
    EXPECT_EQ(withoutSoftBreaks(escaped, "\r\n"), expectedFlat);

    // 75 letters and '=': the escape does not fit beside them on one line.
    const std::string edge = std::string(75, 'b') + "=";
    const std::string edgeEncoded = printable(edge);
    EXPECT_EQ(cases::printableFault(edge, edgeEncoded), "");
    EXPECT_EQ(withoutSoftBreaks(edgeEncoded, "\r\n"), std::string(75, 'b') + "=3D");
    EXPECT_EQ(edgeEncoded.substr(edgeEncoded.size() - 3), "=3D");

    // A blank at 76 before a hard break must become =20, which forces a break.
    const std::string blank = std::string(75, 'c') + " \r\nx";
    const std::string blankEncoded = printable(blank);
    EXPECT_EQ(cases::printableFault(blank, blankEncoded), "");
    EXPECT_EQ(withoutSoftBreaks(blankEncoded, "\r\n"), std::string(75, 'c') + "=20\r\nx");

    // Lines that fit need no break.
    for (std::size_t length : {1u, 74u, 75u}) {
        const std::string line = std::string(length, 'd') + "\r\n" + std::string(length, 'e');
        EXPECT_EQ(withoutSoftBreaks(printable(line), "\r\n"), line);
    }
}

TEST_P(CodecPath, PrintableSoftBreaksFollowTheFirstLineBreak)
{
    const std::string longLine(300, 'z');
    struct Case {
        std::string plain;
        std::string_view soft;
    };
    const Case cases[] = {
        {longLine, "\r\n"},                                   // no line break: CR LF
        {"x\n" + longLine, "\n"},                             // LF text
        {longLine + "\n", "\n"},                              // the break comes after the long line
        {"x\r\n" + longLine + "\n" + longLine, "\r\n"},       // first break decides
        {"x\n" + longLine + "\r\n" + longLine, "\n"},
        {"x\ry\n" + longLine, "\n"},                          // a lone CR is no line break
        {"x\r\r\n" + longLine, "\r\n"},
        {"x\r" + longLine + "\r", "\r\n"},
    };
    for (const Case &c : cases) {
        const std::string encoded = printable(c.plain);
        const auto shown = ::testing::PrintToString(c.plain.substr(0, 6));
        EXPECT_EQ(cases::printableFault(c.plain, encoded), "") << shown;
        const std::string otherStyle = c.soft == "\n" ? "=\r\n" : "=\n";
        EXPECT_EQ(encoded.find(otherStyle), std::string::npos) << shown;
        EXPECT_NE(encoded.find("=" + std::string(c.soft)), std::string::npos) << shown;
        EXPECT_EQ(unprintable(encoded), c.plain) << shown;
    }
}

// ---- Printable: round trips and format on generated data -----------------

TEST_P(CodecPath, PrintableRoundTripAllByteValues)
{
    std::string ascending(256, '\0'), descending(256, '\0');
    for (int i = 0; i < 256; ++i) {
        ascending[i] = static_cast<char>(i);
        descending[i] = static_cast<char>(255 - i);
    }
    expectPrintableRoundTrip(ascending);
    expectPrintableRoundTrip(descending);
    expectPrintableRoundTrip(ascending + ascending + descending);
}

TEST_P(CodecPath, PrintableRoundTripEveryLength)
{
    // Alphabets that crowd the rules together: blanks beside breaks, lone
    // CRs before LFs, escapes at line ends.
    const std::string_view alphabets[] = {
        "ab \t\r\n="sv, "a \r\n"sv, "\r\n \t"sv, "=\xff x"sv, "abcdefghij"sv, "\0a\r\n\t "sv,
    };
    for (std::size_t n = 0; n <= 400; ++n) {
        ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(cases::randomBytes(n, 7 * n)));
        for (std::size_t a = 0; a < std::size(alphabets); ++a)
            ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(cases::randomFrom(alphabets[a], n, 31 * n + a)));
    }
}

TEST_P(CodecPath, PrintableRoundTripEveryByteAtEveryOffset)
{
    for (const std::string &background : {std::string(160, 'a'), std::string(160, ' '),
                                          cases::randomFrom("ab\r\n", 160, 3)}) {
        for (std::size_t offset = 0; offset < background.size(); ++offset) {
            std::string plain = background;
            for (int value = 0; value < 256; ++value) {
                plain[offset] = static_cast<char>(value);
                ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(plain))
                    << "offset " << offset << " value " << value;
            }
        }
    }
}

TEST_P(CodecPath, PrintableRoundTripLineEndingsAndBlanks)
{
    const std::string words = "Caro amico, ti scrivo = cos\xc3\xac mi distraggo un po'.";
    const std::string endings[] = {"\n", "\r\n", "\r", " \n", "\t\r\n", "  \t \r\n", " \r", "\r\r\n", "\n\r"};
    for (const std::string &ending : endings) {
        std::string plain;
        for (int i = 0; i < 20; ++i)
            plain += words + ending;
        expectPrintableRoundTrip(plain);
        expectPrintableRoundTrip(plain + " ");
        expectPrintableRoundTrip(plain + "\t");
    }
    // Mixed endings in one text, and very long lines between them.
    std::string mixed;
    for (int i = 0; i < 50; ++i)
        mixed += words + endings[i % std::size(endings)] + std::string(static_cast<std::size_t>(i * 37), 'x');
    expectPrintableRoundTrip(mixed);
    expectPrintableRoundTrip(std::string(100000, 'y'));
    expectPrintableRoundTrip(std::string(100000, ' '));
    expectPrintableRoundTrip(std::string(100000, '\0'));
}

TEST_P(CodecPath, PrintableRoundTripLargeBuffers)
{
    expectPrintableRoundTrip(cases::randomBytes(1 << 20, 42));
    expectPrintableRoundTrip(cases::italianProse(4 << 20, 7));
    expectPrintableRoundTrip(cases::randomFrom("ab =\t\r\n\xe8", 1 << 20, 9));
}

TEST_P(CodecPath, PrintableEncoderStaysWithinItsBound)
{
    // The costliest bytes: everything escaped, plus soft breaks.
    for (std::size_t n = 0; n <= 300; ++n) {
        for (char c : {'\xff', '=', '\r', ' ', '\0'})
            ASSERT_NO_FATAL_FAILURE(printable(std::string(n, c))) << n;
        ASSERT_NO_FATAL_FAILURE(printable(cases::randomFrom(" \n", n, n))) << n;
        ASSERT_NO_FATAL_FAILURE(printable(cases::randomFrom("\xff\n", n, n))) << n;
    }
    ASSERT_NO_FATAL_FAILURE(printable(std::string(1 << 20, '\xff')));
}

TEST_P(CodecPath, PrintableDecoderTakesAnyBytes)
{
    // Stray '=', half escapes, blanks and breaks in every order: the decoder
    // must neither fail nor grow the text.
    for (std::size_t n = 0; n <= 300; ++n) {
        for (std::string_view alphabet : {"= \t\r\nA0f"sv, "=\r\n"sv, "=4a \n"sv}) {
            const std::string text = cases::randomFrom(alphabet, n, 13 * n + alphabet.size());
            ASSERT_LE(unprintable(text).size(), n);
        }
    }
}

// ---- All paths agree with the scalar reference ---------------------------

TEST_P(CodecPath, AgreesWithScalarPath)
{
    if (GetParam() == &dravolin::scalarCodec())
        GTEST_SKIP() << "the scalar path is the reference";
    const Codec &reference = dravolin::scalarCodec();
    const Codec &path = codec();
    for (std::size_t n = 0; n <= 2048; n += (n < 300 ? 1 : 61)) {
        const std::string bytes = cases::randomBytes(n, 3 * n + 1);
        const std::string prose = cases::italianProse(n, n);
        for (const Mime64Layout layout : {Mime64Layout::Wrapped, Mime64Layout::SingleLine}) {
            const std::size_t size = dravolin::mime64EncodedSize(n, layout);
            std::string a(size, '\0'), b(size, '\0');
            reference.mime64Encode(reinterpret_cast<const std::uint8_t *>(bytes.data()), n, a.data(), layout);
            path.mime64Encode(reinterpret_cast<const std::uint8_t *>(bytes.data()), n, b.data(), layout);
            ASSERT_EQ(a, b) << "Mime64 encode, length " << n;
            // Damage the text in one place: both paths must judge it alike.
            std::string damaged = a;
            if (!damaged.empty())
                damaged[(n * 7) % damaged.size()] = "!= \n-A"[n % 6];
            for (const std::string &text : {a, damaged}) {
                for (std::size_t capacity : {n, n / 2}) {
                    std::vector<std::uint8_t> x(capacity + 1), y(capacity + 1);
                    const auto rx = reference.mime64Decode(text.data(), text.size(), x.data(), capacity);
                    const auto ry = path.mime64Decode(text.data(), text.size(), y.data(), capacity);
                    ASSERT_EQ(rx, ry) << "Mime64 decode, length " << n << " capacity " << capacity;
                    if (rx > 0) {
                        ASSERT_TRUE(std::equal(x.begin(), x.begin() + rx, y.begin())) << n;
                    }
                }
            }
        }
        for (const std::string &plain : {bytes, prose, cases::randomFrom("= \t\r\nA0f", n, n)}) {
            std::string a(dravolin::printableEncodedBound(n), '\0'), b = a;
            a.resize(reference.printableEncode(plain.data(), n, a.data()));
            b.resize(path.printableEncode(plain.data(), n, b.data()));
            ASSERT_EQ(a, b) << "Printable encode, length " << n;
            std::string x(n, '\0'), y(n, '\0');
            x.resize(reference.printableDecode(plain.data(), n, x.data()));
            y.resize(path.printableDecode(plain.data(), n, y.data()));
            ASSERT_EQ(x, y) << "Printable decode of raw input, length " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, CodecPath, ::testing::ValuesIn(dravolin::supportedCodecs()), nameOf);

} // namespace
