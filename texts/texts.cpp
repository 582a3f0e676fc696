#include "texts.h"

#include "job_errors.h"

#include <cstring>

// Each text whole, on one line, so that its blanks and line breaks show as a person reads it.
// clang-format off
QString text(Text which)
{
    switch (which) {
    case Text::WindowTitle: return QStringLiteral("Ostrevo di utilizzo di Dravolin.dll");
    case Text::Mime64FrameCaption: return QStringLiteral("Codifica Mime64");
    case Text::PrintableFrameCaption: return QStringLiteral("Codifica Printable");
    case Text::EncodeCaption: return QStringLiteral("Converti");
    case Text::DecodeCaption: return QStringLiteral("Decodifica");
    case Text::TypedConversionCaption: return QStringLiteral("Cod. Printable");
    case Text::TypedTextName: return QStringLiteral("Testo da convertire");
    case Text::ConvertedTextName: return QStringLiteral("Testo convertito in Printable");
    case Text::Mime64Title: return QStringLiteral("Conversione Mime64");
    case Text::EncodeMime64Prompt: return QStringLiteral("Il file codificato verrà salvato nella stessa cartella del file selezionato con l'aggiunta dell'estensione .m64. Si desidera procedere?");
    case Text::DecodeMime64Prompt: return QStringLiteral("Il file selezionato in formato Mime64 verrà  decodificato e salvato in un altro file il cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?");
    case Text::EncodePrintableTitle: return QStringLiteral("Codifica Printable");
    case Text::EncodePrintablePrompt: return QStringLiteral("Il file codificato verrà salvato nella stessa cartella del file selezionato con l'aggiunta dell'estensione .ptb. Si desidera procedere?");
    case Text::DecodePrintableTitle: return QStringLiteral("Conversione Printable");
    case Text::DecodePrintablePrompt: return QStringLiteral("Il file selezionato in formato Printable verrà  decodificato e salvato in un altro file il cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?");
    case Text::AllFilesFilter: return QStringLiteral("Tutti i file (*.*)|*.*");
    case Text::EncodeMime64OpenTitle: return QStringLiteral("Selezionare il file da convertire...");
    case Text::Mime64Filter: return QStringLiteral("Codifica M64 (*.m64)|*.m64");
    case Text::DecodeMime64OpenTitle: return QStringLiteral("Selezionare il file in formato M64 da decodificare...");
    case Text::TextFilesFilter: return QStringLiteral("File di Testo (*.txt)|*.txt|Pagina HTML|*.html;*.htm|Tutti i file (*.*)|*.*");
    case Text::EncodePrintableOpenTitle: return QStringLiteral("Selezione del file da codificare...");
    case Text::PrintableFilter: return QStringLiteral("Codifica Printable (*.ptb)|*.ptb");
    case Text::DecodePrintableOpenTitle: return QStringLiteral("Seleziona il file da decodificare...");
    case Text::SaveFilter: return QStringLiteral("tutti i file (*.*)|*.*");
    case Text::SaveTitle: return QStringLiteral("Salva come...");
    case Text::DoneTitle: return QStringLiteral("Conversione");
    case Text::EncodedWords: return QStringLiteral(": Conversione eseguita correttamente.");
    case Text::Mime64DecodedWords: return QStringLiteral(": Decodifica eseguita correttamente.");
    case Text::PrintableDecodedWords: return QStringLiteral(": Decifrazione eseguita correttamente.");
    case Text::ReadingStep: return QStringLiteral("Lettura…");
    case Text::ConvertingStep: return QStringLiteral("Conversione…");
    case Text::CancelButton: return QStringLiteral("Annulla");
    case Text::ErrorTitle: return QStringLiteral("Errore");
    case Text::Cancelled: return QStringLiteral("Operazione annullata.");
    case Text::IsFolder: return QStringLiteral("è una cartella");
    case Text::IsSymbolicLink: return QStringLiteral("è un collegamento simbolico");
    case Text::IsFifo: return QStringLiteral("è una pipe (FIFO)");
    case Text::IsDevice: return QStringLiteral("è un dispositivo");
    case Text::IsSocket: return QStringLiteral("è un socket");
    case Text::IsSpecial: return QStringLiteral("è un oggetto speciale del file system");
    case Text::ArgumentNotConvertible: return QStringLiteral("dravolin: %1 non è un file .m64 o .ptb: la finestra si apre senza avviare alcuna conversione.");
    case Text::Usage: return QStringLiteral("Uso: dravolin [opzioni] [FILE.m64|FILE.ptb...]\n\nApre la finestra di Dravolin e decodifica, uno dopo l'altro, i file .m64 e .ptb indicati; ogni file decodificato viene salvato con il nome scelto nella finestra di dialogo.\n\nOpzioni:\n  -h, --help     mostra questo aiuto ed esce\n  -v, --version  mostra la versione ed esce\n  --             tratta come file tutti gli argomenti che seguono, anche se iniziano con \"-\"\n\nSono accettate anche le opzioni comuni dei programmi Qt, come -platform NOME e -style NOME.\n");
    case Text::InvalidOption: return QStringLiteral("dravolin: opzione non valida: %1");
    case Text::UsageHint: return QStringLiteral("Per l'elenco delle opzioni: dravolin --help");
    }
    return {};
}

