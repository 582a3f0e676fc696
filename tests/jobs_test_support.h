#pragma once
// The fixture of the job tests: a fresh folder, the scripted person and the
// real library beside the test binary.

#include "conversion_jobs.h"
#include "conversion_library.h"
#include "scripted_person.h"

#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

using Job = void (*)(JobContext &);

inline QString errnoMessage(int error)
{
    return QString::number(error) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

class JobTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &name) const { return dir.path() + QLatin1Char('/') + name; }

    // Runs job over input, answering a save request with output when given.
    void run(Job job, const QString &input, const QString &output = {})
    {
        dialog.answer(input);
        if (!output.isEmpty())
            dialog.answer(output);
        job(context);
    }
    void expectError(const QString &prompt) { expectOnlyBox(messages, prompt, 16, QStringLiteral("Errore")); }
    void expectDone(const QString &output, const char *words)
    {
        expectOnlyBox(messages, output.toUpper() + QString::fromUtf8(words), 64, QStringLiteral("Conversione"));
    }

    QTemporaryDir dir;
    ScriptedDialog dialog;
    ScriptedMessages messages;
    ConversionLibrary library;
    JobContext context{dialog, messages, library};
};
