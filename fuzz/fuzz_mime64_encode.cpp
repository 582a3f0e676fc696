// Any bytes: both layouts agree on every path, the wrapped one is the single
// line in lines of 76 each ending CR LF, the text holds the alphabet and
// exactly the padding needed, decodes back with exactly the room, and the
// C ABI gives the same text.

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::string text[2];
    for (const auto layout : { dravolin::Mime64Layout::SingleLine, dravolin::Mime64Layout::Wrapped }) {
        const std::size_t room = dravolin::mime64EncodedSize(size, layout);
        onEveryPath(
            bytes, room, true,
            [&](const dravolin::Codec &c, const char *in, char *out) {
                c.mime64Encode(reinterpret_cast<const uint8_t *>(in), size, out, layout);
                return static_cast<std::int64_t>(room);
            },
            &text[layout == dravolin::Mime64Layout::Wrapped]);
    }
    const std::string &single = text[0];
    for (std::size_t line = 0; line * 76 < single.size(); ++line)
        FUZZ_CHECK(text[1].substr(line * 78, 78) == single.substr(line * 76, 76) + "\r\n");
    FUZZ_CHECK(text[1].size() == single.size() + (single.size() + 75) / 76 * 2);
    const std::size_t data_
        = single.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    FUZZ_CHECK(single.size() == (size + 2) / 3 * 4);
    FUZZ_CHECK(single.substr(std::min(data_, single.size())) == std::string((3 - size % 3) % 3, '='));
    std::string back;
    for (const std::size_t capacity : { size, size - (size > 0) }) {
        const std::int64_t count = onEveryPath(
            text[1], capacity, true,
            [&](const dravolin::Codec &c, const char *in, char *out) {
                return c.mime64Decode(in, text[1].size(), reinterpret_cast<uint8_t *>(out), capacity);
            },
            &back);
        FUZZ_CHECK(capacity == size ? count == static_cast<std::int64_t>(size) && back == bytes
                                    : count == dravolin::kTooSmall);
    }
    FUZZ_CHECK(bytesOf(Text(ConvertiMime64(data, static_cast<int32_t>(size), 1))) == text[1]);
    return 0;
}
