// The four file jobs through the real job code, each run between two runs of a baseline: the same
// input read through one buffer, and a file as large as the job's output written and flushed with
// its folder, as the job flushes its own. The baseline time is the mean of the two. Per job:
//
//   ratio_to_baseline       the whole job's time over baseline time, both passes of a decoder
//   validating_s            a decoder's time before the save dialog (the time column is the whole
//                           job; the CPU column counts the baselines too)
//   validating_to_baseline  that pass over the baseline time
//   after_dialog_to_baseline  a decoder's time after the save dialog over the baseline time
//   input_reads             how many times a run read its input, by the bytes the process read:
//                           1 where a .m64 file's kept result became the output, 2 where it was
//                           decoded again after the dialog
//   peak_above_idle_MiB     the job's peak resident memory over the program's size just before it
//   peak_above_start_MiB    the same over the size before the run's first job: what the library
//                           keeps resident of a freed text for the next one counts here too
//   faults_per_GiB          the job's minor page faults (getrusage, every thread) per GiB of input
//   cpu_s                   the job's user and system time, every thread, per run
//   window_to_direct        the same job run again in the same iteration through the window's own
//                           runner (a worker thread, the progress dialog, the event loop), its time
//                           over the direct run's; window_cpu_to_direct the same for CPU seconds
//   window_to_baseline      the window's run over the baseline, counted as ratio_to_baseline is
//   window_cpu_s            the window's run's CPU seconds, every thread, the window's own included
//   window_answer_ms        the longest the window's thread kept a 10 ms tick waiting while a job ran
//                           through it, over every iteration: how long a click waits to be answered
//
//   job_bench [--benchmark_filter=...]
//   DRAVOLIN_BENCH_MIB=1024  the size of the plain content before encoding, in MiB (default 64)
//   DRAVOLIN_BENCH_CONVERTERS=1,2,8  runs each job at each of these converter counts (default: one
//                           per CPU this process may run on, at most 8)
//   DRAVOLIN_BENCH_BIG=1     adds a 6 GiB sparse file through Mime64 and 3 GiB of text through Printable
//   TMPDIR=folder            where the inputs and outputs go: room for the input and twice the output
//   DRAVOLIN_BENCH_SAVE_IN=folder  where the decoders save instead, another file system for one
//   QT_QPA_PLATFORM          the window's platform, offscreen unless set; with the accessibility
//                           bridge a screen reader uses, on an X server and a session bus:
//     QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 xvfb-run -a dbus-run-session job_bench
//
// Inputs are written piece by piece, flushed, and read once before the first run, so both the job
// and the baseline read from the page cache. Every output is deleted as soon as it is measured,
// and the job's output is checked to be as large as the content's encoded or plain form.
// The library is the libdravolin.so beside this program; DRAVOLIN_CODEC forces its path.

#include "codec_cases.h"
#include "file_jobs.h"
#include "job_errors.h"
#include "qt_work_runner.h"
#include "streamed_conversion.h"
#include "user_interaction.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1 << 20;
constexpr std::size_t kBufferBytes = 1 << 20;
// Whole Mime64 lines, so that the pieces' encodings join into one valid file.
constexpr std::size_t kPieceBytes = 57 << 16;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::runtime_error failure(const QString &path, const char *what)
{
    return std::runtime_error(path.toStdString() + ": " + what + ": " + std::strerror(errno));
}

// The figure under key ("VmHWM:", "VmRSS:") in /proc/self/status, in bytes.
double statusBytes(const std::string &key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(key))
            return std::stod(line.substr(key.size())) * 1024;
    throw std::runtime_error("no " + key + " in /proc/self/status");
}

// Starts the peak afresh at what is resident now, and returns that: the program's idle size.
// Memory an earlier job freed but the allocator kept goes back first, or it would count as idle
// and hide what the next job takes.
double restartPeak()
{
    ::malloc_trim(0);
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    if (!clear)
        throw std::runtime_error("cannot reset the peak through /proc/self/clear_refs");
    return statusBytes("VmHWM:");
}

// An open file that closes itself; every failure throws.
class File {
public:
    File(const QString &path, int flags)
        : m_path(path)
        , m_fd(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0644))
    {
        if (m_fd < 0)
            throw failure(path, "open");
    }
    ~File() { ::close(m_fd); }
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    // Up to size bytes; 0 at the end.
    std::size_t read(char *buffer, std::size_t size)
    {
        const ssize_t got = ::read(m_fd, buffer, size);
        if (got < 0)
            throw failure(m_path, "read");
        return static_cast<std::size_t>(got);
    }
    void write(const char *data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t done = ::write(m_fd, data, size);
            if (done < 0)
                throw failure(m_path, "write");
            data += done;
            size -= static_cast<std::size_t>(done);
        }
    }
    void resize(std::uint64_t size)
    {
        if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
            throw failure(m_path, "ftruncate");
    }
    void sync()
    {
        if (::fsync(m_fd) != 0)
            throw failure(m_path, "fsync");
    }
    void syncFileSystem()
    {
        if (::syncfs(m_fd) != 0)
            throw failure(m_path, "syncfs");
    }

