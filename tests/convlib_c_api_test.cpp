// The C ABI of libdravolin.so, called as a program would: texts, argument
// checks, results and bounds. ctest runs it once per DRAVOLIN_CODEC path.

#include "dravolin.h"

#include "codec_cases.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace cases = dravolin::cases;
using namespace std::string_literals;
using namespace std::string_view_literals;

struct TestoDeleter {
    void operator()(char *testo) const { LiberaTesto(testo); }
};
using TestoPtr = std::unique_ptr<char, TestoDeleter>;

TestoPtr makeTesto(std::string_view bytes)
{
    return TestoPtr(AllocaTesto(bytes.data(), static_cast<int32_t>(bytes.size())));
}

// A text's bytes, after checking its layout: length prefix and NUL after.
std::string bytesOf(const TestoPtr &testo)
{
    EXPECT_NE(testo, nullptr);
    if (!testo)
        return {};
    const int32_t length = LunghezzaTesto(testo.get());
    int32_t prefix = -1;
    std::memcpy(&prefix, testo.get() - 4, 4);
    EXPECT_EQ(prefix, length);
    EXPECT_GE(length, 0);
    EXPECT_EQ(testo.get()[length], '\0') << "no NUL after the text";
    return std::string(testo.get(), static_cast<std::size_t>(length));
}

std::string mime64(std::string_view bytes, int32_t opzione)
{
    TestoPtr text(ConvertiMime64(reinterpret_cast<const uint8_t *>(bytes.data()),
                                 static_cast<int32_t>(bytes.size()), opzione));
    return bytesOf(text);
}

struct Decoded {
    int32_t status;
    std::string bytes;
};

// Decodes into a buffer of exactly capacita bytes with guard bytes after it.
Decoded unmime64(std::string_view text, int32_t capacita)
{
    constexpr std::size_t kGuard = 32;
    const std::size_t room = capacita > 0 ? static_cast<std::size_t>(capacita) : 0;
    std::vector<uint8_t> buffer(room + kGuard, 0x5A);
    TestoPtr testo = makeTesto(text);
    const int32_t status = DecifraMime64(testo.get(), buffer.data(), capacita);
    for (std::size_t i = room; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 0x5A) << "written past capacita " << capacita << " at " << i;
    Decoded result{status, {}};
    if (status > 0) {
        EXPECT_LE(static_cast<std::size_t>(status), room);
        result.bytes.assign(reinterpret_cast<const char *>(buffer.data()),
                            std::min(room, static_cast<std::size_t>(status)));
    }
    return result;
}

std::string printable(std::string_view plain)
{
    TestoPtr in = makeTesto(plain);
    TestoPtr out(ConvertiPrintable(in.get()));
    EXPECT_EQ(std::string_view(in.get(), plain.size()), plain) << "the argument was changed";
    return bytesOf(out);
}

std::string unprintable(std::string_view text)
{
    TestoPtr in = makeTesto(text);
    TestoPtr out(DecifraPrintable(in.get()));
    EXPECT_EQ(std::string_view(in.get(), text.size()), text) << "the argument was changed";
    return bytesOf(out);
}

// Skips when DRAVOLIN_CODEC forces a path this CPU cannot run: the library
// would quietly run another one and the run would prove nothing new.
class CApi : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *forced = std::getenv("DRAVOLIN_CODEC");
        if (!forced)
            return;
        __builtin_cpu_init();
        const std::string path = forced;
        if (path == "avx2" && !__builtin_cpu_supports("avx2"))
            GTEST_SKIP() << "this CPU has no AVX2";
        if (path == "avx512" && !(__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")))
            GTEST_SKIP() << "this CPU has no AVX-512 (F and BW)";
    }
};

// ---- Texts ---------------------------------------------------------------

TEST_F(CApi, AllocaTestoCopiesAnyBytes)
{
    const std::string_view bytes = "a\0b\xff\r\n"sv;
    TestoPtr testo = makeTesto(bytes);
    EXPECT_EQ(LunghezzaTesto(testo.get()), 6);
    EXPECT_EQ(bytesOf(testo), bytes);
}

TEST_F(CApi, AllocaTestoWithoutBytesGivesBlanks)
{
    TestoPtr blanks(AllocaTesto(nullptr, 5));
    EXPECT_EQ(bytesOf(blanks), "     ");
    blanks.get()[2] = 'x'; // the caller fills it in place
    EXPECT_EQ(bytesOf(blanks), "  x  ");
    TestoPtr empty(AllocaTesto(nullptr, 0));
    EXPECT_EQ(bytesOf(empty), "");
    TestoPtr emptyCopy(AllocaTesto("abc", 0));
    EXPECT_EQ(bytesOf(emptyCopy), "");
}

