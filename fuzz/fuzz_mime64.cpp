// As bytes: both layouts, the wrapped one the single line in lines of 76
// each ending CR LF, exactly the padding needed, decoding back with exactly
// the room and not one byte less. As text: decoded alike on every path at a
// room the first byte picks near the count. The C ABI agrees.

#include "fuzz_support.h"

using namespace dravolin;

std::int64_t decode(const std::string &text, std::size_t capacity, std::string *bytes)
{
    return onEveryPath(
        text, capacity, true,
        [&](const Codec &c, const char *in, char *out) {
            return c.mime64Decode(in, text.size(), reinterpret_cast<uint8_t *>(out), capacity);
        },
        bytes);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::string text[2], back, rewrapped;
    for (const Mime64Layout layout : { Mime64Layout::SingleLine, Mime64Layout::Wrapped })
        onEveryPath(
            input, mime64EncodedSize(size, layout), true,
            [&](const Codec &c, const char *in, char *out) {
                return c.mime64Encode(reinterpret_cast<const uint8_t *>(in), size, out, layout), std::int64_t(0);
            },
            &text[layout == Mime64Layout::Wrapped]);
    for (std::size_t pos = 0; pos < text[0].size(); pos += 76)
        rewrapped += text[0].substr(pos, 76) + "\r\n";
    const std::size_t padding = (3 - size % 3) % 3;
    FUZZ_CHECK(text[1] == rewrapped && text[0].size() == (size + 2) / 3 * 4);
    FUZZ_CHECK(text[0].find('=') == (padding ? text[0].size() - padding : std::string::npos));
    FUZZ_CHECK(text[0].ends_with(std::string(padding, '=')));
    FUZZ_CHECK(decode(text[1], size, &back) == std::int64_t(size) && back == input);
    FUZZ_CHECK(size == 0 || decode(text[0], size - 1, &back) == kTooSmall);
    FUZZ_CHECK(taken(ConvertiMime64(data, int32_t(size), 1)) == text[1]);
    const std::int64_t count = decode(input, size, &back);
    const std::int64_t capacity = std::max<std::int64_t>(0, count + (size ? int8_t(data[0]) : 0));
    const std::int64_t atCapacity = decode(input, std::size_t(capacity), &back);
    FUZZ_CHECK(atCapacity == (count < 0 || capacity >= count ? count : kTooSmall) && count >= kMalformed);
    const Testo in = AllocaTesto(input.data(), int32_t(size));
    FUZZ_CHECK(DecifraMime64(in, reinterpret_cast<uint8_t *>(back.data()), int32_t(capacity)) == atCapacity);
    return LiberaTesto(in), 0;
}