private:
    QString m_path;
    int m_fd;
};

void syncFolderOf(const QString &path)
{
    File(QFileInfo(path).absolutePath(), O_RDONLY | O_DIRECTORY).sync();
}

// Deletes the file and waits until the file system has freed its blocks, so that the freeing
// does not fall into whatever is timed next.
void deleteNow(const QString &path)
{
    if (!QFile::remove(path))
        throw std::runtime_error("cannot delete " + path.toStdString());
    File(QFileInfo(path).absolutePath(), O_RDONLY | O_DIRECTORY).syncFileSystem();
}

// Loaded once, before any job is timed.
ConversionLibrary &library()
{
    static ConversionLibrary loaded;
    return loaded;
}

// Bytes go through Mime64, prose through Printable.
enum class Content { RandomBytes, Prose, SparseZeros };

struct InputKind {
    Content content;
    bool encoded; // the content's encoded form, for a decoder
    std::uint64_t plainBytes; // before encoding: what a decoder gives back
    bool operator==(const InputKind &) const = default;
};

// Piece number index of the plain content, at most left bytes. Prose pieces end on a line end,
// but for the last, so that their Printable forms join into the form of the whole text.
std::string plainPiece(Content content, std::uint64_t index, std::uint64_t left)
{
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, left));
    if (content == Content::RandomBytes)
        return dravolin::cases::randomBytes(size, index + 1);
    if (content == Content::SparseZeros)
        return std::string(size, '\0');
    std::string prose = dravolin::cases::italianProse(kPieceBytes, index + 1);
    prose.resize(std::min<std::size_t>(prose.rfind('\n') + 1, size));
    return prose;
}

LibraryText encodedPiece(Content content, const std::string &plain)
{
    if (content == Content::Prose)
        return library().ConvertiPrintable(library().AllocaTesto(plain.data(), plain.size()));
    return library().ConvertiMime64(plain.data(), plain.size());
}

// Writes the input piece by piece, never holding more than a piece, then flushes it, so that its
// write-back cannot land in a timed run; plain zeros make a sparse file. Every piece is encoded,
// to learn the size of the whole encoded form, which it returns: an encoder's output size.
std::uint64_t writeInput(const QString &path, const InputKind &kind)
{
    File file(path, O_WRONLY | O_CREAT | O_TRUNC);
    const bool sparse = kind.content == Content::SparseZeros && !kind.encoded;
    if (sparse)
        file.resize(kind.plainBytes);
    std::uint64_t encodedBytes = 0;
    for (std::uint64_t done = 0, index = 0; done < kind.plainBytes; ++index) {
        const std::string plain = plainPiece(kind.content, index, kind.plainBytes - done);
        const LibraryText encoded = encodedPiece(kind.content, plain);
        if (kind.encoded)
            file.write(encoded.data(), encoded.size());
        else if (!sparse)
            file.write(plain.data(), plain.size());
        encodedBytes += encoded.size();
        done += plain.size();
    }
    file.sync();
    return encodedBytes;
}

void readThrough(const QString &path)
{
    std::vector<char> buffer(kBufferBytes);
    File file(path, O_RDONLY);
    while (file.read(buffer.data(), buffer.size()) > 0) { }
}

// The input of the case now running, in a folder of its own, kept while the next case (a
// repetition) needs the same; read once, so that every run finds it in the page cache. The
// folder is resolved once: the jobs change the current folder.
struct Workspace {
    explicit Workspace(const InputKind &made)
        : kind(made)
    {
        static const QString base = QDir(QDir::tempPath()).absolutePath();
        folder.emplace(base + "/job_bench-XXXXXX");
        if (!folder->isValid())
            throw std::runtime_error("cannot make a folder in " + base.toStdString());
        const std::uint64_t encodedBytes = writeInput(input(), kind);
        readThrough(input());
        outputBytes = kind.encoded ? kind.plainBytes : encodedBytes;
    }
    QString input() const { return folder->filePath("ingresso"); }

    InputKind kind;
    std::uint64_t outputBytes; // what the job writes
    std::optional<QTemporaryDir> folder;
};

