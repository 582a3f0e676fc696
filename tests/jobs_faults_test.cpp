// Every way a job must refuse, met through the real job code: bad inputs,
// inputs that change while chosen, targets and folders that cannot take the
// result, full and read-only disks, broken libraries. Each refusal shows one
// error box and leaves every file as it was; the replacement is durable.

#include "os_files.h"
#include "scripted_person.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <filesystem>
#include <map>

#include <dlfcn.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray local(const QString &path)
{
    return path.toLocal8Bit();
}
QString notOrdinary(const QString &path, const char *why)
{
    return "1009: " + path + " non è un file ordinario: " + why + '.';
}
QString fileMessage(int number, const QString &path, const char *words)
{
    return QString::number(number) + ": Il file " + path + words;
}

// The loader's own words for why path cannot be loaded.
QString loaderError(const QString &path)
{
    if (void *handle = ::dlopen(local(path).constData(), RTLD_NOW | RTLD_LOCAL))
        return ::dlclose(handle), QStringLiteral("(loaded)");
    return QString::fromLocal8Bit(::dlerror());
}

const char *const kEmpty = " è vuoto: non c'è nulla da convertire.";
const char *const kNoData = " non contiene dati Mime64 da decodificare.";
const char *const kInvalid = " non contiene dati Mime64 validi.";
const char *const kTooLarge = " è troppo grande: si possono convertire al massimo 2147483647 byte.";
const Job kJobs[] = { ConvertiFileMime64, DecifraFileMime64, ConvertiFilePrintable, DecifraFilePrintable };
const char *const kInputs[] = { ".bin", ".m64", ".txt", ".ptb" }; // what each job reads

struct Refusal {
    std::string label;
    Job job;
    QString input;
    std::optional<std::string> content; // written to input first, unless absent
    QString output; // the save answer; none if the job never asks
    QString message; // the one error box
    std::function<void()> prepare = {}; // more setup, before the folder is noted
    std::function<void()> atChoice = {}; // done while the person chooses the input
    QString library = {}; // empty: the real library
    std::function<void()> check = {}; // anything else that must hold after
};

// Everything a refusal must leave as it was: type, mode, size, inode, time and
// the bytes of every small file (a folder's own times change as the temporary comes and goes).
std::map<QString, std::string> snapshot(const QStringList &folders)
{
    std::map<QString, std::string> state;
    for (const QString &folder : folders) {
        for (const QString &name : namesIn(folder)) {
            const QString path = folder + '/' + name;
            struct stat info { };
            ::lstat(local(path).constData(), &info);
            std::string &entry = state[path] = std::to_string(info.st_mode) + ' ' + std::to_string(info.st_ino) + ' ';
            if (!S_ISDIR(info.st_mode))
                entry += std::to_string(info.st_size) + ' ' + std::to_string(info.st_mtim.tv_nsec) + ' ';
            if (S_ISREG(info.st_mode) && info.st_size <= (1 << 20))
                entry += std::to_string(std::hash<std::string> {}(readBytes(path).value_or("?")));
            if (S_ISLNK(info.st_mode))
                entry += QFile::symLinkTarget(path).toStdString();
        }
    }
    return state;
}

class JobFaults : public JobTest {
protected:
    // Runs each case; with asNobody, the job runs in a child without root.
    void expectRefusals(const std::vector<Refusal> &cases, bool asNobody = false)
    {
        for (const Refusal &each : cases) {
            SCOPED_TRACE(each.label);
            if (each.content)
                writeBytes(each.input, *each.content);
            if (each.prepare)
                each.prepare();
            std::map<QString, std::string> before = snapshot(watched);
            ScriptedDialog person;
            person.answer(each.input, [&] {
                if (each.atChoice)
                    each.atChoice(), before = snapshot(watched);
            });
            if (!each.output.isEmpty())
                person.answer(each.output);
            std::optional<ConversionLibrary> other;
            if (!each.library.isEmpty())
                other.emplace(each.library);
            JobContext runContext { person, messages, other ? *other : library };
            if (!asNobody)
                each.job(runContext);
            else if (!runAsNobody([&] { each.job(runContext); }))
                GTEST_SKIP() << "running as root and cannot become the user nobody";
            injectWriteFailureForTesting(0);
            expectError(each.message);
            EXPECT_TRUE(asNobody || person.shown.size() == (each.output.isEmpty() ? 1u : 2u));
            EXPECT_EQ(snapshot(watched), before);
            if (each.check)
                each.check();
        }
    }

