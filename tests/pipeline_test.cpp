// One file converted in pieces, through the real jobs: the cut rules, pieces converted on several
// threads and written in input order, the reader's and the converters' failures, cancels. Runs
// under ThreadSanitizer too.

#include "cut_rules.h"
#include "support.h"

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

using ::testing::SizeIs;
using namespace std::chrono_literals;

namespace {

// content cut by the rules alone within windows of the given size, growing where no cut comes, each
// piece converted on its own as the jobs do it.
std::optional<std::string> inPieces(ConversionLibrary &library, LibraryFunction function, const std::string &content,
                                    std::size_t window)
{
    std::string joined, lineBreak;
    cuts::Mime64Continuity continuity;
    for (std::size_t start = 0, size = window; start < content.size();) {
        const std::size_t available = std::min(size, content.size() - start);
        const char *data = content.data() + start;
        const std::size_t cut
            = start + available == content.size() ? available : cuts::lastCut(function, data, available, start == 0);
        if (cut == 0) {
            size *= 2;
            continue;
        }
        if (start == 0)
            lineBreak = cuts::printableFirstLineBreak(data, cut);
        const std::string borrowed = function == LibraryFunction::ConvertiPrintable && start > 0 ? lineBreak : "";
        const std::optional<std::string> result = wholeCall(library, function, borrowed + std::string(data, cut));
        if (!result || (function == LibraryFunction::DecifraMime64 && !continuity.accepts(data, cut)))
            return std::nullopt;
        joined += result->substr(borrowed.size());
        start += cut, size = window;
    }
    return joined;
}

// Random texts dense in what the formats treat specially, cut at every place the rules allow
// within windows from 1 byte up: the pieces' results joined are the whole text's, or both refuse.
TEST(CutRules, PiecesConvertedAloneJoinToTheWholeTextsResult)
{
    ConversionLibrary library;
    std::mt19937_64 random(11);
    // A function, the alphabet of a text and of what follows padding in it, if any.
    const std::tuple<LibraryFunction, const char *, const char *> kinds[] = {
        { LibraryFunction::ConvertiMime64, "", nullptr },
        { LibraryFunction::DecifraMime64, "QUJDZm9vYmFy+/ \r\n\t", nullptr },
        { LibraryFunction::DecifraMime64, "Zm9vYQ \r\n", "      \r\n\t=Q" },
        { LibraryFunction::ConvertiPrintable, "abcdefghilmnopqrstuvz=\xe8 \t\r\n", nullptr },
        { LibraryFunction::ConvertiPrintable, "ab \t\r\n\n", nullptr },
        { LibraryFunction::DecifraPrintable, "=3DAaf \t\r\n", nullptr },
    };
    for (int round = 0; round < 150; ++round) {
        for (const auto &[function, alphabet, afterPadding] : kinds) {
            std::string content = randomFrom(alphabet, random() % 300, random());
            if (afterPadding)
                content += "=" + randomFrom(afterPadding, random() % 12, random());
            if (round % 5 == 0)
                content.insert(round % 3 == 0 ? 0 : random() % (content.size() + 1), "\xEF\xBB\xBF");
            const std::optional<std::string> whole = wholeCall(library, function, content);
            for (const std::size_t window : { 1, 2, 3, 4, 5, 7, 16, 57, 64 })
                ASSERT_EQ(inPieces(library, function, content, window), whole)
                    << static_cast<int>(function) << " in " << window << ": " << content;
        }
    }
}

// Runs the work on the calling thread, hears every report of the reader thread and may act on
// it, and stops the job as a person pressing "Annulla" would once told to, or just after the next
// look at whether to stop.
struct Watching : WorkRunner, WorkProgress {
    std::function<void(std::uint64_t done, std::uint64_t total)> onAdvance;
    std::atomic<bool> stop = false, stopAfterNextLook = false;
    std::vector<WorkStep> steps;

