// The file jobs through their real code: round trips, replacing, cancelling, and every way a job must
// refuse (bad inputs, targets that cannot take the result, a full
// disk, broken libraries, a killed program), each with one error box and every file left as it was.

#include "file_jobs.h"
#include "support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using ::testing::ElementsAre;
using namespace std::chrono_literals;

namespace {

QString osError(int error)
{
    return QString::number(error) + ": " + QString::fromLocal8Bit(std::strerror(error));
}

// The result's mode is the old file's, or 0666 less the umask, with no set-id or sticky bits, its
// group's and others' bits no wider than the input's; as root, its owner the old file's only where
// that is the input's own.
TEST_F(Jobs, AnOutputIsNoMoreOpenThanItsInputAndBelongsToNoThirdUser)
{
    // A named temporary whose first name is taken tries another, and leaves no name behind.
    writeFile(path("a.txt"), "foobar"), writeFile(path(".prima.tmp"), "altrui");
    setReplaceHooksForTesting({ {}, 0, true, ".prima.tmp" });
    run(ConvertiFileMime64, path("a.txt"));
    setReplaceHooksForTesting({});
    EXPECT_THAT(seen.back(), BeginsWith("64|"));
    EXPECT_THAT(listing(dir.path()), ElementsAre(".prima.tmp 6", "a.txt 6", "a.txt.m64 10"));

    const mode_t umask = ::umask(022);
    // The input's mode, the old file's (0 for none), the result's.
    const std::tuple<mode_t, mode_t, mode_t> cases[]
        = { { 0600, 0, 0600 },    { 0600, 0644, 0600 },  { 0640, 0664, 0640 }, { 0444, 0, 0644 },
            { 0444, 0664, 0644 }, { 0755, 06755, 0755 }, { 0777, 01777, 0777 } };
    const auto runOnce = [&](const FileJob &job, mode_t input, mode_t old, uid_t oldOwner = 0, uid_t inputOwner = 0) {
        const QString output
            = path(job.output == OutputPlace::BesideInput ? "dati" + QString(job.extension) : "uscita");
        QFile::remove(path("dati")), QFile::remove(output);
        writeFile(path("dati"), "Zm9v"), ::chown(local(path("dati")), inputOwner, 0),
            ::chmod(local(path("dati")), input);
        if (old != 0) // owner first: a new owner clears set-id bits
            writeFile(output, "vecchio"), ::chown(local(output), oldOwner, 0), ::chmod(local(output), old);
        run(job, path("dati"), output);
        EXPECT_THAT(seen.back(), BeginsWith("64|"));
        struct stat info { };
        return ::stat(local(output), &info), info;
    };
    for (const FileJob *job :
         { &ConvertiFileMime64, &DecifraFileMime64, &ConvertiFilePrintable, &DecifraFilePrintable })
        for (const auto &[input, old, expected] : cases)
            EXPECT_EQ(runOnce(*job, input, old).st_mode & 07777, expected)
                << static_cast<int>(job->conversion) << ' ' << std::oct << input << ' ' << old;
    ::umask(umask);
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may give a file away";
    for (const uid_t inputOwner : { 0u, 65534u })
        EXPECT_EQ(runOnce(ConvertiFileMime64, 0644, 0644, 65534, inputOwner).st_uid, inputOwner);
}

// Type, mode, owner, inode, size and bytes of everything in folder: all a refusal must leave as it was.
std::map<QString, std::string> snapshot(const QString &folder)
{
    std::map<QString, std::string> state;
    for (const QString &entry : listing(folder)) {
        const QString name = folder + '/' + entry.section(' ', 0, -2);
        struct stat info { };
        ::lstat(local(name), &info);
        const bool small = S_ISREG(info.st_mode) && info.st_size < 4096;
        state[name] = std::to_string(info.st_mode) + '/' + std::to_string(info.st_uid) + '/'
            + std::to_string(info.st_ino) + '/' + std::to_string(info.st_size) + (small ? readFile(name) : "");
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
    const QString failing = FAILING_LIBRARY,
                  uncuttable = " non si può convertire: contiene un tratto che non si può "
                               "dividere, troppo lungo per una sola chiamata della libreria di conversione.";
    // A failure on a later piece waits for the earlier ones: with piece 1 slowed, its bad character is
    // told, not the stretch without a cut met further on; without it, that stretch is.
    const std::string good = wholeCall(library, LibraryFunction::ConvertiMime64, randomBytes(3000, 5)).value();
    const std::string uncut = "QUJD" + good.substr(0, 600) + "QUJ" + std::string(300, ' ') + good;
    const auto slowSecond = [](const QString &) {
        setPieceHooksForTesting(
            { 64, 256, 8, [](std::size_t piece) { std::this_thread::sleep_for(piece == 1 ? 300ms : 0ms); } });
    };
    // clang-format off
    std::vector<Refusal> cases = {
        { "the first failure in input order", DecifraFileMime64, "u.m64", uncut.substr(0, 70) + "@" + uncut.substr(71), {},
          "1002: Il file %D/u.m64 non contiene dati Mime64 validi.", slowSecond },
        { "a stretch without a cut", DecifraFileMime64, "u.m64", uncut, {}, "1013: Il file %D/u.m64" + uncuttable, slowSecond },
        { "a line longer than one call takes", ConvertiFilePrintable, "riga.txt", std::string(300, 'x') + "\n", {},
          "1013: Il file %D/riga.txt" + uncuttable, [](const QString &) { setPieceHooksForTesting({ 64, 256 }); } },
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
    if (::geteuid() == 0) { // a device of our own: never the machine's /dev/null; a file of nobody's
        cases.push_back({ "device saved", DecifraFileMime64, "d.m64", "Zm9v", "nullo",
                          notOrdinary("nullo", "è un dispositivo"), make("nullo", S_IFCHR | 0666, makedev(1, 3)) });
        cases.push_back({ "another's in a sticky folder", ConvertiFileMime64, "h.txt", "x", {}, "1014: Il file %D/h.txt.m64 "
          "appartiene a un altro utente e si trova in una cartella condivisa protetta: per sicurezza non viene sostituito.",
          [](const QString &f) {
              ::chmod(local(f), 01777), writeFile(f + "/h.txt.m64", "altrui"), ::chown(local(f + "/h.txt.m64"), 65534, 65534);
          } });
    }
    for (const std::size_t after : { 0, 4096, 8192 }) // the disk filling at the start, inside, near the end
        cases.push_back({ "disk full", ConvertiFileMime64, "grande.bin", {}, {}, osError(ENOSPC), diskFull(after) });
    // clang-format on
    writeFile(path("grande.bin"), randomBytes(9000, 3));
    expectRefusals(cases);
    // Planted at the output's name while the job writes, such a file is no more replaced.
    for (const bool others : { false, ::geteuid() == 0 }) {
        const QString planted = path("p.txt.m64");
        QFile::remove(planted), writeFile(path("p.txt"), "x"), ::chmod(local(dir.path()), others ? 01777 : 0700);
        setReplaceHooksForTesting({ [&](std::size_t) {
            if (!QFile::exists(planted))
                writeFile(planted, "altrui"),
                    others ? ::chown(local(planted), 65534, 65534) : ::chmod(local(planted), 0444);
            return 0;
        } });
        run(ConvertiFileMime64, path("p.txt"));
        EXPECT_THAT(seen.back(), BeginsWith("16|Errore|" + (others ? "1014: Il file " + planted : osError(EACCES))));
        EXPECT_EQ(readFile(planted), "altrui");
    }
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

// SIGINT, SIGTERM and SIGHUP end the program as closing its window does, by the program's own
// wiring: a job writing through a named temporary stops and removes it, a waiting box is closed;
// then the program ends with the signal's own status; a signal ignored at the start (nohup) stays
// ignored. SIGKILL cannot be heard: a job killed midway leaves the folder as it was only where its
// new content has no name yet.
TEST(Signals, EndTheProgramAsClosingItsWindowDoesWithTheSignalsOwnStatus)
{
    QTemporaryDir dir;
    std::shared_ptr<void> unmount;
    const QString unnamed = unnamedFilesFolder(dir, unmount), folder = unnamed.isEmpty() ? dir.path() : unnamed;
    writeFile(folder + "/a.ptb", randomFrom("ab=\r\n", 100000, 5));
    const QStringList before = listing(folder);
    const std::tuple<int, QString, const char *> cases[] = {
        { SIGINT, "job", "paused" },      { SIGTERM, "job", "paused" }, { SIGHUP, "job", "paused" },
        { SIGTERM, "idle", "ready" },     { SIGHUP, "ask", "ready" },   { SIGTERM, "nohup", "paused" },
        { SIGKILL, "unnamed", "paused" },
    };
    for (const auto &[signal, mode, word] : cases) {
        SCOPED_TRACE(mode.toStdString() + ' ' + strsignal(signal));
        if (mode == "unnamed" && unnamed.isEmpty())
            GTEST_SKIP() << "this file system makes no unnamed files, and no tmpfs can be mounted";
        QProcess program;
        program.start(JOB_HELPER, { "window", mode, folder + "/a.ptb", folder + "/b.txt" });
        QByteArray said;
        while (!said.contains(word) && program.waitForReadyRead(30000))
            said += program.readAllStandardOutput();
        ASSERT_TRUE(said.contains(word)) << said.toStdString() << program.readAllStandardError().toStdString();
        EXPECT_EQ(listing(folder) != before, mode == "job" || mode == "nohup"); // only a named temporary shows
        const auto pid = static_cast<pid_t>(program.processId()); // 0 once it ends: never kill(0, ...)
        if (mode == "nohup") { // if heard, it would end the program before the next, or as itself
            ::kill(pid, SIGHUP);
            EXPECT_FALSE(program.waitForFinished(500));
        }
        ASSERT_GT(pid, 0);
        ::kill(pid, signal);
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(std::pair(program.exitStatus(), program.exitCode()), std::pair(QProcess::CrashExit, signal));
        EXPECT_EQ(listing(folder), before);
    }
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
        writeFile(folder + "/uscita", std::string(10, 'x'));
        traced.start(strace,
                     { "-qq", "-o", dir.filePath("log"), "-e", "trace=openat,fsync,linkat,close,rename", JOB_HELPER,
                       "encode", folder + "/uscita", way });
        ASSERT_TRUE(traced.waitForFinished(60000));
        if (traced.exitCode() != 0 && traced.readAllStandardError().contains("ptrace"))
            GTEST_SKIP() << "strace cannot trace here";
        const QString log = QString::fromStdString(readFile(dir.filePath("log")));
        EXPECT_TRUE(QRegularExpression("(?m)^" + steps.join(".*\\n(?:.*\\n)*?")).match(log).hasMatch())
            << log.toStdString();
        EXPECT_EQ(readFile(folder + "/uscita.m64"), "eHh4eHh4eHh4eA==\r\n");
    }
}

} // namespace