    // Runs body in a forked child that gave up root for nobody, so permission
    // bits count, and takes back the boxes it showed. False if it could not.
    bool runAsNobody(const std::function<void()> &body)
    {
        const struct passwd *nobody = ::getpwnam("nobody");
        int channel[2];
        if ((::geteuid() == 0 && nobody == nullptr) || ::pipe(channel) != 0)
            return false;
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(channel[0]);
            if (::geteuid() != 0) // without root the bits count already: close the folder
                ::chmod(local(dir.path()).constData(), 0555);
            QByteArray report = "SKIP";
            if (::geteuid() != 0
                || (::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0
                    && ::setuid(0) != 0)) {
                report = "RAN";
                body();
                for (const ShownMessage &shown : messages.shown)
                    report += '\x1e' + QByteArray::number(shown.style) + '\x1f' + shown.title.toUtf8() + '\x1f'
                        + shown.prompt.toUtf8();
            }
            for (qsizetype done = 0, put = 0; done < report.size() && put >= 0; done += put)
                put = ::write(channel[1], report.constData() + done, static_cast<std::size_t>(report.size() - done));
            ::_exit(0);
        }
        ::close(channel[1]);
        QByteArray report;
        char piece[4096];
        for (ssize_t got; (got = ::read(channel[0], piece, sizeof piece)) > 0;)
            report.append(piece, got);
        ::close(channel[0]);
        ::waitpid(child, nullptr, 0);
        ::chmod(local(dir.path()).constData(), 0755);
        const QList<QByteArray> records = report.split('\x1e');
        for (const QByteArray &record : records.mid(1)) {
            const QList<QByteArray> field = record.split('\x1f');
            messages.shown.push_back({ QString::fromUtf8(field.value(2)), field.value(0).toInt(),
                                       QString::fromUtf8(field.value(1)), false });
        }
        return records.first() != "SKIP";
    }

    QStringList watched { dir.path() };
};

