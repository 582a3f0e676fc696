#include "testo.h"

#include "program_shared.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <sys/mman.h>

namespace dravolin {
namespace {

// Before the text: the size of its own mapping (0 when it came from malloc),
// the pages of that mapping earlier texts wrote (resident, so worth keeping),
// then the int32 length the ABI promises in the 4 bytes just before it.
struct alignas(16) Header {
    std::size_t mappedBytes;
    std::uint32_t writtenPages;
    std::int32_t length;
};
static_assert(sizeof(Header) == 16 && offsetof(Header, length) == 12);

constexpr std::size_t kPage = 4096;
// From glibc's own mmap threshold on, a text gets a mapping that the library
// keeps when it is freed. Left to malloc, a room sized for the worst case and
// then shrunk comes from a fresh mapping every time, and every page written
// faults; keeping them, a caller converting piece after piece, on any number
// of threads, writes into pages already resident. The process's malloc
// settings stay the host program's.
constexpr std::size_t kMappedFrom = 128u << 10;
// Rooms this large come in whole huge pages: first touching one is several
// times cheaper, and a kept room grown for a larger text faults once per
// huge page it gains, not 512 times.
constexpr std::size_t kHugeFrom = kHugePage;
// Freed mappings kept for the next texts, in bytes and in number: enough for
// a few threads converting pieces of several MiB, little when idle.
constexpr std::size_t kKeptBytes = 64u << 20;
constexpr std::size_t kKeptCount = 16;
// The kernels may store a little past the count; the page holding it stays.
constexpr std::size_t kStoresPast = 256;

struct KeptMappings {
    std::mutex mutex;
    Header *mappings[kKeptCount + 1] {}; // one more while keeping
    std::size_t count = 0;
    std::size_t bytes = 0;
};
KeptMappings g_kept;

Header *headerOf(const char *text)
{
    return reinterpret_cast<Header *>(const_cast<char *>(text) - sizeof(Header));
}

std::size_t unitOf(std::size_t room)
{
    return room >= kHugeFrom ? kHugePage : kPage;
}

bool smaller(const Header *a, const Header *b)
{
    return a->mappedBytes < b->mappedBytes;
}

std::size_t roundUp(std::size_t value, std::size_t unit)
{
    return (value + unit - 1) / unit * unit;
}

// The kept mapping whose pages best hold a text of `likely` bytes: the
// smallest that holds it whole, otherwise the largest, to be grown; nullptr
// when none is kept. Large texts then keep large mappings, and a small one
// takes a large mapping only when nothing smaller is free.
Header *takeKept(std::size_t likely)
{
    const auto better = [likely](const Header *a, const Header *b) {
        const bool aHolds = a->mappedBytes >= likely, bHolds = b->mappedBytes >= likely;
        return aHolds != bHolds ? aHolds : aHolds ? smaller(a, b) : smaller(b, a);
    };
    const std::lock_guard lock(g_kept.mutex);
    if (g_kept.count == 0)
        return nullptr;
    Header **const first = g_kept.mappings, **const chosen = std::min_element(first, first + g_kept.count, better);
    Header *taken = *chosen;
    *chosen = first[--g_kept.count];
    g_kept.bytes -= taken->mappedBytes;
    return taken;
}

// Keeps a freed mapping, then gives back the smallest kept ones while over
// the bounds: the largest serve any text.
void keep(Header *header)
{
    Header *dropped[kKeptCount + 1];
    std::size_t droppedCount = 0;
    {
        const std::lock_guard lock(g_kept.mutex);
        Header **const first = g_kept.mappings;
        first[g_kept.count++] = header;
        g_kept.bytes += header->mappedBytes;
        while (g_kept.bytes > kKeptBytes || g_kept.count > kKeptCount) {
            Header **smallest = std::min_element(first, first + g_kept.count, smaller);
            dropped[droppedCount++] = *smallest;
            g_kept.bytes -= (*smallest)->mappedBytes;
            *smallest = first[--g_kept.count];
        }
    }
    for (std::size_t i = 0; i < droppedCount; ++i)
        ::munmap(dropped[i], dropped[i]->mappedBytes);
}

Header *mapFresh(std::size_t bytes)
{
    if (bytes >= kHugeFrom)
        return static_cast<Header *>(mapHugePages(bytes));
    void *memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<Header *>(memory);
}

// A mapping of at least `bytes`, a kept one when there is one, grown if need
// be: moving its pages is a page-table change, no copy, and the ones earlier
// texts wrote need no fault and no clearing by the kernel. It moves, grown,
// onto a fresh mapping of the new size, so that it stays one mapping (which
// mremap needs next time) aligned for huge pages, and so that ThreadSanitizer,
// which sees mmap but not mremap, knows the new addresses as fresh.
Header *mapText(std::size_t bytes, std::size_t likely)
{
    bytes = roundUp(bytes, unitOf(bytes));
    Header *room = takeKept(likely);
    if (room && room->mappedBytes < bytes) {
        Header *fresh = mapFresh(bytes);
        if (fresh && ::mremap(room, room->mappedBytes, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, fresh) != MAP_FAILED) {
            if (bytes >= kHugeFrom)
                ::madvise(fresh, bytes, MADV_HUGEPAGE); // advice only
        } else {
            ::munmap(room, room->mappedBytes);
        }
        room = fresh;
    }
    if (!room)
        room = mapFresh(bytes);
    if (room && room->mappedBytes < bytes)
        room->mappedBytes = bytes;
    return room;
}

} // namespace

char *allocateText(std::size_t capacity, std::size_t likely)
{
    if (capacity > SIZE_MAX - sizeof(Header) - kHugePage - 1)
        return nullptr;
    const std::size_t bytes = sizeof(Header) + capacity + 1;
    Header *header = nullptr;
    if (bytes >= kMappedFrom) {
        header = mapText(bytes, sizeof(Header) + std::min(likely, capacity) + 1);
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
    if (header->mappedBytes >= kHugeFrom) {
        // Give back the pages past the end that no text wrote: a worst case's
        // room is mostly untouched, and a huge page's rest would be resident.
        // A smaller room keeps its size: its untouched pages cost nothing, and
        // growing it again next time would cost every thread a TLB flush.
        const std::size_t written = roundUp(std::max<std::size_t>(header->writtenPages * kPage, used + kStoresPast),
                                            unitOf(header->mappedBytes));
        if (written < header->mappedBytes
            && ::munmap(reinterpret_cast<char *>(header) + written, header->mappedBytes - written) == 0)
            header->mappedBytes = written;
        header->writtenPages = static_cast<std::uint32_t>(std::min(written, header->mappedBytes) / kPage);
        return text;
    }
    if (header->mappedBytes != 0)
        return text;
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
    if (header->mappedBytes == 0) {
        std::free(header);
        return;
    }
    // Past the kept bytes, a very large text's tail goes back at once.
    const std::size_t bytes = std::min(header->mappedBytes, kKeptBytes);
    if (bytes < header->mappedBytes) {
        ::munmap(reinterpret_cast<char *>(header) + bytes, header->mappedBytes - bytes);
        header->mappedBytes = bytes;
    }
    header->writtenPages = static_cast<std::uint32_t>(bytes / kPage);
    keep(header);
}

std::int32_t textLength(const char *text)
{
    return text ? headerOf(text)->length : 0;
}

} // namespace dravolin