namespace {

QString description(JobFailure failure)
{
    switch (failure) {
    case JobFailure::NotMime64: return QStringLiteral("Il file %1 non contiene dati Mime64 validi.");
    case JobFailure::LibraryMissing: return QStringLiteral("Impossibile caricare la libreria di conversione %1: %2");
    case JobFailure::FunctionMissing: return QStringLiteral("La funzione %1 non si trova nella libreria di conversione %2.");
    case JobFailure::NoResult: return QStringLiteral("La funzione %1 della libreria di conversione non ha restituito alcun risultato (memoria insufficiente o risultato oltre 2147483647 byte).");
    case JobFailure::NotOrdinaryFile: return QStringLiteral("%1 non è un file ordinario: %2.");
    case JobFailure::InputChanged: return QStringLiteral("Il file %1 è cambiato durante la lettura.");
    case JobFailure::TypedTextTooLarge: return QStringLiteral("Il testo è troppo lungo: si possono convertire al massimo 2147483647 byte.");
    case JobFailure::Unexpected: return QStringLiteral("Errore imprevisto: %1");
    case JobFailure::PieceTooLarge: return QStringLiteral("Il file %1 non si può convertire: contiene un tratto che non si può dividere, troppo lungo per una sola chiamata della libreria di conversione.");
    case JobFailure::OthersFileInStickyFolder: return QStringLiteral("Il file %1 appartiene a un altro utente e si trova in una cartella condivisa protetta: per sicurezza non viene sostituito.");
    }
    return {};
}
// clang-format on

Text whatItIs(FileKind kind)
{
    switch (kind) {
    case FileKind::Folder:
        return Text::IsFolder;
    case FileKind::SymbolicLink:
        return Text::IsSymbolicLink;
    case FileKind::Fifo:
        return Text::IsFifo;
    case FileKind::Device:
        return Text::IsDevice;
    case FileKind::Socket:
        return Text::IsSocket;
    case FileKind::Special:
        break;
    }
    return Text::IsSpecial;
}

} // namespace

QString describe(const JobError &failure)
{
    if (failure.number() == kCancelledErrorNumber)
        return text(Text::Cancelled);
    // strerror follows LC_MESSAGES, which QCoreApplication sets from the environment.
    if (failure.fromSystem())
        return QString::fromLocal8Bit(std::strerror(failure.number()));
    const auto own = static_cast<JobFailure>(failure.number());
    const QString second = own == JobFailure::NotOrdinaryFile ? text(whatItIs(failure.fileKind())) : failure.second();
    QString words = description(own);
    // Placeholders are filled one by one so that a '%' inside a path stays literal.
    const qsizetype firstAt = words.indexOf(QLatin1String("%1"));
    if (firstAt >= 0) {
        words.replace(firstAt, 2, failure.first());
        const qsizetype secondAt = words.indexOf(QLatin1String("%2"), firstAt + failure.first().size());
        if (secondAt >= 0)
            words.replace(secondAt, 2, second);
    }
    return words;
}