    void run(const QString &, const std::function<void(WorkProgress &)> &work) override { work(*this); }
    void begin(WorkStep step) override
    {
        steps.push_back(step);
        stopIfCancelled();
    }
    void advance(std::uint64_t done, std::uint64_t total) override
    {
        if (onAdvance)
            onAdvance(done, total);
        stopIfCancelled();
    }
    void stopIfCancelled() override
    {
        if (stopAfterNextLook.exchange(false))
            stop = true;
        else if (stop)
            throw cancelledByPerson();
    }
};

// With pieces of 64 bytes (57 when encoding Mime64) on 1, 2 and 8 converters, each job writes exactly
// what one whole-file call gives, or refuses what it refuses, over the fuzzer's seeds and the
// awkward spots of each format placed across the pieces' edges.
TEST_F(Jobs, InTinyPiecesEachJobWritesWhatOneWholeFileCallGives)
{
    std::vector<std::string> inputs;
    for (const auto &seed : std::filesystem::recursive_directory_iterator(FUZZ_CORPUS))
        if (seed.is_regular_file())
            inputs.push_back(readFile(QString::fromStdString(seed.path().string())));
    std::string mixed = italianProse(3000, 4), edges;
    mixed.replace(mixed.find("\r\n"), 2, "\n");
    for (const char *spot : { "\r\n", "=\r\n", "=3D", "=", " \t\r\n", "\t", "Zg==\r\n" })
        for (int offset = 0; offset < 66; ++offset)
            edges += std::string(offset, 'Q') + spot;
    const std::string lines = wholeCall(library, LibraryFunction::ConvertiMime64, randomBytes(2000, 6)).value();
    std::string oneLine = lines, late = lines;
    std::erase_if(oneLine, [](char c) { return c == '\r' || c == '\n'; });
    late.replace(2000, 4, "Zm9@");
    // Blanks fill the first piece: padding or a byte-order mark comes in a piece of its own.
    const std::string firstPiece = std::string(58, ' ') + "\r\n";
    inputs.insert(inputs.end(),
                  { "", mixed, edges, "\xEF\xBB\xBF" + randomFrom(" \t\r\n", 200, 1), oneLine, "\xEF\xBB\xBF" + lines,
                    late, "Zg==" + firstPiece + lines, "Zm9v" + firstPiece + "\xEF\xBB\xBF" + lines, lines });
    for (const unsigned converters : { 1u, 2u, 8u }) {
        setPieceHooksForTesting({ 64, 0, converters });
        for (const std::string &content : inputs) {
            SCOPED_TRACE(std::to_string(converters) + " converters: " + content.substr(0, 40));
            writeFile(path("dati"), content);
            for (const FileJob *job :
                 { &ConvertiFileMime64, &DecifraFileMime64, &ConvertiFilePrintable, &DecifraFilePrintable }) {
                QFile::remove(path("uscita"));
                const QString output
                    = job->output == OutputPlace::BesideInput ? path("dati") + job->extension : path("uscita");
                run(*job, path("dati"), output);
                const std::optional<std::string> whole = wholeCall(library, job->conversion, content);
                EXPECT_EQ(readFile(output), whole.value_or("(none)")) << static_cast<int>(job->conversion);
                EXPECT_THAT(seen.back(), BeginsWith(whole ? "64|" : "16|Errore|1002: "));
            }
        }
    }
}

// Through a linked folder: shrunk, grown, rewritten in place, or whole while its path
// comes to name another file as large (its folder moved away, or the link pointed elsewhere).
TEST_F(Jobs, AnInputThatChangesDuringTheJobIsRefusedLeavingNothingWritten)
{
    setPieceHooksForTesting({ 64 });
    const std::string content = randomBytes(6400, 9);
    const auto elsewhere
        = [&](const char *folder) { QDir().mkdir(path(folder)), writeFile(path(folder) + "/dati.bin", content); };
    const std::function<void(const QString &)> changes[] = {
        [](const QString &input) { std::filesystem::resize_file(input.toStdString(), 1000); },
        [](const QString &input) { writeFile(input, randomBytes(7000, 9)); },
        [](const QString &input) { // rewritten in place, its modification time set back: the change time tells
            struct stat was {
            }, now {};
            ::stat(QFile::encodeName(input), &was);
            writeFile(input, randomBytes(6400, 10));
            const struct timespec times[] = { was.st_atim, was.st_mtim };
            do // until the clock ticks: a change within one tick leaves the change time as it was
                ::utimensat(AT_FDCWD, QFile::encodeName(input), times, 0), ::stat(QFile::encodeName(input), &now);
            while (now.st_ctim.tv_sec == was.st_ctim.tv_sec && now.st_ctim.tv_nsec == was.st_ctim.tv_nsec);
        },
        [&](const QString &) { ::rename(local(path("uno")), local(path("via"))), elsewhere("uno"); },
        [&](const QString &) { elsewhere("due"), ::unlink(local(path("d"))), ::symlink("due", local(path("d"))); },
    };
    for (const auto &change : changes) {
        for (const char *name : { "d", "uno", "due", "via" })
            std::filesystem::remove_all(path(name).toStdString());
        elsewhere("uno"), ::symlink("uno", local(path("d")));
        Watching watching;
        watching.onAdvance = [&, changed = false](std::uint64_t done, std::uint64_t total) mutable {
            if (!changed && done >= total / 2)
                changed = true, change(path("d/dati.bin"));
        };
        run(ConvertiFileMime64, path("d/dati.bin"), {}, &watching);
        EXPECT_EQ(seen.back(), "16|Errore|1010: Il file " + path("d/dati.bin") + " è cambiato durante la lettura.");
        for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.path().toStdString()))
            EXPECT_NE(entry.path().extension(), ".m64");
    }
}

