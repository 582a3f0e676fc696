#pragma once
// The library's text: an int32 length, the bytes, a NUL; callers hold a
// pointer to the first byte.

#include <cstddef>
#include <cstdint>

namespace dravolin {

inline constexpr std::size_t kMaxTextLength = INT32_MAX;

// Room for `capacity` bytes, length not yet set; nullptr when memory runs
// out. The room may pass kMaxTextLength; the finished length may not.
// `likely` is the length the caller expects, which picks among the freed rooms kept for reuse.
char *allocateText(std::size_t capacity, std::size_t likely = SIZE_MAX);
// Fixes the length (at most the capacity) and the closing NUL, giving back
// the unused room; returns the text, which may have moved.
char *finishText(char *text, std::size_t length);
void freeText(char *text);
std::int32_t textLength(const char *text);

} // namespace dravolin
