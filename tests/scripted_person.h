#pragma once
// The person at the dialogs, scripted for the job and window tests: every
// request and box is recorded; file helpers for what the jobs leave behind;
// the job tests' fixture: a fresh folder and the real library beside the binary.

#include "conversion_jobs.h"
#include "conversion_library.h"
#include "job_errors.h"
#include "user_interaction.h"

#include <QDir>
#include <QGuiApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

struct ShownRequest {
    FileRequest request;
    FileRequestKind kind;
    bool busyCursorShown;
};

// Answers each request with the next scripted path (after an optional action
// on the file system, as if it changed while the person chose) or a cancel.
class ScriptedDialog : public FileRequester {
public:
    void answer(const QString &path, std::function<void()> before = {})
    {
        m_answers.push_back({ path, std::move(before), false });
    }
    void cancel() { m_answers.push_back({ QString(), {}, true }); }

    QString show(const FileRequest &request, FileRequestKind kind) override
    {
        shown.push_back({ request, kind, QGuiApplication::overrideCursor() != nullptr });
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected file request: " << request.dialogTitle.toStdString();
            throw cancelledByPerson();
        }
        const Answer next = m_answers.front();
        m_answers.pop_front();
        if (next.cancelled)
            throw cancelledByPerson();
        if (next.before)
            next.before();
        return next.path;
    }

    std::vector<ShownRequest> shown;

private:
    struct Answer {
        QString path;
        std::function<void()> before;
        bool cancelled;
    };
    std::deque<Answer> m_answers;
};

struct ShownMessage {
    QString prompt;
    int style; // the classic number: 16 critical, 36 question, 64 information
    QString title;
    bool busyCursorShown;
};

// Questions take the next scripted answer, No when none is left; others OK.
class ScriptedMessages : public MessageBoxes {
public:
    MessageAnswer show(const QString &prompt, MessageStyle style, const QString &title) override
    {
        shown.push_back({ prompt, static_cast<int>(style), title, QGuiApplication::overrideCursor() != nullptr });
        if (style != MessageStyle::YesNoQuestion)
            return MessageAnswer::Ok;
        const MessageAnswer answer = answers.empty() ? MessageAnswer::No : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }

    std::deque<MessageAnswer> answers;
    std::vector<ShownMessage> shown;
};

// The one box shown since the last call, which it forgets.
inline void expectOnlyBox(ScriptedMessages &messages, const QString &prompt, int style, const QString &title)
{
    ASSERT_EQ(messages.shown.size(), 1u) << (messages.shown.empty() ? "" : messages.shown[0].prompt.toStdString());
    const ShownMessage shown = messages.shown.front();
    messages.shown.clear();
    EXPECT_EQ(shown.prompt, prompt);
    EXPECT_TRUE(shown.style == style && shown.title == title && !shown.busyCursorShown)
        << shown.style << " " << shown.title.toStdString();
}

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

// Every name in folder, hidden ones too, sorted by code point.
inline QStringList namesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

using Job = void (*)(JobContext &);

inline QString errnoMessage(int error)
{
    return QString::number(error) + ": " + QString::fromLocal8Bit(std::strerror(error));
}

class JobTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &name) const { return dir.path() + '/' + name; }

    // Runs job over input, answering a save request with output when given.
    void run(Job job, const QString &input, const QString &output = {})
    {
        dialog.answer(input);
        if (!output.isEmpty())
            dialog.answer(output);
        job(context);
    }
    void expectError(const QString &prompt) { expectOnlyBox(messages, prompt, 16, "Errore"); }
    void expectDone(const QString &output, const char *words)
    {
        expectOnlyBox(messages, output.toUpper() + words, 64, "Conversione");
    }

    QTemporaryDir dir;
    ScriptedDialog dialog;
    ScriptedMessages messages;
    ConversionLibrary library;
    JobContext context { dialog, messages, library };
};