// A cancel while pieces are written is heard within one piece: the write stops there. One that comes
// while the last or only piece is written, just after the writer looked, is heard before the new
// content takes its name. Nothing is said; the folder stays as it was.
TEST_F(Jobs, StoppingAtAnyPointLeavesTheFolderAsItWasAndSaysNothing)
{
    writeFile(path("a.txt.ptb"), "vecchio");
    for (const std::size_t size : { 40, 3000, 20000 }) { // the last one stopped midway, on every converter
        setPieceHooksForTesting({ 64, 0, size > 3000 ? 0u : 1u });
        writeFile(path("a.txt"), italianProse(size, 3));
        const std::size_t last = wholeCall(library, LibraryFunction::ConvertiPrintable, italianProse(size, 3))->size();
        const QStringList before = listing(dir.path());
        int writesAfterStop = 0;
        Watching watching;
        setReplaceHooksForTesting({ [&](std::size_t done) {
                                       writesAfterStop += watching.stop;
                                       watching.stop = watching.stop || (size > 3000 && done >= 5000);
                                       return watching.stopAfterNextLook = done + 1 == last, 0;
                                   },
                                    size < 20000 });
        run(ConvertiFilePrintable, path("a.txt"), {}, &watching);
        EXPECT_THAT(seen, SizeIs(1));
        EXPECT_EQ(writesAfterStop, 0); // the piece under way was the last
        EXPECT_EQ(listing(dir.path()), before) << size;
    }
}

