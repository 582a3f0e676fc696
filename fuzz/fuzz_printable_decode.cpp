// Any text: every path decodes it as the scalar one does, never to more
// bytes than the text; what it decodes to encodes and decodes back
// unchanged; the C ABI agrees.

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::string plain, again;
    onEveryPath(
        text, size, false,
        [&](const dravolin::Codec &c, const char *in, char *out) {
            return static_cast<std::int64_t>(c.printableDecode(in, size, out));
        },
        &plain);
    FUZZ_CHECK(bytesOf(Text(DecifraPrintable(makeText(text).get()))) == plain);
    const std::string encoded = bytesOf(Text(ConvertiPrintable(makeText(plain).get())));
    onEveryPath(
        encoded, encoded.size(), false,
        [&](const dravolin::Codec &c, const char *in, char *out) {
            return static_cast<std::int64_t>(c.printableDecode(in, encoded.size(), out));
        },
        &again);
    FUZZ_CHECK(again == plain);
    return 0;
}
