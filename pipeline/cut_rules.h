#pragma once
// Where a file may be cut into pieces that the library converts one at a time, so that the pieces'
// results, joined, are exactly the whole file's result. Pure functions over bytes: no files, no
// threads, no library.

#include "library_function.h"

#include <cstddef>
#include <string_view>

namespace cuts {

// Input bytes of one 76-character Mime64 line: pieces of whole lines encode to whole lines.
inline constexpr std::size_t kMime64LineBytes = 57;

// The end of the longest piece of data[0, size) that converts on its own; 0 when no piece may end
// inside it. data begins where the previous piece ended, or at the file's start when first.
std::size_t lastCut(LibraryFunction conversion, const char *data, std::size_t size, bool first);

// The first line break of a text to encode as Printable ("\r\n", "\n", or empty when it has none),
// given a first piece that holds it. The library takes its soft-break ending from a text's first
// line break, so each later piece goes to the library behind this one, and the result without the
// break's own 1 or 2 characters.
std::string_view printableFirstLineBreak(const char *data, std::size_t size);

// What the pieces of a Mime64 text must tell each other, since the library sees one at a time:
// after padding nothing but blanks may follow, and a byte-order mark opens only the first piece.
class Mime64Continuity {
public:
    // False when this piece, after the ones before it, makes the whole text malformed although
    // the library would take the piece alone.
    bool accepts(const char *data, std::size_t size);

private:
    bool m_first = true;
    bool m_padded = false;
};

} // namespace cuts