// A .m64 file is read once where its result, kept unnamed beside it while the save dialog asks, can
// take the chosen name, on its mount; elsewhere, where no unnamed file can be made or written, it
// is decoded again. Nothing is named before the dialog; a cancel at any report leaves nothing: no
// name, and no unnamed file held.
TEST_F(Jobs, AMime64FileIsReadOnceWhereItsKeptResultCanTakeTheChosenName)
{
    const auto bytesRead = [] { // by read calls of any kind: rchar, the first line of /proc/self/io
        QFile io("/proc/self/io");
        return io.open(QIODevice::ReadOnly) ? io.readLine().mid(7).trimmed().toULongLong() : 0;
    };
    const auto openFiles = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    setPieceHooksForTesting({ 4096 });
    const std::string plain = randomBytes(60000, 7);
    const std::string encoded = wholeCall(library, LibraryFunction::ConvertiMime64, plain).value();
    writeFile(path("a.m64"), encoded);
    QDir(dir.path()).mkdir("sotto");
    QDir(dir.path()).mkdir("altro"); // another file system, where the test may mount one (as root)
    const bool mounted = ::mount("none", path("altro").toLocal8Bit(), "tmpfs", 0, "size=1m") == 0;
    const QStringList before = listing(dir.path());
    const auto held = openFiles();
    const auto fullOnce
        = [once = true](std::size_t written) mutable { return written > 0 && std::exchange(once, false) ? ENOSPC : 0; };
    // The output, the hooks, and whether the kept result becomes the output.
    const std::tuple<QString, ReplaceHooksForTesting, bool> ways[] = {
        { path("a.bin"), {}, true },
        { path("sotto/a.bin"), {}, true },
        { path("altro/a.bin"), {}, !mounted },
        { path("a.bin"), { {}, 0, true }, false }, // no unnamed files
        { path("a.bin"), { fullOnce }, false },
        { path("a.m64"), {}, true }, // over the input itself, which stays open until then
    };
    for (const auto &[output, hooks, kept] : ways) {
        SCOPED_TRACE(testing::Message() << output.toStdString() << bool(hooks.beforeWrite) << hooks.namedTemporaryOnly);
        for (int point = 0;; ++point) {
            setReplaceHooksForTesting(hooks);
            Watching watching;
            watching.onAdvance = [&, left = point](std::uint64_t, std::uint64_t) mutable {
                EXPECT_TRUE(watching.steps.size() > 1 || listing(dir.path()) == before); // none named before the dialog
                watching.stop = watching.stop || left-- == 0;
            };
            const std::uint64_t readBefore = bytesRead();
            run(DecifraFileMime64, path("a.m64"), output, &watching);
            if (!watching.stop) { // the job ended before that point
                EXPECT_EQ((bytesRead() - readBefore) / encoded.size(), kept ? 1 : 2);
                EXPECT_TRUE(readFile(output) == plain);
                break;
            }
            EXPECT_EQ(seen.size(), watching.steps.size()) << point; // the open and save requests alone
            EXPECT_EQ(std::pair(listing(dir.path()), openFiles()), std::pair(before, held)) << point;
        }
        QFile::remove(output);
    }
    ::umount2(path("altro").toLocal8Bit(), MNT_DETACH); // if mounted
    // Changed as the kept result is about to take its name.
    writeFile(path("a.m64"), encoded);
    Watching watching;
    watching.onAdvance = [&](std::uint64_t, std::uint64_t) {
        if (watching.steps.size() == 2)
            std::filesystem::resize_file(path("a.m64").toStdString(), 100);
    };
    run(DecifraFileMime64, path("a.m64"), path("a.bin"), &watching);
    EXPECT_THAT(seen.back(), BeginsWith("16|Errore|1010: "));
    EXPECT_FALSE(QFile::exists(path("a.bin")));
}

// A cancel while 8 converters run: each thread converts at most the piece in hand, all have ended
// when the job returns, nothing is said and the folder is as it was.
TEST_F(Jobs, ACancelAmongEightConvertersStopsEveryThreadAndSaysNothing)
{
    writeFile(path("a.bin"), randomBytes(40000, 2));
    run(ConvertiFileMime64, path("a.bin")); // any helper threads of the tools start now
    QFile::remove(path("a.bin.m64"));
    const QStringList before = listing(dir.path());
    const auto threadCount = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
    const auto threadsBefore = threadCount();
    struct Held : Watching {
        std::mutex mutex;
        std::condition_variable changed;
        const std::thread::id writer = std::this_thread::get_id();
        int holding = 0, told = 0;
        std::map<std::thread::id, int> afterStop;

        void advance(std::uint64_t, std::uint64_t) override // the reader's
        {
            if (const std::lock_guard<std::mutex> lock(mutex); told == 7)
                throw cancelledByPerson();
        }
        void stopIfCancelled() override
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (stop && std::this_thread::get_id() == writer)
                changed.wait(lock, [&] { return told == 7; });
            else if (stop)
                ++told, changed.notify_all();
            if (stop)
                throw cancelledByPerson();
        }
        void converting()
        {
            std::unique_lock<std::mutex> lock(mutex);
            const std::thread::id self = std::this_thread::get_id();
            if (self == writer)
                return;
            if (stop && ++afterStop[self] == 1) // a piece started after the cancel
                ++told, changed.notify_all();
            else if (!stop && ++holding == 7)
                stop = true, changed.notify_all();
            changed.wait(lock, [&] { return stop && (told == 7 || !afterStop.contains(self)); });
        }
    } held;
    setPieceHooksForTesting({ 64, 0, 8, [&](std::size_t) { held.converting(); } });
    run(ConvertiFileMime64, path("a.bin"), {}, &held);
    EXPECT_EQ(threadCount(), threadsBefore);
    EXPECT_THAT(seen, SizeIs(1));
    EXPECT_EQ(listing(dir.path()), before);
    EXPECT_EQ(held.afterStop.size(), 0u);
}

} // namespace
