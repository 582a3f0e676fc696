// Every codec path this CPU runs held to the scalar one: known answers (RFC 4648, RFC 2045), round
// trips and format checks on data built to land on the edges of the wide blocks; then the C ABI, threads too.

#include "codec_cases.h"
#include "dravolin.h"
#include "path_choice.h"
#include "testo.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <barrier>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <tuple>

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace dravolin;
using namespace dravolin::cases;
using namespace std::string_literals;
using ::testing::_;
using ::testing::IsNull;
using ::testing::Matcher;

const auto ok = [](const std::string &bytes) { return EveryPath { std::int64_t(bytes.size()), bytes, nullptr }; };

// One operation on every path, each held to the scalar one.
EveryPath on(Op op, const std::string &input, std::size_t capacity = 0)
{
    const EveryPath got = onEveryPath(op, input, capacity);
    EXPECT_THAT(got.differs, IsNull()) << "differs from scalar on " << ::testing::PrintToString(input);
    return got;
}

const auto printable = [](const std::string &input, bool encode = true) {
    return on(encode ? Op::Printable : Op::Unprintable, input).bytes;
};

void expectPrintableRoundTrip(const std::string &plain)
{
    const std::string text = printable(plain);
    ASSERT_EQ(printableFault(plain, text), "") << ::testing::PrintToString(plain);
    ASSERT_EQ(printable(text, false), plain);
    printable(plain, false); // any text decodes alike on every path
}

TEST(Paths, KnownAnswers)
{
    const std::string rfc4648[]
        = { "",     "",         "f",     "Zg==",     "fo",     "Zm8=",     "foo",          "Zm9v",
            "foob", "Zm9vYg==", "fooba", "Zm9vYmE=", "foobar", "Zm9vYmFy", "\xfb\xff\xbf", "+/+/" };
    for (std::size_t i = 0; i < std::size(rfc4648); i += 2) {
        EXPECT_EQ(on(Op::Mime64, rfc4648[i]).bytes, rfc4648[i + 1]);
        EXPECT_EQ(on(Op::Unmime64, wrapped(rfc4648[i + 1]), rfc4648[i].size()), ok(rfc4648[i]));
    }
    // Read leniently: blanks anywhere, a leading byte-order mark, padding missing or apart.
    const std::string lenient[]
        = { " \t\r\n",      "",    "\xEF\xBB\xBF",       "",   "Zg", "f", "Zm8", "fo", "Zg= =", "f", "Zm8 =", "fo",
            " Z m\t9 v \r", "foo", "\xEF\xBB\xBFZm9v\n", "foo" };
    for (std::size_t i = 0; i < std::size(lenient); i += 2)
        EXPECT_EQ(on(Op::Unmime64, lenient[i], lenient[i + 1].size()), ok(lenient[i + 1])) << lenient[i];
    // Malformed beats too small.
    for (const std::string &text : { "Zm9v!"s, "Zm-v"s, "Zm9v\0"s, "Zm9v\xc3\xa8"s, " \xEF\xBB\xBFZm9v"s, "Zg==Zg=="s,
                                     "Zg=a"s, "=Zg"s, "QUJD="s, "Zm8=="s, "Z"s, "Zm9vY=="s, "Zm9v\r\nY\r\n"s })
        EXPECT_EQ(on(Op::Unmime64, text, 0).count, kMalformed) << text;
    const std::string encodings[]
        = { "Hi, you!~",  "Hi, you!~", "a=b",        "a=3Db",        "a\0\x7f\xff"s, "a=00=7F=FF",  "caff\xc3\xa8",
            "caff=C3=A8", "a b\tc",    "a b\tc",     "a  ",          "a =20",        "a \r\nb\t\n", "a=20\r\nb=09\n",
            "a\rb\r",     "a=0Db=0D",  "\r\r\n\n\r", "=0D\r\n\n=0D", "a\r \r\n",     "a=0D=20\r\n" };
    for (std::size_t i = 0; i < std::size(encodings); i += 2)
        EXPECT_EQ(printable(encodings[i]), encodings[i + 1]);
    const std::string readings[] = {
        "=4a=3d", "J=",    "a=\r\nb=\nc", "abc",    "a= \t\r\nb", "ab",    "a =  \r\nb",      "a b",
        "a= \t",  "a",     "a=G1=4",      "a=G1=4", "==41",       "=A",    "a= b\r\n",        "a= b\r\n",
        "a=\rb",  "a=\rb", "a \t\r\nb  ", "a\r\nb", "a \rb",      "a \rb", "to come=\r\n to", "to come to"
    }; // the last from RFC 2045, 6.7
    for (std::size_t i = 0; i < std::size(readings); i += 2)
        EXPECT_EQ(printable(readings[i], false), readings[i + 1]);
    // A line that goes on holds 75 characters and the soft break's '='.
    EXPECT_EQ(printable(std::string(150, 'z')), std::string(75, 'z') + "=\r\n" + std::string(75, 'z'));
}