Workspace &workspaceFor(const InputKind &kind)
{
    static std::unique_ptr<Workspace> current;
    if (!current || !(current->kind == kind)) {
        current.reset(); // the old files go first, to leave their room
        current = std::make_unique<Workspace>(kind);
    }
    return *current;
}

// Names the output in the save dialog and notes when it was asked: a decoder's validating pass
// ends there. The input is always given, so an open request never comes.
class SaveDialog : public FileRequester {
public:
    explicit SaveDialog(const QString &output)
        : m_output(output)
    {
    }
    std::optional<Clock::time_point> asked;

    QString show(const FileRequest &, FileRequestKind kind) override
    {
        if (kind == FileRequestKind::Open)
            throw cancelledByPerson();
        asked = Clock::now();
        return m_output;
    }

private:
    QString m_output;
};

// Keeps the job's last box: its report, or the failure that ended it.
class LastMessage : public MessageBoxes {
public:
    MessageStyle style = MessageStyle::Critical;
    QString prompt = "the job ended without a word";

    MessageAnswer show(const QString &text, MessageStyle shown, const QString &) override
    {
        style = shown;
        prompt = text;
        return shown == MessageStyle::YesNoQuestion ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
};

// The process's CPU seconds and minor page faults so far, every thread counted.
struct Usage {
    double cpuSeconds = 0;
    double minorFaults = 0;

    static Usage now()
    {
        rusage usage {};
        ::getrusage(RUSAGE_SELF, &usage);
        const auto seconds = [](const timeval &time) {
            return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
        };
        return { seconds(usage.ru_utime) + seconds(usage.ru_stime), static_cast<double>(usage.ru_minflt) };
    }
};

// Bytes this process has read so far, by read calls of any kind (rchar in /proc/self/io).
double bytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    double value = 0;
    while (io >> key >> value && key != "rchar:") { }
    return value;
}

struct JobRun {
    double seconds = 0;
    double bytesRead = 0;
    double cpuSeconds = 0;
    double minorFaults = 0;
    double validatingSeconds = 0; // before the save dialog; 0 for an encoder
    double peakAboveIdle = 0;
    double peakAboveStart = 0;
    std::string failure; // the job's error box, empty on success
};

// The window the jobs' progress dialogs are modal to, shown as the program shows its own; main's.
QWidget *g_window = nullptr;

JobRun runJob(const FileJob &job, const QString &input, const QString &savedAs, WorkRunner &work)
{
    library().require(job.conversion);
    SaveDialog dialog(savedAs);
    LastMessage messages;
    JobRun run;
    const double idle = restartPeak();
    static const double idleAtStart = idle;
    const Usage before = Usage::now();
    const double readBefore = bytesRead();
    const Clock::time_point start = Clock::now();
    JobRunner(dialog, messages, work, library()).run(job, input);
    run.seconds = secondsSince(start);
    run.bytesRead = bytesRead() - readBefore;
    const Usage after = Usage::now();
    run.cpuSeconds = after.cpuSeconds - before.cpuSeconds;
    run.minorFaults = after.minorFaults - before.minorFaults;
    const double peak = statusBytes("VmHWM:");
    run.peakAboveIdle = peak - idle;
    run.peakAboveStart = peak - idleAtStart;
    if (dialog.asked)
        run.validatingSeconds = std::chrono::duration<double>(*dialog.asked - start).count();
    if (messages.style != MessageStyle::Information)
        run.failure = messages.prompt.toStdString();
    return run;
}

// The least a job must do for this input and output: read the input through one buffer, write
// outputBytes to a new file (the buffer again once the input is used up), flush it and its folder.
double baselineSeconds(const QString &input, const QString &output, std::uint64_t outputBytes)
{
    std::vector<char> buffer(kBufferBytes);
    const Clock::time_point start = Clock::now();
    {
        File in(input, O_RDONLY);
        File out(output, O_WRONLY | O_CREAT | O_TRUNC);
        std::uint64_t written = 0;
        for (std::size_t got = 1; got > 0 || written < outputBytes;) {
            got = in.read(buffer.data(), buffer.size());
            const auto take = static_cast<std::size_t>(
                std::min<std::uint64_t>(outputBytes - written, got > 0 ? got : buffer.size()));
            out.write(buffer.data(), take);
            written += take;
        }
        out.sync();
    }
    syncFolderOf(output);
    const double seconds = secondsSince(start);
    deleteNow(output);
    return seconds;
}

// The size of the file at path, which is then deleted.
std::uint64_t measureAndDelete(const QString &path)
{
    const auto size = static_cast<std::uint64_t>(QFileInfo(path).size());
    deleteNow(path);
    return size;
}

