#pragma once
// What the job and window tests and the job benchmark share: the person at the dialogs, scripted
// and recorded; files in a fresh folder; and, from the library's own cases, the test data.

#include "codec_cases.h"
#include "conversion_library.h"
#include "file_jobs.h"
#include "job_errors.h"
#include "os_files.h"
#include "streamed_conversion.h"
#include "user_interaction.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>

#include <deque>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

MATCHER_P(BeginsWith, prefix, "begins with \"" + QString(prefix).toStdString() + '"')
{
    return arg.startsWith(prefix);
}

// Every request and box the person saw, one line each: "open|<title>|<filter>|<flags>",
// "save|..." and "<style>|<title>|<prompt>".
using Seen = std::vector<QString>;

// The person's answers, taken in turn, and what they saw.
template <typename Answer> struct Scripted {
    explicit Scripted(Seen &seen)
        : m_seen(seen)
    {
    }
    std::deque<Answer> answers;
    Seen &m_seen;

    Answer next(Answer otherwise)
    {
        const Answer answer = answers.empty() ? otherwise : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }
};

// Answers each request with the next scripted path, or cancels when the path is empty.
struct ScriptedDialog : FileRequester, Scripted<QString> {
    using Scripted::Scripted;
    QString show(const FileRequest &request, FileRequestKind kind) override
    {
        m_seen.push_back(QString(kind == FileRequestKind::Open ? "open|" : "save|") + request.dialogTitle + '|'
                         + request.filter + '|' + QString::number(request.flags) + (request.cancelError ? "" : "|?")
                         + request.fileName);
        const QString answer = next({});
        return answer.isEmpty() ? throw cancelledByPerson() : answer;
    }
};

// Questions take the next scripted answer, No when none is left; other boxes are OK'd.
struct ScriptedMessages : MessageBoxes, Scripted<MessageAnswer> {
    using Scripted::Scripted;
    MessageAnswer show(const QString &prompt, MessageStyle style, const QString &title) override
    {
        m_seen.push_back(QString::number(static_cast<int>(style)) + '|' + title + '|' + prompt);
        return style == MessageStyle::YesNoQuestion ? next(MessageAnswer::No) : MessageAnswer::Ok;
    }
};

inline void writeFile(const QString &path, const std::string &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        throw std::runtime_error("cannot write " + path.toStdString());
}

inline QByteArray local(const QString &path)
{
    return QFile::encodeName(path);
}

// The file's bytes, or "(none)" when it cannot be read.
inline std::string readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "(none)";
}

// Every name in folder, hidden ones too, with the size of each file: what a person would list.
inline QStringList listing(const QString &folder)
{
    QStringList names;
    for (const QFileInfo &entry :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
        names << entry.fileName() + ' ' + QString::number(entry.isFile() ? entry.size() : -1);
    return names;
}

using dravolin::cases::italianProse;
using dravolin::cases::randomBytes;
using dravolin::cases::randomFrom;

// What one call of the library on the whole content gives, or nothing when it refuses it.
inline std::optional<std::string> wholeCall(ConversionLibrary &library, LibraryFunction function,
                                            const std::string &content)
{
    const LibraryText text = library.AllocaTesto(content.data(), content.size());
    std::string decoded(content.size(), '\0');
    if (function == LibraryFunction::DecifraMime64) {
        const std::optional<std::size_t> count = library.DecifraMime64(text, decoded.data(), decoded.size());
        return count ? std::optional(decoded.substr(0, *count)) : std::nullopt;
    }
    const Bytes result = function == LibraryFunction::ConvertiMime64 ? library.ConvertiMime64(text.data(), text.size())
        : function == LibraryFunction::ConvertiPrintable             ? library.ConvertiPrintable(text)
                                                                     : library.DecifraPrintable(text);
    return std::string(result.data(), result.size());
}

// Each test's hooks end with it, even when it fails midway.
class Jobs : public ::testing::Test {
protected:
    ~Jobs() override { setPieceHooksForTesting({}), setReplaceHooksForTesting({}); }
    QString path(const QString &name) const { return dir.filePath(name); }

    // Runs job over input, answering a save request with output; returns what the person saw.
    Seen run(const FileJob &job, const QString &input, const QString &output = {}, WorkRunner *by = nullptr)
    {
        seen.clear();
        dialog.answers = { input, output };
        JobRunner(dialog, messages, by ? *by : work, library).run(job);
        return seen;
    }

    QTemporaryDir dir;
    Seen seen;
    ScriptedDialog dialog { seen };
    ScriptedMessages messages { seen };
    DirectWorkRunner work;
    ConversionLibrary library;
};
