#pragma once
// What the library and the program both need and must agree on: the size of
// a Mime64 text and fresh memory backed by huge pages. Inline, compiled into
// each, never exported.

#include <cstddef>
#include <cstdint>
#include <limits>

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace dravolin {

inline constexpr std::size_t kMime64LineLength = 76;

enum class Mime64Layout { Wrapped, SingleLine };

// Exact size of the base64 text of n bytes: 4 characters per 3 bytes, and
// CR LF after every line of 76 (the last one too) when wrapped. Where Size
// cannot count it, its largest value, which no allocation gives: a 32-bit
// size_t must not wrap to a small room.
template <class Size> constexpr Size mime64SizeIn(Size n, Mime64Layout layout)
{
    constexpr Size kMax = std::numeric_limits<Size>::max();
    const Size groups = n / 3 + (n % 3 != 0);
    if (groups > kMax / 4)
        return kMax;
    const Size characters = groups * 4;
    if (layout == Mime64Layout::SingleLine)
        return characters;
    constexpr Size kLine = kMime64LineLength;
    const Size lines = characters / kLine + (characters % kLine != 0);
    return lines > (kMax - characters) / 2 ? kMax : characters + 2 * lines;
}

inline std::size_t mime64EncodedSize(std::size_t n, Mime64Layout layout)
{
    return mime64SizeIn(n, layout);
}

inline constexpr std::size_t kHugePage = std::size_t { 2 } << 20;

#if !defined(_WIN32)

// `bytes` (a multiple of kHugePage) of fresh memory starting on a huge-page
// boundary, so the kernel can back all of it with huge pages, which makes
// first touching it several times cheaper; nullptr on failure. Nothing is
// reserved up front: a generous bound must not be refused when what is
// written would fit.
inline void *mapHugePages(std::size_t bytes)
{
    if (bytes == 0 || bytes % kHugePage != 0 || bytes > SIZE_MAX - kHugePage)
        return nullptr;
    const std::size_t padded = bytes + kHugePage;
    void *raw = ::mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (const std::size_t tail = start + padded - (aligned + bytes))
        ::munmap(reinterpret_cast<void *>(aligned + bytes), tail);
    void *memory = reinterpret_cast<void *>(aligned);
    ::madvise(memory, bytes, MADV_HUGEPAGE); // advice only
    return memory;
}

inline void unmapHugePages(void *memory, std::size_t bytes)
{
    if (memory)
        ::munmap(memory, bytes);
}

#endif

} // namespace dravolin
