#pragma once
// The file jobs as data, one row each, and the runner that carries out a row's steps in their
// order: confirmation, the input request, a validating pass where the format needs one, the
// output, converting in pieces into it, the report.

#include "conversion_library.h"
#include "texts.h"

#include <QDir>
#include <QString>

class FileRequester;
class MessageBoxes;
class WorkProgress;
class WorkRunner;

enum class OutputPlace {
    BesideInput, // the input's name with the job's extension appended
    ChosenToSave, // named in a save dialog
};

struct FileJob {
    Text confirmTitle;
    Text confirmPrompt;
    Text inputFilter;
    Text inputTitle;
    LibraryFunction conversion;
    OutputPlace output;
    const char *extension; // for BesideInput
    Text doneWords;
};

extern const FileJob ConvertiFileMime64;
extern const FileJob DecifraFileMime64;
extern const FileJob ConvertiFilePrintable;
extern const FileJob DecifraFilePrintable;

// Makes the program's own folder current; failure is ignored.
void RipristinaCartella();

// What a job borrows for its run.
class JobRunner {
public:
    JobRunner(FileRequester &dialog, MessageBoxes &messages, WorkRunner &work, ConversionLibrary &library)
        : m_dialog(dialog)
        , m_messages(messages)
        , m_work(work)
        , m_library(library)
    {
    }

    // Asks the job's question; true unless the answer is No.
    bool confirmed(const FileJob &job);
    // Notes the folder of an input, chosen, dropped or named: the open dialog starts there next.
    void rememberInput(const QString &input);
    // Runs job inside the job frame: it reports its own failures and never throws. A given input
    // (a dropped or named file) takes the place of the open dialog.
    void run(const FileJob &job, const QString &givenInput = {});
    // The Printable form of the text typed by the person, trailing blanks removed; nothing when the
    // job frame reported a failure.
    std::optional<QString> printableFormOfTyped(const QString &typed);

private:
    FileRequester &m_dialog;
    MessageBoxes &m_messages;
    WorkRunner &m_work;
    ConversionLibrary &m_library;
    // The folder of the last input: where both dialogs start. A runner kept for the whole run carries
    // it from one job to the next; the home folder until the first input.
    QString m_inputFolder = QDir::homePath();
};
