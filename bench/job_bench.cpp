// The four file jobs, run through the real job code with scripted dialogs,
// timed against a plain copy of the same input flushed to disk, and each job's
// peak resident memory measured in a child process of its own.
//
//   job_bench [--size MIB] [--reps N] [--dir FOLDER] [--only NAME]
//
// The library is the libdravolin.so beside this program; DRAVOLIN_CODEC
// (scalar, avx2, avx512) forces its path, otherwise it takes the widest the
// CPU offers.

#include "codec.h"
#include "conversion_jobs.h"
#include "conversion_library.h"
#include "user_interaction.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr double kTimeBudget = 2.0;
constexpr double kMemoryBudgetMiB = 32.0;

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "job_bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// Answers the open request with one path and the save request with another.
class ScriptedRequester : public FileRequester {
public:
    ScriptedRequester(std::string open, std::string save)
        : m_open(std::move(open))
        , m_save(std::move(save))
    {
    }
    QString show(const FileRequest &, FileRequestKind kind) override
    {
        return QString::fromStdString(kind == FileRequestKind::Open ? m_open : m_save);
    }

private:
    std::string m_open;
    std::string m_save;
};

// Keeps the last message so that a failed job does not pass as a timing.
class LastMessage : public MessageBoxes {
public:
    MessageAnswer show(const QString &prompt, MessageStyle shown, const QString &) override
    {
        text = prompt.toStdString();
        style = shown;
        return MessageAnswer::Ok;
    }
    std::string text;
    MessageStyle style = MessageStyle::Critical;
};

// xorshift64*: cheap, and the same content on every run.
class Random {
public:
    explicit Random(std::uint64_t seed)
        : m_state(seed)
    {
    }
    std::uint64_t next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1DULL;
    }
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>((next() >> 32) % n); }

private:
    std::uint64_t m_state;
};

void writeFileDurably(const std::string &path, const std::string &content)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("open " + path);
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t put = ::write(fd, content.data() + done, content.size() - done);
        if (put <= 0)
            fail("write " + path);
        done += static_cast<std::size_t>(put);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        fail("fsync " + path);
}

std::string randomBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    Random random(0x6d696d653634ULL);
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = random.next();
        std::memcpy(bytes.data() + i, &word, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

// Italian-like prose: CR LF lines of 20 to 120 characters (so some need soft
// breaks), about 3% accented letters, now and then an '=' and trailing blanks.
std::string proseText(std::size_t size)
{
    static const char *const kWords[]
        = { "la",      "casa",  "sul",   "fiume",   "dove",  "il",     "vento", "porta",  "notizie", "della",
            "sera",    "e",     "chi",   "ascolta", "trova", "sempre", "una",   "strada", "nuova",   "per",
            "tornare", "al",    "paese", "con",     "le",    "mani",   "piene", "di",     "pane",    "vino",
            "quando",  "tempo", "passa", "piano",   "ogni",  "cosa",   "resta", "suo",    "posto",   "mare" };
    static const char *const kAccented[] = { "\xc3\xa0", "\xc3\xa8", "\xc3\xa9", "\xc3\xac", "\xc3\xb2", "\xc3\xb9" };
    std::string text;
    text.reserve(size + 256);
    Random random(0x7072696e74ULL);
    while (text.size() < size) {
        const std::size_t lineLength = 20 + random.below(101);
        std::size_t column = 0;
        while (column < lineLength) {
            if (column > 0) {
                text += ' ';
                ++column;
            }
            if (random.below(200) == 0) {
                text += "x=";
                column += 2;
            }
            for (const char *letter = kWords[random.below(std::size(kWords))]; *letter; ++letter) {
                if (random.below(100) < 3) {
                    text += kAccented[random.below(std::size(kAccented))];
                } else {
                    text += *letter;
                }
                ++column;
            }
        }
        const std::uint32_t tail = random.below(10);
        if (tail == 0)
            text += ' ';
        else if (tail == 1)
            text += "\t ";
        text += "\r\n";
    }
    text.resize(size);
    return text;
}

std::uint64_t fileSize(const std::string &path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        fail("stat " + path);
    return static_cast<std::uint64_t>(info.st_size);
}

bool sameContent(const std::string &a, const std::string &b)
{
    std::FILE *fa = std::fopen(a.c_str(), "rb");
    std::FILE *fb = std::fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    std::vector<char> ba(kMiB), bb(kMiB);
    while (same) {
        const std::size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        const std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0)
            break;
    }
    if (fa)
        std::fclose(fa);
    if (fb)
        std::fclose(fb);
    return same;
}

