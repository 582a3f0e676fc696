// DecifraMime64 over arbitrary text and an arbitrary capacity: the answer
// matches a model read straight from the contract, nothing is written past
// the capacity (the buffer is exactly that long), decoding what was decoded
// and encoded again gives the same bytes, and every codec path agrees.
//
// Input: [mode][c0][c1] then the text. Odd mode: capacity = the model's
// byte count + (int8)c0, to sit on the edge; even mode: capacity =
// (int16)(c0 | c1 << 8), negatives included.

#include "fuzz_support.h"

#include <cstring>
#include <string>

using namespace fuzzing;

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Model {
    bool malformed = false;
    std::string bytes;
};

// Gathers the symbols first, then judges the whole: a different road from
// the library's streaming decoder.
Model modelDecode(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::string symbols;
    std::size_t padding = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        if (c == '\0' || std::strchr(kAlphabet, c) == nullptr || padding > 0)
            return { true, {} }; // foreign character, or data after the padding
    }
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '=')
            symbols += c;
    const std::size_t tail = symbols.size() % 4;
    if (tail == 1 || (padding > 0 && (tail == 0 || tail + padding > 4)))
        return { true, {} };
    Model model;
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : symbols) {
        bits = (bits << 6) | static_cast<std::uint32_t>(std::strchr(kAlphabet, c) - kAlphabet);
        held += 6;
        if (held >= 8) {
            held -= 8;
            model.bytes += static_cast<char>((bits >> held) & 0xFF);
        }
        bits &= (1u << held) - 1;
    }
    return model;
}

int32_t expectedResult(const Model &model, int32_t capacity)
{
    if (model.malformed)
        return -1;
    if (capacity < 0 || model.bytes.size() > static_cast<std::size_t>(capacity))
        return -2;
    return static_cast<int32_t>(model.bytes.size());
}

void checkCodecs(std::string_view text, int32_t capacity, std::int64_t expected, const std::string &bytes)
{
    if (capacity < 0)
        return; // the paths take an unsigned capacity; the C ABI maps this one
    const auto input = exactCopy(text);
    const auto room = static_cast<std::size_t>(capacity);
    for (const dravolin::Codec *codec : dravolin::supportedCodecs()) {
        auto out = exactBuffer<uint8_t>(room);
        const std::int64_t result = codec->mime64Decode(input.get(), text.size(), out.get(), room);
        FUZZ_CHECK(result == expected);
        if (result > 0)
            FUZZ_CHECK(std::memcmp(out.get(), bytes.data(), bytes.size()) == 0);
    }
}

// Decoded bytes survive another round in either layout.
void checkStable(const std::string &bytes)
{
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
    const auto size = static_cast<int32_t>(bytes.size());
    for (const int32_t opzione : { 0, 1 }) {
        const Text text(ConvertiMime64(data, size, opzione));
        FUZZ_CHECK(text != nullptr);
        auto again = exactBuffer<uint8_t>(bytes.size());
        FUZZ_CHECK(DecifraMime64(text.get(), again.get(), size) == size);
        FUZZ_CHECK(size == 0 || std::memcmp(again.get(), data, bytes.size()) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::string_view text = asChars(data + 3, size - 3);
    const Model model = modelDecode(text);
    int32_t capacity;
    if (data[0] & 1)
        capacity = static_cast<int32_t>(model.bytes.size()) + static_cast<int8_t>(data[1]);
    else
        capacity = static_cast<int16_t>(data[1] | data[2] << 8);

    const int32_t expected = expectedResult(model, capacity);
    const Text libraryText = makeText(text);
    auto buffer = exactBuffer<uint8_t>(capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
    const int32_t result = DecifraMime64(libraryText.get(), buffer.get(), capacity);
    FUZZ_CHECK(result == expected);
    if (result > 0)
        FUZZ_CHECK(std::memcmp(buffer.get(), model.bytes.data(), model.bytes.size()) == 0);
    // No buffer is room for nothing.
    FUZZ_CHECK(DecifraMime64(libraryText.get(), nullptr, capacity) == expectedResult(model, capacity < 0 ? -1 : 0));

    checkCodecs(text, capacity, expected, model.bytes);
    if (!model.malformed)
        checkStable(model.bytes);
    return 0;
}