TEST(Paths, Mime64RoundTripsAndForeignBytes)
{
    for (std::size_t n = 0; n <= 700; n += n < 240 ? 1 : 19) {
        const std::string bytes = randomBytes(n, 1000 + n), single = on(Op::Mime64, bytes).bytes;
        ASSERT_EQ(on(Op::Mime64Wrapped, bytes).bytes, wrapped(single)) << n;
        for (const std::string &text : { single, wrapped(single) }) {
            ASSERT_EQ(on(Op::Unmime64, text, n + 1), ok(bytes)) << n;
            for (const std::size_t less : { std::size_t { 1 }, 2 + n % 40 })
                ASSERT_EQ(on(Op::Unmime64, text, n - std::min(less, n)).count, n ? kTooSmall : 0) << n << '-' << less;
        }
        // Padding dropped, cut short: 4 characters are 3 bytes, 3 are 2, 2 are 1, 1 is malformed.
        const std::string unpadded = single.substr(0, single.find('='));
        const std::size_t left = unpadded.size() - std::min<std::size_t>(unpadded.size(), n % 5);
        const EveryPath expected
            = left % 4 == 1 ? EveryPath { kMalformed, "", nullptr } : ok(bytes.substr(0, left * 3 / 4));
        ASSERT_EQ(on(Op::Unmime64, unpadded.substr(0, left), n), expected);
    }
    // Any byte outside the alphabet anywhere makes a text malformed; an inserted blank changes nothing.
    const std::string bytes = randomBytes(200, 77), text = on(Op::Mime64Wrapped, bytes).bytes;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        for (int value = 0; value < 256; ++value) {
            const bool foreign = !std::isalnum(value) && (value == 0 || !std::strchr("+/= \t\r\n", value));
            const EveryPath put = on(Op::Unmime64, std::string(text).replace(pos, 1, 1, static_cast<char>(value)), 200);
            ASSERT_THAT(put.count, foreign ? Matcher<std::int64_t>(kMalformed) : _) << value << " at " << pos;
        }
        for (const char blank : " \t\r\n"s)
            ASSERT_EQ(on(Op::Unmime64, std::string(text).insert(pos, 1, blank), 200), ok(bytes)) << pos;
    }
}

// Text of every length from alphabets that crowd the rules together (blanks beside breaks, lone CRs, escapes at line
// ends, half escapes for the decoder); runs with rules of their own at every offset of the wide blocks; each column
// 0..76 there before a line end (its byte before in column 76, CR last in a block) or escapes over 1 or 2 soft breaks.
TEST(Paths, PrintableRoundTrips)
{
    const std::string alphabets[] = {
        "", "aaaaaaaaaaaa =\t\r\n", "ab =\t\r\n\0\xc3\xff"s, "xxxxxxxxxxxxxxxxxxxxxx  \r\n", "= \t\r\nA0fg", " \t\n"
    };
    for (std::size_t n = 0; n <= 600; ++n) {
        ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(italianProse(n, n + 2)));
        for (std::size_t k = 0; k < std::size(alphabets); ++k)
            ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(randomFrom(alphabets[k], n, 31 * n + k)));
    }
    for (std::size_t offset = 0; offset < 140; ++offset) {
        for (const std::string run : { "=", "=41", "= \r\n", "=\n", "=\r\n", "=\r\r\n", "=c3=A8", "  ", "\t \t", " \r",
                                       "\r\n", "\xc3\xa0", "  \r\n" }) {
            ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(std::string(200, 'a').insert(offset, run + run + run)));
            ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(std::string(200, ' ').insert(offset, run)));
        }
        for (int byte = 0; byte < 256 && offset < 8; ++byte) // every byte as either digit, across a block end
            for (const std::string &escape : { "="s + char(byte) + "F", "=F"s + char(byte) })
                printable(std::string(140, 'a').replace(58 + offset, 3, escape), false);
        for (std::size_t column = 0; column <= 76; ++column)
            for (const std::string &end :
                 { "\r\n"s, "\n"s, "w \r\n"s, "\t\n"s, "\xe8\r\n"s, "\r"s, std::string(30, '\xe8') })
                ASSERT_NO_FATAL_FAILURE(expectPrintableRoundTrip(
                    std::string(offset, 'p') + "\r\n" + std::string(column, 'x') + end + std::string(150, 'v')));
    }
}

