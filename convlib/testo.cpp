#include "testo.h"

#include "program_shared.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace dravolin {
namespace {

// Before the text: the size of its own mapping (0 when it came from malloc),
// then the int32 length the ABI promises in the 4 bytes just before it.
struct alignas(16) Header {
    std::size_t mappedBytes;
    std::int32_t unused;
    std::int32_t length;
};
static_assert(sizeof(Header) == 16 && offsetof(Header, length) == 12);

constexpr std::size_t kPage = 4096;
// Texts this large are whole files: they get their own mapping with huge
// pages, which makes first touching them several times cheaper.
constexpr std::size_t kMappedFrom = 4 * kHugePage;
// A freed mapping keeps this much of its start resident for the next large
// text, whose first pages then need no fault and no clearing by the kernel.
constexpr std::size_t kKeptResident = 64u << 20;

// The one freed mapping kept; its Header holds its size.
std::atomic<Header *> g_kept { nullptr };

Header *headerOf(const char *text)
{
    return reinterpret_cast<Header *>(const_cast<char *>(text) - sizeof(Header));
}

std::size_t roundUp(std::size_t value, std::size_t unit)
{
    return (value + unit - 1) / unit * unit;
}

// A mapping of `bytes` (a multiple of kHugePage), starting with the pages of
// the kept one when there is one: moving them is a page-table change, no copy.
Header *mapText(std::size_t bytes)
{
    Header *kept = g_kept.exchange(nullptr);
    if (kept && kept->mappedBytes >= bytes)
        return kept;
    auto *fresh = static_cast<Header *>(mapHugePages(bytes));
    if (kept) {
        if (!fresh
            || ::mremap(kept, kept->mappedBytes, kept->mappedBytes, MREMAP_MAYMOVE | MREMAP_FIXED, fresh) == MAP_FAILED)
            unmapHugePages(kept, kept->mappedBytes);
    }
    if (fresh)
        fresh->mappedBytes = bytes;
    return fresh;
}

// Keeps the start of a freed mapping for the next text, returning the rest.
void unmapText(Header *header)
{
    const std::size_t bytes = header->mappedBytes;
    const std::size_t whole = bytes / kHugePage * kHugePage;
    const std::size_t keep = whole < kKeptResident ? whole : kKeptResident;
    if (keep == 0) {
        unmapHugePages(header, bytes);
        return;
    }
    if (bytes > keep)
        ::munmap(reinterpret_cast<char *>(header) + keep, bytes - keep);
    header->mappedBytes = keep;
    if (Header *older = g_kept.exchange(header))
        unmapHugePages(older, older->mappedBytes);
}

} // namespace

char *allocateText(std::size_t capacity)
{
    if (capacity > SIZE_MAX - sizeof(Header) - kHugePage - 1)
        return nullptr;
    const std::size_t bytes = sizeof(Header) + capacity + 1;
    Header *header = nullptr;
    if (bytes >= kMappedFrom) {
        header = mapText(roundUp(bytes, kHugePage));
    } else {
        // Uninitialised on purpose: the caller fills every byte it keeps.
        header = static_cast<Header *>(std::malloc(bytes));
        if (header)
            header->mappedBytes = 0;
    }
    return header ? reinterpret_cast<char *>(header + 1) : nullptr;
}

char *finishText(char *text, std::size_t length)
{
    Header *header = headerOf(text);
    header->length = static_cast<std::int32_t>(length);
    text[length] = '\0';
    const std::size_t used = sizeof(Header) + length + 1;
    if (header->mappedBytes != 0) {
        // Give back whole pages past the end; untouched ones were never resident.
        const std::size_t kept = roundUp(used, kPage);
        if (kept < header->mappedBytes
            && ::munmap(reinterpret_cast<char *>(header) + kept, header->mappedBytes - kept) == 0)
            header->mappedBytes = kept;
        return text;
    }
    // Shrinking a malloc block never fails in practice; keep the larger one if it does.
    if (auto *shrunk = static_cast<Header *>(std::realloc(header, used)))
        return reinterpret_cast<char *>(shrunk + 1);
    return text;
}

void freeText(char *text)
{
    if (!text)
        return;
    Header *header = headerOf(text);
    if (header->mappedBytes != 0)
        unmapText(header);
    else
        std::free(header);
}

std::int32_t textLength(const char *text)
{
    return text ? headerOf(text)->length : 0;
}

} // namespace dravolin