TEST_F(CApi, AllocaTestoRefusesNegativeLengths)
{
    EXPECT_EQ(AllocaTesto("abc", -1), nullptr);
    EXPECT_EQ(AllocaTesto(nullptr, -1), nullptr);
    EXPECT_EQ(AllocaTesto(nullptr, INT32_MIN), nullptr);
}

TEST_F(CApi, NullIsTheEmptyText)
{
    EXPECT_EQ(LunghezzaTesto(nullptr), 0);
    LiberaTesto(nullptr);
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(DecifraMime64(nullptr, buffer, 4), 0);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(bytesOf(TestoPtr(ConvertiPrintable(nullptr))), "");
    EXPECT_EQ(bytesOf(TestoPtr(DecifraPrintable(nullptr))), "");
}

// ---- ConvertiMime64 ------------------------------------------------------

TEST_F(CApi, ConvertiMime64Rfc4648Vectors)
{
    for (const auto &vector : cases::kRfc4648Vectors) {
        EXPECT_EQ(mime64(vector.bytes, 0), vector.text);
        EXPECT_EQ(mime64(vector.bytes, 1), vector.text.empty() ? ""s : std::string(vector.text) + "\r\n");
    }
}

TEST_F(CApi, ConvertiMime64WrapsAllByteValues)
{
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    std::string wrapped, single;
    for (std::string_view line : cases::kAllBytesLines) {
        wrapped += std::string(line) + "\r\n";
        single += line;
    }
    EXPECT_EQ(mime64(bytes, 1), wrapped);
    EXPECT_EQ(mime64(bytes, 0), single);
}

TEST_F(CApi, ConvertiMime64EmptyInputGivesTheEmptyText)
{
    for (int32_t opzione : {0, 1}) {
        EXPECT_EQ(bytesOf(TestoPtr(ConvertiMime64(nullptr, 0, opzione))), "");
        const uint8_t byte = 7;
        EXPECT_EQ(bytesOf(TestoPtr(ConvertiMime64(&byte, 0, opzione))), "");
    }
}

TEST_F(CApi, ConvertiMime64RefusesBadArguments)
{
    const uint8_t bytes[3] = {'f', 'o', 'o'};
    for (int32_t opzione : {-1, 2, 3, 76, INT32_MIN, INT32_MAX})
        EXPECT_EQ(ConvertiMime64(bytes, 3, opzione), nullptr) << opzione;
    EXPECT_EQ(ConvertiMime64(bytes, 3, 2), nullptr);
    EXPECT_EQ(ConvertiMime64(bytes, -1, 1), nullptr);
    EXPECT_EQ(ConvertiMime64(bytes, INT32_MIN, 0), nullptr);
    EXPECT_EQ(ConvertiMime64(nullptr, 1, 1), nullptr);
    EXPECT_EQ(ConvertiMime64(nullptr, 0, 5), nullptr);
}

