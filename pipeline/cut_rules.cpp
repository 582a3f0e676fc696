#include "cut_rules.h"

#include "library_function.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace cuts {
namespace {

bool isMime64Blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether c counts towards a Mime64 group. On any text the library takes, past a leading byte-order
// mark, the bytes above ' ' are exactly its alphabet and '=', and those below are blanks; any other
// byte is refused by the library whichever piece holds it, so counting it changes no outcome.
bool countsInGroup(char c)
{
    return static_cast<unsigned char>(c) > ' ';
}

// The bytes of data[0, size) that count towards groups, summed a byte wide in runs of 255, a form
// compilers vectorise: the whole input passes through here.
std::size_t groupCharacters(const char *data, std::size_t size)
{
    std::size_t counted = 0;
    for (std::size_t i = 0; i < size;) {
        const std::size_t end = std::min(size, i + 255);
        std::uint8_t run = 0;
        for (; i < end; ++i)
            run = static_cast<std::uint8_t>(run + countsInGroup(data[i]));
        counted += run;
    }
    return counted;
}

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

bool opensWithByteOrderMark(const char *data, std::size_t size)
{
    return size >= 3 && std::memcmp(data, kByteOrderMark, 3) == 0;
}

// Where the group characters counted from the start make whole groups of four: a piece ending
// there leaves the next one nothing half-gathered. The leading mark is the library's to skip.
std::size_t lastMime64DecodeCut(const char *data, std::size_t size, bool first)
{
    std::size_t start = 0;
    if (first && std::memcmp(data, kByteOrderMark, std::min<std::size_t>(size, 3)) == 0) {
        if (size < 3)
            return 0; // perhaps a mark still arriving
        start = 3;
    }
    std::size_t counted = groupCharacters(data + start, size - start);
    std::size_t end = size;
    while (counted % 4 != 0)
        counted -= countsInGroup(data[--end]);
    // Sooner, after the last line break, where that too ends a group: the library decodes whole
    // lines many times faster than a piece that starts inside one.
    const void *lineFeed = end > start ? ::memrchr(data + start, '\n', end - start) : nullptr;
    if (lineFeed == nullptr)
        return end;
    const std::size_t lineStart = static_cast<std::size_t>(static_cast<const char *>(lineFeed) - data) + 1;
    return groupCharacters(data + lineStart, end - lineStart) % 4 == 0 ? lineStart : end;
}

// After any byte that is neither '=', a blank nor CR, and does not follow '=': an escape, a soft
// break, and blanks that may end a line are never split.
std::size_t lastPrintableDecodeCut(const char *data, std::size_t size)
{
    for (std::size_t end = size; end > 0; --end) {
        const char c = data[end - 1];
        if (c == '=' || c == ' ' || c == '\t' || c == '\r' || (end >= 2 && data[end - 2] == '='))
            continue;
        return end;
    }
    return 0;
}

// After a line feed, where every line starts afresh.
std::size_t lastPrintableEncodeCut(const char *data, std::size_t size)
{
    const void *lineFeed = size > 0 ? ::memrchr(data, '\n', size) : nullptr;
    return lineFeed ? static_cast<std::size_t>(static_cast<const char *>(lineFeed) - data) + 1 : 0;
}

} // namespace

std::size_t lastCut(LibraryFunction conversion, const char *data, std::size_t size, bool first)
{
    switch (conversion) {
    case LibraryFunction::ConvertiMime64:
        return size / kMime64LineBytes * kMime64LineBytes;
    case LibraryFunction::DecifraMime64:
        return lastMime64DecodeCut(data, size, first);
    case LibraryFunction::ConvertiPrintable:
        return lastPrintableEncodeCut(data, size);
    case LibraryFunction::DecifraPrintable:
        return lastPrintableDecodeCut(data, size);
    }
    return 0;
}

std::string_view printableFirstLineBreak(const char *data, std::size_t size)
{
    const auto *lineFeed = static_cast<const char *>(size > 0 ? std::memchr(data, '\n', size) : nullptr);
    if (lineFeed == nullptr)
        return {};
    return lineFeed > data && lineFeed[-1] == '\r' ? "\r\n" : "\n";
}

bool Mime64Continuity::accepts(const char *data, std::size_t size)
{
    const bool wasFirst = m_first;
    m_first = false;
    if (!wasFirst && opensWithByteOrderMark(data, size))
        return false;
    if (m_padded) {
        for (std::size_t i = 0; i < size; ++i)
            if (!isMime64Blank(data[i]))
                return false;
    }
    m_padded = m_padded || std::memchr(data, '=', size) != nullptr;
    return true;
}

} // namespace cuts
