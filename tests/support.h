#pragma once
// What the job and window tests and the job benchmark share: the person at the dialogs, scripted
// and recorded; files in a fresh folder; test data.

#include "job_errors.h"
#include "user_interaction.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>

#include <deque>
#include <functional>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// A QString that begins with prefix.
MATCHER_P(BeginsWith, prefix, "begins with \"" + QString(prefix).toStdString() + '"')
{
    return arg.startsWith(prefix);
}

// Every request and box the person saw, one line each: "open|<title>|<filter>|<flags>",
// "save|..." and "<style>|<title>|<prompt>".
using Seen = std::vector<QString>;

// Answers each request with the next scripted path, or cancels when the path is empty.
class ScriptedDialog : public FileRequester {
public:
    explicit ScriptedDialog(Seen &seen)
        : m_seen(seen)
    {
    }
    std::deque<QString> answers;
    std::function<void()> whileChoosing; // runs as the person chooses, e.g. to change the file

    QString show(const FileRequest &request, FileRequestKind kind) override;

private:
    Seen &m_seen;
};

inline QString ScriptedDialog::show(const FileRequest &request, FileRequestKind kind)
{
    m_seen.push_back(QString(kind == FileRequestKind::Open ? "open|" : "save|") + request.dialogTitle + '|'
                     + request.filter + '|' + QString::number(request.flags) + (request.cancelError ? "" : "|?")
                     + request.fileName);
    if (whileChoosing)
        std::exchange(whileChoosing, {})();
    const QString answer = answers.empty() ? QString() : answers.front();
    if (!answers.empty())
        answers.pop_front();
    if (answer.isEmpty())
        throw cancelledByPerson();
    return answer;
}

// Questions take the next scripted answer, No when none is left; other boxes are OK'd.
class ScriptedMessages : public MessageBoxes {
public:
    explicit ScriptedMessages(Seen &seen)
        : m_seen(seen)
    {
    }
    std::deque<MessageAnswer> answers;

    MessageAnswer show(const QString &prompt, MessageStyle style, const QString &title) override
    {
        m_seen.push_back(QString::number(static_cast<int>(style)) + '|' + title + '|' + prompt);
        if (style != MessageStyle::YesNoQuestion || answers.empty())
            return style == MessageStyle::YesNoQuestion ? MessageAnswer::No : MessageAnswer::Ok;
        const MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

private:
    Seen &m_seen;
};

inline void writeFile(const QString &path, const std::string &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        throw std::runtime_error("cannot write " + path.toStdString());
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

// n bytes of every value, from a fixed seed.
inline std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(n, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// Italian prose of n bytes in UTF-8 with CR LF lines, some '=' and blanks before line ends.
inline std::string italianProse(std::size_t n, unsigned seed)
{
    static const char *const kWords[]
        = { "perché", "città", "là", "caffè", "più",   "però", "virtù", "così", "il", "file", "di",  "testo",
            "che",    "non",   "è",  "=",     "nella", "una",  "va",    "bene", "a",  "tra",  "gli", "anche" };
    std::mt19937 generator(seed);
    std::string prose;
    while (prose.size() < n) {
        prose += kWords[generator() % std::size(kWords)];
        const auto next = generator() % 12;
        prose += next == 0 ? " \r\n" : next == 1 ? "\r\n" : " ";
    }
    prose.resize(n);
    return prose;
}
