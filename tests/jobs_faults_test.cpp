// Faults met through the real job code: the input vanishing, folders and
// targets that cannot be written, a full or read-only disk, broken libraries,
// malformed encoded files, and the flushes that make a replacement durable.
// Each case checks the box the person sees and that nothing is lost.

#include "conversion_jobs.h"
#include "conversion_library.h"
#include "jobs_test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <utility>

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Job = void (*)(JobContext &);

QByteArray local(const QString &path)
{
    return path.toLocal8Bit();
}

QString errnoMessage(int error)
{
    return QString::number(error) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

QString notOrdinaryMessage(const QString &path, const char *why)
{
    return QStringLiteral("1009: ") + path + QStringLiteral(" non è un file ordinario: ") + QString::fromUtf8(why) +
           QLatin1Char('.');
}

// Answers like ScriptedFileRequester, but may act on the file system just
// before handing back the path: what happens between choosing and reading.
class ActingFileRequester : public FileRequester {
public:
    void answer(const QString &path, std::function<void()> before = {})
    {
        m_inner.answer(path);
        m_actions.push_back(std::move(before));
    }

    QString show(const FileRequest &request, FileRequestKind kind) override
    {
        std::function<void()> action;
        if (!m_actions.empty()) {
            action = std::move(m_actions.front());
            m_actions.pop_front();
        }
        const QString chosen = m_inner.show(request, kind);
        if (action)
            action();
        return chosen;
    }

    const std::vector<RecordedRequest> &requests() const { return m_inner.requests; }

private:
    ScriptedFileRequester m_inner;
    std::deque<std::function<void()>> m_actions;
};

class JobFaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString &name) const { return dir.path() + QLatin1Char('/') + name; }

    void run(Job job, const QString &input, const QString &output = {})
    {
        dialog.answer(input);
        if (!output.isEmpty())
            dialog.answer(output);
        job(context);
    }

    // The one box shown since the last call, checked as an error box.
    void expectError(const QString &prompt)
    {
        ASSERT_EQ(messages.messages.size(), 1u);
        const RecordedMessage message = messages.messages.front();
        messages.messages.clear();
        EXPECT_EQ(message.prompt, prompt);
        EXPECT_EQ(message.style, 16);
        EXPECT_EQ(message.title, QStringLiteral("Errore"));
        EXPECT_FALSE(message.busyCursorShown);
    }

    void expectDecoded(const QString &output)
    {
        ASSERT_EQ(messages.messages.size(), 1u);
        const RecordedMessage message = messages.messages.front();
        messages.messages.clear();
        EXPECT_EQ(message.prompt, output.toUpper() + QStringLiteral(": Decifrazione eseguita correttamente."));
        EXPECT_EQ(message.style, 64);
        EXPECT_EQ(message.title, QStringLiteral("Conversione"));
    }

    QTemporaryDir dir;
    ActingFileRequester dialog;
    RecordingMessageBoxes messages;
    ConversionLibrary library;
    JobContext context{dialog, messages, library};
};

struct NamedJob {
    const char *name;
    Job job;
    const char *inputName;
    bool asksWhereToSave;
};

const NamedJob kAllJobs[] = {
    {"ConvertiFileMime64", ConvertiFileMime64, "dati.bin", false},
    {"DecifraFileMime64", DecifraFileMime64, "dati.m64", true},
    {"ConvertiFilePrintable", ConvertiFilePrintable, "dati.txt", false},
    {"DecifraFilePrintable", DecifraFilePrintable, "dati.ptb", true},
};

// --- the input changing between choosing it and reading it ---

TEST_F(JobFaults, AnInputDeletedAfterChoosingItEndsEveryJobWithNothingWritten)
{
    for (const NamedJob &each : kAllJobs) {
        SCOPED_TRACE(each.name);
        const QString input = path(QString::fromUtf8(each.inputName));
        writeBytes(input, "Zm9v\r\n");
        dialog.answer(input, [input] { ASSERT_EQ(::unlink(local(input).constData()), 0); });
        each.job(context);
        expectError(errnoMessage(ENOENT));
    }
    EXPECT_EQ(dialog.requests().size(), 4u); // no save request
    EXPECT_EQ(namesIn(dir.path()), QStringList());
}

