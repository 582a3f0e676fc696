// Each input as bytes to encode and as text to decode, in both codecs, on every codec path this CPU
// runs: every path gives the scalar answer and the contract holds. The exports over the paths are the
// C test's (known answers, capacities) and the threads test's (every result as every path gives it).

#include "codec.h"
#include "codec_cases.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace dravolin;

#define FUZZ_CHECK(condition)                                                                                          \
    ((condition) ? void(0)                                                                                             \
                 : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))

namespace {

// The scalar count and bytes, every path agreeing.
cases::EveryPath onPaths(cases::Op op, const std::string &input, std::size_t capacity = 0)
{
    const cases::EveryPath got = cases::onEveryPath(op, input, capacity);
    FUZZ_CHECK(got.differs == nullptr);
    return got;
}

// Back from the wrapped layout (its form and the single line's are the codec tests' and the known
// answers'); the input as text decoded at a room its first byte picks near the count.
void mime64(const std::string &input)
{
    const std::size_t size = input.size();
    const cases::EveryPath back = onPaths(cases::Op::Unmime64, onPaths(cases::Op::Mime64Wrapped, input).bytes, size);
    FUZZ_CHECK(back.count == std::int64_t(size) && back.bytes == input);
    const std::int64_t count = onPaths(cases::Op::Unmime64, input, size).count;
    const std::int64_t capacity = std::max<std::int64_t>(0, count + (size ? int8_t(input[0]) : 0));
    const std::int64_t atCapacity = onPaths(cases::Op::Unmime64, input, std::size_t(capacity)).count;
    FUZZ_CHECK(atCapacity == (count < 0 || capacity >= count ? count : kTooSmall) && count >= kMalformed);
}

// Encoded keeping the format rules, or decoded.
std::string printable(const std::string &input, bool encode)
{
    const std::string output = onPaths(encode ? cases::Op::Printable : cases::Op::Unprintable, input).bytes;
    FUZZ_CHECK(!encode || cases::printableFault(input, output).empty());
    return output;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    mime64(input);
    printable(input, false);
    FUZZ_CHECK(printable(printable(input, true), false) == input);
    return 0;
}
