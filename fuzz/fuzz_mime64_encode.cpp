// ConvertiMime64 over arbitrary bytes, both layouts: the text is the
// RFC 4648 encoding laid out as promised, decodes back to the bytes, and
// every codec path writes the very same characters.

#include "fuzz_support.h"

#include <cstring>
#include <string>

using namespace fuzzing;

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLine = 76;

// Bit by bit, without the library's tables: the one-line reference.
std::string referenceText(const uint8_t *data, std::size_t size)
{
    std::string text;
    std::uint32_t bits = 0;
    int held = 0;
    for (std::size_t i = 0; i < size; ++i) {
        bits = (bits << 8) | data[i];
        held += 8;
        while (held >= 6) {
            held -= 6;
            text += kAlphabet[(bits >> held) & 63];
        }
        bits &= (1u << held) - 1;
    }
    if (held > 0)
        text += kAlphabet[(bits << (6 - held)) & 63];
    while (text.size() % 4 != 0)
        text += '=';
    return text;
}

std::string wrapped(const std::string &line)
{
    std::string text;
    for (std::size_t start = 0; start < line.size(); start += kLine)
        text.append(line, start, kLine).append("\r\n");
    return text;
}

// The layout rules on their own, for a clear report when they break.
void checkLayout(std::string_view text, bool wrap, std::size_t padding)
{
    std::size_t column = 0;
    std::size_t equals = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            FUZZ_CHECK(wrap);
            FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
            // Every line is full but the last.
            FUZZ_CHECK(column == kLine || i + 2 == text.size());
            FUZZ_CHECK(column > 0);
            column = 0;
            ++i;
            continue;
        }
        FUZZ_CHECK(c != '\n');
        FUZZ_CHECK(++column <= kLine || !wrap);
        if (c == '=') {
            ++equals;
        } else {
            FUZZ_CHECK(c != '\0' && std::strchr(kAlphabet, c) != nullptr);
            FUZZ_CHECK(equals == 0); // padding only at the end
        }
    }
    FUZZ_CHECK(!wrap || column == 0); // the last line ends CR LF too
    FUZZ_CHECK(equals == padding);
}

void checkDecodesBack(const Text &text, const uint8_t *data, std::size_t size)
{
    auto exact = exactBuffer<uint8_t>(size);
    const auto capacity = static_cast<int32_t>(size);
    FUZZ_CHECK(DecifraMime64(text.get(), exact.get(), capacity) == capacity);
    FUZZ_CHECK(size == 0 || std::memcmp(exact.get(), data, size) == 0);
    if (size > 0) {
        auto short1 = exactBuffer<uint8_t>(size - 1);
        FUZZ_CHECK(DecifraMime64(text.get(), short1.get(), capacity - 1) == -2);
    }
}

void checkCodecs(const uint8_t *data, std::size_t size, dravolin::Mime64Layout layout, std::string_view expected)
{
    const std::size_t encodedSize = dravolin::mime64EncodedSize(size, layout);
    FUZZ_CHECK(encodedSize == expected.size());
    const auto input = exactCopy(asChars(data, size));
    const auto *bytes = reinterpret_cast<const uint8_t *>(input.get());
    for (const dravolin::Codec *codec : dravolin::supportedCodecs()) {
        auto out = exactBuffer<char>(encodedSize);
        codec->mime64Encode(bytes, size, out.get(), layout);
        FUZZ_CHECK(std::string_view(out.get(), encodedSize) == expected);

        const auto text = exactCopy(expected);
        auto decoded = exactBuffer<uint8_t>(size);
        FUZZ_CHECK(codec->mime64Decode(text.get(), expected.size(), decoded.get(), size)
                   == static_cast<std::int64_t>(size));
        FUZZ_CHECK(size == 0 || std::memcmp(decoded.get(), data, size) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string line = referenceText(data, size);
    const std::size_t padding = (3 - size % 3) % 3;
    for (const int32_t opzione : { 0, 1 }) {
        const bool wrap = opzione == 1;
        const std::string expected = wrap ? wrapped(line) : line;
        const Text text(ConvertiMime64(data, static_cast<int32_t>(size), opzione));
        const std::string_view got = bytesOf(text);
        checkLayout(got, wrap, padding);
        FUZZ_CHECK(got == expected);
        checkDecodesBack(text, data, size);
        checkCodecs(data, size, wrap ? dravolin::Mime64Layout::Wrapped : dravolin::Mime64Layout::SingleLine, expected);
    }

    // Any other option, a negative count, or no bytes to a positive count: no text.
    int32_t option = 2;
    if (size >= 4)
        std::memcpy(&option, data, sizeof option);
    if (option != 0 && option != 1)
        FUZZ_CHECK(ConvertiMime64(data, static_cast<int32_t>(size), option) == nullptr);
    FUZZ_CHECK(ConvertiMime64(data, -1 - static_cast<int32_t>(size), 1) == nullptr);
    FUZZ_CHECK(ConvertiMime64(nullptr, static_cast<int32_t>(size) + 1, 0) == nullptr);
    return 0;
}
