// What only the C ABI of libdravolin.so can get wrong: text layout, argument
// checks, NULL, int32 narrowing, the caller's buffer bounds; and the library
// as a file: exactly the C ABI exported, under a SONAME for the major version.
// The codecs are checked in convlib_codec_test; ctest runs this under each DRAVOLIN_CODEC.

#include "dravolin.h"

#include "codec_cases.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

namespace {

using namespace std::string_view_literals;

using TestoPtr = std::unique_ptr<char, decltype([](char *testo) { LiberaTesto(testo); })>;
TestoPtr makeTesto(std::string_view bytes)
{
    return TestoPtr(AllocaTesto(bytes.data(), static_cast<int32_t>(bytes.size())));
}

// A text's bytes, after checking its layout: its length just before it, a NUL after it.
std::string bytesOf(const TestoPtr &testo)
{
    EXPECT_NE(testo, nullptr);
    if (!testo)
        return {};
    const int32_t length = LunghezzaTesto(testo.get());
    int32_t prefix = -1;
    std::memcpy(&prefix, testo.get() - 4, 4);
    EXPECT_TRUE(prefix == length && length >= 0 && testo.get()[length] == '\0')
        << "prefix " << prefix << ", length " << length;
    return std::string(testo.get(), static_cast<std::size_t>(length));
}

std::string mime64(std::string_view bytes, int32_t opzione)
{
    return bytesOf(TestoPtr(
        ConvertiMime64(reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<int32_t>(bytes.size()), opzione)));
}

// Decodes into exactly capacita bytes followed by guard bytes.
int32_t unmime64(std::string_view text, int32_t capacita, std::string *bytes = nullptr)
{
    const std::size_t room = capacita > 0 ? static_cast<std::size_t>(capacita) : 0;
    std::string buffer(room + 32, 'Z');
    const int32_t status = DecifraMime64(makeTesto(text).get(), reinterpret_cast<uint8_t *>(buffer.data()), capacita);
    EXPECT_EQ(buffer.substr(room), std::string(32, 'Z')) << "written past capacita " << capacita;
    EXPECT_TRUE(status <= 0 || status <= capacita) << status << " bytes in " << capacita;
    if (bytes && status >= 0)
        *bytes = buffer.substr(0, std::min(room, static_cast<std::size_t>(status)));
    return status;
}

TEST(CApi, TextsHoldAnyBytes)
{
    EXPECT_EQ(bytesOf(makeTesto("a\0b\xff\r\n"sv)), "a\0b\xff\r\n"sv);
    TestoPtr blanks(AllocaTesto(nullptr, 5));
    EXPECT_EQ(bytesOf(blanks), "     ");
    blanks.get()[2] = 'x'; // the caller fills it in place
    EXPECT_EQ(bytesOf(blanks), "  x  ");
    EXPECT_EQ(bytesOf(TestoPtr(AllocaTesto(nullptr, 0))), "");
    EXPECT_EQ(bytesOf(TestoPtr(AllocaTesto("abc", 0))), "");
    for (const int32_t negative : { -1, INT32_MIN })
        EXPECT_TRUE(AllocaTesto("abc", negative) == nullptr && AllocaTesto(nullptr, negative) == nullptr) << negative;
}

TEST(CApi, NullIsTheEmptyText)
{
    EXPECT_EQ(LunghezzaTesto(nullptr), 0);
    LiberaTesto(nullptr);
    uint8_t buffer[4] = { 1, 2, 3, 4 };
    EXPECT_TRUE(DecifraMime64(nullptr, buffer, 4) == 0 && buffer[0] == 1);
    EXPECT_EQ(bytesOf(TestoPtr(ConvertiPrintable(nullptr))), "");
    EXPECT_EQ(bytesOf(TestoPtr(DecifraPrintable(nullptr))), "");
    for (const int32_t opzione : { 0, 1 })
        EXPECT_EQ(bytesOf(TestoPtr(ConvertiMime64(nullptr, 0, opzione))) + mime64("", opzione), "");
    // No buffer: nothing fits, yet a text of blanks still decodes.
    EXPECT_EQ(DecifraMime64(makeTesto("Zm9v").get(), nullptr, 0), -2);
    EXPECT_EQ(DecifraMime64(makeTesto(" \r\n").get(), nullptr, 0), 0);
}

TEST(CApi, OpzioneChoosesTheLayout)
{
    // 58 bytes: a full line of 57 and one more.
    EXPECT_EQ(mime64(std::string(58, '\0'), 1), std::string(76, 'A') + "\r\nAA==\r\n");
    EXPECT_EQ(mime64(std::string(58, '\0'), 0), std::string(76, 'A') + "AA==");
    const uint8_t bytes[3] = { 'f', 'o', 'o' };
    for (const int32_t opzione : { -1, 2, 76, INT32_MIN, INT32_MAX })
        EXPECT_EQ(ConvertiMime64(bytes, 3, opzione), nullptr) << opzione;
    EXPECT_TRUE(!ConvertiMime64(bytes, -1, 1) && !ConvertiMime64(bytes, INT32_MIN, 0) && !ConvertiMime64(nullptr, 1, 1)
                && !ConvertiMime64(nullptr, 0, 5));
}

TEST(CApi, ConvertiMime64RefusesTextsPastInt32Max)
{
    // Read-only zero pages that cost no memory; the library need not read them to know.
    void *zeros = ::mmap(nullptr, INT32_MAX, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    const auto *bytes = static_cast<const uint8_t *>(zeros);
    // By hand: 1610612733 bytes make 536870911 groups, 2147483644 characters
    // on one line; wrapped, 1569314970 bytes make 2092419960 characters in
    // 27531842 lines, 2147483644 with CR LF. One byte more is a group more.
    EXPECT_TRUE(!ConvertiMime64(bytes, 1610612734, 0) && !ConvertiMime64(bytes, 1569314971, 1)
                && !ConvertiMime64(bytes, INT32_MAX, 1));
    ::munmap(zeros, INT32_MAX);
}

TEST(CApi, DecifraMime64KeepsWithinCapacita)
{
    std::string bytes;
    for (const int32_t capacita : { 5, 1, 0, -1, INT32_MIN })
        EXPECT_EQ(unmime64("Zm9vYmFy", capacita), -2) << capacita;
    EXPECT_TRUE(unmime64("Zm9vYmFy!", 1) == -1 && unmime64("Zm9vYmFy!", -1) == -1) << "malformed beats any capacita";
    // The program's own calls: a buffer as long as the text, and one byte short.
    for (std::size_t n = 0; n <= 200; ++n) {
        const std::string plain = dravolin::cases::randomBytes(n, 2000 + n), text = mime64(plain, 1);
        ASSERT_TRUE(unmime64(text, static_cast<int32_t>(text.size()), &bytes) == static_cast<int32_t>(n)
                    && bytes == plain)
            << n;
        ASSERT_EQ(unmime64(text, static_cast<int32_t>(n) - 1), -2) << n;
    }
}

TEST(CApi, TheLengthPrefixIsTheTruth)
{
    EXPECT_EQ(unmime64("Zm9v\0YmFy"sv, 6), -1); // a NUL is a foreign byte, not the end
    EXPECT_EQ(bytesOf(TestoPtr(DecifraPrintable(makeTesto("a\0=41"sv).get()))), "a\0A"sv);
    TestoPtr longer = makeTesto("Zm9vYmFy=41");
    const int32_t shorter = 4; // bytes past the stated length are no part of the text
    std::memcpy(longer.get() - 4, &shorter, 4);
    uint8_t buffer[8] = {};
    EXPECT_TRUE(DecifraMime64(longer.get(), buffer, 8) == 3 && std::memcmp(buffer, "foo", 3) == 0);
    EXPECT_EQ(bytesOf(TestoPtr(DecifraPrintable(longer.get()))), "Zm9v");
    EXPECT_EQ(bytesOf(TestoPtr(ConvertiPrintable(longer.get()))), "Zm9v");
}

// Texts of whole-file size live in their own mapping, trimmed once written.
TEST(CApi, LargeTextsRoundTrip)
{
    const std::string bytes = dravolin::cases::randomBytes((std::size_t { 8 } << 20) + 1, 1), text = mime64(bytes, 1);
    std::string back;
    ASSERT_EQ(dravolin::cases::mime64WrappedFault(bytes.size(), text), "");
    ASSERT_TRUE(unmime64(text, static_cast<int32_t>(bytes.size()), &back) == static_cast<int32_t>(bytes.size())
                && back == bytes);
    const std::string_view plain = std::string_view(bytes).substr(0, std::size_t { 3 } << 20);
    TestoPtr encoded(ConvertiPrintable(makeTesto(plain).get()));
    ASSERT_EQ(dravolin::cases::printableFault(plain, bytesOf(encoded)), "");
    ASSERT_TRUE(bytesOf(TestoPtr(DecifraPrintable(encoded.get()))) == plain);
}

// The output of a command, which must succeed.
std::string run(const std::string &command)
{
    std::string output;
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    char chunk[4096];
    for (std::size_t got; pipe && (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, got);
    EXPECT_TRUE(pipe && ::pclose(pipe) == 0) << command << " failed (binutils missing?):\n" << output;
    return output;
}

TEST(SharedLibrary, ExportsExactlyTheCAbiUnderItsSoname)
{
    std::istringstream lines(run("nm -D --defined-only '" DRAVOLIN_LIBRARY_FILE "'"));
    std::set<std::string> exported;
    for (std::string address, type, name; lines >> address >> type >> name;)
        exported.insert(name.substr(0, name.find('@'))); // drop any version tag
    EXPECT_EQ(exported,
              (std::set<std::string> { "AllocaTesto", "LunghezzaTesto", "LiberaTesto", "ConvertiMime64",
                                       "DecifraMime64", "ConvertiPrintable", "DecifraPrintable" }));
    const std::string dynamic = run("readelf -d '" DRAVOLIN_LIBRARY_FILE "'");
    EXPECT_NE(dynamic.find("Library soname: [libdravolin.so.1]"), std::string::npos) << dynamic;
}

} // namespace