TEST_F(JobFaults, AnInputReplacedByAFolderIsNotReadAndTheFolderStays)
{
    for (const NamedJob &each : kAllJobs) {
        SCOPED_TRACE(each.name);
        const QString input = path(QString::fromUtf8(each.inputName));
        writeBytes(input, "Zm9v\r\n");
        dialog.answer(input, [input] {
            ASSERT_EQ(::unlink(local(input).constData()), 0);
            ASSERT_EQ(::mkdir(local(input).constData(), 0755), 0);
        });
        each.job(context);
        expectError(notOrdinaryMessage(input, "è una cartella"));
        EXPECT_TRUE(QFileInfo(input).isDir());
        EXPECT_EQ(namesIn(input), QStringList());
    }
    EXPECT_EQ(dialog.requests().size(), 4u);
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"dati.bin", "dati.m64", "dati.ptb", "dati.txt"}));
}

// What a job run in a child process showed, or why it could not run there.
struct ChildOutcome {
    QString skipped;
    std::vector<RecordedMessage> messages;
};

// Runs body in a forked child that has given up root for the user nobody, so
// that permission bits count; the child's message boxes come back through a
// pipe. Without root the child runs as we are, where the bits count already.
ChildOutcome runWithoutPrivileges(RecordingMessageBoxes &messages, const std::function<void()> &body)
{
    ChildOutcome outcome;
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        const struct passwd *nobody = ::getpwnam("nobody");
        if (nobody == nullptr) {
            outcome.skipped = QStringLiteral("running as root and there is no user nobody to drop to");
            return outcome;
        }
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    int channel[2];
    if (::pipe(channel) != 0) {
        outcome.skipped = QStringLiteral("no pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
        return outcome;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        outcome.skipped = QStringLiteral("no fork: ") + QString::fromLocal8Bit(std::strerror(errno));
        return outcome;
    }
    if (child == 0) {
        ::close(channel[0]);
        QByteArray report;
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 || ::setuid(0) == 0)) {
            report = "SKIP cannot drop root privileges: " + QByteArray(std::strerror(errno));
        } else {
            body();
            for (const RecordedMessage &message : messages.messages)
                report += message.prompt.toUtf8() + '\x1f' + QByteArray::number(message.style) + '\x1f' +
                          message.title.toUtf8() + '\x1e';
        }
        const char *data = report.constData();
        qsizetype left = report.size();
        while (left > 0) {
            const ssize_t put = ::write(channel[1], data, static_cast<std::size_t>(left));
            if (put <= 0)
                break;
            data += put;
            left -= put;
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray report;
    pollfd waiting{channel[0], POLLIN, 0};
    while (::poll(&waiting, 1, 30000) > 0) {
        char piece[4096];
        const ssize_t got = ::read(channel[0], piece, sizeof piece);
        if (got <= 0)
            break;
        report.append(piece, got);
    }
    ::close(channel[0]);
    ::kill(child, SIGKILL); // only if it hangs; it has normally exited
    int status = 0;
    ::waitpid(child, &status, 0);
    if (report.startsWith("SKIP ")) {
        outcome.skipped = QString::fromUtf8(report.mid(5));
        return outcome;
    }
    for (const QByteArray &record : report.split('\x1e')) {
        const QList<QByteArray> fields = record.split('\x1f');
        if (fields.size() == 3)
            outcome.messages.push_back(
                {QString::fromUtf8(fields[0]), fields[1].toInt(), QString::fromUtf8(fields[2]), false});
    }
    return outcome;
}

// The library is loaded before forking, so the child needs no file of it.
void loadEveryFunction(ConversionLibrary &library)
{
    const LibraryText text = library.AllocaTesto("YQ==", 4);
    library.ConvertiPrintable(text);
    library.DecifraPrintable(text);
    std::uint8_t byte[4];
    library.DecifraMime64(text, byte, sizeof byte);
    library.ConvertiMime64(byte, 1);
}

void expectAllErrors(const ChildOutcome &outcome, std::size_t count, const QString &prompt)
{
    ASSERT_EQ(outcome.messages.size(), count);
    for (const RecordedMessage &message : outcome.messages) {
        EXPECT_EQ(message.prompt, prompt);
        EXPECT_EQ(message.style, 16);
        EXPECT_EQ(message.title, QStringLiteral("Errore"));
    }
}

TEST_F(JobFaults, AnInputMadeUnreadableAfterChoosingItIsReportedAndKept)
{
    // The folder must be open to the unprivileged child; the inputs are its own
    // so that it can take its own read permission away.
    ASSERT_EQ(::chmod(local(dir.path()).constData(), 0755), 0);
    loadEveryFunction(library);
    std::map<QString, std::string> contents;
    for (const NamedJob &each : kAllJobs) {
        const QString input = path(QString::fromUtf8(each.inputName));
        contents[input] = "Zm9v\r\n";
        writeBytes(input, contents[input]);
        if (const struct passwd *nobody = ::getpwnam("nobody"); ::geteuid() == 0 && nobody != nullptr) {
            ASSERT_EQ(::chown(local(input).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        dialog.answer(input, [input] { ::chmod(local(input).constData(), 0); });
    }

    const ChildOutcome outcome = runWithoutPrivileges(messages, [&] {
        for (const NamedJob &each : kAllJobs)
            each.job(context);
    });
    if (!outcome.skipped.isEmpty())
        GTEST_SKIP() << outcome.skipped.toStdString();

    expectAllErrors(outcome, 4, errnoMessage(EACCES));
    for (const auto &[input, content] : contents) {
        ASSERT_EQ(::chmod(local(input).constData(), 0644), 0);
        EXPECT_EQ(readBytes(input), content) << input.toStdString();
    }
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"dati.bin", "dati.m64", "dati.ptb", "dati.txt"}));
}

// --- output folders and targets that cannot take the result ---

TEST_F(JobFaults, AnOutputFolderThatIsMissingOrAFileIsReportedAndNothingIsMade)
{
    writeBytes(path("dati.m64"), "Zm9vYmFy\r\n");
    writeBytes(path("dati.ptb"), "abc=3D\r\n");

    run(DecifraFileMime64, path("dati.m64"), path("manca/uscita.bin"));
    expectError(errnoMessage(ENOENT));
    run(DecifraFilePrintable, path("dati.ptb"), path("manca/uscita.txt"));
    expectError(errnoMessage(ENOENT));
    // A file where a folder should be.
    run(DecifraFileMime64, path("dati.m64"), path("dati.ptb/uscita.bin"));
    expectError(errnoMessage(ENOTDIR));

    EXPECT_EQ(readBytes(path("dati.m64")), std::string("Zm9vYmFy\r\n"));
    EXPECT_EQ(readBytes(path("dati.ptb")), std::string("abc=3D\r\n"));
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"dati.m64", "dati.ptb"}));
}