// Under DRAVOLIN_CODEC naming a path this machine runs, all four operations
// are that path's; otherwise each runs on a wide path if there is one.
TEST(Choice, ForcedPathOrTheCpusOwn)
{
    const Codec &active = activeCodec();
    const char *forced = std::getenv("DRAVOLIN_CODEC");
    auto allowed = supportedCodecs();
    const auto named = std::ranges::find_if(allowed, [&](auto c) { return forced && c->name == std::string(forced); });
    if (named != allowed.end()) {
        EXPECT_STREQ(active.name, forced);
    }
    allowed = named != allowed.end() ? std::span(named, 1) : allowed.subspan(allowed.size() > 1);
    const auto runs = [&](auto member) {
        return std::ranges::any_of(allowed, [&](const Codec *c) { return c->*member == active.*member; });
    };
    EXPECT_TRUE(runs(&Codec::mime64Encode));
    EXPECT_TRUE(runs(&Codec::mime64Decode));
    EXPECT_TRUE(runs(&Codec::printableEncode));
    EXPECT_TRUE(runs(&Codec::printableDecode));
}

// The choice per operation (Mime64 encode, decode; Printable encode, decode), row by row, on CPUs this
// machine need not be; then the facts it keys on from raw CPUID values: leaf 0's vendor in EBX, EDX, ECX,
// leaf 1's family in EAX.
TEST(Choice, EachOperationsPathByCpu)
{
    const std::pair<CpuFacts, std::array<const char *, 4>> rows[] = {
        { { CpuVendor::Amd, 0x19, true, true }, { "avx2", "avx2", "avx512", "avx512" } }, // Zen 4
        { { CpuVendor::Amd, 0x19, true, false }, { "avx2", "avx2", "avx2", "avx2" } }, // Zen 3
        { { CpuVendor::Amd, 0x1A, true, true }, { "avx512", "avx512", "avx512", "avx512" } }, // Zen 5
        { { CpuVendor::Intel, 6, true, true }, { "avx2", "avx512", "avx512", "avx512" } }, // a Xeon
        { { CpuVendor::Intel, 6, true, false }, { "avx2", "avx2", "avx2", "avx2" } },
        { { CpuVendor::Other, 0x1A, true, true }, { "avx2", "avx2", "avx512", "avx512" } }, // nobody measured it
        { { CpuVendor::Other, 5, false, false }, { "scalar", "scalar", "scalar", "scalar" } },
    };
    for (const auto &[cpu, paths] : rows)
        for (int op = 0; op < 4; ++op)
            EXPECT_STREQ(preferredPath(Operation(op), cpu), paths[op])
                << "vendor " << int(cpu.vendor) << ", family " << cpu.family << ", avx512 " << cpu.avx512 << ", " << op;
    const auto word = [](const char *text) { return text[0] | text[1] << 8 | text[2] << 16 | unsigned(text[3]) << 24; };
    const char names[] = "AuthenticAMDGenuineIntelCentaurHaulsAuthenticAMX"; // 12 characters each
    const CpuVendor vendors[] = { CpuVendor::Amd, CpuVendor::Intel, CpuVendor::Other, CpuVendor::Other };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(vendorOf(word(names + 12 * i), word(names + 12 * i + 8), word(names + 12 * i + 4)), vendors[i]) << i;
    const std::pair<unsigned, unsigned> families[]
        = { { 0x000806F8, 6 }, { 0x00A10F11, 0x19 }, { 0x00B40F40, 0x1A }, { 0x00000F41, 0xF }, { 0x0FF00600, 6 } };
    for (const auto &[eax, family] : families)
        EXPECT_EQ(familyOf(eax), family) << std::hex << eax;
}

