// Every codec path this CPU runs held to the scalar one (c_abi_test holds the chosen one to the known answers): round
// trips and format checks on data built to land on the edges of the wide blocks; then the C ABI, threads too.

#include "bit_deposit.h"
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
    // A line that goes on holds 75 characters and the soft break's '='.
    EXPECT_EQ(printable(std::string(150, 'z')), std::string(75, 'z') + "=\r\n" + std::string(75, 'z'));
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

// The choice per operation (Mime64 encode, decode; Printable encode, decode), row by row, on CPUs this
// machine need not be; then the facts it keys on from raw CPUID values: leaf 0's vendor in EBX, EDX, ECX,
// leaf 1's family in EAX. Here, unless DRAVOLIN_CODEC forces a path (windows_dll_test.sh holds each
// forced path to its name), each operation runs on a wide path if there is one.
TEST(Choice, EachOperationsPathByCpuAndHere)
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
    const auto wide = supportedCodecs().subspan(supportedCodecs().size() > 1);
    const auto runs = [&, &active = activeCodec()](auto member) {
        return std::getenv("DRAVOLIN_CODEC")
            || std::ranges::any_of(wide, [&](auto c) { return c->*member == active.*member; });
    };
    EXPECT_THAT((std::array { runs(&Codec::mime64Encode), runs(&Codec::mime64Decode), runs(&Codec::printableEncode),
                              runs(&Codec::printableDecode) }),
                ::testing::Each(true));
}

__attribute__((target("bmi2"))) std::uint64_t depositInstruction(std::uint64_t bits, std::uint64_t mask)
{
    return _pdep_u64(bits, mask);
}

// Rooms where size_t has 32 bits (x86 Windows) or 64: exact up to the last that fits, past it the largest value, which
// no allocation gives, never a small room wrapped round. Also the x86 build's stand-in for the 64-bit bit deposit,
// which gives the instruction's answer: masks sparse, dense, empty, full, one half full.
TEST(Sizes, RoomsExactOrRefusedWithSizeTOf32Or64BitsAndBitDepositIn32BitHalves)
{
    using Small = std::uint32_t;
    EXPECT_EQ(printableBoundIn<Small>(1375143036), 4294967292u);
    EXPECT_EQ(printableBoundIn<Small>(1375143038), UINT32_MAX); // not 2
    EXPECT_EQ(mime64SizeIn<Small>(3221225469, Mime64Layout::SingleLine), 4294967292u);
    EXPECT_EQ(mime64SizeIn<Small>(3221225470, Mime64Layout::SingleLine), UINT32_MAX); // not 0
    EXPECT_EQ(mime64SizeIn<Small>(3138629943, Mime64Layout::Wrapped), 4294967292u);
    EXPECT_EQ(mime64SizeIn<Small>(3138629944, Mime64Layout::Wrapped), UINT32_MAX);
    EXPECT_EQ(printableEncodedBound(5906194374477181000), SIZE_MAX);
    EXPECT_EQ(mime64EncodedSize(SIZE_MAX, Mime64Layout::Wrapped), SIZE_MAX);
    std::mt19937_64 random(9);
    for (int i = 0; i < 200000 && __builtin_cpu_supports("bmi2"); ++i) {
        const std::uint64_t bits = random(),
                            masks[]
            = { random() & random(), random() | random(), 0, ~0ull, 0xFFFFFFFFull << i % 2 * 32 };
        ASSERT_EQ(depositBitsIn32(bits, masks[i % 5]), depositInstruction(bits, masks[i % 5])) << bits << ' ' << i;
    }
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

// Large texts get their own mappings, of which a freed one keeps at most 64 MiB resident for the
// next text (c_abi_test takes 100 MB there and back; the rest of the C ABI is its too).
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

// coreutils base64 and python3's base64 and quopri read what every path writes;
// every path reads what coreutils base64 and python3's binascii write.
TEST(Paths, PeersReadOursAndWeReadTheirs)
{
    const std::string py = "python3 -S -c 'import sys, base64, binascii, quopri; x = sys.stdin.buffer.read(); "
                           "sys.stdout.buffer.write(";
    for (const std::string &data : { randomBytes(59, 3), randomBytes(1 << 16, 4), italianProse(5000, 5),
                                     randomFrom("ab =\t\n\r\xff", 2000, 6) }) {
        EXPECT_EQ(peer("base64 -di", on(Op::Mime64Wrapped, data).bytes), data);
        EXPECT_EQ(peer(py + "base64.b64decode(x, validate=True))'", on(Op::Mime64, data).bytes), data);
        EXPECT_EQ(on(Op::Unmime64, peer("base64 -w 64", data), data.size()), ok(data));
        EXPECT_EQ(peer(py + "quopri.decodestring(x))'", printable(data)), data);
        EXPECT_EQ(printable(peer(py + "binascii.b2a_qp(x, istext=False))'", data), false), data);
    }
}

// One call of ConvertiMime64, DecifraMime64, ConvertiPrintable or DecifraPrintable (0 to 3), its result
// compared with the expected one in place, so that the loop allocates nothing of its own.
using Case = std::tuple<int, std::string, std::string>;
bool converts(const Case &c, std::vector<uint8_t> &buffer)
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
    const bool same = got == expected;
    LiberaTesto(text);
    LiberaTesto(result);
    return same;
}

// The exports on 1, 4 and 8 threads at once, each taking the functions and texts of 1 to 6 MiB in
// turn: every result as every path gives it, which the decoders take back. And but under the
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
    std::vector<Case> all;
    for (std::size_t n = 1 << 20; n <= 6 << 20; n += 1 << 20) {
        const std::string some = bytes.substr(0, n), text = prose.substr(0, n);
        const std::string mime64 = on(Op::Mime64Wrapped, some).bytes, printed = printable(text);
        all.insert(all.end(), { { 0, some, mime64 }, { 1, mime64, some }, { 2, text, printed }, { 3, printed, text } });
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
