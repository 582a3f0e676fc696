#pragma once
// Scripted stand-ins for the person at the dialogs, and small file helpers,
// shared by the job tests.

#include "job_errors.h"
#include "user_interaction.h"

#include <QDir>
#include <QGuiApplication>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

struct RecordedRequest {
    FileRequest request;
    FileRequestKind kind;
    bool busyCursorShown;
};

// Answers each file request with the next scripted path, or with a cancel.
class ScriptedFileRequester : public FileRequester {
public:
    void answer(const QString &path) { m_answers.emplace_back(path); }
    void cancel() { m_answers.emplace_back(std::nullopt); }

    QString show(const FileRequest &request, FileRequestKind kind) override
    {
        requests.push_back({request, kind, QGuiApplication::overrideCursor() != nullptr});
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected file request: " << request.dialogTitle.toStdString();
            throw JobError(32755, QString());
        }
        const std::optional<QString> answer = m_answers.front();
        m_answers.pop_front();
        if (!answer)
            throw JobError(32755, QStringLiteral("annullato"));
        return *answer;
    }

    std::vector<RecordedRequest> requests;

private:
    std::deque<std::optional<QString>> m_answers;
};

struct RecordedMessage {
    QString prompt;
    int style;
    QString title;
    bool busyCursorShown;
};

// Records every message box and presses OK.
class RecordingMessageBoxes : public MessageBoxes {
public:
    MessageAnswer show(const QString &prompt, MessageStyle style, const QString &title) override
    {
        messages.push_back(
            {prompt, static_cast<int>(style), title, QGuiApplication::overrideCursor() != nullptr});
        return MessageAnswer::Ok;
    }

    std::vector<RecordedMessage> messages;
};

inline void writeBytes(const QString &path, const std::string &bytes)
{
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path.toStdString();
}

inline std::optional<std::string> readBytes(const QString &path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every name in folder, hidden ones too, sorted.
inline QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}
