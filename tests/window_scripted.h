#pragma once
// Scripted stand-ins for the person, recording what the window asked.

#include "job_errors.h"
#include "user_interaction.h"

#include <QList>

#include <deque>

struct ShownMessage {
    QString prompt;
    MessageStyle style;
    QString title;
};

// Answers from a script (Yes/No for questions; anything else gets OK).
class ScriptedMessages : public MessageBoxes {
public:
    std::deque<MessageAnswer> answers;
    QList<ShownMessage> shown;

    MessageAnswer show(const QString &prompt, MessageStyle style, const QString &title) override
    {
        shown.append({prompt, style, title});
        if (style != MessageStyle::YesNoQuestion)
            return MessageAnswer::Ok;
        if (answers.empty())
            return MessageAnswer::No;
        const MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

struct ShownRequest {
    FileRequest request;
    FileRequestKind kind;
};

// Records every request and cancels it, as the person pressing Cancel.
class CancellingDialog : public FileRequester {
public:
    QList<ShownRequest> shown;

    QString show(const FileRequest &request, FileRequestKind kind) override
    {
        shown.append({request, kind});
        throw cancelledByPerson();
    }
};

#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