TEST_F(JobFaults, AnOutputFolderWithoutWritePermissionKeepsEverything)
{
    // The folder stays root's and open to all; the unprivileged child may read
    // the inputs and write the old output file, but not add to the folder.
    ASSERT_EQ(::chmod(local(dir.path()).constData(), 0755), 0);
    loadEveryFunction(library);
    writeBytes(path("dati.bin"), "foobar");
    writeBytes(path("dati.txt"), "a=b\r\n");
    writeBytes(path("dati.m64"), "Zm9vYmFy\r\n");
    writeBytes(path("dati.ptb"), "abc=3D\r\n");
    const std::string old = "vecchio contenuto";
    writeBytes(path("vecchio.bin"), old);
    ASSERT_EQ(::chmod(local(path("vecchio.bin")).constData(), 0666), 0);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(local(dir.path()).constData(), 0555), 0);
    }

    dialog.answer(path("dati.bin"));
    dialog.answer(path("dati.txt"));
    dialog.answer(path("dati.m64"));
    dialog.answer(path("vecchio.bin"));
    dialog.answer(path("dati.ptb"));
    dialog.answer(path("nuovo.txt"));
    const ChildOutcome outcome = runWithoutPrivileges(messages, [&] {
        ConvertiFileMime64(context);
        ConvertiFilePrintable(context);
        DecifraFileMime64(context);
        DecifraFilePrintable(context);
    });
    ::chmod(local(dir.path()).constData(), 0755);
    if (!outcome.skipped.isEmpty())
        GTEST_SKIP() << outcome.skipped.toStdString();

    expectAllErrors(outcome, 4, errnoMessage(EACCES));
    EXPECT_EQ(readBytes(path("vecchio.bin")), old);
    EXPECT_EQ(readBytes(path("dati.bin")), std::string("foobar"));
    EXPECT_EQ(namesIn(dir.path()),
              (QStringList{"dati.bin", "dati.m64", "dati.ptb", "dati.txt", "vecchio.bin"}));
}

