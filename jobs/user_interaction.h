#pragma once
// How a job reaches the person: file requests, message boxes and the progress of its work. The
// window passes Qt-backed implementations; tests pass scripted ones.

#include "work_progress.h"

#include <QString>

#include <cstdint>
#include <functional>

// The five settings a job gives the file dialog, always all five, in this order; then the folder the
// dialog starts in.
struct FileRequest {
    bool cancelError = true; // Cancel raises error 32755
    QString filter; // "description|pattern|...", patterns split by ';'
    int flags = 0; // 4100 for an open request, 2054 for a save request
    QString dialogTitle;
    QString fileName; // the initial name, always empty
    QString startFolder; // set every time: the current folder is the program's own after a job
};

enum class FileRequestKind { Open, Save };

class FileRequester {
public:
    virtual ~FileRequester() = default;
    // The chosen full path; throws JobError 32755 when the person cancels.
    virtual QString show(const FileRequest &request, FileRequestKind kind) = 0;
};

// Message box styles, numbered as the prompts' buttons and icons are known elsewhere.
enum class MessageStyle { Critical = 16, YesNoQuestion = 36, Information = 64 };
enum class MessageAnswer { Ok = 1, Yes = 6, No = 7 };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual MessageAnswer show(const QString &prompt, MessageStyle style, const QString &title) = 0;
};

// Carries out a job's work steps (a validating pass, converting) between its dialog steps. The
// window runs them off its own thread; a failure or a cancel comes back as the exception it was.
class WorkRunner {
public:
    virtual ~WorkRunner() = default;
    // title names the job to the person while the work takes long.
    virtual void run(const QString &title, const std::function<void(WorkProgress &)> &work) = 0;
};

// Runs the work right away on the calling thread, telling no one.
class DirectWorkRunner : public WorkRunner {
public:
    void run(const QString &title, const std::function<void(WorkProgress &)> &work) override;
};
