#pragma once
// One file converted in pieces through the library's whole-text calls: a reader thread reads the
// input and cuts it where the format allows, while the job's own thread converts each piece and
// writes its result. A few pieces are in flight at most, so memory stays the same whatever the
// file's size, and reading overlaps converting and writing.

#include "conversion_library.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <string>

class InputFile;
class WorkProgress;

class StreamedConversion {
public:
    StreamedConversion(LibraryFunction conversion, ConversionLibrary &library, InputFile &input)
        : m_conversion(conversion)
        , m_library(library)
        , m_input(input)
    {
    }

    // Converts every piece and keeps nothing: input that is not Mime64 fails (1002) before
    // anything is written. The person sees it as reading.
    void validate(WorkProgress &progress);
    // Converts every piece into the file at output, which takes its new content only once all of
    // it is written and flushed and the input is found unchanged.
    void writeTo(const QString &output, WorkProgress &progress);

private:
    struct Piece;
    class Converter;
    template <typename Ring> void readPieces(Ring &ring, WorkProgress &progress);
    Piece makePiece(const char *data, std::size_t size, bool first);
    void convertPieces(WorkProgress &progress, const std::function<void(const char *, std::size_t)> &sink);

    LibraryFunction m_conversion;
    ConversionLibrary &m_library;
    InputFile &m_input;
    std::string m_lineBreak; // the input's first, borrowed by later Printable pieces
};

// Test hooks; the default value restores normal work.
struct PieceHooksForTesting {
    // Bytes a piece holds where the format lets it end there (rounded to whole Mime64 lines when
    // encoding); 0 for the usual size.
    std::size_t pieceBytes = 0;
    // Bytes a piece may grow to where no cut comes; 0 for what one library call can take.
    std::size_t largestPiece = 0;
};
void setPieceHooksForTesting(PieceHooksForTesting hooks);
