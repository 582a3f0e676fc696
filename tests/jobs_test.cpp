// The file jobs through their real code: round trips, replacing, cancelling, and every way a job
// must refuse while keeping every file as it was.

#include "file_jobs.h"
#include "job_frame.h"
#include "os_files.h"
#include "support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <dlfcn.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

QString osError(int error)
{
    return "16|Errore|" + QString::number(error) + ": " + QString::fromLocal8Bit(std::strerror(error));
}

QByteArray local(const QString &path)
{
    return QFile::encodeName(path);
}

class Jobs : public ::testing::Test {
protected:
    QString path(const QString &name) const { return dir.filePath(name); }

    // Runs job over input, answering a save request with output; returns the boxes and requests seen.
    Seen run(const FileJob &job, const QString &input, const QString &output = {}, ConversionLibrary *with = nullptr)
    {
        seen.clear();
        dialog.answers = { input, output };
        JobRunner(dialog, messages, work, with ? *with : library).run(job, {});
        return seen;
    }
    QString lastBox() const { return seen.empty() ? QString() : seen.back(); }

    QTemporaryDir dir;
    Seen seen;
    ScriptedDialog dialog { seen };
    ScriptedMessages messages { seen };
    DirectWorkRunner work;
    ConversionLibrary library;
};

TEST_F(Jobs, EveryByteAndEveryTextComesBackThroughBothPairsOfJobs)
{
    const std::string contents[] = { "", randomBytes(256 * 3 + 1, 1), "riga uno\r\nriga due  \r\n= fine",
                                     "lf\nsolo\rcr\n\n", italianProse(100000, 2) };
    for (const std::string &content : contents) {
        SCOPED_TRACE(content.substr(0, 20));
        writeFile(path("dati.bin"), content);
        run(ConvertiFileMime64, path("dati.bin"));
        EXPECT_THAT(lastBox(), BeginsWith("64|Conversione|"));
        run(DecifraFileMime64, path("dati.bin.m64"), path("mime64.out"));
        EXPECT_EQ(readFile(path("mime64.out")), content);
        run(ConvertiFilePrintable, path("dati.bin"));
        run(DecifraFilePrintable, path("dati.bin.ptb"), path("printable.out"));
        EXPECT_EQ(readFile(path("printable.out")), content);
    }
    EXPECT_EQ(readFile(path("dati.bin.m64")).substr(0, 78).size(), 78u); // lines of 76 and CR LF
    EXPECT_EQ(readFile(path("dati.bin.m64")).substr(76, 2), "\r\n");
}

TEST_F(Jobs, BlanksAndAByteOrderMarkAloneDecodeToAnEmptyFile)
{
    for (const std::string blank : { "", "  \r\n\t\n", "\xEF\xBB\xBF \r\n" }) {
        writeFile(path("vuoto.m64"), blank);
        writeFile(path("vuoto.out"), "vecchio");
        EXPECT_THAT(run(DecifraFileMime64, path("vuoto.m64"), path("vuoto.out")), SizeIs(3));
        EXPECT_THAT(lastBox(), BeginsWith("64|Conversione|"));
        EXPECT_EQ(readFile(path("vuoto.out")), "");
    }
}

TEST_F(Jobs, AReplacedFileKeepsOwnerAndPermissionsButNeverSetIdBits)
{
    writeFile(path("a.txt"), "foobar");
    for (const mode_t mode : { 0640, 06755, 01777 }) {
        writeFile(path("a.txt.m64"), std::string(500, 'v'));
        ASSERT_EQ(::chmod(local(path("a.txt.m64")), mode), 0);
        run(ConvertiFileMime64, path("a.txt"));
        struct stat after { };
        ASSERT_EQ(::stat(local(path("a.txt.m64")), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, mode & 0777);
        EXPECT_EQ(readFile(path("a.txt.m64")), "Zm9vYmFy\r\n");
    }
}

TEST_F(Jobs, CancellingAnyDialogEndsTheJobSilentlyWritingNothing)
{
    writeFile(path("dati.ptb"), "abc=3D\r\n");
    EXPECT_THAT(run(ConvertiFileMime64, {}), SizeIs(1));
    EXPECT_THAT(run(DecifraFilePrintable, path("dati.ptb"), {}), SizeIs(2));
    EXPECT_THAT(listing(dir.path()), ElementsAre("dati.ptb 8"));
}

TEST(JobFrame, ShowsNumberAndDescriptionUnderErroreButNothingForACancel)
{
    Seen seen;
    ScriptedMessages messages(seen);
    runJob(messages, [] { throw cancelledByPerson(); });
    EXPECT_THAT(seen, IsEmpty());
    runJob(messages, [] { throw JobError(5, "Errore di I/O"); });
    runJob(messages, [] { throw std::bad_alloc(); });
    runJob(messages, [] { throw std::runtime_error("boh"); });
    EXPECT_THAT(seen,
                ElementsAre("16|Errore|5: Errore di I/O", osError(ENOMEM), "16|Errore|1012: Errore imprevisto: boh"));
}

} // namespace