// The largest input whose text still fits an int32 length, worked out from
// the layout: 4 characters per 3 bytes, plus CR LF per 76 when wrapped.
std::int64_t largestEncodable(bool wrapped)
{
    auto size = [wrapped](std::int64_t n) {
        const std::int64_t chars = (n + 2) / 3 * 4;
        return chars + (wrapped ? 2 * ((chars + 75) / 76) : 0);
    };
    std::int64_t low = 0, high = INT32_MAX;
    while (low < high) {
        const std::int64_t mid = (low + high + 1) / 2;
        if (size(mid) <= INT32_MAX)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

TEST_F(CApi, ConvertiMime64RefusesTextsPastInt32Max)
{
    // Zero pages that cost no memory; the library need not read them to know.
    const std::size_t span = INT32_MAX;
    void *zeros = ::mmap(nullptr, span, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    const auto *bytes = static_cast<const uint8_t *>(zeros);
    EXPECT_EQ(largestEncodable(false), 1610612733);
    for (bool wrapped : {false, true}) {
        const auto tooMany = static_cast<int32_t>(largestEncodable(wrapped) + 1);
        EXPECT_EQ(ConvertiMime64(bytes, tooMany, wrapped ? 1 : 0), nullptr) << tooMany;
    }
    EXPECT_EQ(ConvertiMime64(bytes, INT32_MAX, 1), nullptr);
    ::munmap(zeros, span);
}

// ---- DecifraMime64 -------------------------------------------------------

TEST_F(CApi, DecifraMime64KnownTexts)
{
    for (const auto &vector : cases::kLenientMime64) {
        const Decoded back = unmime64(vector.text, 8);
        EXPECT_EQ(back.status, static_cast<int32_t>(vector.bytes.size())) << ::testing::PrintToString(std::string(vector.text));
        EXPECT_EQ(back.bytes, vector.bytes);
    }
    for (std::string_view text : cases::kMalformedMime64) {
        EXPECT_EQ(unmime64(text, 64).status, -1) << ::testing::PrintToString(std::string(text));
        EXPECT_EQ(unmime64(text, 0).status, -1) << ::testing::PrintToString(std::string(text));
    }
}

TEST_F(CApi, DecifraMime64TooSmallAndNegativeCapacity)
{
    EXPECT_EQ(unmime64("Zm9vYmFy", 6).bytes, "foobar");
    for (int32_t capacita : {5, 1, 0, -1, INT32_MIN})
        EXPECT_EQ(unmime64("Zm9vYmFy", capacita).status, -2) << capacita;
    EXPECT_EQ(unmime64("Zm9vYmFy!", 1).status, -1);
    EXPECT_EQ(unmime64("Zm9vYmFy!", -1).status, -1);
    // No buffer at all: nothing fits, yet an empty text still decodes.
    TestoPtr foo = makeTesto("Zm9v");
    EXPECT_EQ(DecifraMime64(foo.get(), nullptr, 0), -2);
    TestoPtr blank = makeTesto(" \r\n");
    EXPECT_EQ(DecifraMime64(blank.get(), nullptr, 0), 0);
}

TEST_F(CApi, TheLengthPrefixIsTheTruth)
{
    // A NUL inside the text is a foreign byte, not its end.
    EXPECT_EQ(unmime64("Zm9v\0YmFy"sv, 6).status, -1);
    EXPECT_EQ(unprintable("a\0=41"sv), "a\0A"sv);
    // Bytes past the stated length are no part of the text.
    TestoPtr longer = makeTesto("Zm9vYmFy=41");
    const int32_t shorter = 4;
    std::memcpy(longer.get() - 4, &shorter, 4);
    uint8_t buffer[8] = {};
    EXPECT_EQ(DecifraMime64(longer.get(), buffer, 8), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 3), "foo");
    EXPECT_EQ(bytesOf(TestoPtr(DecifraPrintable(longer.get()))), "Zm9v");
    EXPECT_EQ(bytesOf(TestoPtr(ConvertiPrintable(longer.get()))), "Zm9v");
}

// ---- Round trips through the library ---------------------------------------

TEST_F(CApi, Mime64RoundTripsEveryLength)
{
    for (std::size_t n = 0; n <= 400; ++n) {
        const std::string bytes = cases::randomBytes(n, 2000 + n);
        for (int32_t opzione : {0, 1}) {
            const std::string text = mime64(bytes, opzione);
            // The program's own call: a buffer as long as the text.
            const Decoded back = unmime64(text, static_cast<int32_t>(text.size()));
            ASSERT_EQ(back.status, static_cast<int32_t>(n)) << n;
            ASSERT_EQ(back.bytes, bytes) << n;
            if (opzione == 1) {
                ASSERT_EQ(cases::mime64WrappedFault(n, text), "") << n;
            }
        }
    }
}

TEST_F(CApi, Mime64RoundTripsLargeBuffers)
{
    for (std::size_t n : {1u << 20, (8u << 20) + 1}) {
        const std::string bytes = cases::randomBytes(n, n + 1);
        const std::string text = mime64(bytes, 1);
        ASSERT_EQ(cases::mime64WrappedFault(n, text), "");
        const Decoded back = unmime64(text, static_cast<int32_t>(n));
        ASSERT_EQ(back.status, static_cast<int32_t>(n));
        ASSERT_TRUE(back.bytes == bytes);
    }
}

TEST_F(CApi, PrintableKnownAnswers)
{
    for (const auto &known : cases::kPrintableEncodings)
        EXPECT_EQ(printable(known.plain), known.encoded) << ::testing::PrintToString(std::string(known.plain));
    for (const auto &known : cases::kPrintableDecodings)
        EXPECT_EQ(unprintable(known.encoded), known.plain) << ::testing::PrintToString(std::string(known.encoded));
}

TEST_F(CApi, PrintableRoundTripsAnyBytes)
{
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    std::vector<std::string> inputs = {all, std::string(3, '\0'), "a\0b =\r\n\0"s};
    for (std::size_t n = 0; n <= 300; n += 7) {
        inputs.push_back(cases::randomBytes(n, n));
        inputs.push_back(cases::randomFrom("ab =\t\r\n\0"sv, n, n));
    }
    inputs.push_back(cases::italianProse(2 << 20, 11));
    inputs.push_back(cases::randomBytes(2 << 20, 12));
    for (const std::string &plain : inputs) {
        const std::string encoded = printable(plain);
        ASSERT_EQ(cases::printableFault(plain, encoded), "") << "length " << plain.size();
        ASSERT_TRUE(unprintable(encoded) == plain) << "length " << plain.size();
    }
}

} // namespace