// Texts' own memory. mincore answers ENOMEM for a range that is not wholly mapped, so a room one
// byte short fails here instead of writing into whatever lies beyond it.
bool mapped(const char *from, std::size_t bytes)
{
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(from) / page * page;
    const std::size_t length = reinterpret_cast<std::uintptr_t>(from) + bytes - start;
    std::vector<unsigned char> pages((length + page - 1) / page);
    return ::mincore(reinterpret_cast<void *>(start), length, pages.data()) == 0;
}

// Every length within 32 bytes of page edges (results that shrink in a mapped room) and of huge-page
// edges (rooms of their own): the 16-byte header, every byte and the NUL are mapped and writable.
TEST(Texts, EveryByteAndTheNulAreMappedAtPageEdges)
{
    constexpr std::size_t kMiB = std::size_t { 1 } << 20, kOwnRoom = 0;
    const std::pair<std::size_t, std::size_t> edgesAndRooms[]
        = { { 4096, 9 * kMiB },     { 8192, 9 * kMiB },      { 3 * 4096, 9 * kMiB }, { kMiB, 9 * kMiB },
            { 8 * kMiB, kOwnRoom }, { 10 * kMiB, kOwnRoom }, { 12 * kMiB, kOwnRoom } };
    const auto check = [](std::size_t room, std::size_t length) {
        char *text = allocateText(room);
        ASSERT_NE(text, nullptr);
        ASSERT_TRUE(mapped(text - 16, 16 + length + 1)) << "room " << room << ", length " << length;
        std::memset(text, 'x', length + 1);
        text = finishText(text, length);
        ASSERT_TRUE(mapped(text - 16, 16 + length + 1)) << "length " << length;
        EXPECT_EQ(text[length], '\0');
        EXPECT_EQ(textLength(text), static_cast<std::int32_t>(length));
        freeText(text);
    };
    for (const auto &[edge, room] : edgesAndRooms)
        for (std::size_t length = edge - 32; length <= edge + 32; ++length)
            check(room == kOwnRoom ? length : room, length);
}

// The C ABI: what only it can get wrong, argument checks, NULL, int32 narrowing, the caller's buffer,
// large texts in mappings. A text's bytes are taken checking the length in the 4 bytes before them
// and a NUL after them, small texts and those in their own mapping alike; then it is freed.
using TestoPtr = std::unique_ptr<char, decltype([](char *testo) { LiberaTesto(testo); })>;

std::string taken(Testo testo)
{
    const TestoPtr owned(testo);
    const int32_t length = LunghezzaTesto(testo);
    EXPECT_EQ(std::string(testo - 4, 4), std::string(reinterpret_cast<const char *>(&length), 4));
    EXPECT_EQ(testo[length], '\0');
    return std::string(testo, static_cast<std::size_t>(length));
}

std::string abiMime64(const std::string &bytes, int32_t opzione)
{
    return taken(
        ConvertiMime64(reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<int32_t>(bytes.size()), opzione));
}

EveryPath abiUnmime64(const std::string &text, int32_t capacita)
{
    std::string buffer(static_cast<std::size_t>(std::max(capacita, 0)), '\0');
    const TestoPtr testo(AllocaTesto(text.data(), static_cast<int32_t>(text.size())));
    const int32_t count = DecifraMime64(testo.get(), reinterpret_cast<uint8_t *>(buffer.data()), capacita);
    return { count, buffer.substr(0, static_cast<std::size_t>(std::max(count, 0))), nullptr };
}

TEST(CApi, TextsAndArguments)
{
    EXPECT_EQ(AllocaTesto("abc", -1), nullptr);
    EXPECT_EQ(taken(DecifraPrintable(nullptr)), "");
    EXPECT_EQ(taken(ConvertiPrintable(TestoPtr(AllocaTesto("a\0=", 3)).get())), "a=00=3D");
    EXPECT_EQ(ConvertiMime64(reinterpret_cast<const uint8_t *>("foo"), 3, 2), nullptr);
    EXPECT_EQ(ConvertiMime64(nullptr, 1, 1), nullptr);
    // Past INT32_MAX characters: refused unread (1569314970 bytes fill 2147483644).
    EXPECT_EQ(ConvertiMime64(reinterpret_cast<const uint8_t *>("foo"), 1569314971, 1), nullptr);
    EXPECT_EQ(abiUnmime64("", -1).count, -2); // even with nothing to write
    EXPECT_EQ(abiUnmime64("Zm9vYmFy!", -1).count, -1);
    EXPECT_EQ(abiUnmime64("Zm9v\0YmFy"s, 6).count, -1); // the length is the truth; a NUL is data
    EXPECT_EQ(abiUnmime64("Zm9vYmFy", 5).count, -2);
}

