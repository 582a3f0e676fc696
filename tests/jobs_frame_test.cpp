// The job frame, the OS file layer, the working folder and the typed-text conversion.

#include "conversion_jobs.h"
#include "conversion_library.h"
#include "job_frame.h"
#include "jobs_test_support.h"
#include "os_files.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <new>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// --- the error path ---

TEST(JobFrame, ShowsNumberAndDescriptionInACriticalBoxTitledErrore)
{
    RecordingMessageBoxes messages;
    runJob(messages, [] { throw JobError(1234, QStringLiteral("descrizione di prova")); });
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].prompt, QStringLiteral("1234: descrizione di prova"));
    EXPECT_EQ(messages.messages[0].style, 16);
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("Errore"));
}

TEST(JobFrame, CancelAndSuccessShowNothing)
{
    RecordingMessageBoxes messages;
    bool ran = false;
    runJob(messages, [] { throw JobError(32755, QStringLiteral("annullato")); });
    runJob(messages, [&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(messages.messages.empty());
}

TEST(JobFrame, OutOfMemoryIsShownAsTheOsWouldReportIt)
{
    RecordingMessageBoxes messages;
    runJob(messages, [] { throw std::bad_alloc(); });
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].prompt,
              QStringLiteral("12: ") + QString::fromLocal8Bit(std::strerror(ENOMEM)));
}

TEST(JobFrame, TheBusyCursorShowsOnlyWhileTheGuardLives)
{
    ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
    {
        BusyCursor busy;
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// --- the OS file layer ---

class OsFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &name) const { return dir.path() + QLatin1Char('/') + name; }
    static mode_t modeOf(const QString &p)
    {
        struct stat info {};
        EXPECT_EQ(::lstat(p.toLocal8Bit().constData(), &info), 0);
        return info.st_mode & 07777;
    }
    QTemporaryDir dir;
};

TEST_F(OsFiles, ANewFileGetsTheUsualModeUnderTheUmask)
{
    const mode_t saved = ::umask(027);
    replaceFile(path("nuovo"), "abc", 3);
    ::umask(saved);
    EXPECT_EQ(modeOf(path("nuovo")), 0640u);
    EXPECT_EQ(readBytes(path("nuovo")), std::string("abc"));
}

TEST_F(OsFiles, AReplacedFileKeepsItsMode)
{
    writeBytes(path("segreto"), "vecchio");
    ASSERT_EQ(::chmod(path("segreto").toLocal8Bit().constData(), 0600), 0);
    const std::string content("\0\r\n\xff", 4);
    replaceFile(path("segreto"), content.data(), content.size());
    EXPECT_EQ(modeOf(path("segreto")), 0600u);
    EXPECT_EQ(readBytes(path("segreto")), content);
    EXPECT_EQ(namesIn(dir.path()), QStringList{"segreto"});
}

TEST_F(OsFiles, ReadingReturnsEveryByteIntoTheGivenRoom)
{
    std::string content;
    for (int i = 0; i < 70000; ++i)
        content += static_cast<char>((i * 7) & 0xFF);
    writeBytes(path("dati"), content);
    std::string room;
    readWholeFile(path("dati"), [&](std::size_t size) {
        room.assign(size, '?');
        return room.data();
    });
    EXPECT_EQ(room, content);
}

TEST_F(OsFiles, AFifoIsNotReadAndDoesNotBlock)
{
    ASSERT_EQ(::mkfifo(path("tubo").toLocal8Bit().constData(), 0644), 0);
    bool asked = false;
    try {
        readWholeFile(path("tubo"), [&](std::size_t) {
            asked = true;
            return static_cast<char *>(nullptr);
        });
        ADD_FAILURE() << "a FIFO was read";
    } catch (const JobError &error) {
        EXPECT_EQ(error.number(), 1009);
        EXPECT_EQ(error.description(),
                  path("tubo") + QStringLiteral(" non è un file ordinario: è una pipe (FIFO)."));
    }
    EXPECT_FALSE(asked);
}

TEST(WorkingFolder, RipristinaCartellaMakesTheProgramsFolderCurrent)
{
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    RipristinaCartella();
    EXPECT_EQ(QDir(QDir::currentPath()).canonicalPath(),
              QDir(QCoreApplication::applicationDirPath()).canonicalPath());
}

// --- typed text to Printable form ---

TEST(PrintableOfTyped, TrailingBlanksGoEverythingElseStays)
{
    ConversionLibrary library;
    EXPECT_EQ(printableFormOfTyped(library, QStringLiteral("abc   ")), QStringLiteral("abc"));
    EXPECT_EQ(printableFormOfTyped(library, QStringLiteral("  inizio")), QStringLiteral("  inizio"));
    // A trailing line break stays and stays a hard line break.
    EXPECT_EQ(printableFormOfTyped(library, QStringLiteral("riga\n")), QStringLiteral("riga\n"));
    EXPECT_EQ(printableFormOfTyped(library, QStringLiteral("riga\n   ")), QStringLiteral("riga\n"));
    // Only blanks go: a tab before them stays.
    EXPECT_EQ(printableFormOfTyped(library, QStringLiteral("a\t   ")),
              printableFormOfTyped(library, QStringLiteral("a\t")));
    EXPECT_NE(printableFormOfTyped(library, QStringLiteral("a\t")), QStringLiteral("a"));
}

TEST(PrintableOfTyped, AccentedTextIsSentAsUtf8)
{
    ConversionLibrary library;
    // à is C3 A0 in UTF-8, é is C3 A9.
    EXPECT_EQ(printableFormOfTyped(library, QString::fromUtf8("città e caffé")),
              QStringLiteral("citt=C3=A0 e caff=C3=A9"));
}

TEST(PrintableOfTyped, EmptyOrBlankTextGivesTheEmptyText)
{
    ConversionLibrary library;
    EXPECT_EQ(printableFormOfTyped(library, QString()), QString());
    EXPECT_EQ(printableFormOfTyped(library, QStringLiteral("     ")), QString());
}

TEST(PrintableOfTyped, AMissingLibraryThrowsAJobErrorNamingIt)
{
    QTemporaryDir dir;
    const QString missingPath = dir.path() + QStringLiteral("/nessuna.so");
    ConversionLibrary library(missingPath);
    try {
        printableFormOfTyped(library, QStringLiteral("testo"));
        ADD_FAILURE() << "no error";
    } catch (const JobError &error) {
        EXPECT_EQ(error.number(), 1006);
        EXPECT_TRUE(error.description().startsWith(
            QStringLiteral("Impossibile caricare la libreria di conversione ") + missingPath + ": "))
            << error.description().toStdString();
    }
}

} // namespace