// How late the window's thread gets to a tick asked every 10 ms, at worst, while it lives: how long
// a click would wait for an answer.
class AnswerWatch {
public:
    AnswerWatch()
    {
        m_ticks.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_ticks, &QTimer::timeout, [this] {
            const Clock::time_point now = Clock::now();
            m_worst = std::max(m_worst, std::chrono::duration<double>(now - m_last).count() - kTick);
            m_last = now;
        });
        m_ticks.start(std::chrono::milliseconds(10));
    }
    double worstSeconds() const { return m_worst; }

private:
    static constexpr double kTick = 0.010;
    QTimer m_ticks;
    Clock::time_point m_last = Clock::now();
    double m_worst = 0;
};

// The window's runner, watched while it runs each work step.
class WatchedWindowRunner : public WorkRunner {
public:
    explicit WatchedWindowRunner(QWidget *window)
        : m_runner(window)
    {
    }
    double worstAnswerSeconds = 0;

    void run(const QString &title, const std::function<void(WorkProgress &)> &work) override
    {
        AnswerWatch watch;
        m_runner.run(title, work);
        worstAnswerSeconds = std::max(worstAnswerSeconds, watch.worstSeconds());
    }

private:
    QtWorkRunner m_runner;
};

// The same job's run through the window's runner, beside the direct run's.
struct WindowTotals {
    double seconds = 0, cpuSeconds = 0, directSeconds = 0, directCpuSeconds = 0;
    int runs = 0;

    void add(const JobRun &run, const JobRun &direct)
    {
        ++runs;
        seconds += run.seconds;
        cpuSeconds += run.cpuSeconds;
        directSeconds += direct.seconds;
        directCpuSeconds += direct.cpuSeconds;
    }
};

struct Totals {
    double counted = 0, validating = 0, baseline = 0, peakAboveIdle = 0, peakAboveStart = 0;
    double cpuSeconds = 0, minorFaults = 0, bytesRead = 0;

    void add(const JobRun &run, double baselineSeconds)
    {
        cpuSeconds += run.cpuSeconds;
        minorFaults += run.minorFaults;
        bytesRead += run.bytesRead;
        counted += run.seconds - run.validatingSeconds;
        validating += run.validatingSeconds;
        baseline += baselineSeconds;
        peakAboveIdle = std::max(peakAboveIdle, run.peakAboveIdle);
        peakAboveStart = std::max(peakAboveStart, run.peakAboveStart);
    }
};

void report(benchmark::State &state, const Totals &totals, bool decoder, std::uint64_t inputBytes)
{
    using benchmark::Counter;
    const double inputGiB = static_cast<double>(inputBytes) / (1 << 30);
    state.counters["faults_per_GiB"] = Counter(totals.minorFaults / inputGiB, Counter::kAvgIterations);
    state.counters["cpu_s"] = Counter(totals.cpuSeconds, Counter::kAvgIterations);
    state.counters["ratio_to_baseline"] = (totals.counted + totals.validating) / totals.baseline;
    state.counters["input_reads"]
        = Counter(totals.bytesRead / static_cast<double>(inputBytes), Counter::kAvgIterations);
    state.counters["peak_above_idle_MiB"] = totals.peakAboveIdle / kMiB;
    state.counters["peak_above_start_MiB"] = totals.peakAboveStart / kMiB;
    state.counters["baseline_s"] = Counter(totals.baseline, Counter::kAvgIterations);
    if (decoder) {
        state.counters["validating_s"] = Counter(totals.validating, Counter::kAvgIterations);
        state.counters["validating_to_baseline"] = totals.validating / totals.baseline;
        state.counters["after_dialog_to_baseline"] = totals.counted / totals.baseline;
    }
}

void reportWindow(benchmark::State &state, const WindowTotals &window, const Totals &totals, double worstAnswer)
{
    using benchmark::Counter;
    state.counters["window_to_direct"] = window.seconds / window.directSeconds;
    state.counters["window_cpu_to_direct"] = window.cpuSeconds / window.directCpuSeconds;
    state.counters["window_to_baseline"] = window.seconds / totals.baseline;
    state.counters["window_cpu_s"] = Counter(window.cpuSeconds, Counter::kAvgIterations);
    state.counters["window_answer_ms"] = worstAnswer * 1000;
}

