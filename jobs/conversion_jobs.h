#pragma once
// The four file jobs and the text conversion the window's buttons run.

#include <QString>

class ConversionLibrary;
class FileRequester;
class MessageBoxes;

// What a job borrows from the window for its run.
struct JobContext {
    FileRequester &dialog;
    MessageBoxes &messages;
    ConversionLibrary &library;
};

// Each file job runs inside the job frame: it reports its own failures and
// never throws.
void ConvertiFileMime64(JobContext &context);
void DecifraFileMime64(JobContext &context);
void ConvertiFilePrintable(JobContext &context);
void DecifraFilePrintable(JobContext &context);

// Makes the program's own folder current; failure is ignored.
void RipristinaCartella();

// The Printable form of the text typed by the person, trailing blanks removed;
// throws JobError when the library cannot be used.
QString printableFormOfTyped(ConversionLibrary &library, const QString &typed);
