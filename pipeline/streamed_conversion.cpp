#include "streamed_conversion.h"

#include "cut_rules.h"
#include "job_errors.h"
#include "os_files.h"
#include "piece_ring.h"
#include "work_progress.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// Pieces and their results stay well below the 8 MiB from which the library maps a text of its
// own and keeps up to 64 MiB of it resident once freed: a Printable piece of 2 MiB gives at most
// about 6.3 MiB. With the pieces waiting, the one converting and the one being read, a job holds
// some 20 MiB whatever the file's size.
constexpr std::size_t kPieceBytes = std::size_t { 2 } << 20;
constexpr std::size_t kPiecesWaiting = 2;

PieceHooksForTesting g_hooks;

std::size_t pieceBytes(LibraryFunction conversion)
{
    const std::size_t bytes = g_hooks.pieceBytes != 0 ? g_hooks.pieceBytes : kPieceBytes;
    if (conversion != LibraryFunction::ConvertiMime64)
        return bytes;
    return std::max(bytes / cuts::kMime64LineBytes, std::size_t { 1 }) * cuts::kMime64LineBytes;
}

// What one library call can take: a text of up to INT32_MAX characters, and for Printable
// encoding a result as long, where each byte may take three characters and soft breaks more.
std::size_t largestPiece(LibraryFunction conversion)
{
    if (g_hooks.largestPiece != 0)
        return g_hooks.largestPiece;
    return conversion == LibraryFunction::ConvertiPrintable ? INT32_MAX / 4 : INT32_MAX;
}

} // namespace

struct StreamedConversion::Piece {
    LibraryText text; // as the library takes it
    std::size_t borrowed; // leading characters of the result that belong to an earlier piece
};

// Converts the pieces of one pass in their order, holding one result at a time.
class StreamedConversion::Converter {
public:
    Converter(LibraryFunction conversion, ConversionLibrary &library, const QString &path)
        : m_conversion(conversion)
        , m_library(library)
        , m_path(path)
    {
    }

    std::string_view convert(const Piece &piece)
    {
        m_result = {};
        switch (m_conversion) {
        case LibraryFunction::ConvertiMime64:
            m_result = m_library.ConvertiMime64(piece.text.data(), piece.text.size());
            break;
        case LibraryFunction::DecifraMime64:
            return decode(piece.text);
        case LibraryFunction::ConvertiPrintable:
            m_result = m_library.ConvertiPrintable(piece.text);
            break;
        case LibraryFunction::DecifraPrintable:
            m_result = m_library.DecifraPrintable(piece.text);
            break;
        }
        return std::string_view(m_result.data(), m_result.size()).substr(piece.borrowed);
    }

private:
    std::string_view decode(const LibraryText &text)
    {
        if (!m_continuity.accepts(text.data(), text.size()))
            throw jobFailure(JobFailure::NotMime64, m_path);
        // Decoding never yields more bytes than the text has characters.
        if (m_decoded.size() < text.size())
            m_decoded = Bytes::fresh(std::max(text.size(), kPieceBytes));
        const std::optional<std::size_t> count = m_library.DecifraMime64(text, m_decoded.data(), m_decoded.size());
        if (!count)
            throw jobFailure(JobFailure::NotMime64, m_path);
        return { m_decoded.data(), *count };
    }

    LibraryFunction m_conversion;
    ConversionLibrary &m_library;
    const QString &m_path;
    LibraryText m_result;
    Bytes m_decoded;
    cuts::Mime64Continuity m_continuity;
};

StreamedConversion::Piece StreamedConversion::makePiece(const char *data, std::size_t size, bool first)
{
    if (m_conversion == LibraryFunction::ConvertiPrintable && first)
        m_lineBreak = cuts::printableFirstLineBreak(data, size);
    if (m_conversion != LibraryFunction::ConvertiPrintable || first || m_lineBreak.empty())
        return { m_library.AllocaTesto(data, size), 0 };
    LibraryText text = m_library.AllocaTesto(nullptr, m_lineBreak.size() + size);
    std::memcpy(text.data(), m_lineBreak.data(), m_lineBreak.size());
    std::memcpy(text.data() + m_lineBreak.size(), data, size);
    return { std::move(text), m_lineBreak.size() };
}

// Fills a buffer of the piece size, hands on its longest piece that may stand alone and keeps the
// rest for the next; where no cut comes, the buffer grows, up to what one call can take.
template <typename Ring> void StreamedConversion::readPieces(Ring &ring, WorkProgress &progress)
{
    const std::size_t usual = pieceBytes(m_conversion), largest = largestPiece(m_conversion);
    std::vector<char> buffer(usual);
    std::size_t filled = 0;
    std::uint64_t done = 0;
    bool first = true;
    for (bool atEnd = false; !atEnd;) {
        while (filled < buffer.size() && !atEnd) {
            progress.advance(done, m_input.size());
            const std::size_t got = m_input.read(buffer.data() + filled, buffer.size() - filled);
            atEnd = got == 0;
            filled += got;
            done += got;
        }
        const std::size_t cut = atEnd ? filled : cuts::lastCut(m_conversion, buffer.data(), filled, first);
        if (cut == 0 && !atEnd) {
            if (buffer.size() >= largest)
                throw jobFailure(JobFailure::PieceTooLarge, m_input.path());
            buffer.resize(std::min(largest, buffer.size() * 2));
            continue;
        }
        if (cut > 0 && !ring.put(makePiece(buffer.data(), cut, first)))
            return;
        first = false;
        std::memmove(buffer.data(), buffer.data() + cut, filled - cut);
        filled -= cut;
        if (buffer.size() > usual && filled <= usual) {
            buffer.resize(usual);
            buffer.shrink_to_fit();
        }
    }
}

void StreamedConversion::convertPieces(WorkProgress &progress,
                                       const std::function<void(const char *, std::size_t)> &sink)
{
    m_input.rewind();
    Converter converter(m_conversion, m_library, m_input.path());
    using Reader = PieceProducer<Piece, kPiecesWaiting>;
    Reader reader([&](Reader::Ring &ring) { readPieces(ring, progress); });
    while (const std::optional<Piece> piece = reader.take()) {
        progress.stopIfCancelled();
        const std::string_view result = converter.convert(*piece);
        sink(result.data(), result.size());
    }
}

void StreamedConversion::validate(WorkProgress &progress)
{
    progress.begin(WorkStep::Reading);
    convertPieces(progress, [](const char *, std::size_t) {});
}

void StreamedConversion::writeTo(const QString &output, WorkProgress &progress)
{
    progress.begin(WorkStep::Converting);
    FileReplacement replacement(output, m_input.origin());
    convertPieces(progress, [&](const char *data, std::size_t size) { replacement.write(data, size); });
    replacement.commit([&] {
        progress.stopIfCancelled();
        m_input.checkUnchanged();
    });
}

void setPieceHooksForTesting(PieceHooksForTesting hooks)
{
    g_hooks = hooks;
}
