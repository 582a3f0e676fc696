#include "file_jobs.h"

#include "job_errors.h"
#include "job_frame.h"
#include "os_files.h"
#include "streamed_conversion.h"
#include "user_interaction.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr int kOpenFlags = 4100; // the file must exist; no read-only box
constexpr int kSaveFlags = 2054; // the folder must exist; ask before overwriting; no read-only box

// The five settings a file request always gives, in their order, and where the dialog starts.
FileRequest fileRequest(Text filter, int flags, Text title, const QString &startFolder)
{
    FileRequest request;
    request.cancelError = true;
    request.filter = text(filter);
    request.flags = flags;
    request.dialogTitle = text(title);
    request.fileName = QString();
    request.startFolder = startFolder;
    return request;
}

} // namespace

const FileJob ConvertiFileMime64 = {
    .confirmTitle = Text::Mime64Title,
    .confirmPrompt = Text::EncodeMime64Prompt,
    .inputFilter = Text::AllFilesFilter,
    .inputTitle = Text::EncodeMime64OpenTitle,
    .conversion = LibraryFunction::ConvertiMime64,
    .output = OutputPlace::BesideInput,
    .extension = ".m64",
    .doneWords = Text::EncodedWords,
};
const FileJob DecifraFileMime64 = {
    .confirmTitle = Text::Mime64Title,
    .confirmPrompt = Text::DecodeMime64Prompt,
    .inputFilter = Text::Mime64Filter,
    .inputTitle = Text::DecodeMime64OpenTitle,
    .conversion = LibraryFunction::DecifraMime64,
    .output = OutputPlace::ChosenToSave,
    .extension = nullptr,
    .doneWords = Text::Mime64DecodedWords,
};
const FileJob ConvertiFilePrintable = {
    .confirmTitle = Text::EncodePrintableTitle,
    .confirmPrompt = Text::EncodePrintablePrompt,
    .inputFilter = Text::TextFilesFilter,
    .inputTitle = Text::EncodePrintableOpenTitle,
    .conversion = LibraryFunction::ConvertiPrintable,
    .output = OutputPlace::BesideInput,
    .extension = ".ptb",
    .doneWords = Text::EncodedWords,
};
const FileJob DecifraFilePrintable = {
    .confirmTitle = Text::DecodePrintableTitle,
    .confirmPrompt = Text::DecodePrintablePrompt,
    .inputFilter = Text::PrintableFilter,
    .inputTitle = Text::DecodePrintableOpenTitle,
    .conversion = LibraryFunction::DecifraPrintable,
    .output = OutputPlace::ChosenToSave,
    .extension = nullptr,
    .doneWords = Text::PrintableDecodedWords,
};

void DirectWorkRunner::run(const QString &, const std::function<void(WorkProgress &)> &work)
{
    class Unwatched : public WorkProgress {
        void begin(WorkStep) override { }
        void advance(std::uint64_t, std::uint64_t) override { }
        void stopIfCancelled() override { }
    } progress;
    work(progress);
}

void RipristinaCartella()
{
    // Failure is harmless: every path a job uses is a full path.
    changeCurrentFolder(ownFolder());
}

void JobRunner::rememberInput(const QString &input)
{
    m_inputFolder = QFileInfo(input).absolutePath();
}

bool JobRunner::confirmed(const FileJob &job)
{
    return m_messages.show(text(job.confirmPrompt), MessageStyle::YesNoQuestion, text(job.confirmTitle))
        != MessageAnswer::No;
}

void JobRunner::run(const FileJob &job, const QString &givenInput)
{
    runJob(m_messages, [&] {
        const QString input = givenInput.isEmpty()
            ? m_dialog.show(fileRequest(job.inputFilter, kOpenFlags, job.inputTitle, m_inputFolder),
                            FileRequestKind::Open)
            : givenInput;
        rememberInput(input);
        RipristinaCartella();
        m_library.require(job.conversion);
        const QString title = text(job.confirmTitle);
        // Open from here to the end, across the save dialog: its failures keep their place, and a
        // file changed meanwhile is found before its result takes a name.
        InputFile source(input);
        StreamedConversion conversion(job.conversion, m_library, source);
        QString output;
        if (job.output == OutputPlace::BesideInput) {
            output = input + QLatin1String(job.extension);
        } else {
            // Malformed Mime64 is told before the save dialog, with nothing named anywhere. The result
            // is kept unnamed where the dialog starts, beside the input: saved on that mount, the
            // file is read once.
            if (job.conversion == LibraryFunction::DecifraMime64)
                m_work.run(title, [&](WorkProgress &progress) { conversion.validate(progress, m_inputFolder); });
            output = m_dialog.show(fileRequest(Text::SaveFilter, kSaveFlags, Text::SaveTitle, m_inputFolder),
                                   FileRequestKind::Save);
        }
        m_work.run(title, [&](WorkProgress &progress) { conversion.writeTo(output, progress); });
        m_messages.show(output.toUpper() + text(job.doneWords), MessageStyle::Information, text(Text::DoneTitle));
    });
}

std::optional<QString> JobRunner::printableFormOfTyped(const QString &typed)
{
    std::optional<QString> printable;
    runJob(m_messages, [&] {
        qsizetype end = typed.size();
        while (end > 0 && typed.at(end - 1) == QLatin1Char(' '))
            --end;
        const QByteArray utf8 = typed.left(end).toUtf8();
        const LibraryText converted = m_library.ConvertiPrintable(
            m_library.AllocaTesto(utf8.constData(), static_cast<std::size_t>(utf8.size())));
        printable = QString::fromUtf8(converted.data(), static_cast<qsizetype>(converted.size()));
    });
    return printable;
}