void BM_FileJob(benchmark::State &state, const FileJob *job, InputKind kind, unsigned converters)
{
    PieceHooksForTesting hooks;
    hooks.converters = converters;
    setPieceHooksForTesting(hooks);
    try {
        const Workspace &space = workspaceFor(kind);
        const bool decoder = job->output == OutputPlace::ChosenToSave;
        const char *saveIn = std::getenv("DRAVOLIN_BENCH_SAVE_IN");
        const QString output = !decoder ? space.input() + job->extension
            : saveIn != nullptr         ? QDir(QString::fromLocal8Bit(saveIn)).absoluteFilePath("uscita")
                                        : space.folder->filePath("uscita");
        const QString copy = space.folder->filePath("copia");
        DirectWorkRunner direct;
        WatchedWindowRunner throughWindow(g_window);
        Totals totals;
        WindowTotals windowTotals;
        for (auto _ : state) {
            // Timed on both sides of the job, as the shared disk's speed drifts.
            const double before = baselineSeconds(space.input(), copy, space.outputBytes);
            // Each output checked and deleted before the next run, so that both find the same folder.
            const auto checked = [&](WorkRunner &work) {
                JobRun run = runJob(*job, space.input(), output, work);
                if (!run.failure.empty())
                    throw std::runtime_error(run.failure);
                if (measureAndDelete(output) != space.outputBytes)
                    throw std::runtime_error("the job's output is not as large as the content's encoded or plain form");
                return run;
            };
            // Each goes first in every other iteration: neither gains from the other's leftovers.
            const bool windowFirst = windowTotals.runs % 2 == 1;
            std::optional<JobRun> windowRun;
            if (windowFirst)
                windowRun = checked(throughWindow);
            const JobRun run = checked(direct);
            if (!windowFirst)
                windowRun = checked(throughWindow);
            const double after = baselineSeconds(space.input(), copy, space.outputBytes);
            state.SetIterationTime(run.seconds);
            totals.add(run, (before + after) / 2);
            windowTotals.add(*windowRun, run);
        }
        report(state, totals, decoder, static_cast<std::uint64_t>(QFileInfo(space.input()).size()));
        reportWindow(state, windowTotals, totals, throughWindow.worstAnswerSeconds);
    } catch (const std::exception &error) {
        state.SkipWithError(error.what());
    }
}

const char *contentName(Content content)
{
    switch (content) {
    case Content::RandomBytes:
        return "random";
    case Content::Prose:
        return "prose";
    case Content::SparseZeros:
        return "sparse";
    }
    return "";
}

void registerJob(const char *name, const FileJob &job, InputKind kind)
{
    const std::string full
        = std::string(name) + '/' + contentName(kind.content) + '/' + std::to_string(kind.plainBytes >> 20) + "MiB";
    const char *counts = std::getenv("DRAVOLIN_BENCH_CONVERTERS");
    if (counts == nullptr) {
        benchmark::RegisterBenchmark(full.c_str(), BM_FileJob, &job, kind, 0u)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
        return;
    }
    for (const QString &count : QString::fromLatin1(counts).split(',', Qt::SkipEmptyParts))
        benchmark::RegisterBenchmark((full + '/' + count.toStdString() + "conv").c_str(), BM_FileJob, &job, kind,
                                     count.toUInt())
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
}

// Each job on its usual content; the big files only when asked for, as they take minutes and disk.
void registerJobs()
{
    const char *mib = std::getenv("DRAVOLIN_BENCH_MIB");
    const std::uint64_t bytes = (mib ? std::strtoull(mib, nullptr, 10) : 64) << 20;
    registerJob("ConvertiFileMime64", ConvertiFileMime64, { Content::RandomBytes, false, bytes });
    registerJob("DecifraFileMime64", DecifraFileMime64, { Content::RandomBytes, true, bytes });
    registerJob("ConvertiFilePrintable", ConvertiFilePrintable, { Content::Prose, false, bytes });
    registerJob("DecifraFilePrintable", DecifraFilePrintable, { Content::Prose, true, bytes });
    const char *big = std::getenv("DRAVOLIN_BENCH_BIG");
    if (!big || std::string(big) != "1")
        return;
    constexpr std::uint64_t kGiB = 1 << 30;
    registerJob("ConvertiFileMime64", ConvertiFileMime64, { Content::SparseZeros, false, 6 * kGiB });
    registerJob("DecifraFileMime64", DecifraFileMime64, { Content::SparseZeros, true, 6 * kGiB });
    registerJob("ConvertiFilePrintable", ConvertiFilePrintable, { Content::Prose, false, 3 * kGiB });
    registerJob("DecifraFilePrintable", DecifraFilePrintable, { Content::Prose, true, 3 * kGiB });
}

} // namespace

int main(int argc, char **argv)
{
    // The window's runner needs a window; none shows unless a platform is named.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QWidget window;
    window.show();
    g_window = &window;
    registerJobs();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
