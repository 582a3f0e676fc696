#include "cut_rules.h"

#include "conversion_library.h"

#include <algorithm>
#include <cstring>

namespace cuts {
namespace {

bool isMime64Blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The alphabet and '=': the characters a Mime64 group is made of.
bool inMime64Group(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    const auto lower = static_cast<unsigned char>(byte | 0x20);
    return static_cast<unsigned char>(lower - 'a') < 26 || static_cast<unsigned char>(byte - '0') < 10 || c == '+'
        || c == '/' || c == '=';
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
    std::size_t counted = 0;
    for (std::size_t i = start; i < size; ++i)
        counted += inMime64Group(data[i]);
    std::size_t end = size;
    while (counted % 4 != 0)
        counted -= inMime64Group(data[--end]);
    return end;
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
