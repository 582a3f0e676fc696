// A capacity byte, then any text: every path agrees with the scalar one on
// the count and the whole buffer; decoded bytes are exactly what the same
// room gives again, and one byte less is too small; the C ABI agrees.

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const auto decode = [&](std::size_t capacity, std::string *out) {
        return onEveryPath(
            text, capacity, true,
            [&](const dravolin::Codec &c, const char *in, char *room) {
                return c.mime64Decode(in, text.size(), reinterpret_cast<uint8_t *>(room), capacity);
            },
            out);
    };
    std::string bytes, again;
    const std::int64_t count = decode(text.size(), &bytes);
    FUZZ_CHECK(count == dravolin::kMalformed || count >= 0);
    const std::int64_t edge = count + static_cast<int8_t>(data[0]);
    const std::int64_t capacity = count < 0 ? data[0] : edge < 0 ? 0 : edge;
    const std::int64_t atCapacity = decode(static_cast<std::size_t>(capacity), &again);
    FUZZ_CHECK(count < 0               ? atCapacity == count
                   : capacity >= count ? atCapacity == count
                                       : atCapacity == dravolin::kTooSmall);
    FUZZ_CHECK(count < 0 || capacity < count
               || again.substr(0, static_cast<std::size_t>(count)) == bytes.substr(0, static_cast<std::size_t>(count)));
    std::string buffer(static_cast<std::size_t>(capacity), '\0');
    FUZZ_CHECK(
        DecifraMime64(makeText(text).get(), reinterpret_cast<uint8_t *>(buffer.data()), static_cast<int32_t>(capacity))
        == atCapacity);
    return 0;
}
