// What only the C ABI of libdravolin.so can get wrong: text layout, argument
// checks, NULL, int32 narrowing, the caller's buffer, large texts in their
// own mappings of which a freed one keeps at most 64 MiB resident.

#include "codec_cases.h"
#include "dravolin.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using namespace std::string_literals;
using TestoPtr = std::unique_ptr<char, decltype([](char *testo) { LiberaTesto(testo); })>;

TestoPtr makeTesto(const std::string &bytes)
{
    return TestoPtr(AllocaTesto(bytes.data(), static_cast<int32_t>(bytes.size())));
}

// A text's bytes, its length checked in the 4 bytes before it and a NUL after it.
std::string bytesOf(const TestoPtr &testo)
{
    if (!testo)
        return "(NULL)";
    const int32_t length = LunghezzaTesto(testo.get());
    EXPECT_EQ(std::string(testo.get() - 4, 4), std::string(reinterpret_cast<const char *>(&length), 4));
    EXPECT_EQ(testo.get()[length], '\0');
    return std::string(testo.get(), static_cast<std::size_t>(length));
}

std::string mime64(const std::string &bytes, int32_t opzione)
{
    return bytesOf(TestoPtr(
        ConvertiMime64(reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<int32_t>(bytes.size()), opzione)));
}

// The count, the buffer checked untouched past capacita.
int32_t unmime64(const std::string &text, int32_t capacita, std::string *bytes = nullptr)
{
    std::string buffer(capacita > 0 ? static_cast<std::size_t>(capacita) + 32 : 32, 'Z');
    const int32_t count = DecifraMime64(makeTesto(text).get(), reinterpret_cast<uint8_t *>(buffer.data()), capacita);
    EXPECT_EQ(buffer.substr(buffer.size() - 32), std::string(32, 'Z')) << "written past capacita " << capacita;
    if (bytes)
        *bytes = buffer.substr(0, count > 0 ? static_cast<std::size_t>(count) : 0);
    return count;
}

TEST(CApi, TextsAndArguments)
{
    EXPECT_EQ(bytesOf(makeTesto("a\0b\xff\r\n"s)), "a\0b\xff\r\n"s);
    EXPECT_EQ(bytesOf(TestoPtr(AllocaTesto(nullptr, 3))), "   ");
    EXPECT_EQ(AllocaTesto("abc", -1), nullptr);
    EXPECT_EQ(LunghezzaTesto(nullptr), 0);
    EXPECT_EQ(bytesOf(TestoPtr(DecifraPrintable(nullptr))), "");
    EXPECT_EQ(bytesOf(TestoPtr(ConvertiPrintable(makeTesto("a\0="s).get()))), "a=00=3D");
    EXPECT_EQ(mime64(std::string(58, '\0'), 1), std::string(76, 'A') + "\r\nAA==\r\n");
    EXPECT_EQ(mime64(std::string(58, '\0'), 0), std::string(76, 'A') + "AA==");
    EXPECT_EQ(mime64("foo", 2), "(NULL)");
    EXPECT_EQ(ConvertiMime64(nullptr, 1, 1), nullptr);
    // Past INT32_MAX characters: refused unread (1569314970 bytes fill 2147483644).
    EXPECT_EQ(ConvertiMime64(reinterpret_cast<const uint8_t *>("foo"), 1569314971, 1), nullptr);
    EXPECT_EQ(unmime64("Zm9vYmFy", -1), -2);
    EXPECT_EQ(unmime64("Zm9vYmFy!", -1), -1);
    EXPECT_EQ(unmime64("Zm9v\0YmFy"s, 6), -1); // the length is the truth; a NUL is data
    std::string bytes;
    for (std::size_t n = 0; n <= 130; ++n) {
        const std::string plain = dravolin::cases::randomBytes(n, n), text = mime64(plain, 1);
        ASSERT_EQ(unmime64(text, static_cast<int32_t>(n), &bytes), static_cast<int32_t>(n));
        ASSERT_EQ(bytes, plain);
        ASSERT_EQ(unmime64(text, static_cast<int32_t>(n) - 1), -2);
    }
}

// Large texts get their own mappings, of which a freed one keeps at most
// 64 MiB resident for the next text: results must not share or lose pages.
TEST(CApi, LargeTexts)
{
    const std::string bytes = dravolin::cases::randomBytes((std::size_t { 70 } << 20) + 1, 1);
    long size = 0, before = 0, after = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    ASSERT_EQ(std::fscanf(statm, "%ld %ld", &size, &before), 2);
    for (int round = 0; round < 3; ++round)
        LiberaTesto(ConvertiMime64(reinterpret_cast<const uint8_t *>(bytes.data()), 70 << 20, 1));
    std::rewind(statm);
    ASSERT_EQ(std::fscanf(statm, "%ld %ld", &size, &after), 2);
    std::fclose(statm);
    EXPECT_LE((after - before) * ::sysconf(_SC_PAGESIZE) >> 20, 64 + 4);
    const std::string text = mime64(bytes, 1);
    EXPECT_EQ(mime64(bytes, 1), text);
    std::string back;
    ASSERT_EQ(unmime64(text, static_cast<int32_t>(bytes.size()), &back), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(back, bytes);
}

} // namespace
