// The file jobs through their real code: round trips, replacing, cancelling, and every way a job must
// refuse (bad inputs, targets that cannot take the result, a full
// disk, broken libraries, a killed program), each with one error box and every file left as it was.

#include "cut_rules.h"
#include "file_jobs.h"
#include "os_files.h"
#include "streamed_conversion.h"
#include "support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::SizeIs;

namespace {

QString osError(int error)
{
    return QString::number(error) + ": " + QString::fromLocal8Bit(std::strerror(error));
}

QByteArray local(const QString &path)
{
    return QFile::encodeName(path);
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
    // A named temporary whose first name is taken tries another, and leaves no name behind.
    writeFile(path(".prima.tmp"), "altrui");
    setReplaceHooksForTesting({ {}, 0, true, ".prima.tmp" });
    run(ConvertiFileMime64, path("a.txt"));
    setReplaceHooksForTesting({});
    EXPECT_THAT(seen.back(), BeginsWith("64|"));
    EXPECT_THAT(listing(dir.path()), ElementsAre(".prima.tmp 6", "a.txt 6", "a.txt.m64 10"));
}

// Type, mode, inode, size and bytes of everything in folder: all a refusal must leave as it was.
std::map<QString, std::string> snapshot(const QString &folder)
{
    std::map<QString, std::string> state;
    for (const QString &entry : listing(folder)) {
        const QString name = folder + '/' + entry.section(' ', 0, -2);
        struct stat info { };
        ::lstat(local(name), &info);
        const bool small = S_ISREG(info.st_mode) && info.st_size < 4096;
        state[name] = std::to_string(info.st_mode) + '/' + std::to_string(info.st_ino) + '/'
            + std::to_string(info.st_size) + (small ? readFile(name) : "");
    }
    return state;
}

struct Refusal {
    const char *label;
    const FileJob &job;
    QString input; // the name chosen in the folder
    std::optional<std::string> content; // written to the input first, if any
    QString output; // the name saved to; none if the job never asks
    QString error; // the one error box's prompt; "%D" stands for the folder
    std::function<void(const QString &)> prepare = {}; // given the folder, before the snapshot
    QString library = {}; // a library file to use instead of the real one
};

class JobFaults : public Jobs {
protected:
    void expectRefusals(const std::vector<Refusal> &cases)
    {
        const QString folder = dir.path();
        for (const Refusal &each : cases) {
            SCOPED_TRACE(each.label);
            const QString input = folder + '/' + each.input;
            if (each.content)
                writeFile(input, *each.content);
            if (each.prepare)
                each.prepare(folder);
            const auto before = snapshot(folder);
            seen.clear();
            dialog.answers = { input, each.output.isEmpty() ? QString() : folder + '/' + each.output };
            std::optional<ConversionLibrary> other;
            if (!each.library.isEmpty())
                other.emplace(QString(each.library).replace("%D", folder));
            JobRunner(dialog, messages, work, other ? *other : library).run(each.job);
            setReplaceHooksForTesting({});
            setPieceHooksForTesting({});
            ASSERT_FALSE(seen.empty());
            EXPECT_EQ(seen.back(), "16|Errore|" + QString(each.error).replace("%D", folder));
            EXPECT_EQ(snapshot(folder), before);
        }
    }
};

// How a path that is not an ordinary file is told.
QString notOrdinary(const QString &name, const char *why)
{
    return "1009: %D/" + name + " non è un file ordinario: " + why + '.';
}

std::function<void(const QString &)> make(const char *name, mode_t mode, dev_t device = 0)
{
    return [=](const QString &folder) { ::mknod(local(folder + '/' + name), mode, device); };
}

TEST_F(JobFaults, BadInputsAndUnfitTargetsAreRefusedLeavingEverything)
{
    const auto diskFull = [](std::size_t after) {
        return [=](const QString &folder) {
            writeFile(folder + "/grande.bin.m64", "vecchio");
            setReplaceHooksForTesting(
                { [=](std::size_t written) { return written >= after ? ENOSPC : 0; }, 4096, after == 4096 });
        };
    };
    const QString invalid = " non contiene dati Mime64 validi.", failing = FAILING_LIBRARY;
    // clang-format off
    std::vector<Refusal> cases = {
        { "stray characters", DecifraFileMime64, "a.m64", "Zm9v@@@@\r\n", {}, "1002: Il file %D/a.m64" + invalid },
        { "a line longer than one call takes", ConvertiFilePrintable, "riga.txt", std::string(300, 'x') + "\n", {},
          "1013: Il file %D/riga.txt non si può convertire: contiene un tratto che non si può dividere, troppo lungo "
          "per una sola chiamata della libreria di conversione.", [](const QString &) { setPieceHooksForTesting({ 64, 256 }); } },
        { "FIFO input", ConvertiFilePrintable, "tubo.txt", {}, {}, notOrdinary("tubo.txt", "è una pipe (FIFO)"),
          make("tubo.txt", S_IFIFO | 0644) },
        { "missing folder", DecifraFileMime64, "d.m64", "Zm9v", "manca/x.bin", osError(ENOENT) },
        { "read-only beside", ConvertiFileMime64, "e.txt", "foobar", {}, osError(EACCES),
          [](const QString &f) { writeFile(f + "/e.txt.m64", "vecchio"), ::chmod(local(f + "/e.txt.m64"), 0444); } },
        { "folder beside", ConvertiFileMime64, "f.txt", "x", {}, notOrdinary("f.txt.m64", "è una cartella"),
          [](const QString &f) { ::mkdir(local(f + "/f.txt.m64"), 0755); } },
        { "link beside", ConvertiFilePrintable, "g.txt", "x", {}, notOrdinary("g.txt.ptb", "è un collegamento simbolico"),
          [](const QString &f) { ::symlink("altrove", local(f + "/g.txt.ptb")); } },
        { "FIFO saved", DecifraFileMime64, "d.m64", "Zm9v", "fifo", notOrdinary("fifo", "è una pipe (FIFO)"),
          make("fifo", S_IFIFO | 0644) },
        { "no library", ConvertiFileMime64, "j.txt", "x", {}, "1006: Impossibile caricare la libreria di conversione "
          "%D/manca.so: %D/manca.so: cannot open shared object file: No such file or directory", {}, "%D/manca.so" },
        { "failing library", ConvertiFileMime64, "j.txt", "x", {}, "1008: La funzione ConvertiMime64 della libreria di "
          "conversione non ha restituito alcun risultato (memoria insufficiente o risultato oltre 2147483647 byte).",
          {}, failing },
        { "failing decoder", DecifraFileMime64, "k.m64", "Zm9v", {}, osError(ENOMEM), {}, failing },
        { "lacking", DecifraFilePrintable, "l.ptb", "x", {},
          "1007: La funzione DecifraPrintable non si trova nella libreria di conversione " + failing + ".", {}, failing },
    };
    if (::geteuid() == 0) // a device of our own: never the machine's /dev/null
        cases.push_back({ "device saved", DecifraFileMime64, "d.m64", "Zm9v", "nullo",
                          notOrdinary("nullo", "è un dispositivo"), make("nullo", S_IFCHR | 0666, makedev(1, 3)) });
    for (const std::size_t after : { 0, 4096, 8192 }) // the disk filling at the start, inside, near the end
        cases.push_back({ "disk full", ConvertiFileMime64, "grande.bin", {}, {}, osError(ENOSPC), diskFull(after) });
    // clang-format on
    writeFile(path("grande.bin"), randomBytes(9000, 3));
    expectRefusals(cases);
}

// A folder inside dir where the file system makes unnamed files: dir itself, or a tmpfs mounted
// there (as root) where it does not, as on overlay file systems; empty when neither.
QString unnamedFilesFolder(const QTemporaryDir &dir, std::shared_ptr<void> &unmount)
{
    if (const int fd = ::open(local(dir.path()), O_TMPFILE | O_WRONLY, 0600); fd >= 0)
        return ::close(fd), dir.path();
    const QString disk = dir.filePath("tmpfs");
    if (::mkdir(local(disk), 0700) != 0 || ::mount("tmpfs", local(disk), "tmpfs", 0, "size=64m") != 0)
        return {};
    unmount.reset(static_cast<void *>(nullptr), [disk](void *) { ::umount2(local(disk), MNT_DETACH); });
    return disk;
}

// A program killed halfway through writing leaves the folder as it was: the new content has no name yet.
TEST(Replacement, AKilledWriterLeavesTheFolderAsItWas)
{
    QTemporaryDir dir;
    std::shared_ptr<void> unmount;
    const QString folder = unnamedFilesFolder(dir, unmount);
    if (folder.isEmpty())
        GTEST_SKIP() << "this file system makes no unnamed files, and no tmpfs can be mounted";
    writeFile(folder + "/uscita", "vecchio");
    const QStringList before = listing(folder);
    QProcess writer;
    writer.start(JOB_HELPER, { "replace", folder + "/uscita", "50000000", "pause" });
    ASSERT_TRUE(writer.waitForReadyRead(30000)) << writer.readAllStandardError().toStdString();
    EXPECT_EQ(listing(folder), before);
    ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
    writer.waitForFinished();
    EXPECT_EQ(listing(folder), before);
    EXPECT_EQ(readFile(folder + "/uscita"), "vecchio");
}

// The new content reaches the disk before it takes the old file's name, and the rename after.
TEST(Replacement, FlushesTheContentThenNamesItThenFlushesTheFolder)
{
    const QString strace = QStandardPaths::findExecutable("strace");
    if (strace.isEmpty())
        GTEST_SKIP() << "strace is not installed (tools/deps.sh installs it)";
    // The calls in order, each at a line's start, anything between them; \1 is the file written,
    // \2 the folder.
    const std::pair<const char *, QStringList> ways[] = {
        { "",
          { "openat.*O_TMPFILE.* = (\\d+)", "fsync\\(\\1\\)", "linkat\\(.*/proc/self/fd/\\1\"", "close\\(\\1\\)",
            "rename\\(.*uscita", "openat.*O_DIRECTORY.* = (\\d+)", "fsync\\(\\2\\)" } },
        { "named",
          { "openat.*dravolin-.*O_CREAT.* = (\\d+)", "fsync\\(\\1\\)", "close\\(\\1\\)", "rename\\(.*uscita",
            "openat.*O_DIRECTORY.* = (\\d+)", "fsync\\(\\2\\)" } },
    };
    for (const auto &[way, steps] : ways) {
        SCOPED_TRACE(way);
        QTemporaryDir dir;
        std::shared_ptr<void> unmount;
        const QString folder = *way ? dir.path() : unnamedFilesFolder(dir, unmount);
        if (folder.isEmpty())
            GTEST_SKIP() << "this file system makes no unnamed files, and no tmpfs can be mounted";
        QProcess traced;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS", "detect_leaks=0"); // LeakSanitizer cannot run under ptrace
        traced.setProcessEnvironment(environment);
        traced.start(strace,
                     { "-qq", "-o", dir.filePath("log"), "-e", "trace=openat,fsync,linkat,close,rename", JOB_HELPER,
                       "replace", folder + "/uscita", "10", way });
        ASSERT_TRUE(traced.waitForFinished(60000));
        if (traced.exitCode() != 0 && traced.readAllStandardError().contains("ptrace"))
            GTEST_SKIP() << "strace cannot trace here";
        const QString log = QString::fromStdString(readFile(dir.filePath("log")));
        EXPECT_TRUE(QRegularExpression("(?m)^" + steps.join(".*\\n(?:.*\\n)*?")).match(log).hasMatch())
            << log.toStdString();
        EXPECT_EQ(readFile(folder + "/uscita"), std::string(10, 'x'));
    }
}

} // namespace
