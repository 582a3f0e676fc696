#pragma once
// What the fuzz targets share: a check that stops the run with its reason,
// library texts held by their owner, and exactly sized heap buffers so the
// address sanitizer catches a single byte read or written past the end.

#include "codec.h"
#include "dravolin.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace fuzzing {

[[noreturn]] inline void fail(const char *file, int line, const char *condition)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
    std::abort();
}

// Stays on in every build type: the fuzzers are nothing but these checks.
#define FUZZ_CHECK(condition) ((condition) ? void(0) : ::fuzzing::fail(__FILE__, __LINE__, #condition))

struct TextDeleter {
    void operator()(char *text) const { LiberaTesto(text); }
};
using Text = std::unique_ptr<char, TextDeleter>;

// A library text holding these bytes.
inline Text makeText(std::string_view bytes)
{
    Text text(AllocaTesto(bytes.data(), static_cast<int32_t>(bytes.size())));
    FUZZ_CHECK(text != nullptr);
    return text;
}

// The bytes of a library text, after checking its closing NUL.
inline std::string_view bytesOf(const Text &text)
{
    FUZZ_CHECK(text != nullptr);
    const auto length = static_cast<std::size_t>(LunghezzaTesto(text.get()));
    FUZZ_CHECK(text.get()[length] == '\0');
    return { text.get(), length };
}

// Exactly `size` bytes on the heap (a zero-sized block for 0): one byte
// beyond is poisoned.
template <typename T> std::unique_ptr<T[]> exactBuffer(std::size_t size)
{
    return std::unique_ptr<T[]>(new T[size]);
}

// A heap copy of exactly these bytes, so over-reads past the end are caught.
inline std::unique_ptr<char[]> exactCopy(std::string_view bytes)
{
    auto copy = exactBuffer<char>(bytes.size());
    if (!bytes.empty())
        std::memcpy(copy.get(), bytes.data(), bytes.size());
    return copy;
}

inline std::string_view asChars(const uint8_t *data, std::size_t size)
{
    return { reinterpret_cast<const char *>(data), size };
}

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace fuzzing
