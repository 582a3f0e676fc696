#pragma once
// How a job reaches the person: file requests and message boxes. The window
// passes Qt-backed implementations; tests pass scripted ones.

#include <QString>

// The five settings a job gives the file dialog, always all five, in this order.
struct FileRequest {
    bool cancelError = true; // Cancel raises error 32755
    QString filter; // "description|pattern|...", patterns split by ';'
    int flags = 0; // 4100 for an open request, 2054 for a save request
    QString dialogTitle;
    QString fileName; // the initial name, always empty
};

enum class FileRequestKind { Open, Save };

class FileRequester {
public:
    virtual ~FileRequester() = default;
    // The chosen full path; throws JobError 32755 when the person cancels.
    virtual QString show(const FileRequest &request, FileRequestKind kind) = 0;
};

// Message box styles by their classic numbers.
enum class MessageStyle { Critical = 16, YesNoQuestion = 36, Information = 64 };
enum class MessageAnswer { Ok = 1, Yes = 6, No = 7 };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual MessageAnswer show(const QString &prompt, MessageStyle style, const QString &title) = 0;
};
