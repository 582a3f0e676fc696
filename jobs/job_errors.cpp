#include "job_errors.h"

#include <cstring>

JobError::JobError(int number, QString description)
    : m_number(number)
    , m_description(std::move(description))
    , m_what(QString::number(number).toStdString() + ": " + m_description.toStdString())
{
}

namespace {

struct FailureText {
    JobFailure failure;
    const char *text;
};

// Every description the program itself gives, in one place.
constexpr FailureText kFailureTexts[] = {
    { JobFailure::EmptyInput, "Il file %1 è vuoto: non c'è nulla da convertire." },
    { JobFailure::NotMime64, "Il file %1 non contiene dati Mime64 validi." },
    { JobFailure::NoMime64Data, "Il file %1 non contiene dati Mime64 da decodificare." },
    { JobFailure::InputTooLarge, "Il file %1 è troppo grande: si possono convertire al massimo 2147483647 byte." },
    { JobFailure::EncodedTooLarge, "Il file %1 è troppo grande: la sua codifica Mime64 supererebbe 2147483647 byte." },
    { JobFailure::LibraryMissing, "Impossibile caricare la libreria di conversione %1: %2" },
    { JobFailure::FunctionMissing, "La funzione %1 non si trova nella libreria di conversione %2." },
    { JobFailure::NoResult,
      "La funzione %1 della libreria di conversione non ha restituito alcun risultato "
      "(memoria insufficiente o risultato oltre 2147483647 byte)." },
    { JobFailure::NotOrdinaryFile, "%1 non è un file ordinario: %2." },
    { JobFailure::InputChanged, "Il file %1 è cambiato durante la lettura." },
    { JobFailure::Unexpected, "Errore imprevisto: %1" },
    { JobFailure::TextTooLarge, "Il testo è troppo lungo: si possono convertire al massimo 2147483647 byte." },
};

} // namespace

JobError jobFailure(JobFailure failure, const QString &first, const QString &second)
{
    QString text;
    for (const FailureText &entry : kFailureTexts) {
        if (entry.failure == failure) {
            text = QString::fromUtf8(entry.text);
            break;
        }
    }
    // Placeholders are filled one by one so a '%' inside a path stays literal.
    const qsizetype firstAt = text.indexOf(QLatin1String("%1"));
    if (firstAt >= 0) {
        text.replace(firstAt, 2, first);
        const qsizetype secondAt = text.indexOf(QLatin1String("%2"), firstAt + first.size());
        if (secondAt >= 0)
            text.replace(secondAt, 2, second);
    }
    return JobError(static_cast<int>(failure), text);
}

QString notOrdinaryReasonText(NotOrdinaryReason reason)
{
    switch (reason) {
    case NotOrdinaryReason::Directory:
        return QString::fromUtf8("è una cartella");
    case NotOrdinaryReason::SymbolicLink:
        return QString::fromUtf8("è un collegamento simbolico");
    case NotOrdinaryReason::Fifo:
        return QString::fromUtf8("è una pipe (FIFO)");
    case NotOrdinaryReason::Device:
        return QString::fromUtf8("è un dispositivo");
    case NotOrdinaryReason::Socket:
        return QString::fromUtf8("è un socket");
    case NotOrdinaryReason::Other:
        break;
    }
    return QString::fromUtf8("è un oggetto speciale del file system");
}

JobError osFailure(int error)
{
    // strerror follows LC_MESSAGES, which QCoreApplication sets from the environment.
    return JobError(error, QString::fromLocal8Bit(std::strerror(error)));
}

JobError cancelledByPerson()
{
    return JobError(kCancelledErrorNumber, QString::fromUtf8("Operazione annullata."));
}