TEST_F(JobFaults, TheNullDeviceAsSaveTargetIsRefusedAndLeftAlone)
{
    struct stat before {};
    ASSERT_EQ(::lstat("/dev/null", &before), 0);
    ASSERT_TRUE(S_ISCHR(before.st_mode));
    writeBytes(path("dati.m64"), "Zm9vYmFy\r\n");
    writeBytes(path("dati.ptb"), "abc=3D\r\n");

    run(DecifraFileMime64, path("dati.m64"), QStringLiteral("/dev/null"));
    expectError(notOrdinaryMessage(QStringLiteral("/dev/null"), "è un dispositivo"));
    run(DecifraFilePrintable, path("dati.ptb"), QStringLiteral("/dev/null"));
    expectError(notOrdinaryMessage(QStringLiteral("/dev/null"), "è un dispositivo"));

    struct stat after {};
    ASSERT_EQ(::lstat("/dev/null", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(namesIn(QStringLiteral("/dev")).filter(QStringLiteral(".dravolin")), QStringList());
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"dati.m64", "dati.ptb"}));
}

TEST_F(JobFaults, ASaveTargetThatIsALinkIsRefusedAndNeitherLinkNorTargetChanges)
{
    writeBytes(path("dati.ptb"), "abc=3D\r\n");
    writeBytes(path("bersaglio.txt"), "da non toccare");
    ASSERT_EQ(::symlink(local(path("bersaglio.txt")).constData(), local(path("collegamento.txt")).constData()), 0);
    // A dangling link: writing through it would create a file elsewhere.
    ASSERT_EQ(::symlink(local(path("altrove.txt")).constData(), local(path("sospeso.txt")).constData()), 0);

    run(DecifraFilePrintable, path("dati.ptb"), path("collegamento.txt"));
    expectError(notOrdinaryMessage(path("collegamento.txt"), "è un collegamento simbolico"));
    run(DecifraFilePrintable, path("dati.ptb"), path("sospeso.txt"));
    expectError(notOrdinaryMessage(path("sospeso.txt"), "è un collegamento simbolico"));

    EXPECT_EQ(QFile::symLinkTarget(path("collegamento.txt")), path("bersaglio.txt"));
    EXPECT_EQ(QFile::symLinkTarget(path("sospeso.txt")), path("altrove.txt"));
    EXPECT_EQ(readBytes(path("bersaglio.txt")), std::string("da non toccare"));
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"bersaglio.txt", "collegamento.txt", "dati.ptb", "sospeso.txt"}));
}