// Flushes what earlier steps left dirty, so that no timing pays for it.
void settle(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

// The baseline: read the file and write a copy in 1 MiB pieces, then fsync.
void copyAndFlush(const std::string &from, const std::string &to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0)
        fail("open for copy");
    std::vector<char> buffer(kMiB);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0)
            fail("read " + from);
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put <= 0)
                fail("write " + to);
            done += put;
        }
    }
    if (::fsync(out) != 0 || ::close(out) != 0 || ::close(in) != 0)
        fail("fsync " + to);
}

struct Job {
    const char *name;
    void (*run)(JobContext &);
    std::string input;
    std::string output; // where the job writes: input + suffix, or the save answer
};

using JobFunction = void (*)(JobContext &);

JobFunction jobNamed(const std::string &name)
{
    const std::pair<const char *, JobFunction> known[] = {
        { "ConvertiFileMime64", ConvertiFileMime64 },
        { "DecifraFileMime64", DecifraFileMime64 },
        { "ConvertiFilePrintable", ConvertiFilePrintable },
        { "DecifraFilePrintable", DecifraFilePrintable },
    };
    for (const auto &[knownName, function] : known)
        if (name == knownName)
            return function;
    return nullptr;
}

// Runs one job as the window would, with a library of its own.
void runJob(const Job &job)
{
    ScriptedRequester dialog(job.input, job.output);
    LastMessage messages;
    ConversionLibrary library;
    JobContext context { dialog, messages, library };
    job.run(context);
    if (messages.style != MessageStyle::Information) {
        std::fprintf(stderr, "job_bench: %s failed: %s\n", job.name, messages.text.c_str());
        std::exit(1);
    }
}

