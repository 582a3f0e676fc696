#include "testo.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace dravolin {
namespace {

constexpr std::size_t kHeader = sizeof(std::int32_t);

char *base(char *text)
{
    return text - kHeader;
}

} // namespace

char *allocateText(std::size_t capacity)
{
    if (capacity > SIZE_MAX - kHeader - 1)
        return nullptr;
    // Uninitialised on purpose: the caller fills every byte it keeps, and
    // untouched pages of a generous bound never become resident.
    auto *block = static_cast<char *>(std::malloc(kHeader + capacity + 1));
    return block ? block + kHeader : nullptr;
}

char *finishText(char *text, std::size_t length)
{
    const auto stored = static_cast<std::int32_t>(length);
    std::memcpy(base(text), &stored, kHeader);
    text[length] = '\0';
    // Shrinking in place or by remapping never fails in practice; keep the
    // larger block if it does.
    if (auto *shrunk = static_cast<char *>(std::realloc(base(text), kHeader + length + 1)))
        return shrunk + kHeader;
    return text;
}

void freeText(char *text)
{
    if (text)
        std::free(base(text));
}

std::int32_t textLength(const char *text)
{
    if (!text)
        return 0;
    std::int32_t length;
    std::memcpy(&length, text - kHeader, kHeader);
    return length;
}

} // namespace dravolin