TEST_F(JobFaults, AnOutputNameTooLongForTheFileSystemIsReported)
{
    // 252 characters fit a name; with ".m64" appended they do not (255 at most).
    const QString input = path(QString(252, QLatin1Char('n')));
    writeBytes(input, "foobar");
    run(ConvertiFileMime64, input);
    expectError(errnoMessage(ENAMETOOLONG));
    EXPECT_EQ(readBytes(input), std::string("foobar"));
    EXPECT_EQ(namesIn(dir.path()), QStringList{QString(252, QLatin1Char('n'))});
}

// --- a real small file system: full, then read-only ---

class SmallDisk : public JobFaults {
protected:
    void SetUp() override
    {
        JobFaults::SetUp();
        disk = path(QStringLiteral("disco"));
        ASSERT_EQ(::mkdir(local(disk).constData(), 0755), 0);
        if (::mount("tmpfs", local(disk).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0)
            GTEST_SKIP() << "cannot mount a 64 KiB tmpfs here (" << std::strerror(errno)
                         << "); the injected ENOSPC cases cover the disk filling";
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(local(disk).constData(), MNT_DETACH);
    }
    QString onDisk(const QString &name) const { return disk + QLatin1Char('/') + name; }

    QString disk;
    bool mounted = false;
};

TEST_F(SmallDisk, FillingUpWhileWritingKeepsTheOldFileAndFreesTheRoom)
{
    // 40000 bytes take 10 of the 16 pages; their Mime64 form needs 14 more.
    std::string input;
    for (int i = 0; i < 40000; ++i)
        input += static_cast<char>((i * 131) & 0xFF);
    writeBytes(onDisk("grande.bin"), input);
    const std::string old = "vecchia codifica";
    writeBytes(onDisk("grande.bin.m64"), old);

    run(ConvertiFileMime64, onDisk("grande.bin"));
    expectError(errnoMessage(ENOSPC));
    EXPECT_EQ(readBytes(onDisk("grande.bin")), input);
    EXPECT_EQ(readBytes(onDisk("grande.bin.m64")), old);
    EXPECT_EQ(namesIn(disk), (QStringList{"grande.bin", "grande.bin.m64"}));

    // Decoding 60000 bytes from elsewhere onto the nearly full disk.
    writeBytes(path("dati.m64"), std::string(80000, 'A'));
    run(DecifraFileMime64, path("dati.m64"), onDisk("zeri.bin"));
    expectError(errnoMessage(ENOSPC));
    EXPECT_EQ(namesIn(disk), (QStringList{"grande.bin", "grande.bin.m64"}));

    // The temporary's pages came back: a small job fits again.
    writeBytes(path("dati.ptb"), "ok=21\r\n");
    run(DecifraFilePrintable, path("dati.ptb"), onDisk("piccolo.txt"));
    expectDecoded(onDisk("piccolo.txt"));
    EXPECT_EQ(readBytes(onDisk("piccolo.txt")), std::string("ok!\r\n"));
}

TEST_F(SmallDisk, AReadOnlyFileSystemRefusesEveryWriteEvenToRoot)
{
    writeBytes(onDisk("a.txt"), "foobar");
    writeBytes(onDisk("a.txt.m64"), "vecchio");
    writeBytes(onDisk("b.txt"), "testo");
    ASSERT_EQ(::mount("tmpfs", local(disk).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                      "size=64k"),
              0)
        << std::strerror(errno);
    writeBytes(path("dati.ptb"), "abc=3D\r\n");

    run(ConvertiFileMime64, onDisk("a.txt"));       // replacing a file
    expectError(errnoMessage(EROFS));
    run(ConvertiFilePrintable, onDisk("b.txt"));    // a new file beside the input
    expectError(errnoMessage(EROFS));
    run(DecifraFilePrintable, path("dati.ptb"), onDisk("nuovo.txt"));
    expectError(errnoMessage(EROFS));

    EXPECT_EQ(readBytes(onDisk("a.txt.m64")), std::string("vecchio"));
    EXPECT_EQ(readBytes(onDisk("a.txt")), std::string("foobar"));
    EXPECT_EQ(namesIn(disk), (QStringList{"a.txt", "a.txt.m64", "b.txt"}));
}

// --- libraries that are not what they should be ---

TEST_F(JobFaults, ATextFileNamedLikeTheLibraryIsReportedAsNotLoadable)
{
    const QString fake = path(QStringLiteral("libdravolin.so"));
    writeBytes(fake, "questa non è una libreria, ma un testo che ne porta il nome:\n"
                     "il caricatore deve rifiutarlo e la finestra deve dirlo.\n");
    ConversionLibrary notALibrary(fake);
    JobContext withFake{dialog, messages, notALibrary};
    writeBytes(path("a.txt"), "foobar");
    dialog.answer(path("a.txt"));
    ConvertiFileMime64(withFake);

    ASSERT_EQ(messages.messages.size(), 1u);
    const RecordedMessage message = messages.messages.front();
    const QString prefix =
        QStringLiteral("1006: Impossibile caricare la libreria di conversione ") + fake + QStringLiteral(": ");
    EXPECT_TRUE(message.prompt.startsWith(prefix)) << message.prompt.toStdString();
    // The loader's reason follows: not an ELF file.
    EXPECT_TRUE(message.prompt.mid(prefix.size()).contains(QStringLiteral("ELF"))) << message.prompt.toStdString();
    EXPECT_EQ(message.style, 16);
    EXPECT_EQ(message.title, QStringLiteral("Errore"));
    EXPECT_EQ(readBytes(path("a.txt")), std::string("foobar"));
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"a.txt", "libdravolin.so"}));
}