// Large texts get their own mappings, of which a freed one keeps at most
// 64 MiB resident for the next text: results must not share or lose pages.
TEST(CApi, LargeTexts)
{
    const std::string bytes = randomBytes((std::size_t { 70 } << 20) + 1, 1);
    const auto resident = [] {
        long size = 0, pages = 0;
        std::ifstream("/proc/self/statm") >> size >> pages;
        return pages * ::sysconf(_SC_PAGESIZE) >> 20;
    };
    const long before = resident();
    for (int round = 0; round < 3; ++round)
        LiberaTesto(ConvertiMime64(reinterpret_cast<const uint8_t *>(bytes.data()), 70 << 20, 1));
        // AddressSanitizer keeps an eighth of each mapping's size resident as its shadow, per address used.
#ifdef __SANITIZE_ADDRESS__
    constexpr long kShadow = 3 * 95 / 8;
#else
    constexpr long kShadow = 0;
#endif
    EXPECT_LE(resident() - before, 64 + 4 + kShadow);
    const std::string text = abiMime64(bytes, 1);
    EXPECT_EQ(abiMime64(bytes, 1), text);
    EXPECT_EQ(abiUnmime64(text, static_cast<int32_t>(bytes.size())), ok(bytes));
}

// A peer on this machine, a shell command, run on a file holding input: its output.
std::string peer(const std::string &command, const std::string &input)
{
    const std::string path = "/tmp/dravolin-peer-" + std::to_string(::getpid());
    std::ofstream(path, std::ios::binary) << input;
    EXPECT_EQ(std::system((command + " < " + path + " > " + path + ".out").c_str()), 0) << command;
    std::ifstream output(path + ".out", std::ios::binary);
    return { std::istreambuf_iterator<char>(output), {} };
}

std::string abiText(Testo (*function)(Testo), const std::string &bytes)
{
    return taken(function(TestoPtr(AllocaTesto(bytes.data(), static_cast<int32_t>(bytes.size()))).get()));
}

// coreutils base64 and python3's base64, binascii and quopri read what we
// write, and we read what they write.
TEST(CApi, PeersReadOursAndWeReadTheirs)
{
    const std::string py = "python3 -S -c 'import sys, base64, binascii, quopri; x = sys.stdin.buffer.read(); "
                           "sys.stdout.buffer.write(";
    for (const std::string &data : { randomBytes(59, 3), randomBytes(1 << 16, 4), italianProse(5000, 5),
                                     randomFrom("ab =\t\n\r\xff", 2000, 6) }) {
        const auto size = static_cast<int32_t>(data.size());
        EXPECT_EQ(peer("base64 -di", abiMime64(data, 1)), data);
        EXPECT_EQ(peer(py + "base64.b64decode(x, validate=True))'", abiMime64(data, 0)), data);
        EXPECT_EQ(abiUnmime64(peer("base64 -w 64", data), size), ok(data));
        EXPECT_EQ(abiUnmime64(peer(py + "base64.encodebytes(x))'", data), size), ok(data));
        EXPECT_EQ(peer(py + "quopri.decodestring(x))'", abiText(ConvertiPrintable, data)), data);
        EXPECT_EQ(abiText(DecifraPrintable, peer(py + "binascii.b2a_qp(x, istext=False))'", data)), data);
    }
}

