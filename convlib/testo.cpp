#include "testo.h"

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

constexpr std::size_t kHugePage = std::size_t { 2 } << 20;
constexpr std::size_t kPage = 4096;
// Texts this large are whole files: they get their own mapping with huge
// pages, which makes first touching them several times cheaper.
constexpr std::size_t kMappedFrom = 4 * kHugePage;

Header *headerOf(const char *text)
{
    return reinterpret_cast<Header *>(const_cast<char *>(text) - sizeof(Header));
}

std::size_t roundUp(std::size_t value, std::size_t unit)
{
    return (value + unit - 1) / unit * unit;
}

// A mapping starting on a huge-page boundary, so the kernel can back it with
// huge pages from the first byte. Nothing is reserved up front: an encoder's
// generous bound must not be refused when what it writes would fit.
void *mapAligned(std::size_t bytes)
{
    const std::size_t padded = bytes + kHugePage;
    void *raw = ::mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = roundUp(start, kHugePage);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (const std::size_t tail = start + padded - (aligned + bytes))
        ::munmap(reinterpret_cast<void *>(aligned + bytes), tail);
    void *memory = reinterpret_cast<void *>(aligned);
    ::madvise(memory, bytes, MADV_HUGEPAGE); // advice only
    return memory;
}

} // namespace

char *allocateText(std::size_t capacity)
{
    if (capacity > SIZE_MAX - sizeof(Header) - kHugePage - 1)
        return nullptr;
    const std::size_t bytes = sizeof(Header) + capacity + 1;
    Header *header = nullptr;
    if (bytes >= kMappedFrom) {
        const std::size_t mapped = roundUp(bytes, kHugePage);
        header = static_cast<Header *>(mapAligned(mapped));
        if (header)
            header->mappedBytes = mapped;
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
        ::munmap(header, header->mappedBytes);
    else
        std::free(header);
}

std::int32_t textLength(const char *text)
{
    return text ? headerOf(text)->length : 0;
}

} // namespace dravolin