TEST_F(JobFaults, ALibraryLackingAFunctionNamesItWhileTheOthersStillWork)
{
    const QString partialFile = QStringLiteral(PARTIAL_LIBRARY_FILE);
    ConversionLibrary partial(partialFile);
    JobContext withPartial{dialog, messages, partial};
    writeBytes(path("a.txt"), "foobar");
    writeBytes(path("dati.m64"), "Zm9vYmFy\r\n");
    writeBytes(path("dati.ptb"), "abc=3D\r\n");
    const auto missing = [&](const char *function) {
        return QStringLiteral("1007: La funzione ") + QString::fromLatin1(function) +
               QStringLiteral(" non si trova nella libreria di conversione ") + partialFile + QLatin1Char('.');
    };

    dialog.answer(path("dati.m64"));
    DecifraFileMime64(withPartial);
    expectError(missing("DecifraMime64"));
    dialog.answer(path("a.txt"));
    ConvertiFilePrintable(withPartial);
    expectError(missing("ConvertiPrintable"));
    dialog.answer(path("dati.ptb"));
    DecifraFilePrintable(withPartial);
    expectError(missing("DecifraPrintable"));
    EXPECT_EQ(dialog.requests().size(), 3u); // no save request
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"a.txt", "dati.m64", "dati.ptb"}));

    // RFC 4648's vector, through the functions that are there.
    dialog.answer(path("a.txt"));
    ConvertiFileMime64(withPartial);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].prompt,
              path("a.txt.m64").toUpper() + QStringLiteral(": Conversione eseguita correttamente."));
    EXPECT_EQ(messages.messages[0].style, 64);
    EXPECT_EQ(readBytes(path("a.txt.m64")), std::string("Zm9vYmFy\r\n"));
}

// --- malformed encoded files ---

