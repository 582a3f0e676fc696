#include "streamed_conversion.h"

#include "buffer_pool.h"
#include "cut_rules.h"
#include "job_errors.h"
#include "os_files.h"
#include "piece_schedule.h"
#include "work_progress.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include <sched.h>

namespace {

// Pieces of 512 KiB keep each library text, and a Printable result at its worst about three
// times as long, small enough for the allocator to serve from memory it already has: with pieces
// of 2 MiB, Printable encoding faulted in every page of every result. At most 8 MiB of pieces are
// in flight (read, converting, or converted but not yet written), about two per converter; with
// their results a job holds well under 64 MiB above idle at any converter count. A piece grows
// past 2 MiB only where no cut comes sooner, and then travels alone.
constexpr std::size_t kUsualPiece = std::size_t { 512 } << 10;
constexpr std::size_t kLargestUsualPiece = std::size_t { 2 } << 20;
constexpr std::size_t kInFlightBytes = std::size_t { 8 } << 20;
constexpr unsigned kMostConverters = 8;
// Room before a piece's bytes for the line break a later Printable piece borrows.
constexpr std::size_t kLead = 2;

PieceHooksForTesting g_hooks;

unsigned converterCount()
{
    if (g_hooks.converters != 0)
        return g_hooks.converters;
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return 1;
    return std::clamp(static_cast<unsigned>(CPU_COUNT(&allowed)), 1u, kMostConverters);
}

std::size_t largestUsualPiece()
{
    return g_hooks.pieceBytes != 0 ? g_hooks.pieceBytes : kLargestUsualPiece;
}

std::size_t pieceBytes(LibraryFunction conversion, unsigned converters)
{
    const std::size_t usual = g_hooks.pieceBytes != 0 ? g_hooks.pieceBytes : kUsualPiece;
    const std::size_t bytes = std::min(usual, std::max(kInFlightBytes / (2 * converters), kLead));
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

// A piece as the library takes it: plain bytes to encode as Mime64, a library text for the rest.
struct StreamedConversion::Piece {
    BufferPool::Buffer plain; // the bytes from kLead on
    std::size_t size = 0;
    LibraryText text;
    std::size_t borrowed = 0; // leading characters of the result that belong to an earlier piece
};

struct StreamedConversion::Result {
    LibraryText text;
    BufferPool::Buffer decoded;
    std::string_view bytes;
};

// One pass over the input: the reader, the converters and the schedule between them, all ended
// and joined before the pass returns or throws.
class StreamedConversion::Pass {
public:
    Pass(StreamedConversion &owner, WorkProgress &progress)
        : m_owner(owner)
        , m_progress(progress)
        , m_converters(converterCount())
        , m_pieceBytes(pieceBytes(owner.m_conversion, m_converters))
        , m_pool(kLead + m_pieceBytes)
        , m_schedule(std::min(kInFlightBytes, (2 * m_converters + 2) * m_pieceBytes), largestUsualPiece())
    {
    }
    ~Pass()
    {
        m_schedule.stop();
        for (std::thread &thread : m_threads)
            thread.join();
    }
    Pass(const Pass &) = delete;
    Pass &operator=(const Pass &) = delete;

    void run(const std::function<void(const char *, std::size_t)> &sink)
    {
        m_threads.reserve(m_converters);
        m_threads.emplace_back([this] { readPieces(); });
        for (unsigned i = 1; i < m_converters; ++i)
            m_threads.emplace_back([this] { convertPieces(); });
        const auto poll = [this] { m_progress.stopIfCancelled(); };
        for (;;) {
            m_progress.stopIfCancelled();
            const std::optional<Result> result = m_schedule.next(m_convert, poll);
            if (!result)
                return;
            sink(result->bytes.data(), result->bytes.size());
        }
    }

private:
    using Schedule = PieceSchedule<Piece, Result>;

    // Fills a buffer of the piece size, hands on its longest piece that may stand alone and keeps
    // the rest for the next; where no cut comes, the buffer grows, up to what one call can take.
    // Whatever fails here is the failure of the piece it would have been.
    void readPieces()
    {
        try {
            readUntilEnd();
            m_schedule.close();
        } catch (...) {
            m_schedule.close(std::current_exception());
        }
    }

    void readUntilEnd()
    {
        const LibraryFunction conversion = m_owner.m_conversion;
        InputFile &input = m_owner.m_input;
        const std::size_t largest = largestPiece(conversion);
        BufferPool::Buffer buffer = m_pool.take(kLead + m_pieceBytes);
        std::size_t filled = 0;
        std::uint64_t done = 0;
        bool first = true;
        for (bool atEnd = false; !atEnd;) {
            char *data = buffer.data() + kLead;
            const std::size_t room = buffer.size() - kLead;
            while (filled < room && !atEnd) {
                m_progress.advance(done, input.size());
                const std::size_t got = input.read(data + filled, room - filled);
                atEnd = got == 0;
                filled += got;
                done += got;
            }
            const std::size_t cut = atEnd ? filled : cuts::lastCut(conversion, data, filled, first);
            if (cut == 0 && !atEnd) {
                if (room >= largest)
                    throw jobFailure(JobFailure::PieceTooLarge, input.path());
                const std::size_t grown = room < largestUsualPiece() ? largestUsualPiece() : room * 2;
                buffer = holding(data, filled, std::min(largest, grown));
                continue;
            }
            if (cut > 0) {
                // Mime64 encoding hands the buffer on: what follows the cut moves out first.
                const bool handedOn = conversion == LibraryFunction::ConvertiMime64;
                BufferPool::Buffer rest
                    = handedOn ? holding(data + cut, filled - cut, m_pieceBytes) : BufferPool::Buffer();
                if (!m_schedule.put(cut, [&] { return makePiece(buffer, cut, first); }))
                    return;
                if (handedOn)
                    buffer = std::move(rest);
                else if (room > m_pieceBytes) // back to the usual size after a long piece
                    buffer = holding(data + cut, filled - cut, m_pieceBytes);
                else
                    std::memmove(data, data + cut, filled - cut);
            }
            first = false;
            filled -= cut;
        }
    }

    // A buffer with room for at least size bytes after the lead, holding the count bytes at from.
    BufferPool::Buffer holding(const char *from, std::size_t count, std::size_t size)
    {
        BufferPool::Buffer fresh = m_pool.take(kLead + std::max(size, count));
        std::memcpy(fresh.data() + kLead, from, count);
        return fresh;
    }

    // Mime64 encoding takes the buffer itself, which the reader then replaces; the other
    // conversions take one copy into a library text, a later Printable piece behind the first
    // line break, which the buffer's lead holds for it.
    Piece makePiece(BufferPool::Buffer &buffer, std::size_t size, bool first)
    {
        char *data = buffer.data() + kLead;
        switch (m_owner.m_conversion) {
        case LibraryFunction::ConvertiMime64:
            return { std::move(buffer), size, {}, 0 };
        case LibraryFunction::DecifraMime64:
            if (!m_continuity.accepts(data, size))
                throw jobFailure(JobFailure::NotMime64, m_owner.m_input.path());
            break;
        case LibraryFunction::ConvertiPrintable:
            if (first)
                m_lineBreak = cuts::printableFirstLineBreak(data, size);
            else if (!m_lineBreak.empty()) {
                std::memcpy(data - m_lineBreak.size(), m_lineBreak.data(), m_lineBreak.size());
                return { {},
                         0,
                         m_owner.m_library.AllocaTesto(data - m_lineBreak.size(), m_lineBreak.size() + size),
                         m_lineBreak.size() };
            }
            break;
        case LibraryFunction::DecifraPrintable:
            break;
        }
        return { {}, 0, m_owner.m_library.AllocaTesto(data, size), 0 };
    }

    void convertPieces()
    {
        for (;;) {
            try {
                m_progress.stopIfCancelled();
            } catch (...) {
                return; // the writer hears it too, at its next piece
            }
            std::optional<std::pair<std::size_t, Piece>> taken = m_schedule.take();
            if (!taken)
                return;
            m_schedule.finish(taken->first, taken->second, m_convert);
        }
    }

    // The piece's result; the piece's own memory goes back as soon as it is converted.
    Result convert(Piece &piece, std::size_t index)
    {
        if (g_hooks.beforeConverting)
            g_hooks.beforeConverting(index);
        ConversionLibrary &library = m_owner.m_library;
        const Piece input = std::move(piece);
        Result result;
        switch (m_owner.m_conversion) {
        case LibraryFunction::ConvertiMime64:
            result.text = library.ConvertiMime64(input.plain.data() + kLead, input.size);
            break;
        case LibraryFunction::DecifraMime64: {
            // Decoding never yields more bytes than the text has characters.
            result.decoded = m_pool.take(std::max(input.text.size(), std::size_t { 1 }));
            const std::optional<std::size_t> count
                = library.DecifraMime64(input.text, result.decoded.data(), result.decoded.size());
            if (!count)
                throw jobFailure(JobFailure::NotMime64, m_owner.m_input.path());
            result.bytes = { result.decoded.data(), *count };
            return result;
        }
        case LibraryFunction::ConvertiPrintable:
            result.text = library.ConvertiPrintable(input.text);
            break;
        case LibraryFunction::DecifraPrintable:
            result.text = library.DecifraPrintable(input.text);
            break;
        }
        result.bytes = std::string_view(result.text.data(), result.text.size()).substr(input.borrowed);
        return result;
    }

    StreamedConversion &m_owner;
    WorkProgress &m_progress;
    const unsigned m_converters;
    const std::size_t m_pieceBytes;
    BufferPool m_pool; // before the schedule, whose pieces give their buffers back to it
    Schedule m_schedule;
    const Schedule::Convert m_convert = [this](std::size_t index, Piece &piece) { return convert(piece, index); };
    std::vector<std::thread> m_threads;
    // The reader's own.
    std::string m_lineBreak; // the input's first, borrowed by later Printable pieces
    cuts::Mime64Continuity m_continuity;
};

void StreamedConversion::convertPieces(WorkProgress &progress,
                                       const std::function<void(const char *, std::size_t)> &sink)
{
    m_input.rewind();
    Pass(*this, progress).run(sink);
}

StreamedConversion::StreamedConversion(LibraryFunction conversion, ConversionLibrary &library, InputFile &input)
    : m_conversion(conversion)
    , m_library(library)
    , m_input(input)
{
}

StreamedConversion::~StreamedConversion() = default;

void StreamedConversion::validate(WorkProgress &progress, const QString &keepIn)
{
    progress.begin(WorkStep::Reading);
    m_kept.reset();
    std::unique_ptr<UnnamedContent> kept
        = keepIn.isEmpty() ? nullptr : std::make_unique<UnnamedContent>(keepIn, m_input.origin());
    convertPieces(progress, [&](const char *data, std::size_t size) {
        if (kept)
            kept->write(data, size);
    });
    if (kept && kept->held())
        m_kept = std::move(kept);
}

void StreamedConversion::writeTo(const QString &output, WorkProgress &progress)
{
    progress.begin(WorkStep::Converting);
    const auto beforeRename = [&] {
        progress.stopIfCancelled();
        m_input.checkUnchanged();
    };
    // Let go either way, its space freed before anything is written again.
    std::unique_ptr<UnnamedContent> kept = std::move(m_kept);
    if (kept && m_input.unchanged()) {
        if (const std::unique_ptr<FileReplacement> replacement
            = FileReplacement::takingOver(*kept, output, m_input.origin())) {
            progress.advance(m_input.size(), m_input.size());
            replacement->commit(beforeRename);
            return;
        }
    }
    kept.reset();
    FileReplacement replacement(output, m_input.origin());
    convertPieces(progress, [&](const char *data, std::size_t size) { replacement.write(data, size); });
    replacement.commit(beforeRename);
}

void setPieceHooksForTesting(PieceHooksForTesting hooks)
{
    g_hooks = std::move(hooks);
}
