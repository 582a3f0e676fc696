// The file jobs through their real code: round trips, replacing, cancelling, and every way a job must
// refuse (bad inputs, targets that cannot take the result, a full
// disk, broken libraries, a killed program), each with one error box and every file left as it was.

#include "file_jobs.h"
#include "os_files.h"
#include "support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

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

class Jobs : public ::testing::Test {
protected:
    QString path(const QString &name) const { return dir.filePath(name); }

    // Runs job over input, answering a save request with output; returns what the person saw.
    Seen run(const FileJob &job, const QString &input, const QString &output = {}, WorkRunner *by = nullptr,
             bool clear = true)
    {
        if (clear)
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

TEST_F(Jobs, EveryByteAndEveryTextComesBackThroughBothPairsOfJobs)
{
    const std::string contents[] = { "", randomBytes(256 * 3 + 1, 1), "riga uno\r\nriga due  \r\n= fine",
                                     "lf\nsolo\rcr\n\n", italianProse(100000, 2) };
    for (const std::string &content : contents) {
        SCOPED_TRACE(content.substr(0, 20));
        writeFile(path("dati.bin"), content);
        run(ConvertiFileMime64, path("dati.bin"));
        run(DecifraFileMime64, path("dati.bin.m64"), path("mime64.out"));
        EXPECT_EQ(readFile(path("mime64.out")), content);
        run(ConvertiFilePrintable, path("dati.bin"));
        run(DecifraFilePrintable, path("dati.bin.ptb"), path("printable.out"));
        EXPECT_EQ(readFile(path("printable.out")), content);
    }
    // Blanks and a byte-order mark hold no bytes either.
    writeFile(path("vuoto.m64"), "\xEF\xBB\xBF \r\n\t");
    EXPECT_THAT(run(DecifraFileMime64, path("vuoto.m64"), path("printable.out")), SizeIs(3));
    EXPECT_EQ(readFile(path("printable.out")), "");
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

// A work runner on the calling thread that stops the job as it reaches a step, as a person
// pressing "Annulla" then would; with `late`, only once the content is in place.
struct StopAt : WorkRunner, WorkProgress {
    explicit StopAt(WorkStep at, bool tooLate = false)
        : step(at)
        , late(tooLate)
    {
    }
    WorkStep step;
    bool late, writing = false, stopping = false;

    void run(const QString &, const std::function<void(WorkProgress &)> &work) override { work(*this); }
    void begin(WorkStep reached) override
    {
        stopIfCancelled();
        writing = reached == WorkStep::Writing;
        stopping = reached == step && !late;
    }
    void advance(std::uint64_t done, std::uint64_t total) override
    {
        stopIfCancelled();
        stopping = late && writing && done == total;
    }
    void stopIfCancelled() override
    {
        if (stopping)
            throw cancelledByPerson();
    }
};

TEST_F(Jobs, StoppingAtAnyStepLeavesTheFolderAsItWasAndSaysNothing)
{
    writeFile(path("a.txt"), italianProse(20000, 1));
    writeFile(path("a.txt.m64"), "vecchio");
    writeFile(path("b.m64"), "Zm9vYmFy");
    writeFile(path("b.out"), "vecchio");
    const QStringList before = listing(dir.path());
    for (const WorkStep step : { WorkStep::Reading, WorkStep::Converting, WorkStep::Writing }) {
        StopAt stopEncoding(step), stopDecoding(step);
        run(ConvertiFileMime64, path("a.txt"), {}, &stopEncoding);
        run(DecifraFileMime64, path("b.m64"), path("b.out"), &stopDecoding, false);
        EXPECT_THAT(seen, SizeIs(step == WorkStep::Writing ? 3 : 2)) << static_cast<int>(step);
        EXPECT_EQ(listing(dir.path()), before);
    }
    // Once the new content is in place it is too late: the job ends as usual.
    StopAt late(WorkStep::Writing, true);
    run(DecifraFileMime64, path("b.m64"), path("b.out"), &late);
    EXPECT_EQ(readFile(path("b.out")), "foobar");
    EXPECT_THAT(seen.back(), BeginsWith("64|"));
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
    const auto sparse = [](const char *name, std::uintmax_t size) {
        return [=](const QString &folder) { std::filesystem::resize_file((folder + '/' + name).toStdString(), size); };
    };
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
        { "over 2 GiB of Mime64", ConvertiFileMime64, "medio.bin", "", {},
          "1005: Il file %D/medio.bin è troppo grande: la sua codifica Mime64 supererebbe 2147483647 byte.",
          sparse("medio.bin", 1569314971) },
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
    cases.push_back({ "2 GiB", DecifraFilePrintable, "enorme", "", {},
                      "1004: Il file %D/enorme è troppo grande: si possono convertire al massimo 2147483647 byte.",
                      sparse("enorme", 2147483648) });
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