TEST_F(JobFaults, MalformedM64FilesAreRefusedBeforeTheSaveRequest)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string manyBlanks(1 << 20, ' ');
    // Each breaks RFC 2045's base64: padding only ends a group of two or three
    // characters, one character alone makes no byte, and nothing outside the
    // alphabet but blanks and line breaks (and one leading byte-order mark) may stand.
    const std::vector<std::string> invalid = {
        "=Zm9v\r\n",
        "Zm=9v\r\n",
        "Zm9v=\r\n",
        "Z===\r\n",
        "Zm9vY\r\n",
        std::string("Zm9v\0YmFy\r\n", 11),
        std::string("\0", 1),
        "Zm9v\xC3\xA8YmFy\r\n",
        "\x80",
        bom + bom + "Zm9v",
        "Zm9v\r\n" + bom,
        " " + bom + "Zm9v",
        manyBlanks + "Zm9v" + std::string(1 << 20, '\n') + "@",
    };
    int index = 0;
    for (const std::string &content : invalid) {
        SCOPED_TRACE(index);
        const QString input = path(QStringLiteral("rotto%1.m64").arg(index++));
        writeBytes(input, content);
        run(DecifraFileMime64, input);
        expectError(QStringLiteral("1002: Il file ") + input + QStringLiteral(" non contiene dati Mime64 validi."));
        EXPECT_EQ(readBytes(input), content);
    }
    // Only blanks once the leading mark is skipped: there is nothing to decode.
    const std::vector<std::string> empty = {bom, bom + " \t\r\n", manyBlanks + "\r\n" + manyBlanks};
    for (const std::string &content : empty) {
        SCOPED_TRACE(index);
        const QString input = path(QStringLiteral("vuoto%1.m64").arg(index++));
        writeBytes(input, content);
        run(DecifraFileMime64, input);
        expectError(QStringLiteral("1003: Il file ") + input +
                    QStringLiteral(" non contiene dati Mime64 da decodificare."));
    }
    EXPECT_EQ(dialog.requests().size(), static_cast<std::size_t>(index)); // never a save request
    EXPECT_EQ(namesIn(dir.path()).size(), index);

    // Blanks anywhere, however many, and a leading mark are skipped.
    writeBytes(path("spaziato.m64"), bom + "Zm9v" + manyBlanks + "\r\n\t" + manyBlanks + "YmFy\r\n");
    run(DecifraFileMime64, path("spaziato.m64"), path("spaziato.bin"));
    EXPECT_EQ(readBytes(path("spaziato.bin")), std::string("foobar"));
}

TEST_F(JobFaults, MalformedPtbFilesDecodeLeniently)
{
    const std::string manyBlanks(1 << 20, ' ');
    const std::string manyTabs(1 << 20, '\t');
    // Expected by RFC 2045 6.7 read leniently: "=XX" in either case is a byte,
    // '=' with only blanks before a line break or the end is a soft break,
    // any other '=' stands; blanks before a line break or the end go.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"abc=", "abc"},
        {"abc=\r", "abc=\r"},         // a lone CR is no line break
        {"abc=\r\n", "abc"},
        {"abc= \t\r\nxyz", "abcxyz"},
        {"abc= \t", "abc"},
        {"a=\nb", "ab"},
        {"a=  x", "a=  x"},
        {"a \rb", "a \rb"},
        {"=e8=E8=3d=3D", "\xE8\xE8=="},
        {"a=4", "a=4"},
        {"==41", "=A"},
        {"=G1=\x80=", "=G1=\x80"},
        {std::string("a\0=00b", 6), std::string("a\0\0b", 4)},
        {"\xEF\xBB\xBF", "\xEF\xBB\xBF"},
        {"\xEF\xBB\xBF \t\r\n", "\xEF\xBB\xBF\r\n"},
        {"x" + manyBlanks + "\r\ny" + manyTabs, "x\r\ny"},
        {"x" + manyBlanks + "y", "x" + manyBlanks + "y"},
        {"=" + manyBlanks + "\nz", "z"},
    };
    int index = 0;
    for (const auto &[content, expected] : cases) {
        SCOPED_TRACE(index);
        const QString input = path(QStringLiteral("caso%1.ptb").arg(index));
        const QString output = path(QStringLiteral("caso%1.txt").arg(index++));
        writeBytes(input, content);
        run(DecifraFilePrintable, input, output);
        expectDecoded(output);
        EXPECT_EQ(readBytes(output), expected);
        EXPECT_EQ(readBytes(input), content);
    }
    EXPECT_EQ(namesIn(dir.path()).size(), 2 * index); // no temporary left
}

// --- durability ---

