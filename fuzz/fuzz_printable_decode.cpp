// DecifraPrintable over arbitrary text: the answer matches a model read
// straight from the contract, never grows, survives another encode and
// decode unchanged, and every codec path agrees.

#include "fuzz_support.h"

#include <string>

using namespace fuzzing;

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One line's content, its line break gone: =XX escapes, all else as is.
void decodeEscapes(std::string_view line, std::string &out)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '=' && i + 2 < line.size() && hexValue(line[i + 1]) >= 0 && hexValue(line[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(line[i + 1]) * 16 + hexValue(line[i + 2]));
            i += 2;
        } else {
            out += line[i];
        }
    }
}

// Line by line, unlike the library's single pass: split at each LF (with
// its CR), drop the trailing blanks, then a final '=' makes a soft break.
std::string modelDecode(std::string_view text)
{
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
        const std::size_t content
            = end > start && lf != std::string_view::npos && text[end - 1] == '\r' ? end - 1 : end;
        std::string_view line = text.substr(start, content - start);
        while (!line.empty() && isBlank(line.back()))
            line.remove_suffix(1);
        const bool soft = !line.empty() && line.back() == '=';
        if (soft)
            line.remove_suffix(1);
        decodeEscapes(line, out);
        if (lf == std::string_view::npos)
            return out;
        if (!soft)
            out.append(text.substr(content, lf + 1 - content));
        start = lf + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view in = asChars(data, size);
    const std::string expected = modelDecode(in);
    const Text text = makeText(in);
    const Text decoded(DecifraPrintable(text.get()));
    const std::string_view got = bytesOf(decoded);
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(got.size() <= size);

    const Text encoded(ConvertiPrintable(decoded.get()));
    FUZZ_CHECK(encoded != nullptr);
    const Text again(DecifraPrintable(encoded.get()));
    FUZZ_CHECK(bytesOf(again) == got);

    const auto input = exactCopy(in);
    for (const dravolin::Codec *codec : dravolin::supportedCodecs()) {
        auto out = exactBuffer<char>(size);
        const std::size_t written = codec->printableDecode(input.get(), size, out.get());
        FUZZ_CHECK(std::string_view(out.get(), written) == expected);
    }
    return 0;
}
