// As bytes: encoded alike on every path, keeping the format rules, and
// decoded back. As text: decoded alike on every path, and what it decodes to
// goes round unchanged. The C ABI agrees.

#include "fuzz_support.h"

using namespace dravolin;

std::string convert(const std::string &input, bool encode)
{
    const std::size_t room = encode ? printableEncodedBound(input.size()) : input.size();
    std::string output;
    onEveryPath(
        input, room, false,
        [&](const Codec &c, const char *in, char *out) {
            return std::int64_t(encode ? c.printableEncode(in, input.size(), out)
                                       : c.printableDecode(in, input.size(), out));
        },
        &output);
    const Testo text = AllocaTesto(input.data(), int32_t(input.size()));
    FUZZ_CHECK(taken(encode ? ConvertiPrintable(text) : DecifraPrintable(text)) == output);
    FUZZ_CHECK(!encode || cases::printableFault(input, output).empty());
    return LiberaTesto(text), output;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size), plain = convert(input, false);
    FUZZ_CHECK(convert(convert(input, true), false) == input);
    FUZZ_CHECK(convert(convert(plain, true), false) == plain);
    return 0;
}