TEST(Durability, TheTemporaryIsFlushedBeforeTheRenameAndTheFolderAfter)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        GTEST_SKIP() << "strace is not installed (tools/deps.sh installs it)";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = dir.path() + QStringLiteral("/dati.bin");
    const QString output = input + QStringLiteral(".m64");
    const QString log = dir.path() + QStringLiteral("/strace.log");
    writeBytes(input, "foobar");
    writeBytes(output, "vecchio");

    QProcess traced;
    // LeakSanitizer cannot run under ptrace; the sanitized build's probe leaks nothing it checks here.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    traced.setProcessEnvironment(environment);
    traced.start(strace, {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-s"), QStringLiteral("4096"),
                          QStringLiteral("-o"), log, QStringLiteral("-e"),
                          QStringLiteral("trace=open,openat,fsync,fdatasync,rename,renameat,renameat2"),
                          QStringLiteral(DURABILITY_PROBE_FILE), input});
    ASSERT_TRUE(traced.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(traced.readAllStandardError());
    if (errors.contains(QStringLiteral("ptrace")) && traced.exitCode() != 0)
        GTEST_SKIP() << "strace cannot trace here: " << errors.toStdString();
    ASSERT_EQ(traced.exitCode(), 0) << traced.readAllStandardOutput().toStdString() << errors.toStdString();
    EXPECT_EQ(readBytes(output), std::string("Zm9vYmFy\r\n"));

    const std::optional<std::string> text = readBytes(log);
    ASSERT_TRUE(text.has_value());
    const QStringList lines = QString::fromStdString(*text).split(QLatin1Char('\n'));
    const std::string trace =
        lines.filter(QRegularExpression(QStringLiteral("sync|rename|dravolin-|O_DIRECTORY"))).join('\n').toStdString();
    const auto find = [&](const QRegularExpression &pattern, qsizetype from, QRegularExpressionMatch *match) {
        for (qsizetype i = from; i < lines.size(); ++i) {
            *match = pattern.match(lines[i]);
            if (match->hasMatch())
                return i;
        }
        return qsizetype{-1};
    };
    const QString folder = QRegularExpression::escape(dir.path());
    QRegularExpressionMatch match;

    const qsizetype created = find(
        QRegularExpression(QStringLiteral("open(at)?\\(.*\"(") + folder +
                           QStringLiteral("/\\.dravolin-[0-9a-f]+\\.tmp)\".*O_CREAT.*\\)\\s*= (\\d+)")),
        0, &match);
    ASSERT_GE(created, 0) << trace;
    const QString temporary = match.captured(2);
    const QString temporaryFd = match.captured(3);

    const qsizetype renamed =
        find(QRegularExpression(QStringLiteral("rename(at2?)?\\(.*\"") + QRegularExpression::escape(temporary) +
                                QStringLiteral("\".*\"") + QRegularExpression::escape(output) +
                                QStringLiteral("\".*\\)\\s*= 0")),
             created, &match);
    ASSERT_GT(renamed, created) << trace;
    const qsizetype fileSynced = find(
        QRegularExpression(QStringLiteral("f(data)?sync\\(") + temporaryFd + QStringLiteral("\\)\\s*= 0")), created,
        &match);
    EXPECT_GT(fileSynced, created) << trace;
    EXPECT_LT(fileSynced, renamed) << "the content must reach the disk before the name does\n" << trace;

    const qsizetype folderOpened =
        find(QRegularExpression(QStringLiteral("open(at)?\\(.*\"") + folder +
                                QStringLiteral("/?\".*O_DIRECTORY.*\\)\\s*= (\\d+)")),
             renamed, &match);
    ASSERT_GT(folderOpened, renamed) << trace;
    const qsizetype folderSynced = find(
        QRegularExpression(QStringLiteral("f(data)?sync\\(") + match.captured(2) + QStringLiteral("\\)\\s*= 0")),
        folderOpened, &match);
    EXPECT_GT(folderSynced, folderOpened) << "the rename itself must be flushed\n" << trace;
}

} // namespace