TEST_F(JobFaults, BadOrVanishingInputsAndUnfitTargetsAreRefusedLeavingEverything)
{
    const auto sparse = [](const QString &file, std::uintmax_t size) {
        return [=] { std::filesystem::resize_file(file.toStdString(), size); };
    };
    const auto fifo = [](const QString &file) {
        return [=] { ::unlink(local(file).constData()), ::mkfifo(local(file).constData(), 0644); };
    };
    const auto link = [](const QString &to, const QString &at) {
        return [=] { ::symlink(local(to).constData(), local(at).constData()); };
    };
    const auto old = [](const QString &file) {
        return [=] { writeBytes(file, "vecchio"), ::chmod(local(file).constData(), 0444); };
    };
    struct stat null { };
    ASSERT_EQ(::lstat("/dev/null", &null), 0);
    const QString m64 = path("dati.m64"), ptb = path("dati.ptb"), big = path("grande.bin");
    Dl_info libc {};
    ASSERT_NE(::dladdr(reinterpret_cast<void *>(&::getpid), &libc), 0);
    const QString libcFile = QString::fromLocal8Bit(libc.dli_fname), partial = QStringLiteral(PARTIAL_LIBRARY_FILE);
    const auto lacking = [&](const char *function, const QString &file) {
        return QStringLiteral("1007: La funzione %1 non si trova nella libreria di conversione ").arg(function) + file
            + '.';
    };
    const auto unloadable = [&](const QString &file) {
        return "1006: Impossibile caricare la libreria di conversione " + file + ": " + loaderError(file);
    };
    writeBytes(path("altro.txt"), "da non toccare");
    // Long enough for the loader to read a header and call it no ELF.
    writeBytes(path("libdravolin.so"),
               "questa non è una libreria, ma un testo che ne porta il nome: il caricatore deve rifiutarlo.\n");

    std::vector<Refusal> cases = {
        // Inputs that hold nothing to convert or are beyond the library's 32-bit counts.
        { "empty file to encode",
          ConvertiFileMime64,
          path("vuoto.bin"),
          "",
          {},
          fileMessage(1001, path("vuoto.bin"), kEmpty) },
        { "empty .m64", DecifraFileMime64, path("vuoto.m64"), "", {}, fileMessage(1001, path("vuoto.m64"), kEmpty) },
        { "blank .m64", DecifraFileMime64, m64, "  \r\n\t\r\n \n", {}, fileMessage(1003, m64, kNoData) },
        { "mark and blanks", DecifraFileMime64, m64, "\xEF\xBB\xBF \t\r\n", {}, fileMessage(1003, m64, kNoData) },
        { "stray characters", DecifraFileMime64, m64, "Zm9v@@@@\r\n", {}, fileMessage(1002, m64, kInvalid) },
        { "a character left over", DecifraFileMime64, m64, "Zm9vY\r\n", {}, fileMessage(1002, m64, kInvalid) },
        { "NUL inside",
          DecifraFileMime64,
          m64,
          std::string("Zm9v\0YmFy\r\n", 11),
          {},
          fileMessage(1002, m64, kInvalid) },
        { "bad byte after 2 MiB of blanks",
          DecifraFileMime64,
          m64,
          std::string(1 << 20, ' ') + "Zm9v" + std::string(1 << 20, '\n') + "@",
          {},
          fileMessage(1002, m64, kInvalid) },
        // 1610612736 bytes make 2147483648 Mime64 characters before the line breaks.
        { "Mime64 form over 2 GiB",
          ConvertiFileMime64,
          path("medio.bin"),
          "",
          {},
          fileMessage(1005, path("medio.bin"), " è troppo grande: la sua codifica Mime64 supererebbe 2147483647 byte."),
          sparse(path("medio.bin"), 1610612736) },
        // Opened without blocking: a FIFO chosen by mistake cannot hang the window.
        { "FIFO input",
          ConvertiFilePrintable,
          path("tubo.txt"),
          "",
          {},
          notOrdinary(path("tubo.txt"), "è una pipe (FIFO)"),
          fifo(path("tubo.txt")) },
        // Output folders and targets that cannot take the result.
        { "missing folder", DecifraFileMime64, m64, "Zm9vYmFy\r\n", path("manca/uscita.bin"), errnoMessage(ENOENT) },
        { "missing folder", DecifraFilePrintable, ptb, "abc=3D\r\n", path("manca/uscita.txt"), errnoMessage(ENOENT) },
        { "a file as folder", DecifraFileMime64, m64, "Zm9vYmFy\r\n", m64 + "/uscita.bin", errnoMessage(ENOTDIR) },
        { "output name too long",
          ConvertiFileMime64,
          path(QString(252, 'n')),
          "foobar",
          {},
          errnoMessage(ENAMETOOLONG) }, // ".m64" makes 256
        // Root could write it; its read-only mode is respected all the same.
        { "read-only beside",
          ConvertiFileMime64,
          path("a.txt"),
          "foobar",
          {},
          errnoMessage(EACCES),
          old(path("a.txt.m64")) },
        { "read-only saved", DecifraFileMime64, m64, "Zm9v\r\n", path("sola.bin"), errnoMessage(EACCES),
          old(path("sola.bin")) },
        { "folder beside",
          ConvertiFileMime64,
          path("d.txt"),
          "x",
          {},
          notOrdinary(path("d.txt.m64"), "è una cartella"),
          [&] { ::mkdir(local(path("d.txt.m64")).constData(), 0755); } },
        { "link beside",
          ConvertiFileMime64,
          path("l.txt"),
          "x",
          {},
          notOrdinary(path("l.txt.m64"), "è un collegamento simbolico"),
          link(path("altro.txt"), path("l.txt.m64")) },
        // Writing through a dangling link would create a file elsewhere.
        { "dangling link saved", DecifraFilePrintable, ptb, "abc=3D\r\n", path("sospeso.txt"),
          notOrdinary(path("sospeso.txt"), "è un collegamento simbolico"),
          link(path("altrove.txt"), path("sospeso.txt")) },
        { "FIFO beside",
          ConvertiFileMime64,
          path("f.txt"),
          "x",
          {},
          notOrdinary(path("f.txt.m64"), "è una pipe (FIFO)"),
          fifo(path("f.txt.m64")) },
        { "/dev/null",
          DecifraFileMime64,
          m64,
          "Zm9vYmFy\r\n",
          "/dev/null",
          notOrdinary("/dev/null", "è un dispositivo"),
          {},
          {},
          {},
          [&] {
              struct stat after { };
              ASSERT_EQ(::lstat("/dev/null", &after), 0);
              EXPECT_TRUE(S_ISCHR(after.st_mode) && after.st_rdev == null.st_rdev && after.st_ino == null.st_ino);
              EXPECT_EQ(namesIn("/dev").filter(".dravolin"), QStringList());
          } },
        { "disk full, new file", DecifraFilePrintable, ptb, "testo=20\r\n", path("nuovo.txt"), errnoMessage(ENOSPC),
          [] { injectWriteFailureForTesting(ENOSPC, 2); } },
        // Libraries that are not what they should be.
        { "no library",
          ConvertiFileMime64,
          path("a.txt"),
          "foobar",
          {},
          unloadable(path("no/libdravolin.so")),
          {},
          {},
          path("no/libdravolin.so") },
        { "a text as library",
          ConvertiFileMime64,
          path("a.txt"),
          "foobar",
          {},
          unloadable(path("libdravolin.so")),
          {},
          {},
          path("libdravolin.so") },
        { "none of its functions",
          ConvertiFileMime64,
          path("a.txt"),
          "foobar",
          {},
          lacking("ConvertiMime64", libcFile),
          {},
          {},
          libcFile },
        { "lacking DecifraMime64",
          DecifraFileMime64,
          m64,
          "Zm9v\r\n",
          {},
          lacking("DecifraMime64", partial),
          {},
          {},
          partial },
        { "lacking ConvertiPrintable",
          ConvertiFilePrintable,
          path("a.txt"),
          "foobar",
          {},
          lacking("ConvertiPrintable", partial),
          {},
          {},
          partial },
        { "lacking DecifraPrintable",
          DecifraFilePrintable,
          ptb,
          "abc",
          {},
          lacking("DecifraPrintable", partial),
          {},
          {},
          partial },
    };
    for (int i = 0; i < 4; ++i) { // each job: a 2 GiB input; one that vanishes or turns into a folder while chosen
        const QString huge = path(QString("enorme") + kInputs[i]), gone = path(QString("sparito") + kInputs[i]),
                      folder = path(QString("c") + kInputs[i]);
        cases.push_back({ "2 GiB " + std::to_string(i),
                          kJobs[i],
                          huge,
                          "",
                          {},
                          fileMessage(1004, huge, kTooLarge),
                          sparse(huge, 2147483648) });
        cases.push_back(
            { "vanished " + std::to_string(i), kJobs[i], gone, "Zm9v\r\n", {}, errnoMessage(ENOENT), {}, [=] {
                 ::unlink(local(gone).constData());
             } });
        cases.push_back({ "now a folder " + std::to_string(i),
                          kJobs[i],
                          folder,
                          "x",
                          {},
                          notOrdinary(folder, "è una cartella"),
                          {},
                          [=] { ::unlink(local(folder).constData()), ::mkdir(local(folder).constData(), 0755); } });
    }
    for (const std::size_t after :
         { 0u, 7u, 20000u }) // the disk filling at the start, inside and near the end of the write
        cases.push_back({ "disk full after " + std::to_string(after),
                          ConvertiFileMime64,
                          big,
                          std::string(30000, 'q'),
                          {},
                          errnoMessage(ENOSPC),
                          [=] { writeBytes(big + ".m64", "vecchio"), injectWriteFailureForTesting(ENOSPC, after); } });
    expectRefusals(cases);
    EXPECT_TRUE(loaderError(path("libdravolin.so")).contains("ELF"));

    // The functions that are there still work: RFC 4648's vector.
    ConversionLibrary partialLibrary(partial);
    JobContext withPartial { dialog, messages, partialLibrary };
    writeBytes(path("b.txt"), "foobar");
    dialog.answer(path("b.txt"));
    ConvertiFileMime64(withPartial);
    expectDone(path("b.txt.m64"), ": Conversione eseguita correttamente.");
    EXPECT_EQ(readBytes(path("b.txt.m64")), std::string("Zm9vYmFy\r\n"));
}

