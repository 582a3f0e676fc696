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
#include <memory>
#include <string>

class InputFile;
class UnnamedContent;
class WorkProgress;

class StreamedConversion {
public:
    StreamedConversion(LibraryFunction conversion, ConversionLibrary &library, InputFile &input);
    ~StreamedConversion();

    // Converts every piece and names nothing: input that is not Mime64 fails (1002) before any
    // name is chosen. Where the folder keepIn can hold an unnamed file, the result is kept there
    // for writeTo(); where writing it fails (a full disk) the pass goes on, keeping nothing. The
    // person sees it as reading.
    void validate(WorkProgress &progress, const QString &keepIn = {});
    // Makes the file at output hold the result: the one validate() kept, where it can take that
    // name (the same mount, the input unchanged), else every piece converted again into it. The
    // file takes its new content only once all of it is written and flushed and the input is found
    // unchanged.
    void writeTo(const QString &output, WorkProgress &progress);

private:
    struct Piece;
    struct Result;
    class Pass;
    void convertPieces(WorkProgress &progress, const std::function<void(const char *, std::size_t)> &sink);

    LibraryFunction m_conversion;
    ConversionLibrary &m_library;
    InputFile &m_input;
    std::unique_ptr<UnnamedContent> m_kept; // validate()'s whole result, until writeTo()
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
