#pragma once
// Every word the program shows, in one place: changing a text is one edit in texts.cpp.

#include <QString>

enum class Text {
    // The window and its controls.
    WindowTitle,
    Mime64FrameCaption,
    PrintableFrameCaption,
    EncodeCaption,
    DecodeCaption,
    TypedConversionCaption,
    TypedTextName,
    ConvertedTextName,

    // The four file jobs: confirmations, requests and completion words.
    Mime64Title,
    EncodeMime64Prompt,
    DecodeMime64Prompt,
    EncodePrintableTitle,
    EncodePrintablePrompt,
    DecodePrintableTitle,
    DecodePrintablePrompt,
    AllFilesFilter,
    EncodeMime64OpenTitle,
    Mime64Filter,
    DecodeMime64OpenTitle,
    TextFilesFilter,
    EncodePrintableOpenTitle,
    PrintableFilter,
    DecodePrintableOpenTitle,
    SaveFilter,
    SaveTitle,
    DoneTitle,
    EncodedWords,
    Mime64DecodedWords,
    PrintableDecodedWords,

    // A job's progress while its work steps run.
    ReadingStep,
    ConvertingStep,
    CancelButton,

    // Failures: the title, a cancel, and why a path is not an ordinary file.
    ErrorTitle,
    Cancelled,
    IsFolder,
    IsSymbolicLink,
    IsFifo,
    IsDevice,
    IsSocket,
    IsSpecial,

    // Start-up from the command line.
    ArgumentNotConvertible,
    Usage,
    InvalidOption,
    UsageHint,
};

class JobError;

QString text(Text which);
// What a failure means to the person: the strerror text of an OS failure in their locale, or the
// Italian description of one of our own with what it names filled in.
QString describe(const JobError &failure);
