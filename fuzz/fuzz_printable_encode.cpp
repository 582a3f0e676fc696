// ConvertiPrintable over arbitrary bytes: the text decodes back to them,
// keeps the form rules (line lengths, escapes, blanks, line breaks), and
// every codec path writes the very same characters.

#include "fuzz_support.h"

#include <cstring>

using namespace fuzzing;

namespace {

constexpr std::size_t kLine = 76;

bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int hexValue(char c)
{
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Soft breaks copy the text's own line ending: LF if its first line break
// is a lone LF.
bool usesLfBreaks(std::string_view in)
{
    const std::size_t lf = in.find('\n');
    return lf != std::string_view::npos && (lf == 0 || in[lf - 1] != '\r');
}

// The length of the line break at out[i] (CR LF or LF), or 0.
std::size_t breakAt(std::string_view out, std::size_t i)
{
    if (i >= out.size())
        return 0;
    if (out[i] == '\n')
        return 1;
    return out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n' ? 2 : 0;
}

void checkForm(std::string_view in, std::string_view out)
{
    const std::size_t softBreak = usesLfBreaks(in) ? 1 : 2;
    std::size_t column = 0;
    std::size_t hardBreaks = 0;
    for (std::size_t i = 0; i < out.size();) {
        const char c = out[i];
        if (const std::size_t lineBreak = breakAt(out, i)) {
            if (i > 0 && out[i - 1] == '=') {
                FUZZ_CHECK(lineBreak == softBreak);
            } else {
                ++hardBreaks;
                FUZZ_CHECK(i == 0 || !isBlank(out[i - 1])); // no blank before a break
            }
            column = 0;
            i += lineBreak;
            continue;
        }
        FUZZ_CHECK(c != '\r' && c != '\n'); // a lone CR is escaped
        if (c == '=') {
            if (i + 2 < out.size() && isUpperHex(out[i + 1]) && isUpperHex(out[i + 2])) {
                const int byte = hexValue(out[i + 1]) * 16 + hexValue(out[i + 2]);
                // Only what cannot stand as itself is escaped; blanks only
                // at the end of a line.
                FUZZ_CHECK(byte < 33 || byte > 126 || byte == '=');
                if (byte == ' ' || byte == '\t')
                    FUZZ_CHECK(i + 3 == out.size() || breakAt(out, i + 3) != 0);
                column += 3;
                i += 3;
            } else {
                FUZZ_CHECK(breakAt(out, i + 1) == softBreak); // a soft break, never split =XX
                column += 1;
                i += 1;
            }
        } else {
            FUZZ_CHECK((c >= 33 && c <= 126) || isBlank(c));
            column += 1;
            i += 1;
        }
        FUZZ_CHECK(column <= kLine);
    }
    FUZZ_CHECK(out.empty() || !isBlank(out.back()));
    std::size_t inputBreaks = 0;
    for (const char c : in)
        inputBreaks += c == '\n';
    FUZZ_CHECK(hardBreaks == inputBreaks);
}

void checkCodecs(std::string_view in, std::string_view expected)
{
    const auto input = exactCopy(in);
    const std::size_t bound = dravolin::printableEncodedBound(in.size());
    FUZZ_CHECK(expected.size() <= bound);
    for (const dravolin::Codec *codec : dravolin::supportedCodecs()) {
        auto out = exactBuffer<char>(bound);
        const std::size_t written = codec->printableEncode(input.get(), in.size(), out.get());
        FUZZ_CHECK(std::string_view(out.get(), written) == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view in = asChars(data, size);
    const Text text = makeText(in);
    const Text encoded(ConvertiPrintable(text.get()));
    const std::string_view out = bytesOf(encoded);
    checkForm(in, out);
    const Text decoded(DecifraPrintable(encoded.get()));
    FUZZ_CHECK(bytesOf(decoded) == in);
    checkCodecs(in, out);
    return 0;
}