// Root ignores permission bits, so these run as the user nobody.
TEST_F(JobFaults, UnreadableInputsAndAnUnwritableFolderKeepEverything)
{
    // Loaded before forking, so the child needs no access to the library file.
    const LibraryText text = library.AllocaTesto("YQ==", 4);
    library.ConvertiPrintable(text);
    library.DecifraPrintable(text);
    std::uint8_t byte[4];
    library.DecifraMime64(text, byte, sizeof byte);
    library.ConvertiMime64(byte, 1);
    // The folder stays ours and open to all: nobody may read, not add a file.
    ASSERT_EQ(::chmod(local(dir.path()).constData(), 0755), 0);
    const struct passwd *nobody = ::getpwnam("nobody");
    std::vector<Refusal> cases = {
        { "new file beside", ConvertiFileMime64, path("w.bin"), "foobar", {}, errnoMessage(EACCES) },
        { "new file beside", ConvertiFilePrintable, path("w.txt"), "a=b\r\n", {}, errnoMessage(EACCES) },
        // Even a file it may write is not replaced: the temporary cannot be made.
        { "old file saved", DecifraFileMime64, path("w.m64"), "Zm9vYmFy\r\n", path("vecchio.bin"), errnoMessage(EACCES),
          [&] {
              writeBytes(path("vecchio.bin"), "vecchio contenuto"),
                  ::chmod(local(path("vecchio.bin")).constData(), 0666);
          } },
        { "new file saved", DecifraFilePrintable, path("w.ptb"), "abc=3D\r\n", path("nuovo.txt"),
          errnoMessage(EACCES) },
    };
    for (int i = 0; i < 4; ++i) {
        const QString file = path(QString("u") + kInputs[i]);
        cases.push_back({ "unreadable " + std::to_string(i), kJobs[i], file, "Zm9v", {}, errnoMessage(EACCES), [=] {
                             if (::geteuid() == 0 && nobody != nullptr)
                                 ::chown(local(file).constData(), nobody->pw_uid, nobody->pw_gid);
                             ::chmod(local(file).constData(), 0);
                         } });
    }
    expectRefusals(cases, true);
}

