#include "conversion_jobs.h"

#include "conversion_library.h"
#include "job_errors.h"
#include "job_frame.h"
#include "os_files.h"
#include "user_interaction.h"

#include <cstdint>

namespace {

constexpr int kOpenFlags = 4100;
constexpr int kSaveFlags = 2054;

QString openInput(JobContext &context, const char *filter, const char *title)
{
    FileRequest request;
    request.cancelError = true;
    request.filter = QString::fromUtf8(filter);
    request.flags = kOpenFlags;
    request.dialogTitle = QString::fromUtf8(title);
    request.fileName = QString();
    return context.dialog.show(request, FileRequestKind::Open);
}

QString chooseOutput(JobContext &context)
{
    FileRequest request;
    request.cancelError = true;
    request.filter = QStringLiteral("tutti i file (*.*)|*.*");
    request.flags = kSaveFlags;
    request.dialogTitle = QStringLiteral("Salva come...");
    request.fileName = QString();
    return context.dialog.show(request, FileRequestKind::Save);
}

void reportDone(JobContext &context, const QString &output, const char *words)
{
    context.messages.show(output.toUpper() + QString::fromUtf8(words), MessageStyle::Information,
                          QStringLiteral("Conversione"));
}

// Size of the Mime64 text of n bytes: 4 characters per 3 bytes, and CR LF
// after each line of 76 characters, the last one too.
std::uint64_t mime64TextSize(std::uint64_t n)
{
    const std::uint64_t characters = 4 * ((n + 2) / 3);
    return characters + 2 * ((characters + 75) / 76);
}

// The whole file as a library text, ready to hand to the library.
LibraryText readTextFile(ConversionLibrary &library, const QString &path, bool refuseEmpty)
{
    LibraryText text;
    readWholeFile(path, [&](std::size_t size) {
        if (refuseEmpty && size == 0)
            throw jobFailure(JobFailure::EmptyInput, path);
        text = library.AllocaTesto(nullptr, size);
        return text.data();
    });
    return text;
}

} // namespace

void RipristinaCartella()
{
    // Failure is harmless: every path a job uses is a full path.
    changeCurrentFolder(ownFolder());
}

void ConvertiFileMime64(JobContext &context)
{
    runJob(context.messages, [&] {
        const QString input = openInput(context, "Tutti i file (*.*)|*.*", "Selezionare il file da convertire...");
        RipristinaCartella();
        const QString output = input + QStringLiteral(".m64");
        {
            BusyCursor busy;
            ByteBuffer bytes;
            readWholeFile(input, [&](std::size_t size) {
                if (size == 0)
                    throw jobFailure(JobFailure::EmptyInput, input);
                if (mime64TextSize(size) > kLargestInput)
                    throw jobFailure(JobFailure::EncodedTooLarge, input);
                bytes = makeByteBuffer(size);
                return reinterpret_cast<char *>(bytes.data.get());
            });
            LibraryText text = context.library.ConvertiMime64(bytes.data.get(), bytes.size);
            bytes = {};
            replaceFile(output, text.data(), text.size());
        }
        reportDone(context, output, ": Conversione eseguita correttamente.");
    });
}

void DecifraFileMime64(JobContext &context)
{
    runJob(context.messages, [&] {
        const QString input
            = openInput(context, "Codifica M64 (*.m64)|*.m64", "Selezionare il file in formato M64 da decodificare...");
        RipristinaCartella();
        ByteBuffer bytes;
        std::size_t count = 0;
        {
            BusyCursor busy;
            LibraryText text = readTextFile(context.library, input, true);
            // Decoding never yields more bytes than the text has characters.
            bytes = makeByteBuffer(text.size());
            const std::int32_t decoded = context.library.DecifraMime64(text, bytes.data.get(), bytes.size);
            if (decoded == 0)
                throw jobFailure(JobFailure::NoMime64Data, input);
            if (decoded < 0)
                throw jobFailure(JobFailure::NotMime64, input);
            count = static_cast<std::size_t>(decoded);
        }
        const QString output = chooseOutput(context);
        {
            BusyCursor busy;
            replaceFile(output, bytes.data.get(), count);
            bytes = {};
        }
        reportDone(context, output, ": Decodifica eseguita correttamente.");
    });
}

void ConvertiFilePrintable(JobContext &context)
{
    runJob(context.messages, [&] {
        const QString input
            = openInput(context, "File di Testo (*.txt)|*.txt|Pagina HTML|*.html;*.htm|Tutti i file (*.*)|*.*",
                        "Selezione del file da codificare...");
        RipristinaCartella();
        const QString output = input + QStringLiteral(".ptb");
        {
            BusyCursor busy;
            LibraryText text = readTextFile(context.library, input, false);
            LibraryText printable = context.library.ConvertiPrintable(text);
            text.reset();
            replaceFile(output, printable.data(), printable.size());
        }
        reportDone(context, output, ": Conversione eseguita correttamente.");
    });
}

void DecifraFilePrintable(JobContext &context)
{
    runJob(context.messages, [&] {
        const QString input
            = openInput(context, "Codifica Printable (*.ptb)|*.ptb", "Seleziona il file da decodificare...");
        RipristinaCartella();
        LibraryText decoded;
        {
            BusyCursor busy;
            LibraryText text = readTextFile(context.library, input, false);
            decoded = context.library.DecifraPrintable(text);
        }
        const QString output = chooseOutput(context);
        {
            BusyCursor busy;
            replaceFile(output, decoded.data(), decoded.size());
            decoded.reset();
        }
        reportDone(context, output, ": Decifrazione eseguita correttamente.");
    });
}

QString printableFormOfTyped(ConversionLibrary &library, const QString &typed)
{
    qsizetype end = typed.size();
    while (end > 0 && typed.at(end - 1) == QLatin1Char(' '))
        --end;
    const QByteArray utf8 = typed.left(end).toUtf8();
    LibraryText text = library.AllocaTesto(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    const LibraryText printable = library.ConvertiPrintable(text);
    return QString::fromUtf8(printable.data(), static_cast<qsizetype>(printable.size()));
}