double secondsOf(const std::function<void()> &step)
{
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

long statusKiB(const char *field)
{
    std::FILE *status = std::fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

struct Memory {
    long startKiB = -1;
    long peakKiB = -1;
};

// In the fresh process: runs the one job and writes what it measured to fd.
int measureHere(const Job &job, int fd)
{
    Memory memory;
    memory.startKiB = statusKiB("VmRSS");
    runJob(job);
    memory.peakKiB = statusKiB("VmHWM");
    return ::write(fd, &memory, sizeof memory) == static_cast<ssize_t>(sizeof memory) ? 0 : 1;
}

// Runs the job in a child that execs this program afresh, so that its peak
// counts nothing of this process, and returns what the child measured.
Memory measureMemory(const Job &job)
{
    int channel[2];
    if (::pipe(channel) != 0)
        fail("pipe");
    const pid_t child = ::fork();
    if (child < 0)
        fail("fork");
    if (child == 0) {
        ::close(channel[0]);
        const std::string fd = std::to_string(channel[1]);
        ::execl("/proc/self/exe", "job_bench", "--measure", job.name, job.input.c_str(), job.output.c_str(), fd.c_str(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(channel[1]);
    Memory memory;
    const bool received = ::read(channel[0], &memory, sizeof memory) == static_cast<ssize_t>(sizeof memory);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "job_bench: the memory run of %s failed\n", job.name);
        std::exit(1);
    }
    return memory;
}

// The path the library picks here: the same choice, made by the same code.
std::string activePath()
{
    const char *forced = std::getenv("DRAVOLIN_CODEC");
    return std::string(dravolin::activeCodec().name) + (forced ? " (DRAVOLIN_CODEC=" + std::string(forced) + ")" : "");
}

void usage()
{
    std::fprintf(stderr,
                 "usage: job_bench [--size MIB] [--reps N] [--dir FOLDER] [--only NAME]\n"
                 "  --size  input size in MiB (default 256)\n"
                 "  --reps  timed repetitions per job; the median counts (default 5)\n"
                 "  --dir   where the temporary folder goes (default $TMPDIR or /tmp)\n"
                 "  --only  run just the job whose name contains NAME\n");
    std::exit(2);
}

} // namespace

int main(int argc, char **argv)
{
    // The memory child: job_bench --measure NAME INPUT OUTPUT FD
    if (argc == 6 && std::strcmp(argv[1], "--measure") == 0) {
        const JobFunction function = jobNamed(argv[2]);
        if (function == nullptr)
            return 2;
        return measureHere(Job { argv[2], function, argv[3], argv[4] }, std::atoi(argv[5]));
    }
    std::size_t sizeMiB = 256;
    int reps = 5;
    std::string parent = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            usage();
        const char *value = argv[++i];
        if (option == "--size")
            sizeMiB = std::strtoul(value, nullptr, 10);
        else if (option == "--reps")
            reps = std::max(1, std::atoi(value));
        else if (option == "--dir")
            parent = value;
        else if (option == "--only")
            only = value;
        else
            usage();
    }
    if (sizeMiB == 0)
        usage();

    std::string folder = parent + "/job_bench.XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr)
        fail("mkdtemp in " + parent);
    const std::size_t size = sizeMiB * kMiB;
    const std::string binary = folder + "/random.bin";
    const std::string prose = folder + "/prose.txt";
    std::printf("input %zu MiB in %s, %d repetitions, median counts\n", sizeMiB, folder.c_str(), reps);
    std::printf("codec path: %s\n", activePath().c_str());
    writeFileDurably(binary, randomBytes(size));
    writeFileDurably(prose, proseText(size));

    const std::vector<Job> jobs = {
        { "ConvertiFileMime64", ConvertiFileMime64, binary, binary + ".m64" },
        { "DecifraFileMime64", DecifraFileMime64, folder + "/encoded.m64", folder + "/decoded.bin" },
        { "ConvertiFilePrintable", ConvertiFilePrintable, prose, prose + ".ptb" },
        { "DecifraFilePrintable", DecifraFilePrintable, folder + "/encoded.ptb", folder + "/decoded.txt" },
    };
    // The decoders' inputs are the encoders' outputs, kept under names of their own.
    for (int i : { 0, 2 }) {
        runJob(jobs[i]);
        if (::rename(jobs[i].output.c_str(), jobs[i + 1].input.c_str()) != 0)
            fail("rename");
    }
    for (int i : { 1, 3 }) {
        runJob(jobs[i]);
        if (!sameContent(jobs[i].output, jobs[i - 1].input)) {
            std::fprintf(stderr, "job_bench: %s did not give back the original\n", jobs[i].name);
            return 1;
        }
    }

    const std::string copy = folder + "/copy";
    std::printf("\n%-22s %9s %9s %7s %6s   %9s %9s %9s %9s %6s\n", "job", "copy s", "job s", "ratio", "<=2x", "in MiB",
                "out MiB", "peak MiB", "over MiB", "<=32");
    bool allWithin = true;
    for (const Job &job : jobs) {
        if (!only.empty() && std::string(job.name).find(only) == std::string::npos)
            continue;
        std::vector<double> copies, runs;
        for (int rep = 0; rep < reps; ++rep) {
            // Both write a new file: the old one goes before the clock starts.
            ::unlink(copy.c_str());
            settle(folder);
            copies.push_back(secondsOf([&] { copyAndFlush(job.input, copy); }));
            ::unlink(job.output.c_str());
            settle(folder);
            runs.push_back(secondsOf([&] { runJob(job); }));
        }
        ::unlink(copy.c_str());
        ::unlink(job.output.c_str());
        settle(folder);
        const Memory memory = measureMemory(job);

        const double copyTime = median(copies);
        const double jobTime = median(runs);
        const double ratio = jobTime / copyTime;
        const double in = static_cast<double>(fileSize(job.input)) / kMiB;
        const double out = static_cast<double>(fileSize(job.output)) / kMiB;
        const double peak = static_cast<double>(memory.peakKiB) / 1024;
        const double over = peak - in - out;
        const bool timeOk = ratio <= kTimeBudget;
        const bool memoryOk = over <= kMemoryBudgetMiB;
        allWithin = allWithin && timeOk && memoryOk;
        std::printf("%-22s %9.3f %9.3f %7.2f %6s   %9.1f %9.1f %9.1f %9.1f %6s\n", job.name, copyTime, jobTime, ratio,
                    timeOk ? "yes" : "NO", in, out, peak, over, memoryOk ? "yes" : "NO");
        std::printf("%-22s   runs:", "");
        for (double run : runs)
            std::printf(" %.3f", run);
        std::printf("  copies:");
        for (double c : copies)
            std::printf(" %.3f", c);
        std::printf("  (child started at %.1f MiB resident)\n", static_cast<double>(memory.startKiB) / 1024);
        std::fflush(stdout);
    }

    for (const char *name : { "/random.bin", "/prose.txt", "/encoded.m64", "/decoded.bin", "/encoded.ptb",
                              "/decoded.txt", "/random.bin.m64", "/prose.txt.ptb", "/copy" })
        ::unlink((folder + name).c_str());
    ::rmdir(folder.c_str());
    std::printf("\n%s\n", allWithin ? "every job within its budgets" : "some job over its budget");
    return allWithin ? 0 : 1;
}
