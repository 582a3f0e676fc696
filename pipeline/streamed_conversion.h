#pragma once
// One file converted in pieces through the library's whole-text calls: a reader thread reads the
// input and cuts it where the format allows, converter threads and the job's own thread convert
// the pieces at once, and the job's thread writes their results in input order. A few MiB of
// pieces are in flight at most, so memory stays the same whatever the file's size, and reading
// overlaps converting and writing.

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
    struct Result;
    class Pass;
    void convertPieces(WorkProgress &progress, const std::function<void(const char *, std::size_t)> &sink);

    LibraryFunction m_conversion;
    ConversionLibrary &m_library;
    InputFile &m_input;
};

// Test hooks; the default value restores normal work.
struct PieceHooksForTesting {
    // Bytes a piece holds where the format lets it end there (rounded to whole Mime64 lines when
    // encoding); 0 for the usual size.
    std::size_t pieceBytes = 0;
    // Bytes a piece may grow to where no cut comes; 0 for what one library call can take.
    std::size_t largestPiece = 0;
    // Threads converting, the job's own among them; 0 for one per CPU this process may run on, at
    // most 8. With 1 the job's thread converts and writes every piece.
    unsigned converters = 0;
    // Runs on the converting thread before piece index (from 0) of a pass converts.
    std::function<void(std::size_t index)> beforeConverting = {};
};
void setPieceHooksForTesting(PieceHooksForTesting hooks);
