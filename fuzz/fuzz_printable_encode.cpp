// Any bytes: every path writes what the scalar one does, which keeps the
// format rules and decodes back on every path; the C ABI agrees.

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string plain(reinterpret_cast<const char *>(data), size);
    std::string text, back;
    onEveryPath(
        plain, dravolin::printableEncodedBound(size), false,
        [&](const dravolin::Codec &c, const char *in, char *out) {
            return static_cast<std::int64_t>(c.printableEncode(in, size, out));
        },
        &text);
    FUZZ_CHECK(dravolin::cases::printableFault(plain, text).empty());
    onEveryPath(
        text, text.size(), false,
        [&](const dravolin::Codec &c, const char *in, char *out) {
            return static_cast<std::int64_t>(c.printableDecode(in, text.size(), out));
        },
        &back);
    FUZZ_CHECK(back == plain);
    FUZZ_CHECK(bytesOf(Text(ConvertiPrintable(makeText(plain).get()))) == text);
    return 0;
}