// One call of ConvertiMime64, DecifraMime64, ConvertiPrintable or DecifraPrintable (0 to 3), its result
// compared with the expected one in place, so that the loop allocates nothing of its own, or kept.
using Case = std::tuple<int, std::string, std::string>;
bool converts(const Case &c, std::vector<uint8_t> &buffer, std::string *keep = nullptr)
{
    const auto &[function, input, expected] = c;
    Testo text = AllocaTesto(input.data(), static_cast<int32_t>(input.size()));
    const int32_t count = function == 1 ? DecifraMime64(text, buffer.data(), static_cast<int32_t>(buffer.size())) : 0;
    Testo result = function == 0 ? ConvertiMime64(reinterpret_cast<const uint8_t *>(text), LunghezzaTesto(text), 1)
        : function == 2          ? ConvertiPrintable(text)
        : function == 3          ? DecifraPrintable(text)
                                 : nullptr;
    const std::string_view got = result
        ? std::string_view(result, static_cast<std::size_t>(LunghezzaTesto(result)))
        : std::string_view(reinterpret_cast<const char *>(buffer.data()), static_cast<std::size_t>(std::max(count, 0)));
    const bool same = keep ? !keep->assign(got).empty() : got == expected;
    LiberaTesto(text);
    LiberaTesto(result);
    return same;
}

// The exports on 1, 4 and 8 threads at once, each taking the functions and texts of 1 to 6 MiB in
// turn: every result as one thread alone got it, which the decoders take back. And but under the
// sanitizers, whose allocators differ, the last 100 of 200 calls on 1 and 4 threads take at most 100
// faults, malloc's threshold held as a host may hold it, not raised by this test's own strings: in a
// process of its own, as rooms that earlier tests left kept would take the place of this test's.
TEST(Threads, EveryResultAsOneThreadGetsItAndTextAfterTextTakesNoFreshPages)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr bool kFaultsCount = false; // the sanitizers' allocators differ
#else
    constexpr bool kFaultsCount = true;
#endif
    if (kFaultsCount && !std::getenv("DRAVOLIN_ALONE")) {
        const std::string self = std::filesystem::read_symlink("/proc/self/exe");
        EXPECT_EQ(std::system(("DRAVOLIN_ALONE=1 " + self + " --gtest_filter='Threads.*'").c_str()), 0);
        return;
    }
    const std::string bytes = randomBytes(6 << 20, 1), prose = italianProse(6 << 20, 2);
    std::vector<uint8_t> buffer;
    std::vector<Case> all;
    for (std::size_t n = 1 << 20; n <= 6 << 20; n += 1 << 20)
        for (auto [function, input, expected] :
             { Case { 0, bytes.substr(0, n), "" }, Case { 2, prose.substr(0, n), "" } }) {
            ASSERT_TRUE(converts({ function, input, "" }, buffer, &expected));
            all.insert(all.end(), { { function, input, expected }, { function + 1, expected, input } });
        }
    ::mallopt(M_MMAP_THRESHOLD, 128 << 10);
    auto minorFaults = [usage = rusage {}]() mutable { return ::getrusage(RUSAGE_SELF, &usage), usage.ru_minflt; };
    for (const int threads : { 1, 4, 8 }) {
        std::atomic<int> wrong = 0;
        long faults = 0;
        // A loaded machine may preempt a thread holding texts while the others run ahead and need more
        // room than is kept: the faults are counted again, up to three times, before they count against it.
        for (int round = 0; round < 3 && (round == 0 || (kFaultsCount && threads < 8 && faults > 100)); ++round) {
            std::barrier half(threads, [&]() noexcept { faults = minorFaults(); });
            for (std::vector<std::jthread> joinedAtTheEnd; joinedAtTheEnd.size() < static_cast<std::size_t>(threads);)
                joinedAtTheEnd.emplace_back([&, t = joinedAtTheEnd.size()] {
                    std::vector<uint8_t> room(6 << 20);
                    for (int i = 0; i < 200 / threads; ++i) {
                        if (i == 100 / threads)
                            half.arrive_and_wait();
                        wrong += !converts(all[(t * 7 + static_cast<std::size_t>(i)) % all.size()], room);
                    }
                });
            faults = minorFaults() - faults;
        }
        EXPECT_EQ(wrong, 0) << "on " << threads << " threads";
        // Kept texts grow in whole huge pages; where the kernel gives none, each 4 KiB page faults.
        std::ifstream hugePages("/sys/kernel/mm/transparent_hugepage/enabled");
        const bool grown
            = std::string(std::istreambuf_iterator<char>(hugePages), {}).find("[never]") == std::string::npos;
        EXPECT_TRUE(!kFaultsCount || threads == 8 || !grown || faults <= 100) << faults << " faults on " << threads;
    }
}

} // namespace