TEST_F(JobFaults, ARealDiskFullThenReadOnlyKeepsEverythingAndFreesTheRoom)
{
    const QString disk = path("disco");
    ASSERT_EQ(::mkdir(local(disk).constData(), 0755), 0);
    if (::mount("tmpfs", local(disk).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a 64 KiB tmpfs here: " << std::strerror(errno);
    struct Unmount {
        QByteArray at;
        ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
    } unmount { local(disk) };
    watched << disk;
    const auto onDisk = [&](const char *name) { return disk + '/' + name; };
    std::string input;
    for (int i = 0; i < 40000; ++i)
        input += static_cast<char>((i * 131) & 0xFF);
    // 40000 bytes take 10 of the 16 pages; their Mime64 form needs 14 more.
    expectRefusals({
        { "encoding",
          ConvertiFileMime64,
          onDisk("grande.bin"),
          input,
          {},
          errnoMessage(ENOSPC),
          [&] { writeBytes(onDisk("grande.bin.m64"), "vecchia codifica"); } },
        { "decoding onto it", DecifraFileMime64, path("dati.m64"), std::string(80000, 'A'), onDisk("zeri.bin"),
          errnoMessage(ENOSPC) },
    });
    // The temporary's pages came back: a small job fits again.
    writeBytes(path("dati.ptb"), "ok=21\r\n");
    run(DecifraFilePrintable, path("dati.ptb"), onDisk("piccolo.txt"));
    expectDone(onDisk("piccolo.txt"), ": Decifrazione eseguita correttamente.");
    EXPECT_EQ(readBytes(onDisk("piccolo.txt")), std::string("ok!\r\n"));

    ASSERT_EQ(
        ::mount("tmpfs", local(disk).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, "size=64k"),
        0);
    expectRefusals({
        { "replacing", ConvertiFileMime64, onDisk("grande.bin"), {}, {}, errnoMessage(EROFS) },
        { "new beside", ConvertiFilePrintable, onDisk("grande.bin"), {}, {}, errnoMessage(EROFS) },
        { "new saved", DecifraFilePrintable, path("dati.ptb"), {}, onDisk("nuovo.txt"), errnoMessage(EROFS) },
    });
}

TEST(Durability, TheTemporaryIsFlushedBeforeTheRenameAndTheFolderAfter)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        GTEST_SKIP() << "strace is not installed (tools/deps.sh installs it)";
    QTemporaryDir dir;
    const QString input = dir.path() + "/dati.bin", log = dir.path() + "/strace.log";
    writeBytes(input, "foobar");
    writeBytes(input + ".m64", "vecchio");
    QProcess traced;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ASAN_OPTIONS", "detect_leaks=0"); // LeakSanitizer cannot run under ptrace
    traced.setProcessEnvironment(environment);
    traced.start(strace,
                 { "-qq", "-o", log, "-e", "trace=open,openat,fsync,fdatasync,rename,renameat,renameat2",
                   QCoreApplication::applicationFilePath(), "--encode-once", input });
    ASSERT_TRUE(traced.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(traced.readAllStandardError());
    if (errors.contains("ptrace") && traced.exitCode() != 0)
        GTEST_SKIP() << "strace cannot trace here: " << errors.toStdString();
    ASSERT_EQ(traced.exitCode(), 0) << errors.toStdString();
    EXPECT_EQ(readBytes(input + ".m64"), std::string("Zm9vYmFy\r\n"));

    const QStringList lines = QString::fromStdString(readBytes(log).value_or("")).split('\n');
    QRegularExpressionMatch match;
    const auto find
        = [&](const QString &pattern, qsizetype from) { // the first matching line from `from` on; -1 if none
              for (qsizetype i = from; i < lines.size(); ++i)
                  if ((match = QRegularExpression(pattern).match(lines[i])).hasMatch())
                      return i;
              return qsizetype { -1 };
          };
    const QString folder = QRegularExpression::escape(dir.path());
    const std::string trace
        = lines.filter(QRegularExpression("sync|rename|dravolin-|O_DIRECTORY")).join('\n').toStdString();
    const qsizetype created
        = find("open(at)?\\(.*\"(" + folder + "/\\.dravolin-[0-9a-f]+\\.tmp)\".*O_CREAT.*= (\\d+)", 0);
    ASSERT_GE(created, 0) << trace;
    const QString temporary = QRegularExpression::escape(match.captured(2)), fd = match.captured(3);
    const qsizetype renamed
        = find("rename(at2?)?\\(.*\"" + temporary + "\".*\"" + folder + "/dati.bin.m64\".*= 0", created);
    ASSERT_GT(renamed, created) << trace;
    const qsizetype fileSynced = find("f(data)?sync\\(" + fd + "\\)\\s*= 0", created);
    EXPECT_TRUE(fileSynced > created && fileSynced < renamed)
        << "the content must reach the disk before the name does\n"
        << trace;
    const qsizetype folderOpened = find("open(at)?\\(.*\"" + folder + "/?\".*O_DIRECTORY.*= (\\d+)", renamed);
    ASSERT_GT(folderOpened, renamed) << trace;
    EXPECT_GT(find("f(data)?sync\\(" + match.captured(2) + "\\)\\s*= 0", folderOpened), folderOpened)
        << "the rename itself must be flushed\n"
        << trace;
}

} // namespace
